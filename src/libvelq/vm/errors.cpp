// Run-time error codes: their messages and the error text of a run.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "velq_program.h"

namespace {

// Indexed by code; entry 0 is unused.
const char *const errorMessages[VELQ_ERROR_CODE_COUNT + 1] = {
    nullptr,
    "Data stack underflow",
    "Control stack underflow",
    "Condition value is not a number",
    "Bad arithmetic conversion",
    "Invalid operation with NULL value",
    "Internal error",
    "main() function not presented",
    "Control stack overflow",
    "Divide by zero",
    "Invalid operation with real numbers",
    "Function not found",
    "Invalid number of function's arguments",
    "Cannot do automatic type cast",
    "Left argument of -> must be a reference to object",
    "Unknown object's attribute",
    "Requested module not found or cannot be loaded",
    "Argument is not of string type and cannot be converted to string",
    "Invalid regular expression",
    "Function or operation argument is not a whole number",
    "Invalid operation on object",
    "Bad (or incompatible) object class",
    "Variable already exist",
    "Array index is not an integer",
    "Attempt to use array element access operation on non-array",
    "Cannot assign to a variable that is constant",
};

}  // namespace

const char *VELQ_ErrorMessage(int code) {
  if (code < 1 || code > VELQ_ERROR_CODE_COUNT) return "Unknown error code";
  return errorMessages[code];
}

// Records the error with the source line of the instruction being executed, and stops
// the run: currentPosition becomes VELQ_NO_ADDRESS, which ends the run loop.
void VELQ_Program::error(int code) {
  free(errorText);
  int line = currentPosition < codeSize ? instructions[currentPosition]->sourceLine : 0;
  char text[VELQ_ERROR_TEXT_SIZE];
  snprintf(text, sizeof text, "Error %d in line %d: %s", code, line, VELQ_ErrorMessage(code));
  errorText = strdup(text);
  currentPosition = VELQ_NO_ADDRESS;
}
