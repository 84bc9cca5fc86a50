// One step of the virtual machine, and the handlers of the data-movement, control-flow
// and print instructions.
#include <stdio.h>

#include "velq_environment.h"
#include "velq_program.h"
#include "velq_stack.h"
#include "velq_value.h"
#include "velq_variable.h"

// Executes the instruction at currentPosition, then moves to nextPosition.
//
// The rule every handler follows when it raises an error: call error(code), destroy
// the values it has already popped (nothing popped is pushed back), and return at once.
// error() has then set currentPosition to VELQ_NO_ADDRESS, so this step does not move
// on and the run loop stops; run() cleans up whatever is left on the stacks.
void VELQ_Program::execute() {
  VELQ_Instruction *instruction = instructions[currentPosition];
  nextPosition = currentPosition + 1;

  switch (instruction->opCode) {
    case OP_NOP:
      break;

    case OP_PUSH_CONST: {
      VELQ_Value *constant = instruction->operand.value;
      dataStack->push(constant ? new VELQ_Value(constant) : new VELQ_Value());
      break;
    }

    case OP_PUSH_VAR:
      dataStack->push(new VELQ_Value(findOrCreateVariable(instruction->operand.name)->getValue()));
      break;

    case OP_POP: {
      int count = instruction->intOperand;
      if (count > dataStack->getSize()) count = dataStack->getSize();
      for (int i = 0; i < count; i++) delete (VELQ_Value *)dataStack->pop();
      break;
    }

    case OP_SET: {
      VELQ_Variable *variable = findOrCreateVariable(instruction->operand.name);
      if (variable->isConstant()) {
        error(VELQ_ERR_CONSTANT_ASSIGN);
        break;
      }
      VELQ_Value *top = (VELQ_Value *)dataStack->peek();
      if (!top) {
        error(VELQ_ERR_STACK_UNDERFLOW);
        break;
      }
      variable->setValue(copyForStore(top));
      break;
    }

    case OP_JMP:
      nextPosition = instruction->operand.address;
      break;

    case OP_JZ:
    case OP_JNZ: {
      VELQ_Value *condition = (VELQ_Value *)dataStack->pop();
      if (!condition) {
        error(VELQ_ERR_STACK_UNDERFLOW);
        break;
      }
      if (condition->getDataType() <= DTYPE_STRING) {
        error(VELQ_ERR_CONDITION_NOT_NUMBER);
      } else if (instruction->opCode == OP_JZ ? condition->isZero() : condition->isNonZero()) {
        nextPosition = instruction->operand.address;
      }
      delete condition;
      break;
    }

    case OP_EXIT:
      if (!dataStack->peek()) {
        error(VELQ_ERR_STACK_UNDERFLOW);
        break;
      }
      nextPosition = codeSize;
      break;

    case OP_PRINT:
      doPrint();
      break;

    case OP_CALL:
      nextPosition = instruction->operand.address;
      callFunction(instruction->intOperand);
      break;
    case OP_CALL_EXT:
      doCallExternal(instruction->operand.name, instruction->intOperand);
      break;
    case OP_BIND:
      doBind(instruction->operand.name);
      break;
    case OP_RET:
      doReturn();
      break;
    case OP_NRET:
      dataStack->push(new VELQ_Value());
      doReturn();
      break;

    case OP_ADD:
    case OP_SUB:
    case OP_MUL:
    case OP_DIV:
    case OP_REM:
    case OP_EQ:
    case OP_NE:
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
    case OP_CONCAT:
    case OP_LIKE:
    case OP_ILIKE:
    case OP_MATCH:
    case OP_IMATCH:
    case OP_CASE:
      doBinaryOperation(instruction->opCode);
      break;

    case OP_NEG:
    case OP_NOT:
    case OP_BITNOT:
      doUnaryOperation(instruction->opCode);
      break;

    case OP_CAST:
      doCast(instruction->intOperand);
      break;

    case OP_INC:
    case OP_DEC:
    case OP_INCP:
    case OP_DECP:
      doVariableStep(instruction->opCode, instruction->operand.name);
      break;

    case OP_ARRAY:
      doArrayDeclare(instruction->operand.name);
      break;
    case OP_EGET:
      doElementGet();
      break;
    case OP_ESET:
      doElementSet();
      break;
    case OP_AGET:
      doAttributeGet(instruction->operand.name);
      break;
    case OP_ASET:
      doAttributeSet(instruction->operand.name);
      break;

    default:
      break;  // an opcode outside the set does nothing
  }

  if (currentPosition != VELQ_NO_ADDRESS) currentPosition = nextPosition;
}

// Writes the exact bytes of the value's text (zero bytes included), or "(null)" for a
// value without text; nothing without an output stream.
void VELQ_Program::doPrint() {
  VELQ_Value *value = (VELQ_Value *)dataStack->pop();
  if (!value) {
    error(VELQ_ERR_STACK_UNDERFLOW);
    return;
  }
  FILE *out = environment->getStdOut();
  if (out) {
    uint32_t length = 0;
    const char *text =
        value->getDataType() >= DTYPE_STRING ? value->getValueAsString(&length) : nullptr;
    if (text) {
      fwrite(text, 1, length, out);
    } else {
      fwrite("(null)", 1, 6, out);
    }
  }
  delete value;
}
