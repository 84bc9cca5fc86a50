// The translation of a program's code for the run loop (vm/run_loop.cpp), and the
// program's interned names.
//
// Each instruction becomes an op that points to its handler in the loop and holds its
// operand in the form the handler wants: the constant, the program's one copy of the
// name, or the address. The translation is kept from run to run; before each run every
// op is checked against the instruction it was made from (the same record, with the
// same opcode and operand), and translated again when they differ, so that code added,
// changed or merged since is always run as it stands now. An op past the last
// instruction ends the loop.
#include <string.h>

#include "runtime/growth.h"
#include "runtime/memory.h"
#include "vm/opcodes.h"
#include "vm/program_internals.h"
#include "velq_program.h"

namespace {

uint32_t hashName(const char *name) {
  uint32_t hash = 2166136261u;  // FNV-1a
  for (; *name; name++) hash = (hash ^ (unsigned char)*name) * 16777619u;
  return hash;
}

uint64_t operandBits(const VELQ_Instruction *instruction) {
  uint64_t bits = 0;
  memcpy(&bits, &instruction->operand, sizeof instruction->operand);
  return bits;
}

bool matches(const VELQ_OpSource &source, const VELQ_Instruction *instruction) {
  return source.instruction == instruction && source.opCode == instruction->opCode &&
         source.count == instruction->intOperand && source.operand == operandBits(instruction);
}

// Inserts an interned name into a table with a free slot.
void insertName(char **slots, uint32_t capacity, char *name) {
  uint32_t mask = capacity - 1;
  uint32_t slot = hashName(name) & mask;
  while (slots[slot]) slot = (slot + 1) & mask;
  slots[slot] = name;
}

}  // namespace

const char *VELQ_ProgramInternals::intern(VELQ_Program &program, const char *name) {
  if (!name) name = "";
  VELQ_Machine &m = program.internals->machine;
  if (m.internedCapacity) {
    uint32_t mask = m.internedCapacity - 1;
    for (uint32_t slot = hashName(name) & mask; m.interned[slot]; slot = (slot + 1) & mask)
      if (strcmp(m.interned[slot], name) == 0) return m.interned[slot];
  }
  if ((uint64_t)(m.internedCount + 1) * 2 > m.internedCapacity) {
    uint32_t capacity = m.internedCapacity ? m.internedCapacity * 2 : 64;
    char **slots = static_cast<char **>(velqAllocate(capacity * sizeof(char *)));
    if (!slots) return nullptr;
    memset(slots, 0, capacity * sizeof(char *));
    for (uint32_t i = 0; i < m.internedCapacity; i++)
      if (m.interned[i]) insertName(slots, capacity, m.interned[i]);
    velqRelease(m.interned);
    m.interned = slots;
    m.internedCapacity = capacity;
  }
  char *copy = velqCopyName(name);
  if (!copy) return nullptr;
  insertName(m.interned, m.internedCapacity, copy);
  m.internedCount++;
  return copy;
}

bool VELQ_ProgramInternals::translate(VELQ_Program &program, bool counting) {
  VELQ_Machine &m = program.internals->machine;
  uint32_t size = program.codeSize;
  uint32_t room = m.codeCapacity;
  if (!velqReserve(m.sources, room, (size_t)size + 1) ||
      !velqReserve(m.code, m.codeCapacity, (size_t)size + 1)) {
    program.error(VELQ_ERR_OUT_OF_MEMORY);
    return false;
  }
  const void *const *handlers = VELQ_ProgramInternals::handlers(counting);
  bool handlersChanged = m.countingCode != counting;
  m.countingCode = counting;
  for (uint32_t address = 0; address < size; address++) {
    const VELQ_Instruction *instruction = program.instructions[address];
    VELQ_Op &op = m.code[address];
    int opCode = instruction->opCode;
    const void *handler = handlers[velqKnownOpCode(opCode) ? opCode : OP_NOP];
    if (address < m.translated && matches(m.sources[address], instruction)) {
      if (handlersChanged) op.handler = handler;
      continue;
    }
    memset(&op, 0, sizeof op);
    op.handler = handler;
    op.opCode = opCode;
    op.count = instruction->intOperand;
    switch (velqOperandKind(opCode)) {
      case VELQ_OPERAND_VALUE:
        op.operand.constant = instruction->operand.value;
        break;
      case VELQ_OPERAND_NAME:
      case VELQ_OPERAND_NAME_COUNT:
        op.operand.name = intern(program, instruction->operand.name);
        if (!op.operand.name) {
          m.translated = address;  // the ops from here on are not whole
          program.error(VELQ_ERR_OUT_OF_MEMORY);
          return false;
        }
        op.cache.names.name = op.operand.name;
        break;
      case VELQ_OPERAND_ADDRESS:
      case VELQ_OPERAND_ADDRESS_COUNT:
        op.operand.target = instruction->operand.address;
        break;
      default:
        break;
    }
    m.sources[address] = {instruction, instruction->opCode, instruction->intOperand,
                          operandBits(instruction)};
  }
  memset(&m.code[size], 0, sizeof m.code[size]);
  m.code[size].handler = handlers[VELQ_END_HANDLER];
  m.code[size].opCode = OP_NOP;
  m.translated = size;
  return true;
}

VELQ_Machine::~VELQ_Machine() {
  velqRelease(stack);
  velqRelease(code);
  velqRelease(sources);
  for (uint32_t i = 0; i < internedCapacity; i++) velqRelease(interned[i]);
  velqRelease(interned);
}
