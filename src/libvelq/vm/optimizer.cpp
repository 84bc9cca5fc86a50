// The jump optimizer: threads jumps through chains of unconditional jumps, then deletes
// unconditional jumps to the next instruction.
#include <string.h>

#include "vm/opcodes.h"
#include "velq_program.h"

// Follows JMPs from address to the first instruction that is not a JMP. A chain that
// comes back on itself never ends; then the address is returned unchanged. A chain
// longer than the code must have visited some address twice, which is how that is seen
// without keeping a record of the addresses passed.
unsigned long VELQ_Program::getFinalJumpDestination(unsigned long address) {
  uint32_t start = (uint32_t)address;
  uint32_t at = start;
  for (uint32_t steps = 0; at < codeSize && instructions[at]->opCode == OP_JMP; steps++) {
    if (steps >= codeSize) return start;
    at = instructions[at]->operand.address;
  }
  return at;
}

void VELQ_Program::optimize() {
  for (uint32_t i = 0; i < codeSize; i++) {
    VELQ_Instruction *instruction = instructions[i];
    if (velqIsJump(instruction->opCode))
      instruction->operand.address =
          (uint32_t)getFinalJumpDestination(instruction->operand.address);
  }

  // JZ and JNZ stay even when they lead to the next instruction: they pop their condition.
  uint32_t j = 0;
  while (j < codeSize) {
    VELQ_Instruction *instruction = instructions[j];
    if (instruction->opCode != OP_JMP || instruction->operand.address != j + 1) {
      j++;
      continue;
    }
    delete instruction;
    memmove(&instructions[j], &instructions[j + 1],
            (codeSize - j - 1) * sizeof(VELQ_Instruction *));
    codeSize--;
    // Everything behind the deleted jump moved down by one: every jump and call by
    // address that leads behind it too. An unresolved target keeps VELQ_NO_ADDRESS, so
    // that the jump still stops the run when it is taken.
    for (uint32_t i = 0; i < codeSize; i++) {
      VELQ_Instruction *other = instructions[i];
      if (!velqHoldsAddress(other->opCode)) continue;
      uint32_t target = other->operand.address;
      if (target > j && target != VELQ_NO_ADDRESS) other->operand.address = target - 1;
    }
    for (uint32_t f = 0; f < functionCount; f++)
      if (functions[f].address > j) functions[f].address--;
    // Index j now holds the instruction that followed. The one instruction whose jump may
    // have just become a jump to its next is a JMP at j - 1 that led to j + 1, as in two
    // consecutive JMPs to the next instruction: look at it again too.
    if (j > 0) j--;
  }
}
