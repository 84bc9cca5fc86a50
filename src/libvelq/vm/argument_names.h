// The names "$1", "$2", ... under which a run's and a call's arguments, and the groups of
// a regular-expression match, are stored.
#ifndef VELQ_ARGUMENT_NAMES_H
#define VELQ_ARGUMENT_NAMES_H

#include <stdint.h>

#include "values/number_text.h"

enum {
  VELQ_ARGUMENT_NAME_SIZE = 1 + VELQ_INTEGER_TEXT_SIZE,  // "$" and a decimal integer
  VELQ_SHARED_ARGUMENT_NAMES = 256  // "$1" to "$255" exist once for the whole process
};

// Writes "$" and the decimal form of n into buffer and returns it.
inline const char *VELQ_FormatArgumentName(char (&buffer)[VELQ_ARGUMENT_NAME_SIZE], int32_t n) {
  buffer[0] = '$';
  VELQ_FormatInt64(n, buffer + 1);
  return buffer;
}

// The process's one copy of "$n" for n from 1 to 255, which variables may keep as their
// name without a copy of their own; null for any other n.
const char *VELQ_SharedArgumentName(int32_t n);

#endif
