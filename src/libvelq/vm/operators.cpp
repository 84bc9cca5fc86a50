// Operator instructions: the two-operand operators (with the pattern operators and CASE,
// which share their operand fetching), the one-operand operators, CAST and the variable
// steps ++ and --. What an operator accepts follows from its family in the instruction
// list (vm/opcodes.h).
#include <string.h>

#include "korvat.h"
#include "runtime/run_limits.h"
#include "values/promotion.h"
#include "values/value_internals.h"
#include "vm/opcodes.h"
#include "vm/program_internals.h"
#include "velq_program.h"
#include "velq_value.h"
#include "velq_variable.h"

namespace {

// How the numbers of an operator's family are brought to one type.
VELQ_Promotion promotionOf(VELQ_OperatorFamily family) {
  switch (family) {
    case VELQ_FAMILY_DIVISION:
      return VELQ_PROMOTE_TO_REAL;
    case VELQ_FAMILY_INTEGER:
      return VELQ_PROMOTE_INTEGERS;
    default:
      return VELQ_PROMOTE_ANY;
  }
}

// Converts both numbers in place to their common type under the rule. Returns 0 or the
// error code.
int promoteOperands(VELQ_Promotion rule, VELQ_Value *left, VELQ_Value *right) {
  int type = VELQ_CommonType(left->getDataType(), right->getDataType(), rule);
  if (type == DTYPE_NULL) return VELQ_ERR_REAL_OPERATION;
  if (!left->convert(type) || !right->convert(type)) return VELQ_ERR_TYPE_CAST;
  return 0;
}

// Equality of two operands of which at least one is not a number: null equals only null;
// otherwise the text forms (empty for an object or an array) must have the same bytes.
bool textsEqual(VELQ_Value *left, VELQ_Value *right) {
  if (left->isNull() || right->isNull()) return left->isNull() && right->isNull();
  uint32_t leftLength = 0, rightLength = 0;
  const char *leftText = VELQ_ValueInternals::textView(left, &leftLength);
  const char *rightText = VELQ_ValueInternals::textView(right, &rightLength);
  return leftLength == rightLength &&
         (leftLength == 0 || memcmp(leftText, rightText, leftLength) == 0);
}

// left := left op right for two numbers; comparisons and logic leave int32 1 or 0 in left.
// Returns 0 or the error code.
int numericOperation(int opCode, VELQ_Value *left, VELQ_Value *right) {
  int code = promoteOperands(promotionOf(velqOperatorFamily(opCode)), left, right);
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

// left := left op right when an operand is not a number, or for concatenation. Texts are
// only compared for equality and joined; every other operator refuses them. Returns 0 or
// the error code.
int textOperation(int opCode, VELQ_Value *left, VELQ_Value *right) {
  switch (velqOperatorFamily(opCode)) {
    case VELQ_FAMILY_EQUALITY: {
      bool equal = textsEqual(left, right);
      left->set(opCode == OP_EQ ? equal : !equal);
      return 0;
    }
    case VELQ_FAMILY_CONCAT: {
      if (left->isObject() || right->isObject()) return VELQ_ERR_OBJECT_OPERATION;
      uint32_t length = 0;
      const char *text = VELQ_ValueInternals::textView(right, &length);
      return VELQ_ValueInternals::append(left, text ? text : "", length) ? 0
                                                                          : VELQ_ERR_OUT_OF_MEMORY;
    }
    case VELQ_FAMILY_ARITHMETIC:
    case VELQ_FAMILY_DIVISION:
    case VELQ_FAMILY_INTEGER:
    case VELQ_FAMILY_ORDER:
    case VELQ_FAMILY_LOGICAL:
      return VELQ_ERR_BAD_ARITHMETIC;
    default:
      return VELQ_ERR_INTERNAL;
  }
}

}  // namespace

// CASE compares the instruction's constant with the value under test, which stays on the
// stack; neither is destroyed, and a conversion to the common type sticks to both. A CASE
// without a constant compares as the null constant, as PUSH_CONST pushes null for one.
void VELQ_ProgramInternals::compareCase(VELQ_Program &program) {
  const VELQ_Instruction *instruction = program.getInstruction(program.currentPosition);
  VELQ_Value nullConstant;
  VELQ_Value *constant = instruction ? instruction->operand.value : nullptr;
  if (!constant) constant = &nullConstant;
  VELQ_Value *tested = peekValue(program);
  if (!tested) {
    program.error(VELQ_ERR_STACK_UNDERFLOW);
    return;
  }
  int equal;
  if (constant->isNumeric() && tested->isNumeric()) {
    int code = promoteOperands(VELQ_PROMOTE_ANY, constant, tested);
    if (code != 0) {
      program.error(code);
      return;
    }
    equal = constant->EQ(tested);
  } else {
    equal = textsEqual(constant, tested) ? 1 : 0;
  }
  VELQ_Value outcome((int32_t)equal);
  pushCopy(program, &outcome);
}

// LIKE and ILIKE (a wildcard pattern) and MATCH and IMATCH (a regular expression): the
// right operand is the pattern, the left one the text to match; both must have a text
// form. The left operand becomes the int32 1 or 0. Returns 0 or the error code; 0 too
// when a failed match has raised its own error already.
int VELQ_ProgramInternals::matchPattern(VELQ_Program &program, int opCode, VELQ_Value *left,
                                        VELQ_Value *right) {
  if (left->getDataType() < DTYPE_STRING || right->getDataType() < DTYPE_STRING)
    return VELQ_ERR_NOT_STRING;
  if (opCode == OP_LIKE || opCode == OP_ILIKE) {
    // A long text with many stars can take a while: the match stops with the run.
    int matched = MatchStringChecked(
        right->getValueAsCString(), left->getValueAsCString(), opCode == OP_LIKE ? 1 : 0,
        [](void *) { return velqWorkMayGoOn() ? 1 : 0; }, nullptr);
    if (matched < 0) return interruption(program);
    left->set(matched);
    return 0;
  }
  VELQ_Value *outcome = program.matchRegexp(left, right, opCode == OP_IMATCH);
  if (outcome) VELQ_ValueInternals::replaceWith(left, outcome);
  return 0;
}

// The two-operand operators. Every one but CASE takes its right operand from the top of
// the stack and its left one from below it, and leaves the result in the left one's
// place; a comparison's int32 1 or 0 is set into it as well. When an error stops the
// operation, both operands are dropped.
void VELQ_Program::doBinaryOperation(int opCode) {
  if (opCode == OP_CASE) {
    VELQ_ProgramInternals::compareCase(*this);
    return;
  }
  VELQ_Value *right = VELQ_ProgramInternals::peekValue(*this, 0);
  VELQ_Value *left = VELQ_ProgramInternals::peekValue(*this, 1);
  VELQ_OperatorFamily family = velqOperatorFamily(opCode);
  int code = 0;
  if (!left || !right) {
    code = VELQ_ERR_STACK_UNDERFLOW;
  } else if ((left->isNull() || right->isNull()) && family != VELQ_FAMILY_EQUALITY) {
    code = VELQ_ERR_NULL_OPERATION;
  } else if (family == VELQ_FAMILY_PATTERN) {
    code = VELQ_ProgramInternals::matchPattern(*this, opCode, left, right);
    if (code == 0 && currentPosition == VELQ_NO_ADDRESS) {  // the match raised an error
      VELQ_ProgramInternals::popValues(*this, 2);
      return;
    }
  } else if (!left->isNumeric() || !right->isNumeric() || family == VELQ_FAMILY_CONCAT) {
    code = textOperation(opCode, left, right);
  } else {
    code = numericOperation(opCode, left, right);
  }
  if (code != 0) {
    VELQ_ProgramInternals::popValues(*this, 2);
    error(code);
    return;
  }
  VELQ_ProgramInternals::popValues(*this, 1);
}

// NEG, NOT and BITNOT change the top value in place; it stays on the stack.
void VELQ_Program::doUnaryOperation(int opCode) {
  VELQ_Value *value = VELQ_ProgramInternals::peekValue(*this);
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

void VELQ_ProgramInternals::doCast(VELQ_Program &program, int type) {
  VELQ_Value *value = peekValue(program);
  if (!value) {
    program.error(VELQ_ERR_STACK_UNDERFLOW);
    return;
  }
  if (!value->convert(type)) program.error(VELQ_ERR_TYPE_CAST);
}

// x++ and x-- push the old value, ++x and --x the new one. They change the variable's own
// value object and, like the operators, do not look at its constant flag.
void VELQ_ProgramInternals::doVariableStep(VELQ_Program &program, int opCode,
                                           VELQ_Variable *variable) {
  VELQ_Value *value = variable->getValue();
  if (!value->isNumeric()) {
    program.error(VELQ_ERR_BAD_ARITHMETIC);
    return;
  }
  bool postfix = opCode == OP_INC || opCode == OP_DEC;
  if (postfix && !pushCopy(program, value)) return;
  if (opCode == OP_INC || opCode == OP_INCP) {
    value->increment();
  } else {
    value->decrement();
  }
  if (!postfix) pushCopy(program, value);
}
