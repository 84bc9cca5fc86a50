// The compiler object of one compilation: the lexer and the first error message.
#ifndef VELQ_COMPILE_STATE_H
#define VELQ_COMPILE_STATE_H

#include <stdint.h>

#include "velq_compiler.h"

class VELQ_Lexer;
class VELQ_Program;

class VELQ_CompileState {
 public:
  VELQ_CompileState();
  ~VELQ_CompileState();

  VELQ_CompileState(const VELQ_CompileState &) = delete;
  VELQ_CompileState &operator=(const VELQ_CompileState &) = delete;

  // Records message, prefixed with the lexer's current line, unless an error was
  // recorded before: only the first error of a compilation counts. Needs no memory.
  void error(const char *message);

  // Compiles source into a new program, or returns null when the compilation
  // failed (the first error is then in errorText). Called once per object.
  VELQ_Program *compile(const char *source);

  char *errorText;  // null, or the first error ("Error in line N: ...")
  // The first error's parts: the message alone, the line and the column.
  const char *errorMessage = "";
  int errorLine = 0;
  int errorColumn = 0;
  VELQ_Lexer *lexer;

 private:
  VELQ_Program *parse(VELQ_Program *program);

  char errorBuffer[VELQ_COMPILE_ERROR_SIZE];
};

// Copies text into a buffer of size bytes (size >= 1): at most size - 1 bytes, never
// ending on part of a multibyte character of the current locale, the rest zeroed, so
// the buffer always ends terminated. VELQCompile hands its error text over this way.
void VELQ_CopyMessage(char *buffer, int size, const char *text);

#endif
