// Merging a module's code and functions into a program for one run.
#include <string.h>
#include <strings.h>

#include "runtime/growth.h"
#include "runtime/memory.h"
#include "vm/opcodes.h"
#include "vm/program_internals.h"
#include "velq_program.h"

namespace {

// The name a module record keeps: at most VELQ_MODULE_NAME_SIZE - 1 bytes of it.
void copyModuleName(char (&target)[VELQ_MODULE_NAME_SIZE], const char *name) {
  size_t length = strnlen(name, VELQ_MODULE_NAME_SIZE - 1);
  memcpy(target, name, length);
  target[length] = 0;
}

}  // namespace

// Whether a module of that name (cut as a module record keeps it, letter case ignored)
// is merged in this run.
bool VELQ_ProgramInternals::moduleMerged(const VELQ_Program &program, const char *name) {
  char recordName[VELQ_MODULE_NAME_SIZE];
  copyModuleName(recordName, name);
  for (uint32_t i = 0; i < program.moduleCount; i++)
    if (strcasecmp(program.modules[i].name, recordName) == 0) return true;
  return false;
}

// Appends copies of the module's instructions and function records, with every jump and
// call by address moved to the copy, and records the module under its name. A name
// already in the module table (ignoring case) leaves the program unchanged. The module
// is only read; it may even be this program, whose code up to now is then copied.
// Without memory for all of it the program is left as it was and the failure is noted,
// which stops the run.
void VELQ_Program::useModule(VELQ_Program *module, const char *name) {
  if (!module || !name || !internals || VELQ_ProgramInternals::moduleMerged(*this, name)) return;
  uint32_t base = codeSize;
  uint32_t n = module->codeSize;
  uint32_t functionBase = functionCount;
  uint32_t moduleFunctions = module->functionCount;
  if (n > UINT32_MAX - base || moduleFunctions > UINT32_MAX - functionBase) return;

  VELQ_ProgramInternals &state = *internals;
  uint32_t fileRoom = state.moduleCapacity;
  if (!VELQ_ProgramInternals::reserveCode(*this, (size_t)base + n) ||
      !velqReserve(functions, state.functionCapacity, (size_t)functionBase + moduleFunctions) ||
      !velqReserve(state.moduleFiles, fileRoom, (size_t)moduleCount + 1) ||
      !velqReserve(modules, state.moduleCapacity, (size_t)moduleCount + 1))
    return;
  for (uint32_t i = 0; i < n; i++) {
    VELQ_Instruction *copy = new VELQ_Instruction(module->instructions[i]);
    if (!copy) {
      for (uint32_t k = base; k < codeSize; k++) delete instructions[k];
      codeSize = base;
      return;
    }
    instructions[codeSize++] = copy;
  }
  relocateCode(base, n, base);

  for (uint32_t i = 0; i < moduleFunctions; i++) {
    functions[functionBase + i] = module->functions[i];
    functions[functionBase + i].address += base;
  }
  functionCount = functionBase + moduleFunctions;

  VELQ_Module *record = &modules[moduleCount];
  copyModuleName(record->name, name);
  record->codeStart = base;
  record->codeCount = n;
  record->functionStart = functionBase;
  record->functionCount = moduleFunctions;
  state.moduleFiles[moduleCount] = nullptr;
  moduleCount++;
}

// Adds offset to the target of every jump and call by address among count instructions
// from start on, stopping at the end of the code. A target that is no address at all (an
// unresolved jump) stays so rather than turning into an address inside the program.
void VELQ_Program::relocateCode(unsigned long start, unsigned long count, unsigned long offset) {
  if (start >= codeSize) return;
  unsigned long end = count < codeSize - start ? start + count : codeSize;
  uint32_t shift = (uint32_t)offset;
  for (unsigned long a = start; a < end; a++) {
    VELQ_Instruction *instruction = instructions[a];
    if (velqHoldsAddress(instruction->opCode) && instruction->operand.address != VELQ_NO_ADDRESS)
      instruction->operand.address += shift;
  }
}

// The file a module merged in this run was read from, for the error frames.
void VELQ_ProgramInternals::noteModuleFile(VELQ_Program &program, const char *name,
                                           const char *file) {
  char recordName[VELQ_MODULE_NAME_SIZE];
  copyModuleName(recordName, name);
  for (uint32_t i = 0; i < program.moduleCount; i++) {
    if (strcasecmp(program.modules[i].name, recordName) == 0) {
      velqRelease(program.internals->moduleFiles[i]);
      program.internals->moduleFiles[i] = velqCopyName(file);
      return;
    }
  }
}
