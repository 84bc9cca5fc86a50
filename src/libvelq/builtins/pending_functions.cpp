// Placeholders for built-ins not written yet: each refuses with "Function not found".
#include "builtins.h"
#include "velq_program.h"

#define VELQ_PENDING(name) \
  VELQ_HANDLER(name) { return VELQ_ERR_FUNCTION_NOT_FOUND; }

VELQ_PENDING(velqExit)
VELQ_PENDING(velqAbs)
VELQ_PENDING(velqClassof)
VELQ_PENDING(velqExp)
VELQ_PENDING(velqLog)
VELQ_PENDING(velqLog10)
VELQ_PENDING(velqMax)
VELQ_PENDING(velqMin)
VELQ_PENDING(velqPow)
VELQ_PENDING(velqTrace)
VELQ_PENDING(velqTypeof)
VELQ_PENDING(velqD2x)
VELQ_PENDING(velqIndex)
VELQ_PENDING(velqLeft)
VELQ_PENDING(velqLength)
VELQ_PENDING(velqLower)
VELQ_PENDING(velqLtrim)
VELQ_PENDING(velqRight)
VELQ_PENDING(velqRindex)
VELQ_PENDING(velqRtrim)
VELQ_PENDING(velqSubstr)
VELQ_PENDING(velqTrim)
VELQ_PENDING(velqUpper)
VELQ_PENDING(velqGmtime)
VELQ_PENDING(velqLocaltime)
VELQ_PENDING(velqStrftime)
VELQ_PENDING(velqTime)
VELQ_PENDING(velqAddrInRange)
VELQ_PENDING(velqAddrInSubnet)
VELQ_PENDING(velqSecondsToUptime)
