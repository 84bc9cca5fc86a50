// The built-in external functions every environment starts with.
#ifndef VELQ_BUILTINS_H
#define VELQ_BUILTINS_H

#include "velq_environment.h"
#include "velq_program.h"

enum { VELQ_BUILTIN_COUNT = 30 };

// The 30 built-in records, in table order.
extern const VELQ_ExtFunction VELQ_BuiltinFunctions[VELQ_BUILTIN_COUNT];

// Stores a handler's new result and returns 0; when the value could not be made for
// lack of memory (null), returns the out-of-memory error instead.
inline int32_t velqResult(VELQ_Value **result, VELQ_Value *value) {
  if (!value) return VELQ_ERR_OUT_OF_MEMORY;
  *result = value;
  return 0;
}

#define VELQ_HANDLER(name) \
  int32_t name(int32_t argc, VELQ_Value **argv, VELQ_Value **result, VELQ_Program *program)

// Numeric, type and control functions.
VELQ_HANDLER(velqExit);
VELQ_HANDLER(velqAbs);
VELQ_HANDLER(velqClassof);
VELQ_HANDLER(velqExp);
VELQ_HANDLER(velqLog);
VELQ_HANDLER(velqLog10);
VELQ_HANDLER(velqMax);
VELQ_HANDLER(velqMin);
VELQ_HANDLER(velqPow);
VELQ_HANDLER(velqTrace);
VELQ_HANDLER(velqTypeof);

// String functions.
VELQ_HANDLER(velqD2x);
VELQ_HANDLER(velqIndex);
VELQ_HANDLER(velqLeft);
VELQ_HANDLER(velqLength);
VELQ_HANDLER(velqLower);
VELQ_HANDLER(velqLtrim);
VELQ_HANDLER(velqRight);
VELQ_HANDLER(velqRindex);
VELQ_HANDLER(velqRtrim);
VELQ_HANDLER(velqSubstr);
VELQ_HANDLER(velqTrim);
VELQ_HANDLER(velqUpper);

// Time functions.
VELQ_HANDLER(velqGmtime);
VELQ_HANDLER(velqLocaltime);
VELQ_HANDLER(velqStrftime);
VELQ_HANDLER(velqTime);

// Network address and uptime functions.
VELQ_HANDLER(velqAddrInRange);
VELQ_HANDLER(velqAddrInSubnet);
VELQ_HANDLER(velqSecondsToUptime);

#endif
