// The instruction table and the instruction record: construction, copy and release by operand kind.
#include <stdlib.h>
#include <string.h>

#include "velq_instruction.h"
#include "velq_value.h"

const VELQ_OpCodeInfo VELQ_OpCodeTable[VELQ_OPCODE_COUNT] = {
#define VELQ_OPCODE_INFO(name, mnemonic, kind) {mnemonic, VELQ_OPERAND_##kind},
    VELQ_OPCODES(VELQ_OPCODE_INFO)
#undef VELQ_OPCODE_INFO
};

namespace {

bool ownsName(int opCode) {
  VELQ_OperandKind kind = VELQ_OperandKindOf(opCode);
  return kind == VELQ_OPERAND_NAME || kind == VELQ_OPERAND_NAME_COUNT;
}

bool ownsValue(int opCode) { return VELQ_OperandKindOf(opCode) == VELQ_OPERAND_VALUE; }

bool holdsAddress(int opCode) {
  VELQ_OperandKind kind = VELQ_OperandKindOf(opCode);
  return kind == VELQ_OPERAND_ADDRESS || kind == VELQ_OPERAND_ADDRESS_COUNT;
}

}  // namespace

// The destructor and the copy constructor treat the operand by the opcode's kind. A
// constructor given an operand of another kind than its opcode takes (a host's mistake,
// such as a name for PUSH_CONST) must not leave it there to be read or released as the
// wrong thing: it releases what it was given and leaves no operand, which for a jump is
// no address.
VELQ_Instruction::VELQ_Instruction(int line, int code)
    : opCode(code), intOperand(0), sourceLine(line) {
  operand.value = nullptr;
}

VELQ_Instruction::VELQ_Instruction(int line, int code, VELQ_Value *value)
    : opCode(code), intOperand(0), sourceLine(line) {
  operand.value = nullptr;
  if (ownsValue(code)) {
    operand.value = value;
    return;
  }
  delete value;
  if (holdsAddress(code)) operand.address = VELQ_NO_ADDRESS;
}

VELQ_Instruction::VELQ_Instruction(int line, int code, char *name)
    : VELQ_Instruction(line, code, name, 0) {}

VELQ_Instruction::VELQ_Instruction(int line, int code, char *name, int count)
    : opCode(code), intOperand(count), sourceLine(line) {
  operand.value = nullptr;
  if (ownsName(code)) {
    operand.name = name;
    return;
  }
  free(name);
  if (holdsAddress(code)) operand.address = VELQ_NO_ADDRESS;
}

// Addresses are 32-bit: the low 32 bits are kept, so (unsigned long)-1 is VELQ_NO_ADDRESS.
// The count is left at 0; CALL sets it after construction. An opcode whose operand is a
// name or a value gets none rather than an address in its place.
VELQ_Instruction::VELQ_Instruction(int line, int code, unsigned long address)
    : opCode(code), intOperand(0), sourceLine(line) {
  operand.value = nullptr;
  if (!ownsName(code) && !ownsValue(code)) operand.address = (uint32_t)address;
}

VELQ_Instruction::VELQ_Instruction(int line, int code, int value)
    : opCode(code), intOperand(value), sourceLine(line) {
  operand.value = nullptr;
}

// A missing source gives a NOP.
VELQ_Instruction::VELQ_Instruction(const VELQ_Instruction *source)
    : opCode(source ? source->opCode : OP_NOP),
      intOperand(source ? source->intOperand : 0),
      sourceLine(source ? source->sourceLine : 0) {
  operand.value = nullptr;
  if (!source) return;
  operand = source->operand;
  if (ownsName(opCode)) {
    operand.name = source->operand.name ? strdup(source->operand.name) : nullptr;
  } else if (ownsValue(opCode)) {
    operand.value = source->operand.value ? new VELQ_Value(source->operand.value) : nullptr;
  }
}

VELQ_Instruction::~VELQ_Instruction() {
  if (ownsName(opCode)) {
    free(operand.name);
  } else if (ownsValue(opCode)) {
    delete operand.value;
  }
}
