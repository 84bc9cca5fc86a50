// Reading the text of scripts and modules for the velq tool.
#ifndef VELQ_CLI_SCRIPT_TEXT_H
#define VELQ_CLI_SCRIPT_TEXT_H

#include <string>

#include "velq.h"

// Reads a script or module file as the engine reads module files (zero bytes become
// spaces) and skips its header. On failure writes "velq: cannot read NAME: REASON" to
// standard error and returns false. A folder is refused: it holds no script.
bool loadScriptFile(const std::string &name, std::string *text);

// Reads the whole of standard input as a script, as loadScriptFile reads a file.
bool loadStandardInput(std::string *text);

// Drops a UTF-8 byte-order mark at the start of the text, then blanks a first line that
// starts with "#!" (so that a script can be run as a program), keeping its line feed so
// that every line keeps its number.
void skipScriptHeader(std::string *text);

// Compiles a script's or a module's text as VELQCompileSource does, but first ends it with
// a line feed when it lacks one: the scanner reads a `//` that no line feed follows as
// two '/' tokens, so a last line that is a comment would not compile. An error at the
// end of the text keeps the line number the text itself gives it (the added line feed
// starts no line of its own), with its column just after that line's end.
VELQ_Program *compileScriptText(const std::string &text, const std::string &label,
                                VELQ_CompileError *error);

#endif
