// The environment of a run: the external function table, streams, library, module
// policy and trace hook.
#include <string.h>

#include "builtins/builtins.h"
#include "runtime/growth.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "velq_environment.h"

VELQ_DEFINE_ENGINE_ALLOCATION(VELQ_Environment)

// Without memory for its copy of the built-in table the environment starts with no
// functions at all, and a run given it stops at once with error 29.
VELQ_Environment::VELQ_Environment()
    : functionCount(0),
      functions(nullptr),
      library(nullptr),
      input(nullptr),
      output(nullptr),
      functionCapacity(0),
      moduleFiles(true),
      directoryCount(0),
      directoryCapacity(0),
      directories(nullptr),
      outOfMemory(false),
      hostCount(0),
      hostCapacity(0),
      hosts(nullptr) {
  if (!velqReserve(functions, functionCapacity, VELQ_BUILTIN_COUNT)) {
    outOfMemory = true;
    return;
  }
  memcpy(functions, VELQ_BuiltinFunctions, sizeof VELQ_BuiltinFunctions);
  functionCount = VELQ_BUILTIN_COUNT;
}

VELQ_Environment::~VELQ_Environment() {
  velqRelease(functions);
  velqRelease(hosts);
  for (uint32_t i = 0; i < directoryCount; i++) velqRelease(directories[i]);
  velqRelease(directories);
}

void VELQ_Environment::trace(int level, const char *text) {}

// First record in table order whose name equals name exactly; built-ins come first.
VELQ_ExtFunction *VELQ_Environment::findFunction(const char *name) {
  if (!name) return nullptr;
  for (uint32_t i = 0; i < functionCount; i++)
    if (strcmp(functions[i].name, name) == 0) return &functions[i];
  return nullptr;
}

// Appends copies of the host's records. A copied name is always terminated within its
// VELQ_FUNCTION_NAME_SIZE bytes, so that a host record whose name fills the field cannot
// make a lookup read past it. The records may be this environment's own (a host
// registering some of the table again, through getFunction): the growth can move them,
// so they are then copied from where they lie afterwards, and only as far as the old
// table reaches.
void VELQ_Environment::registerFunctionSet(unsigned long count, const VELQ_ExtFunction *records) {
  if (count == 0 || !records || count > UINT32_MAX - functionCount) return;
  const bool own = velqPointsInto(records, functions, functionCount);
  const size_t first = own ? (size_t)(records - functions) : 0;
  if (own && count > functionCount - first) count = functionCount - first;
  size_t total = (size_t)functionCount + count;
  if (!velqReserve(functions, functionCapacity, total)) {
    outOfMemory = true;
    return;
  }
  const VELQ_ExtFunction *source = own ? functions + first : records;
  memcpy(functions + functionCount, source, count * sizeof(VELQ_ExtFunction));
  for (size_t i = functionCount; i < total; i++) functions[i].name[VELQ_FUNCTION_NAME_SIZE - 1] = 0;
  functionCount = (uint32_t)total;
}

void VELQ_Environment::addModuleDirectory(const char *directory) {
  if (!directory) return;
  char *copy = velqCopyName(directory);
  if (!copy || !velqReserve(directories, directoryCapacity, (size_t)directoryCount + 1)) {
    velqRelease(copy);
    outOfMemory = true;
    return;
  }
  directories[directoryCount++] = copy;
}

void VELQ_Environment::registerFunction(const char *name, VELQ_HostFunctionHandler handler,
                                        void *userData, int32_t argCount) {
  if (!name || !handler || functionCount == UINT32_MAX) return;
  size_t position = functionCount;
  if (!velqReserve(functions, functionCapacity, position + 1) ||
      !velqReserve(hosts, hostCapacity, position + 1)) {
    outOfMemory = true;
    return;
  }
  // The positions between hold records of the other kind.
  for (size_t i = hostCount; i < position; i++) hosts[i] = {nullptr, nullptr};
  hosts[position] = {handler, userData};
  hostCount = (uint32_t)position + 1;
  VELQ_ExtFunction &record = functions[position];
  memset(&record, 0, sizeof record);
  strncpy(record.name, name, VELQ_FUNCTION_NAME_SIZE - 1);
  record.handler = nullptr;
  record.argCount = argCount;
  functionCount = (uint32_t)position + 1;
}

VELQ_Environment *VELQ_Environment::copy() const {
  VELQ_Environment *copy = new VELQ_Environment();
  if (!copy) return nullptr;
  copy->functionCount = 0;  // the built-ins come again with this table
  copy->registerFunctionSet(functionCount, functions);
  if (hostCount && velqReserve(copy->hosts, copy->hostCapacity, hostCount)) {
    memcpy(copy->hosts, hosts, hostCount * sizeof *hosts);
    copy->hostCount = hostCount;
  } else if (hostCount) {
    copy->outOfMemory = true;
  }
  copy->library = library;
  copy->input = input;
  copy->output = output;
  copy->moduleFiles = moduleFiles;
  for (uint32_t i = 0; i < directoryCount; i++) copy->addModuleDirectory(directories[i]);
  copy->outOfMemory = copy->outOfMemory || outOfMemory;
  return copy;
}
