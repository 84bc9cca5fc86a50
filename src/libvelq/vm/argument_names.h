// The names "$1", "$2", ... under which a run's and a call's arguments are stored.
#ifndef VELQ_ARGUMENT_NAMES_H
#define VELQ_ARGUMENT_NAMES_H

#include <stdint.h>

enum { VELQ_ARGUMENT_NAME_SIZE = 16 };  // "$", a sign, 10 digits and a zero byte fit

// Writes "$" and the decimal form of n into buffer and returns it. Hand-written so that
// a call does not go through the formatted-output machinery for every argument.
inline const char *VELQ_FormatArgumentName(char (&buffer)[VELQ_ARGUMENT_NAME_SIZE], int32_t n) {
  char digits[12];
  int count = 0;
  uint32_t magnitude = n < 0 ? 0u - (uint32_t)n : (uint32_t)n;
  do {
    digits[count++] = (char)('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  int at = 0;
  buffer[at++] = '$';
  if (n < 0) buffer[at++] = '-';
  while (count > 0) buffer[at++] = digits[--count];
  buffer[at] = '\0';
  return buffer;
}

#endif
