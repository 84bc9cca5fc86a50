// The compiler object: first-error recording.
#include "compile_state.h"

#include <stdio.h>

#include "lexer.h"

VELQ_CompileState::VELQ_CompileState() : errorText(nullptr), lexer(nullptr), errorBuffer{0} {}

VELQ_CompileState::~VELQ_CompileState() { delete lexer; }

void VELQ_CompileState::error(const char *message) {
  if (errorText) return;
  snprintf(errorBuffer, sizeof errorBuffer, "Error in line %d: %s",
           lexer ? (int)lexer->currentLine : 0, message ? message : "");
  errorText = errorBuffer;
}
