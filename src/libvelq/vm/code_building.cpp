// The operations a program is built with: forward jumps, placeholder jumps, module
// names and the resolution of calls by name.
#include "runtime/growth.h"
#include "runtime/memory.h"
#include "vm/opcodes.h"
#include "vm/program_internals.h"
#include "velq_program.h"

// The most recently added jump of the opcode that has no target gets the current
// address: the jump of the innermost construct still open. The compiler keeps its own
// pending jumps; this backward search serves hosts that build code by hand. Only
// instructions whose operand is an address are looked at: for any other opcode the
// operand is a name or a value, which must not be overwritten.
void VELQ_Program::resolveLastJump(int opCode) {
  if (!velqHoldsAddress(opCode)) return;
  for (uint32_t i = codeSize; i-- > 0;) {
    VELQ_Instruction *instruction = instructions[i];
    if (instruction->opCode == opCode && instruction->operand.address == VELQ_NO_ADDRESS) {
      instruction->operand.address = codeSize;
      return;
    }
  }
}

// Without memory for the new instruction the old one stays.
void VELQ_Program::createJumpAt(unsigned long position, unsigned long address) {
  uint32_t at = (uint32_t)position;
  if (at >= codeSize) return;
  VELQ_Instruction *jump =
      new VELQ_Instruction(instructions[at]->sourceLine, OP_JMP, (unsigned long)(uint32_t)address);
  if (!jump) return;
  delete instructions[at];
  instructions[at] = jump;
}

// Without memory for the list the name is released and the list stays as it was.
void VELQ_Program::addPreload(char *name) {
  if (!name) return;
  if (!internals || !velqReserve(preloadList, internals->preloadCapacity, (size_t)preloadCount + 1)) {
    velqRelease(name);
    return;
  }
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
    velqRelease(instruction->operand.name);
    instruction->operand.value = nullptr;
    instruction->operand.address = (uint32_t)address;
    instruction->opCode = OP_CALL;
  }
}
