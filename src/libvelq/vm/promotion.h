// The type promotion of two-operand operators, shared by the machine and the built-ins.
#ifndef VELQ_PROMOTION_H
#define VELQ_PROMOTION_H

// The common type of two numeric operands for an operator, or 0 (DTYPE_NULL) when
// they have none (a real operand to REM, the bitwise operators and the shifts).
int VELQ_PromoteTypes(int leftType, int rightType, int opCode);

#endif
