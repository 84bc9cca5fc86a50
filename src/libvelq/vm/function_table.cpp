// The program's table of script functions: registration and lookup by name.
//
// Lookups answer what a scan of the table in order would answer (the first record
// whose stored name equals the whole name asked for), but through an index from name
// to record, so that compiling a module of many functions and resolving its calls
// costs time in proportion to its size rather than to its square.
#include <stdio.h>
#include <string.h>

#include "runtime/growth.h"
#include "runtime/memory.h"
#include "vm/program_internals.h"
#include "velq_program.h"

namespace {

uint32_t hashName(const char *name) {
  uint32_t hash = 2166136261u;  // FNV-1a
  for (; *name; name++) hash = (hash ^ (unsigned char)*name) * 16777619u;
  return hash;
}

// Puts record position into a free slot of the index (the index has one).
void insertPosition(VELQ_FunctionIndex &index, const VELQ_Function *functions, uint32_t position) {
  uint32_t mask = index.capacity - 1;
  for (uint32_t slot = hashName(functions[position].name) & mask;; slot = (slot + 1) & mask) {
    if (index.slots[slot] == 0) {
      index.slots[slot] = position + 1;
      return;
    }
    // A name that is in the index already keeps its first record.
    if (strcmp(functions[index.slots[slot] - 1].name, functions[position].name) == 0) return;
  }
}

// Brings the index up to the table's records; false when memory for it is refused.
bool catchUp(VELQ_FunctionIndex &index, const VELQ_Function *functions, uint32_t count) {
  if (index.indexed > count) index.indexed = 0;  // the table was cut back: rebuild
  if (index.indexed == count) return true;
  if ((uint64_t)count * 2 > index.capacity || index.indexed == 0) {
    uint32_t capacity = 16;
    while (capacity < (uint64_t)count * 2) capacity *= 2;
    uint32_t *slots = static_cast<uint32_t *>(velqAllocate(capacity * sizeof(uint32_t)));
    if (!slots) return false;
    memset(slots, 0, capacity * sizeof(uint32_t));
    velqRelease(index.slots);
    index.slots = slots;
    index.capacity = capacity;
    index.indexed = 0;
  }
  for (; index.indexed < count; index.indexed++) insertPosition(index, functions, index.indexed);
  return true;
}

}  // namespace

// The position of the first record named name, or VELQ_NO_ADDRESS. Without memory for
// the index the table is scanned.
uint32_t VELQ_ProgramInternals::findFunctionRecord(VELQ_Program &program, const char *name) {
  if (!name || !program.internals || program.functionCount == 0) return VELQ_NO_ADDRESS;
  VELQ_FunctionIndex &index = program.internals->functionIndex;
  if (!catchUp(index, program.functions, program.functionCount)) {
    for (uint32_t i = 0; i < program.functionCount; i++)
      if (strcmp(program.functions[i].name, name) == 0) return i;
    return VELQ_NO_ADDRESS;
  }
  uint32_t mask = index.capacity - 1;
  for (uint32_t slot = hashName(name) & mask; index.slots[slot] != 0; slot = (slot + 1) & mask) {
    uint32_t position = index.slots[slot] - 1;
    if (strcmp(program.functions[position].name, name) == 0) return position;
  }
  return VELQ_NO_ADDRESS;
}

void VELQ_ProgramInternals::forgetFunctionIndex(VELQ_Program &program) {
  program.internals->functionIndex.indexed = 0;
}

// The duplicate message is cut to the size of an error text (VELQ_ERROR_TEXT_SIZE bytes
// with its zero byte), which errorText must be able to hold. 0 also when memory for the
// record is refused (then errorText is untouched).
int VELQ_Program::addFunction(const char *name, unsigned long address, char *text) {
  if (!name || !internals) return 0;
  if (VELQ_ProgramInternals::findFunctionRecord(*this, name) != VELQ_NO_ADDRESS) {
    if (text) snprintf(text, VELQ_ERROR_TEXT_SIZE, "Duplicate function name: \"%s\"", name);
    return 0;
  }
  if (!velqReserve(functions, internals->functionCapacity, (size_t)functionCount + 1)) return 0;
  VELQ_Function *record = &functions[functionCount++];
  memset(record->name, 0, sizeof record->name);
  strncpy(record->name, name, sizeof record->name - 1);
  uint32_t start = (uint32_t)address;
  record->address = start == VELQ_NO_ADDRESS ? codeSize : start;
  return 1;
}

unsigned long VELQ_Program::getFunctionAddress(const char *name) {
  uint32_t record = VELQ_ProgramInternals::findFunctionRecord(*this, name);
  return record == VELQ_NO_ADDRESS ? VELQ_NO_ADDRESS : functions[record].address;
}
