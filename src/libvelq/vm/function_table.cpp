// The program's table of script functions: registration and lookup by name.
//
// Lookups answer what a scan of the table in order would answer (the first record
// whose stored name equals the whole name asked for), but through an index from name
// to record, so that compiling a module of many functions and resolving its calls
// costs time in proportion to its size rather than to its square. Records are only
// ever appended or, at the end of a run, cut back; the index follows appends on the
// next lookup and is rebuilt after a cut.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <unordered_map>

#include "velq_program.h"

struct VELQ_Program::FunctionIndex {
  std::unordered_map<std::string, uint32_t> first;  // name -> position of its first record
  uint32_t indexed = 0;                             // records 0 .. indexed-1 are in the map
};

uint32_t VELQ_Program::findFunctionRecord(const char *name) {
  if (!name) return VELQ_NO_ADDRESS;
  if (!functionIndex) functionIndex = new FunctionIndex();
  FunctionIndex &index = *functionIndex;
  if (index.indexed > functionCount) {
    index.first.clear();
    index.indexed = 0;
  }
  for (; index.indexed < functionCount; index.indexed++)
    index.first.emplace(functions[index.indexed].name, index.indexed);  // keeps the first
  auto found = index.first.find(name);
  return found == index.first.end() ? VELQ_NO_ADDRESS : found->second;
}

void VELQ_Program::forgetFunctionIndex() {
  delete functionIndex;
  functionIndex = nullptr;
}

int VELQ_Program::addFunction(const char *name, unsigned long address, char *text) {
  if (!name) return 0;
  if (findFunctionRecord(name) != VELQ_NO_ADDRESS) {
    if (text) sprintf(text, "Duplicate function name: \"%s\"", name);
    return 0;
  }
  functions = (VELQ_Function *)realloc(functions, (functionCount + 1) * sizeof(VELQ_Function));
  if (!functions) abort();
  VELQ_Function *record = &functions[functionCount++];
  memset(record->name, 0, sizeof record->name);
  strncpy(record->name, name, sizeof record->name - 1);
  uint32_t start = (uint32_t)address;
  record->address = start == VELQ_NO_ADDRESS ? codeSize : start;
  return 1;
}

unsigned long VELQ_Program::getFunctionAddress(const char *name) {
  uint32_t record = findFunctionRecord(name);
  return record == VELQ_NO_ADDRESS ? VELQ_NO_ADDRESS : functions[record].address;
}
