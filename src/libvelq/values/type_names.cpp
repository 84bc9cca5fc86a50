// The names of the type codes, as typeof and the program listing show them.
#include "velq_value.h"

const char *const VELQ_TypeNames[VELQ_TYPE_COUNT] = {
    "null", "object", "array", "string", "real", "int32", "int64", "uint32", "uint64",
};

const char *VELQ_TypeName(int type) {
  if (type < 0 || type >= VELQ_TYPE_COUNT) return "unknown";
  return VELQ_TypeNames[type];
}
