// The promotion of two numbers to their common type.
#include "values/promotion.h"

#include "velq_value.h"

int VELQ_CommonType(int leftType, int rightType, VELQ_Promotion rule) {
  if (leftType < DTYPE_REAL || leftType > DTYPE_UINT64 || rightType < DTYPE_REAL ||
      rightType > DTYPE_UINT64)
    return DTYPE_NULL;
  if (rule == VELQ_PROMOTE_TO_REAL) return DTYPE_REAL;
  if (leftType == DTYPE_REAL || rightType == DTYPE_REAL)
    return rule == VELQ_PROMOTE_INTEGERS ? DTYPE_NULL : DTYPE_REAL;
  bool leftUnsigned = leftType >= DTYPE_UINT32;
  bool rightUnsigned = rightType >= DTYPE_UINT32;
  if (leftUnsigned != rightUnsigned) {
    const int toSigned = DTYPE_UINT32 - DTYPE_INT32;
    if (leftUnsigned) leftType -= toSigned;
    if (rightUnsigned) rightType -= toSigned;
  }
  return leftType > rightType ? leftType : rightType;
}
