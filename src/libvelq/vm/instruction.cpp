// The instruction table and the instruction record: construction, copy and release by
// operand kind.
#include <string.h>

#include "runtime/memory.h"
#include "vm/opcodes.h"
#include "velq_instruction.h"
#include "velq_value.h"

VELQ_DEFINE_POOLED_ALLOCATION(VELQ_Instruction)

const VELQ_OpCodeInfo VELQ_OpCodeTable[VELQ_OPCODE_COUNT] = {
#define VELQ_OPCODE_INFO(name, mnemonic, kind, family) \
  {mnemonic, VELQ_OPERAND_##kind, VELQ_FAMILY_##family},
    VELQ_OPCODES(VELQ_OPCODE_INFO)
#undef VELQ_OPCODE_INFO
};

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
  if (velqOwnsValue(code)) {
    operand.value = value;
    return;
  }
  delete value;
  if (velqHoldsAddress(code)) operand.address = VELQ_NO_ADDRESS;
}

VELQ_Instruction::VELQ_Instruction(int line, int code, char *name)
    : VELQ_Instruction(line, code, name, 0) {}

VELQ_Instruction::VELQ_Instruction(int line, int code, char *name, int count)
    : opCode(code), intOperand(count), sourceLine(line) {
  operand.value = nullptr;
  if (velqOwnsName(code)) {
    operand.name = name;
    return;
  }
  velqRelease(name);
  if (velqHoldsAddress(code)) operand.address = VELQ_NO_ADDRESS;
}

// Addresses are 32-bit: the low 32 bits are kept, so (unsigned long)-1 is VELQ_NO_ADDRESS.
// The count is left at 0; CALL sets it after construction. An opcode whose operand is a
// name or a value gets none rather than an address in its place.
VELQ_Instruction::VELQ_Instruction(int line, int code, unsigned long address)
    : opCode(code), intOperand(0), sourceLine(line) {
  operand.value = nullptr;
  if (!velqOwnsName(code) && !velqOwnsValue(code)) operand.address = (uint32_t)address;
}

VELQ_Instruction::VELQ_Instruction(int line, int code, int value)
    : opCode(code), intOperand(value), sourceLine(line) {
  operand.value = nullptr;
}

// A missing source gives a NOP. Without memory for its own copy of a name or a constant
// the copy has none; the refused allocation is noted, which stops the run merging it.
VELQ_Instruction::VELQ_Instruction(const VELQ_Instruction *source)
    : opCode(source ? source->opCode : OP_NOP),
      intOperand(source ? source->intOperand : 0),
      sourceLine(source ? source->sourceLine : 0) {
  operand.value = nullptr;
  if (!source) return;
  operand = source->operand;
  if (velqOwnsName(opCode)) {
    operand.name = source->operand.name ? velqCopyName(source->operand.name) : nullptr;
  } else if (velqOwnsValue(opCode)) {
    operand.value = source->operand.value ? new VELQ_Value(source->operand.value) : nullptr;
  }
}

VELQ_Instruction::~VELQ_Instruction() {
  if (velqOwnsName(opCode)) {
    velqRelease(operand.name);
  } else if (velqOwnsValue(opCode)) {
    delete operand.value;
  }
}
