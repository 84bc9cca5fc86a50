// Operator instructions: the two-operand operators (with the pattern operators and CASE,
// which share their operand fetching), the one-operand operators, CAST and the variable
// steps ++ and --.
#include <string.h>

#include "korvat.h"
#include "promotion.h"
#include "velq_program.h"
#include "velq_stack.h"
#include "velq_value.h"
#include "velq_variable.h"

int VELQ_PromoteTypes(int leftType, int rightType, int opCode) {
  if (leftType < DTYPE_REAL || leftType > DTYPE_UINT64 || rightType < DTYPE_REAL ||
      rightType > DTYPE_UINT64)
    return DTYPE_NULL;
  // Division is always carried out in reals, so 7 / 2 is 3.5.
  if (opCode == OP_DIV) return DTYPE_REAL;
  if (leftType == DTYPE_REAL || rightType == DTYPE_REAL) {
    switch (opCode) {
      case OP_REM:
      case OP_BITAND:
      case OP_BITOR:
      case OP_BITXOR:
      case OP_LSHIFT:
      case OP_RSHIFT:
        return DTYPE_NULL;
      default:
        return DTYPE_REAL;
    }
  }
  // Two integers. When only one of them is unsigned it counts as the signed type of its
  // width; the greater code then wins (int32 < int64 < uint32 < uint64).
  bool leftUnsigned = leftType >= DTYPE_UINT32;
  bool rightUnsigned = rightType >= DTYPE_UINT32;
  if (leftUnsigned != rightUnsigned) {
    const int toSigned = DTYPE_UINT32 - DTYPE_INT32;
    if (leftUnsigned) leftType -= toSigned;
    if (rightUnsigned) rightType -= toSigned;
  }
  return leftType > rightType ? leftType : rightType;
}

namespace {

bool isPatternOperator(int opCode) {
  return opCode == OP_LIKE || opCode == OP_ILIKE || opCode == OP_MATCH || opCode == OP_IMATCH;
}

// Converts both numbers in place to their common type for the operator. Returns 0 or the
// error code.
int promoteOperands(int opCode, VELQ_Value *left, VELQ_Value *right) {
  int type = VELQ_PromoteTypes(left->getDataType(), right->getDataType(), opCode);
  if (type == DTYPE_NULL) return VELQ_ERR_REAL_OPERATION;
  if (!left->convert(type) || !right->convert(type)) return VELQ_ERR_TYPE_CAST;
  return 0;
}

// Equality of two operands of which at least one is not a number: null equals only null;
// otherwise the text forms (empty for an object or an array) must have the same bytes.
bool textsEqual(VELQ_Value *left, VELQ_Value *right) {
  if (left->isNull() || right->isNull()) return left->isNull() && right->isNull();
  uint32_t leftLength = 0, rightLength = 0;
  const char *leftText = left->getValueAsString(&leftLength);
  const char *rightText = right->getValueAsString(&rightLength);
  return leftLength == rightLength &&
         (leftLength == 0 || memcmp(leftText, rightText, leftLength) == 0);
}

// left := left op right for two numbers; comparisons and logic leave int32 1 or 0 in left.
// Returns 0 or the error code.
int numericOperation(int opCode, VELQ_Value *left, VELQ_Value *right) {
  int code = promoteOperands(opCode, left, right);
  if (code != 0) return code;
  switch (opCode) {
    case OP_ADD:
      left->add(right);
      break;
    case OP_SUB:
      left->sub(right);
      break;
    case OP_MUL:
      left->mul(right);
      break;
    case OP_DIV:
      left->div(right);
      break;
    case OP_REM:
      // Both are integers here (a real is refused by the promotion).
      if (right->isZero()) return VELQ_ERR_DIVIDE_BY_ZERO;
      left->rem(right);
      break;
    case OP_BITAND:
      left->bitAnd(right);
      break;
    case OP_BITOR:
      left->bitOr(right);
      break;
    case OP_BITXOR:
      left->bitXor(right);
      break;
    case OP_LSHIFT:
      left->lshift(right->getValueAsInt32());
      break;
    case OP_RSHIFT:
      left->rshift(right->getValueAsInt32());
      break;
    case OP_EQ:
      left->set(left->EQ(right));
      break;
    case OP_NE:
      left->set(left->EQ(right) ? 0 : 1);
      break;
    case OP_LT:
      left->set(left->LT(right));
      break;
    case OP_LE:
      left->set(left->LE(right));
      break;
    case OP_GT:
      left->set(left->GT(right));
      break;
    case OP_GE:
      left->set(left->GE(right));
      break;
    case OP_AND:
      left->set(left->isNonZero() && right->isNonZero() ? 1 : 0);
      break;
    case OP_OR:
      left->set(left->isNonZero() || right->isNonZero() ? 1 : 0);
      break;
    default:
      return VELQ_ERR_INTERNAL;
  }
  return 0;
}

// left := left op right when an operand is not a number, or for concatenation. Strings are
// only compared for equality and joined. Returns 0 or the error code.
int textOperation(int opCode, VELQ_Value *left, VELQ_Value *right) {
  switch (opCode) {
    case OP_EQ:
      left->set(textsEqual(left, right) ? 1 : 0);
      return 0;
    case OP_NE:
      left->set(textsEqual(left, right) ? 0 : 1);
      return 0;
    case OP_CONCAT: {
      if (left->isObject() || right->isObject()) return VELQ_ERR_OBJECT_OPERATION;
      uint32_t length = 0;
      const char *text = right->getValueAsString(&length);
      left->concatenate(text ? text : "", length);
      return 0;
    }
    case OP_ADD:
    case OP_SUB:
    case OP_MUL:
    case OP_DIV:
    case OP_REM:
    case OP_LT:
    case OP_LE:
    case OP_GT:
    case OP_GE:
    case OP_BITAND:
    case OP_BITOR:
    case OP_BITXOR:
    case OP_AND:
    case OP_OR:
    case OP_LSHIFT:
    case OP_RSHIFT:
      return VELQ_ERR_BAD_ARITHMETIC;
    default:
      return VELQ_ERR_INTERNAL;
  }
}

}  // namespace

// CASE compares the instruction's constant with the value under test, which stays on the
// stack; neither is destroyed, and a conversion to the common type sticks to both. A CASE
// without a constant compares as the null constant, as PUSH_CONST pushes null for one.
// Every other operator pops its right operand, then its left one, and pushes the left
// value object again holding the result; a comparison's int32 1 or 0 is set into it as well,
// which is the same as a new value and saves an allocation per comparison.
void VELQ_Program::doBinaryOperation(int opCode) {
  if (opCode == OP_CASE) {
    const VELQ_Instruction *instruction = getInstruction(currentPosition);
    VELQ_Value nullConstant;
    VELQ_Value *constant = instruction ? instruction->operand.value : nullptr;
    if (!constant) constant = &nullConstant;
    VELQ_Value *tested = static_cast<VELQ_Value *>(dataStack->peek());
    if (!tested) {
      error(VELQ_ERR_STACK_UNDERFLOW);
      return;
    }
    int equal;
    if (constant->isNumeric() && tested->isNumeric()) {
      int code = promoteOperands(OP_CASE, constant, tested);
      if (code != 0) {
        error(code);
        return;
      }
      equal = constant->EQ(tested);
    } else {
      equal = textsEqual(constant, tested) ? 1 : 0;
    }
    dataStack->push(new VELQ_Value((int32_t)equal));
    return;
  }

  VELQ_Value *right = static_cast<VELQ_Value *>(dataStack->pop());
  VELQ_Value *left = static_cast<VELQ_Value *>(dataStack->pop());
  int code = 0;
  if (!left || !right) {
    code = VELQ_ERR_STACK_UNDERFLOW;
  } else if ((left->isNull() || right->isNull()) && opCode != OP_EQ && opCode != OP_NE) {
    code = VELQ_ERR_NULL_OPERATION;
  } else if (isPatternOperator(opCode)) {
    if (left->getDataType() < DTYPE_STRING || right->getDataType() < DTYPE_STRING) {
      code = VELQ_ERR_NOT_STRING;
    } else if (opCode == OP_LIKE || opCode == OP_ILIKE) {
      // The right operand is the pattern, the left one the text to match.
      int matched = MatchString(right->getValueAsCString(), left->getValueAsCString(),
                                opCode == OP_LIKE ? 1 : 0);
      left->set(matched ? 1 : 0);
    } else {
      VELQ_Value *matched = matchRegexp(left, right, opCode == OP_IMATCH);
      delete left;
      delete right;
      if (matched) dataStack->push(matched);  // else error 18 has been raised
      return;
    }
  } else if (!left->isNumeric() || !right->isNumeric() || opCode == OP_CONCAT) {
    code = textOperation(opCode, left, right);
  } else {
    code = numericOperation(opCode, left, right);
  }

  if (code != 0) {
    error(code);
    delete left;
    delete right;
    return;
  }
  delete right;
  dataStack->push(left);
}

// NEG, NOT and BITNOT change the top value in place; it stays on the stack.
void VELQ_Program::doUnaryOperation(int opCode) {
  VELQ_Value *value = static_cast<VELQ_Value *>(dataStack->peek());
  if (!value) {
    error(VELQ_ERR_STACK_UNDERFLOW);
    return;
  }
  if (!value->isNumeric()) {
    error(VELQ_ERR_BAD_ARITHMETIC);
    return;
  }
  switch (opCode) {
    case OP_NEG:
      value->negate();
      return;
    case OP_NOT:
      if (value->isReal()) break;
      value->set(value->isZero() ? 1 : 0);
      return;
    case OP_BITNOT:
      if (value->isReal()) break;
      value->bitNot();
      return;
    default:
      error(VELQ_ERR_INTERNAL);
      return;
  }
  error(VELQ_ERR_REAL_OPERATION);
}

void VELQ_Program::doCast(int type) {
  VELQ_Value *value = static_cast<VELQ_Value *>(dataStack->peek());
  if (!value) {
    error(VELQ_ERR_STACK_UNDERFLOW);
    return;
  }
  if (!value->convert(type)) error(VELQ_ERR_TYPE_CAST);
}

// x++ and x-- push the old value, ++x and --x the new one. They change the variable's own
// value object and, like the operators, do not look at its constant flag.
void VELQ_Program::doVariableStep(int opCode, const char *name) {
  VELQ_Variable *variable = findOrCreateVariable(name);
  VELQ_Value *value = variable->getValue();
  if (!value || !value->isNumeric()) {
    error(VELQ_ERR_BAD_ARITHMETIC);
    return;
  }
  switch (opCode) {
    case OP_INC:
      dataStack->push(new VELQ_Value(value));
      value->increment();
      return;
    case OP_DEC:
      dataStack->push(new VELQ_Value(value));
      value->decrement();
      return;
    case OP_INCP:
      value->increment();
      dataStack->push(new VELQ_Value(value));
      return;
    case OP_DECP:
      value->decrement();
      dataStack->push(new VELQ_Value(value));
      return;
    default:
      error(VELQ_ERR_INTERNAL);
      return;
  }
}
