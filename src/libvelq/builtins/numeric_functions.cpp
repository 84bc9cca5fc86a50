// Built-in numeric, type and control functions: abs, exp, log, log10, pow, min, max,
// typeof, classof, _exit and trace.
//
// Every handler checks its arguments in a fixed order and returns the first failing
// code before it creates anything; on success it stores one new value in *result.
#include <math.h>

#include "builtins.h"
#include "velq_object.h"
#include "velq_program.h"
#include "velq_value.h"
#include "values/promotion.h"

namespace {

// Which extreme min and max look for.
enum Extreme { SMALLEST, LARGEST };

// Compares two numbers as the '<' operator (SMALLEST) or the '>' operator (LARGEST)
// does: both are brought to their common type, without touching the originals, and the
// value operation of that type decides. Stores 1 or 0 in *outcome and returns 0, or
// returns the error code of a promotion that fails. Works on stack temporaries, so
// that a comparison allocates nothing.
int32_t compareNumbers(const VELQ_Value *left, const VELQ_Value *right, Extreme extreme,
                       int *outcome) {
  int leftType = left->getDataType();
  int rightType = right->getDataType();
  auto decide = [extreme, outcome](const VELQ_Value &l, const VELQ_Value &r) {
    *outcome = extreme == LARGEST ? l.GT(&r) : l.LT(&r);
    return 0;
  };
  switch (VELQ_CommonType(leftType, rightType, VELQ_PROMOTE_ANY)) {
    case DTYPE_REAL:
      // An unsigned 64-bit value never converts to a real.
      if (leftType == DTYPE_UINT64 || rightType == DTYPE_UINT64) return VELQ_ERR_TYPE_CAST;
      return decide(VELQ_Value(left->getValueAsReal()), VELQ_Value(right->getValueAsReal()));
    case DTYPE_INT32:
      return decide(VELQ_Value(left->getValueAsInt32()), VELQ_Value(right->getValueAsInt32()));
    case DTYPE_INT64:
      return decide(VELQ_Value(left->getValueAsInt64()), VELQ_Value(right->getValueAsInt64()));
    case DTYPE_UINT32:
      return decide(VELQ_Value(left->getValueAsUInt32()), VELQ_Value(right->getValueAsUInt32()));
    default:
      return decide(VELQ_Value(left->getValueAsUInt64()), VELQ_Value(right->getValueAsUInt64()));
  }
}

// Shared by min and max: the running extreme starts at the first argument and moves to
// each later argument that compares below it (min) or above it (max). Equal values keep
// the earlier one. The result is a copy of the winner in its own type.
int32_t selectExtreme(int32_t argc, VELQ_Value **argv, VELQ_Value **result, Extreme extreme) {
  if (argc < 1) return VELQ_ERR_ARGUMENT_COUNT;
  const VELQ_Value *winner = argv[0];
  // min takes its first argument unchecked; max compares it with itself, so it must be
  // a number as well.
  for (int32_t i = extreme == LARGEST ? 0 : 1; i < argc; i++) {
    const VELQ_Value *candidate = argv[i];
    if (!candidate->isNumeric()) return VELQ_ERR_BAD_ARITHMETIC;
    if (winner->isNull()) return VELQ_ERR_NULL_OPERATION;
    if (!winner->isNumeric()) return VELQ_ERR_BAD_ARITHMETIC;
    int better = 0;
    int32_t code = compareNumbers(candidate, winner, extreme, &better);
    if (code != 0) return code;
    if (better) winner = candidate;
  }
  return velqResult(result, new VELQ_Value(winner));
}

}  // namespace

VELQ_HANDLER(velqAbs) {
  VELQ_Value *x = argv[0];
  if (!x->isNumeric()) return VELQ_ERR_BAD_ARITHMETIC;
  if (x->isReal()) return velqResult(result, new VELQ_Value(fabs(x->getValueAsReal())));
  // Integers keep their type; negation wraps, so the smallest int32 stays as it is.
  VELQ_Value *copy = new VELQ_Value(x);
  int type = x->getDataType();
  if (copy && (type == DTYPE_INT32 || type == DTYPE_INT64) && x->getValueAsInt64() < 0)
    copy->negate();
  return velqResult(result, copy);
}

VELQ_HANDLER(velqExp) {
  if (!argv[0]->isNumeric()) return VELQ_ERR_BAD_ARITHMETIC;
  return velqResult(result, new VELQ_Value(exp(argv[0]->getValueAsReal())));
}

VELQ_HANDLER(velqLog) {
  if (!argv[0]->isNumeric()) return VELQ_ERR_BAD_ARITHMETIC;
  return velqResult(result, new VELQ_Value(log(argv[0]->getValueAsReal())));
}

VELQ_HANDLER(velqLog10) {
  if (!argv[0]->isNumeric()) return VELQ_ERR_BAD_ARITHMETIC;
  return velqResult(result, new VELQ_Value(log10(argv[0]->getValueAsReal())));
}

VELQ_HANDLER(velqPow) {
  if (!argv[0]->isNumeric() || !argv[1]->isNumeric()) return VELQ_ERR_BAD_ARITHMETIC;
  return velqResult(result, new VELQ_Value(pow(argv[0]->getValueAsReal(), argv[1]->getValueAsReal())));
}

VELQ_HANDLER(velqMin) { return selectExtreme(argc, argv, result, SMALLEST); }

VELQ_HANDLER(velqMax) { return selectExtreme(argc, argv, result, LARGEST); }

VELQ_HANDLER(velqTypeof) {
  return velqResult(result, new VELQ_Value(VELQ_TypeName(argv[0]->getDataType())));
}

VELQ_HANDLER(velqClassof) {
  if (!argv[0]->isObject()) return VELQ_ERR_NOT_OBJECT;
  // An object value whose record or class is missing can only come from a faulty host;
  // it is refused as the attribute instructions refuse it.
  VELQ_Object *object = argv[0]->getValueAsObject();
  if (!object || !object->getClass()) return VELQ_ERR_INTERNAL;
  return velqResult(result, new VELQ_Value(object->getClass()->getName()));
}

VELQ_HANDLER(velqExit) {
  if (argc < 0 || argc > 1) return VELQ_ERR_ARGUMENT_COUNT;
  int32_t code = velqResult(result, argc == 1 ? new VELQ_Value(argv[0]) : new VELQ_Value((int32_t)0));
  return code == 0 ? -1 : code;
}

VELQ_HANDLER(velqTrace) {
  if (!argv[0]->isInteger()) return VELQ_ERR_NOT_WHOLE;
  if (!argv[1]->isString()) return VELQ_ERR_NOT_STRING;
  const char *text = argv[1]->getValueAsCString();
  if (program) program->trace(argv[0]->getValueAsInt32(), text ? text : "");
  return velqResult(result, new VELQ_Value());
}
