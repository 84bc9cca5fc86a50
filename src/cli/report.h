// What the velq tool writes about a compilation or a run: errors with the place they
// happened, and results.
#ifndef VELQ_CLI_REPORT_H
#define VELQ_CLI_REPORT_H

#include <stdio.h>

#include <map>
#include <string>

class VELQ_Program;
class VELQ_Value;
struct VELQ_CompileError;

// The files that modules given to the tool came from, by module name in lower case (the
// engine finds modules ignoring case), for errors that happen inside them.
typedef std::map<std::string, std::string> ModuleFiles;

// Writes a compile error to standard error as "LABEL:LINE: " and the compiler's text,
// LINE being the line the text names ("LABEL: " alone when it names none). LABEL is the
// file, "-e" for -e TEXT or "-" for standard input.
void reportCompileError(const std::string &label, const char *errorText);

// Writes a compile error as above, then the line of source it names and a caret under
// the column where the compiler stood.
void reportCompileError(const std::string &label, const VELQ_CompileError &error,
                        const std::string &source);

// Writes the error of a failed run to standard error: "FILE:LINE: " and the engine's
// error text, where FILE is the file of the code that failed (the script's LABEL, or a
// module's file); for error 16 the engine's account of the module that could not be
// loaded; the subject the error is about and its detail, in parentheses after the text
// ("Error 11 in line 2: Function not found (nosuch)"); then the calls that led there, innermost first, one a line:
//   "  in FUNCTION (FILE:LINE)" and "  called from FUNCTION (FILE:LINE)".
void reportRunError(VELQ_Program *program, const std::string &label, const ModuleFiles &modules);

// Writes the result's text form and a line feed, or the type name of a value without
// a text form (null, object, array).
void writeResult(VELQ_Value *result, FILE *out);

#endif
