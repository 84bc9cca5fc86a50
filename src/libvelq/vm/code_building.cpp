// The operations the compiler builds a program with: forward jumps, placeholder
// jumps, module names and the resolution of calls by name.
#include <stdlib.h>

#include <vector>

#include "velq_program.h"

namespace {

bool holdsAddress(int opCode) {
  VELQ_OperandKind kind = VELQ_OperandKindOf(opCode);
  return kind == VELQ_OPERAND_ADDRESS || kind == VELQ_OPERAND_ADDRESS_COUNT;
}

}  // namespace

// Positions of the jumps added without a target, one list per opcode, in ascending order.
// A list may hold positions whose jump has been resolved or replaced since; they are
// skipped when met.
struct VELQ_Program::OpenJumps {
  std::vector<uint32_t> positions[VELQ_OPCODE_COUNT];
};

void VELQ_Program::noteOpenJump(int opCode, uint32_t position) {
  if (openJumpsUntracked) return;
  if (!openJumps) openJumps = new OpenJumps();
  std::vector<uint32_t> &list = openJumps->positions[opCode];
  if (!list.empty() && list.back() >= position) {
    forgetOpenJumps();  // out of order: fall back to searching the code
    openJumpsUntracked = true;
    return;
  }
  list.push_back(position);
}

void VELQ_Program::forgetOpenJumps() {
  delete openJumps;
  openJumps = nullptr;
}

// The most recently added jump of the opcode that has no target gets the current
// address: the jump of the innermost construct still open. The lists of open jumps make
// this independent of the size of the code; once the code has been changed by other
// means (optimizing, merging modules) the code itself is searched backwards. Only
// instructions whose operand is an address are looked at: for any other opcode the
// operand is a name or a value, which must not be overwritten.
void VELQ_Program::resolveLastJump(int opCode) {
  if (!holdsAddress(opCode)) return;
  if (!openJumpsUntracked) {
    if (!openJumps) return;
    std::vector<uint32_t> &list = openJumps->positions[opCode];
    while (!list.empty()) {
      uint32_t at = list.back();
      list.pop_back();
      if (at >= codeSize) continue;
      VELQ_Instruction *instruction = instructions[at];
      if (instruction->opCode == opCode && instruction->operand.address == VELQ_NO_ADDRESS) {
        instruction->operand.address = codeSize;
        return;
      }
    }
    return;
  }
  for (uint32_t i = codeSize; i-- > 0;) {
    VELQ_Instruction *instruction = instructions[i];
    if (instruction->opCode == opCode && instruction->operand.address == VELQ_NO_ADDRESS) {
      instruction->operand.address = codeSize;
      return;
    }
  }
}

void VELQ_Program::createJumpAt(unsigned long position, unsigned long address) {
  uint32_t at = (uint32_t)position;
  if (at >= codeSize) return;
  int line = instructions[at]->sourceLine;
  delete instructions[at];
  instructions[at] = new VELQ_Instruction(line, OP_JMP, (unsigned long)(uint32_t)address);
  if ((uint32_t)address == VELQ_NO_ADDRESS) noteOpenJump(OP_JMP, at);
}

void VELQ_Program::addPreload(char *name) {
  if (!name) return;
  preloadList = (char **)realloc(preloadList, (preloadCount + 1) * sizeof(char *));
  preloadList[preloadCount++] = name;
}

// A call by name of one of the program's own functions becomes a call by address, so
// that the program's functions win over external functions of the same name.
void VELQ_Program::resolveFunctions() {
  for (uint32_t i = 0; i < codeSize; i++) {
    VELQ_Instruction *instruction = instructions[i];
    if (instruction->opCode != OP_CALL_EXT) continue;
    unsigned long address = getFunctionAddress(instruction->operand.name);
    if (address == VELQ_NO_ADDRESS) continue;
    free(instruction->operand.name);
    instruction->operand.value = nullptr;
    instruction->operand.address = (uint32_t)address;
    instruction->opCode = OP_CALL;
  }
}
