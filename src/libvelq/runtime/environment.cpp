// The environment of a run: the external function table, streams, library and trace hook.
#include <stdlib.h>
#include <string.h>

#include "builtins/builtins.h"
#include "velq_environment.h"

VELQ_Environment::VELQ_Environment()
    : functionCount(VELQ_BUILTIN_COUNT),
      functions(static_cast<VELQ_ExtFunction *>(malloc(sizeof VELQ_BuiltinFunctions))),
      library(nullptr),
      input(nullptr),
      output(nullptr) {
  if (!functions) abort();
  memcpy(functions, VELQ_BuiltinFunctions, sizeof VELQ_BuiltinFunctions);
}

VELQ_Environment::~VELQ_Environment() { free(functions); }

void VELQ_Environment::trace(int level, const char *text) {}

// First record in table order whose name equals name exactly; built-ins come first.
VELQ_ExtFunction *VELQ_Environment::findFunction(const char *name) {
  if (!name) return nullptr;
  for (uint32_t i = 0; i < functionCount; i++)
    if (strcmp(functions[i].name, name) == 0) return &functions[i];
  return nullptr;
}

// Appends copies of the host's records. A copied name is always terminated within its
// 64 bytes, so that a host record whose name fills the field cannot make a lookup read
// past it. The records may be this environment's own (a host registering some of the
// table again, through getFunction): the growth can move them, so they are then copied
// from where they lie afterwards, and only as far as the old table reaches.
void VELQ_Environment::registerFunctionSet(unsigned long count, const VELQ_ExtFunction *records) {
  if (count == 0 || !records || count > UINT32_MAX - functionCount) return;
  const uintptr_t from = (uintptr_t)records;
  const uintptr_t start = (uintptr_t)functions;
  const uintptr_t end = (uintptr_t)(functions + functionCount);
  const bool own = from >= start && from < end;
  const size_t offset = own ? (size_t)(from - start) : 0;  // in bytes
  if (own && count > (end - from) / sizeof(VELQ_ExtFunction))
    count = (end - from) / sizeof(VELQ_ExtFunction);
  if (count == 0) return;
  size_t total = (size_t)functionCount + count;
  VELQ_ExtFunction *grown =
      static_cast<VELQ_ExtFunction *>(realloc(functions, total * sizeof(VELQ_ExtFunction)));
  if (!grown) abort();
  functions = grown;
  const void *source = own ? (const void *)((const char *)functions + offset) : records;
  memcpy(functions + functionCount, source, count * sizeof(VELQ_ExtFunction));
  for (size_t i = functionCount; i < total; i++) functions[i].name[VELQ_FUNCTION_NAME_SIZE - 1] = 0;
  functionCount = (uint32_t)total;
}
