// Merging a module's code and functions into a program for one run.
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "velq_program.h"

namespace {

// The name a module record keeps: at most VELQ_MODULE_NAME_SIZE - 1 bytes.
void copyModuleName(char (&target)[VELQ_MODULE_NAME_SIZE], const char *name) {
  size_t length = strnlen(name, VELQ_MODULE_NAME_SIZE - 1);
  memcpy(target, name, length);
  target[length] = 0;
}

template <typename T>
T *growTo(T *array, size_t count) {
  T *grown = static_cast<T *>(realloc(array, count * sizeof(T)));
  if (!grown && count > 0) abort();
  return grown;
}

}  // namespace

// Appends copies of the module's instructions and function records, with every jump and
// call by address moved to the copy, and records the module under its name. A name
// already in the module table (ignoring case) leaves the program unchanged. The module
// is only read; it may even be this program, whose code up to now is then copied.
void VELQ_Program::useModule(VELQ_Program *module, const char *name) {
  if (!module || !name) return;
  char recordName[VELQ_MODULE_NAME_SIZE];
  copyModuleName(recordName, name);
  for (uint32_t i = 0; i < moduleCount; i++)
    if (strcasecmp(modules[i].name, recordName) == 0) return;

  uint32_t base = codeSize;
  uint32_t n = module->codeSize;
  uint32_t functionBase = functionCount;
  uint32_t moduleFunctions = module->functionCount;
  if (n > UINT32_MAX - base || moduleFunctions > UINT32_MAX - functionBase) return;

  reserveCode((size_t)base + n);
  // The copied code may hold jumps without a target; the lists do not follow it.
  forgetOpenJumps();
  openJumpsUntracked = true;
  for (uint32_t i = 0; i < n; i++)
    instructions[base + i] = new VELQ_Instruction(module->instructions[i]);
  codeSize = base + n;
  relocateCode(base, n, base);

  functions = growTo(functions, (size_t)functionBase + moduleFunctions);
  for (uint32_t i = 0; i < moduleFunctions; i++) {
    functions[functionBase + i] = module->functions[i];
    functions[functionBase + i].address += base;
  }
  functionCount = functionBase + moduleFunctions;

  modules = growTo(modules, (size_t)moduleCount + 1);
  VELQ_Module *record = &modules[moduleCount++];
  memcpy(record->name, recordName, sizeof recordName);
  record->codeStart = base;
  record->codeCount = n;
  record->functionStart = functionBase;
  record->functionCount = moduleFunctions;
}

// Adds offset to the target of every JMP, CALL, JZ and JNZ among count instructions from
// start on, stopping at the end of the code. A target that is no address at all (an
// unresolved jump) stays so rather than turning into an address inside the program.
void VELQ_Program::relocateCode(unsigned long start, unsigned long count, unsigned long offset) {
  if (start >= codeSize) return;
  unsigned long end = count < codeSize - start ? start + count : codeSize;
  uint32_t shift = (uint32_t)offset;
  for (unsigned long a = start; a < end; a++) {
    VELQ_Instruction *ins = instructions[a];
    switch (ins->opCode) {
      case OP_JMP:
      case OP_CALL:
      case OP_JZ:
      case OP_JNZ:
        if (ins->operand.address != VELQ_NO_ADDRESS) ins->operand.address += shift;
        break;
      default:
        break;
    }
  }
}
