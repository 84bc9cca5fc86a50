// Built-in time functions: time, localtime, gmtime and strftime.
//
// Times are seconds since 1970-01-01 00:00:00 UTC and pass through the platform's
// conversions as 32-bit quantities: the low 32 bits of a time, taken as unsigned.
#include <string.h>
#include <time.h>

#include "builtins.h"
#include "time_class.h"
#include "velq_program.h"
#include "velq_value.h"

enum { STRFTIME_BUFFER_SIZE = 512 };  // strftime's text holds at most 511 characters

namespace {

uint32_t currentTime() { return (uint32_t)time(nullptr); }

// Breaks a time down in the local time zone or in UTC. A time the platform cannot
// convert gives a record of zeros and false.
bool breakDown(uint32_t seconds, bool local, struct tm *record) {
  time_t t = (time_t)seconds;
  if ((local ? localtime_r(&t, record) : gmtime_r(&t, record)) != nullptr) return true;
  memset(record, 0, sizeof *record);
  return false;
}

// localtime and gmtime: a TIME object for the time given, or for now.
int32_t timeObject(int32_t argc, VELQ_Value **argv, bool local, VELQ_Value **result) {
  if (argc < 0 || argc > 1) return VELQ_ERR_ARGUMENT_COUNT;
  uint32_t seconds;
  if (argc == 1) {
    if (!argv[0]->isInteger()) return VELQ_ERR_NOT_WHOLE;
    seconds = argv[0]->getValueAsUInt32();
  } else {
    seconds = currentTime();
  }
  struct tm record;
  breakDown(seconds, local, &record);
  return velqResult(result, VELQ_NewTimeValue(&record));
}

}  // namespace

VELQ_HANDLER(velqTime) {
  return velqResult(result, new VELQ_Value(currentTime()));
}

VELQ_HANDLER(velqLocaltime) { return timeObject(argc, argv, true, result); }

VELQ_HANDLER(velqGmtime) { return timeObject(argc, argv, false, result); }

// strftime(format [, time [, local]]): the standard library's strftime of the time, by
// default now and local. A text that would not fit in the buffer, and a time that
// cannot be broken down, give the empty text.
VELQ_HANDLER(velqStrftime) {
  if (argc < 1 || argc > 3) return VELQ_ERR_ARGUMENT_COUNT;
  if (!argv[0]->isString()) return VELQ_ERR_NOT_STRING;
  uint32_t seconds;
  if (argc >= 2 && !argv[1]->isNull()) {
    if (!argv[1]->isNumeric()) return VELQ_ERR_BAD_ARITHMETIC;
    seconds = (uint32_t)argv[1]->getValueAsUInt64();
  } else {
    seconds = currentTime();
  }
  bool local = true;
  if (argc == 3) {
    if (!argv[2]->isInteger()) return VELQ_ERR_CONDITION_NOT_NUMBER;
    local = argv[2]->getValueAsInt32() != 0;
  }

  const char *format = argv[0]->getValueAsCString();
  char text[STRFTIME_BUFFER_SIZE];
  size_t length = 0;
  struct tm record;
  if (breakDown(seconds, local, &record) && format && format[0] != '\0')
    length = strftime(text, sizeof text, format, &record);
  return velqResult(result, new VELQ_Value(text, (uint32_t)length));
}
