// One step of the virtual machine, and the handlers of the data-movement, control-flow
// and print instructions.
#include <stdio.h>

#include "values/deep_copy.h"
#include "vm/opcodes.h"
#include "vm/program_internals.h"
#include "velq_environment.h"
#include "velq_program.h"
#include "velq_stack.h"
#include "velq_value.h"
#include "velq_variable.h"

// Executes the instruction at currentPosition, then moves to the next position.
//
// The rule every handler follows when it raises an error: call error(code), destroy
// the values it has already popped (nothing popped is pushed back), and return at once.
// error() has then set currentPosition to VELQ_NO_ADDRESS, so this step does not move
// on and the run loop stops; run() cleans up whatever is left on the stacks. A value a
// handler makes goes onto the stack through push(), which turns a value that could not
// be made (memory refused) into error 29 the same way.
void VELQ_Program::execute() {
  VELQ_Instruction *instruction = instructions[currentPosition];
  uint32_t &nextPosition = internals->nextPosition;
  nextPosition = currentPosition + 1;
  int opCode = instruction->opCode;

  switch (opCode) {
    case OP_PUSH_CONST: {
      VELQ_Value *constant = instruction->operand.value;
      VELQ_ProgramInternals::push(*this, new VELQ_Value(constant));  // null: a null value
      break;
    }

    case OP_PUSH_VAR:
      VELQ_ProgramInternals::push(
          *this, new VELQ_Value(findOrCreateVariable(instruction->operand.name)->getValue()));
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
      VELQ_Value *stored = velqStoredCopy(top);
      if (!stored) {
        error(VELQ_ERR_OUT_OF_MEMORY);
        break;
      }
      variable->setValue(stored);
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
      } else if (opCode == OP_JZ ? condition->isZero() : condition->isNonZero()) {
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
      internals->endedByExit = true;
      nextPosition = codeSize;
      break;

    case OP_PRINT:
      VELQ_ProgramInternals::doPrint(*this);
      break;

    case OP_CALL:
      nextPosition = instruction->operand.address;
      callFunction(instruction->intOperand);
      break;
    case OP_CALL_EXT:
      VELQ_ProgramInternals::doCallByName(*this, instruction->operand.name,
                                          instruction->intOperand);
      break;
    case OP_BIND:
      VELQ_ProgramInternals::doBind(*this, instruction->operand.name);
      break;
    case OP_RET:
      VELQ_ProgramInternals::doReturn(*this);
      break;
    case OP_NRET:
      if (VELQ_ProgramInternals::push(*this, new VELQ_Value())) VELQ_ProgramInternals::doReturn(*this);
      break;

    case OP_CAST:
      VELQ_ProgramInternals::doCast(*this, instruction->intOperand);
      break;

    case OP_ARRAY:
      VELQ_ProgramInternals::doArrayDeclare(*this, instruction->operand.name);
      break;
    case OP_EGET:
      VELQ_ProgramInternals::doElementGet(*this);
      break;
    case OP_ESET:
      VELQ_ProgramInternals::doElementSet(*this);
      break;
    case OP_AGET:
      VELQ_ProgramInternals::doAttributeGet(*this, instruction->operand.name);
      break;
    case OP_ASET:
      VELQ_ProgramInternals::doAttributeSet(*this, instruction->operand.name);
      break;

    default:
      // The operators, carried out by their family as the instruction list gives it.
      // NOP and an opcode outside the set are of no family and do nothing.
      switch (velqOperatorFamily(opCode)) {
        case VELQ_FAMILY_OTHER:
          break;
        case VELQ_FAMILY_UNARY:
          doUnaryOperation(opCode);
          break;
        case VELQ_FAMILY_STEP:
          VELQ_ProgramInternals::doVariableStep(*this, opCode, instruction->operand.name);
          break;
        default:
          doBinaryOperation(opCode);
          break;
      }
      break;
  }

  if (currentPosition != VELQ_NO_ADDRESS) currentPosition = nextPosition;
}

bool VELQ_ProgramInternals::push(VELQ_Program &program, VELQ_Value *value) {
  if (value && program.dataStack->push(value)) return true;
  delete value;
  program.error(VELQ_ERR_OUT_OF_MEMORY);
  return false;
}

// Writes the exact bytes of the value's text (zero bytes included), or "(null)" for a
// value without text; nothing without an output stream.
void VELQ_ProgramInternals::doPrint(VELQ_Program &program) {
  VELQ_Value *value = (VELQ_Value *)program.dataStack->pop();
  if (!value) {
    program.error(VELQ_ERR_STACK_UNDERFLOW);
    return;
  }
  FILE *out = program.environment->getStdOut();
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
