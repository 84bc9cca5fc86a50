// The compiler object: first-error recording.
#include "compile_state.h"

#include <stdio.h>

#include "lexer.h"

VELQ_CompileState::VELQ_CompileState() : errorText(nullptr), lexer(nullptr), errorBuffer{0} {}

VELQ_CompileState::~VELQ_CompileState() { delete lexer; }

void VELQ_CompileState::error(const char *message) {
  if (errorText) return;
  errorLine = lexer ? (int)lexer->currentLine : 0;
  errorColumn = lexer ? lexer->column() : 0;
  int prefix = snprintf(errorBuffer, sizeof errorBuffer, "Error in line %d: ", errorLine);
  snprintf(errorBuffer + prefix, sizeof errorBuffer - (size_t)prefix, "%s", message ? message : "");
  errorText = errorBuffer;
  errorMessage = errorBuffer + prefix;
}
