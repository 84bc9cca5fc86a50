// The common type to which two numbers are brought before an operation between them.
#ifndef VELQ_PROMOTION_H
#define VELQ_PROMOTION_H

// What an operation accepts: any two numbers, computed in their common type; any two
// numbers, always computed in reals (division); or integers only (remainder, the
// bitwise operations and the shifts).
enum VELQ_Promotion { VELQ_PROMOTE_ANY, VELQ_PROMOTE_TO_REAL, VELQ_PROMOTE_INTEGERS };

// The common type code of two numeric type codes under the rule, or DTYPE_NULL when
// they have none (a real under VELQ_PROMOTE_INTEGERS, or an operand that is not a
// number). Between integers, an unsigned type counts as the signed type of its width
// when the other is signed, and the greater code wins (int32 < int64 < uint32 < uint64).
int VELQ_CommonType(int leftType, int rightType, VELQ_Promotion rule);

#endif
