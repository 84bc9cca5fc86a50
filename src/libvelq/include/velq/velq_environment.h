// The environment of one run: external functions, streams, the script library and the trace hook.
#ifndef VELQ_ENVIRONMENT_H
#define VELQ_ENVIRONMENT_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "velq_export.h"

class VELQ_Value;
class VELQ_Program;
class VELQ_Library;

// The handler of an external function. argv points to argc value pointers, the
// first argument first; they belong to the machine. On success the handler stores
// a new value in *result and returns 0, or -1 to end the run with that value;
// any other return is a run-time error code and stores no result.
typedef int32_t (*VELQ_ExtFunctionHandler)(int32_t argc, VELQ_Value **argv, VELQ_Value **result,
                                           VELQ_Program *program);

enum { VELQ_FUNCTION_NAME_SIZE = 64 };

// The handler of a host function registered with data of its own (registerFunction): as
// above, with the userData pointer given at registration. A handler may end the run with
// error 31 "Host exception" and a text of its own: it calls program->setErrorDetail(text)
// and returns 31. An exception it throws ends the run the same way, with the exception's
// what() as the detail.
typedef int32_t (*VELQ_HostFunctionHandler)(int32_t argc, VELQ_Value **argv, VELQ_Value **result,
                                            VELQ_Program *program, void *userData);

struct VELQ_ExtFunction {
  char name[VELQ_FUNCTION_NAME_SIZE];  // at most 63 characters and a zero byte
  VELQ_ExtFunctionHandler handler;
  int32_t argCount;  // -1: any number, checked by the handler
};

class VELQ_API VELQ_Environment {
public:
  VELQ_Environment();
  virtual ~VELQ_Environment();

  VELQ_Environment(const VELQ_Environment &) = delete;
  VELQ_Environment &operator=(const VELQ_Environment &) = delete;

  // The engine allocates environments itself: new yields null when memory is refused.
  static void *operator new(size_t size) noexcept;
  static void operator delete(void *block) noexcept;

  // The host's trace hook; this version does nothing.
  virtual void trace(int level, const char *text);

  VELQ_ExtFunction *findFunction(const char *name);
  // Appends copies of the records. Without memory for them the table stays as it was,
  // and a run given this environment stops at once with error 29 "Out of memory".
  void registerFunctionSet(unsigned long count, const VELQ_ExtFunction *records);
  int useModule(VELQ_Program *program, const char *name);
  // Appends one host function that is handed userData at every call. Its record in the
  // table has the name (cut to 63 bytes) and the argument count, and no handler. Without
  // memory for it the table stays as it was, and a run given this environment stops at
  // once with error 29.
  void registerFunction(const char *name, VELQ_HostFunctionHandler handler, void *userData,
                        int32_t argCount);
  // A copy of this environment: its functions, streams, library and module policy (the
  // trace hook is the base class's). Null when memory is refused.
  VELQ_Environment *copy() const;

  // Where modules that the script library does not hold are looked for: the files
  // NAME.velq in the directories added, in order, or in the current directory when none
  // was added. setModuleFiles(false) turns loading modules from files off altogether.
  void setModuleFiles(bool allowed) { moduleFiles = allowed; }
  // Without memory for the copy of the directory the list stays as it was, and a run
  // given this environment stops at once with error 29.
  void addModuleDirectory(const char *directory);

  void setIO(FILE *in, FILE *out) {
    input = in;
    output = out;
  }
  FILE *getStdIn() const { return input; }
  FILE *getStdOut() const { return output; }
  void setLibrary(VELQ_Library *newLibrary) { library = newLibrary; }
  VELQ_Library *getLibrary() const { return library; }

  uint32_t getFunctionCount() const { return functionCount; }
  // The record at position i; null beyond the function count.
  const VELQ_ExtFunction *getFunction(uint32_t i) const {
    return i < functionCount ? &functions[i] : nullptr;
  }

private:
  friend struct VELQ_EnvironmentInternals;  // the engine's own access (vm/module_loading.cpp)

  // The handler and data of a function registered by registerFunction, by table position.
  struct HostEntry {
    VELQ_HostFunctionHandler handler;
    void *userData;
  };

  uint32_t functionCount;
  VELQ_ExtFunction *functions;
  VELQ_Library *library;
  FILE *input;
  FILE *output;
  uint32_t functionCapacity;
  bool moduleFiles;
  uint32_t directoryCount;
  uint32_t directoryCapacity;
  char **directories;
  // An operation of the host on this environment could not get memory (see above).
  bool outOfMemory;
  // Entries for positions below hostCount; a null handler for a record of the other kind.
  uint32_t hostCount;
  uint32_t hostCapacity;
  HostEntry *hosts;
};

#endif
