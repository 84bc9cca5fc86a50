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
#include <stdlib.h>
#include <string.h>

#include "runtime/growth.h"
#include "runtime/memory.h"
#include "values/number_text.h"
#include "vm/argument_names.h"
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

// "$1" to "$255" are the process's shared copies, which the engine's argument and
// capture variables carry, so that an instruction naming one finds them by address.
const char *VELQ_ProgramInternals::intern(VELQ_Program &program, const char *name) {
  if (!name) name = "";
  if (name[0] == '$' && name[1] >= '1' && name[1] <= '9') {
    const char *end = nullptr;
    int64_t n = VELQ_ParseInt64(name + 1, &end);
    const char *shared = *end == '\0' ? VELQ_SharedArgumentName((int32_t)n) : nullptr;
    if (shared && strcmp(shared, name) == 0) return shared;
  }
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

namespace {

bool isConditionalJump(int opCode) { return opCode == OP_JZ || opCode == OP_JNZ; }

bool isPopOne(const VELQ_Op &op) { return op.opCode == OP_POP && op.count == 1; }

// The fused handlers of an arithmetic operator (PUSH_CONST k; op and PUSH_VAR x; op), or
// of a comparison (op; jump, then the same after PUSH_VAR; PUSH_VAR and after PUSH_VAR;
// PUSH_CONST), in that order; VELQ_HANDLER_COUNT for an opcode without them.
int arithmeticFusions(int opCode) {
  switch (opCode) {
#define VELQ_ARITHMETIC_CASE(op) \
  case OP_##op:                  \
    return VELQ_FUSED_K_##op;
    VELQ_FAST_ARITHMETIC(VELQ_ARITHMETIC_CASE)
#undef VELQ_ARITHMETIC_CASE
    default:
      return VELQ_HANDLER_COUNT;
  }
}

int comparisonFusions(int opCode) {
  switch (opCode) {
#define VELQ_COMPARISON_CASE(op) \
  case OP_##op:                  \
    return VELQ_FUSED_JUMP_##op;
    VELQ_FAST_COMPARISONS(VELQ_COMPARISON_CASE)
#undef VELQ_COMPARISON_CASE
    default:
      return VELQ_HANDLER_COUNT;
  }
}

// The fused handler for the sequence that starts at code[i], or the op's own handler.
int fusedHandler(const VELQ_Op *code, uint32_t i, uint32_t size) {
  const VELQ_Op &op = code[i];
  int next = i + 1 < size ? code[i + 1].opCode : OP_NOP;
  int third = i + 2 < size ? code[i + 2].opCode : OP_NOP;
  int fourth = i + 3 < size ? code[i + 3].opCode : OP_NOP;
  switch (op.opCode) {
    case OP_PUSH_VAR:
      if (isConditionalJump(fourth) && comparisonFusions(third) != VELQ_HANDLER_COUNT) {
        if (next == OP_PUSH_VAR) return comparisonFusions(third) + 1;
        if (next == OP_PUSH_CONST) return comparisonFusions(third) + 2;
      }
      if (arithmeticFusions(next) != VELQ_HANDLER_COUNT) return arithmeticFusions(next) + 1;
      break;
    case OP_PUSH_CONST:
      if (arithmeticFusions(next) != VELQ_HANDLER_COUNT) return arithmeticFusions(next);
      break;
    case OP_SET:
      if (i + 1 < size && isPopOne(code[i + 1])) return VELQ_FUSED_SET_POP;
      break;
    case OP_CASE:
      if (next == OP_JZ) return VELQ_FUSED_CASE_JUMP;
      break;
    case OP_INC:
    case OP_DEC:
    case OP_INCP:
    case OP_DECP:
      if (i + 1 < size && isPopOne(code[i + 1])) return VELQ_FUSED_STEP_POP;
      break;
    default:
      if (isConditionalJump(next) && comparisonFusions(op.opCode) != VELQ_HANDLER_COUNT)
        return comparisonFusions(op.opCode);
      break;
  }
  return velqKnownOpCode(op.opCode) ? op.opCode : OP_NOP;
}

// The plain machine's handler of an opcode: the general path of each operator (the
// handler of AND, NOT or CASE reaches it with the op's own opcode), and a lookup by
// name on every use.
int plainHandler(int opCode) {
  if (comparisonFusions(opCode) != VELQ_HANDLER_COUNT ||
      arithmeticFusions(opCode) != VELQ_HANDLER_COUNT || opCode == OP_CASE)
    return OP_AND;
  switch (opCode) {
    case OP_NEG:
      return OP_NOT;
    case OP_PUSH_VAR:
      return VELQ_PLAIN_PUSH_VAR;
    case OP_SET:
      return VELQ_PLAIN_SET;
    case OP_INC:
    case OP_DEC:
    case OP_INCP:
    case OP_DECP:
      return VELQ_PLAIN_STEP;
    default:
      return velqKnownOpCode(opCode) ? opCode : OP_NOP;
  }
}

}  // namespace

bool VELQ_PlainMachine() {
  static const bool plain = [] {
    const char *setting = getenv("VELQ_PLAIN_MACHINE");
    return setting && strcmp(setting, "1") == 0;
  }();
  return plain;
}

// The loop that counts steps runs every instruction by its own handler; the other runs
// sequences of instructions by fused handlers where it can.
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
  for (uint32_t address = 0; address < size; address++) {
    const VELQ_Instruction *instruction = program.instructions[address];
    VELQ_Op &op = m.code[address];
    int opCode = instruction->opCode;
    if (address < m.translated && matches(m.sources[address], instruction)) continue;
    memset(&op, 0, sizeof op);
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
  bool plain = VELQ_PlainMachine();
  for (uint32_t address = 0; address < size; address++) {
    int opCode = m.code[address].opCode;
    int handler = plain      ? plainHandler(opCode)
                  : counting ? (velqKnownOpCode(opCode) ? opCode : OP_NOP)
                             : fusedHandler(m.code, address, size);
    m.code[address].handler = handlers[handler];
  }
  m.translated = size;
  velqOpenReach(&m.interrupt, &m.reach, size + 1);
  return true;
}

VELQ_Machine::~VELQ_Machine() {
  velqRelease(stack);
  velqRelease(code);
  velqRelease(sources);
  for (uint32_t i = 0; i < internedCapacity; i++) velqRelease(interned[i]);
  velqRelease(interned);
}
