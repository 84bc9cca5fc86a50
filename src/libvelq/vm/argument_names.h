// The names "$1", "$2", ... under which a run's and a call's arguments, and the groups of
// a regular-expression match, are stored.
#ifndef VELQ_ARGUMENT_NAMES_H
#define VELQ_ARGUMENT_NAMES_H

#include <stdint.h>

#include "values/number_text.h"

enum { VELQ_ARGUMENT_NAME_SIZE = 1 + VELQ_INTEGER_TEXT_SIZE };  // "$" and a decimal integer

// Writes "$" and the decimal form of n into buffer and returns it.
inline const char *VELQ_FormatArgumentName(char (&buffer)[VELQ_ARGUMENT_NAME_SIZE], int32_t n) {
  buffer[0] = '$';
  VELQ_FormatInt64(n, buffer + 1);
  return buffer;
}

#endif
