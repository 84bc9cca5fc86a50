// What a program holds beyond its public face, and the engine's operations on it that
// are not part of the program's API: the steps of a run, the handlers of single
// instructions, the index of the function table and the record of the latest error.
#ifndef VELQ_PROGRAM_INTERNALS_H
#define VELQ_PROGRAM_INTERNALS_H

#include <stdint.h>

#include <atomic>

#include "runtime/memory.h"
#include "velq_program.h"
#include "velq_variable.h"

// Where each name of the function table is first found, so that lookups cost no more
// than a hash however many functions a module has. Positions are the table's; the index
// follows appends on the next lookup and is rebuilt after the table is cut back. Without
// memory for it, lookups scan the table instead.
struct VELQ_FunctionIndex {
  uint32_t *slots = nullptr;  // a position + 1 per slot, 0 for a free slot
  uint32_t capacity = 0;      // a power of two, or 0
  uint32_t indexed = 0;       // records 0 .. indexed-1 are in the index
};

// One frame of the chain of calls that led to the latest error, with its own copies of
// the names (the code of modules is gone after the run).
struct VELQ_StoredFrame {
  char function[VELQ_FUNCTION_NAME_SIZE];
  char module[VELQ_MODULE_NAME_SIZE];
  char *file;  // owned copy, or null
  int line;
};

// The error frames kept at most: the innermost ones, and the outermost as the last.
enum { VELQ_ERROR_FRAMES_KEPT = 64 };

struct VELQ_ProgramInternals {
  // ---- Code building ----
  uint32_t codeCapacity = 0;
  uint32_t functionCapacity = 0;
  uint32_t preloadCapacity = 0;
  uint32_t moduleCapacity = 0;
  VELQ_FunctionIndex functionIndex;

  // ---- The run in progress ----
  uint32_t nextPosition = 0;  // where execute() continues after the current step
  unsigned long argumentCount = 0;
  char **moduleFiles = nullptr;  // per merged module: the file it was read from, or null
  // The variable an access by name gets when memory for a new one is refused; the run
  // stops after the instruction, which thus never works on a missing variable.
  VELQ_Variable spareVariable{""};

  // ---- Budgets ----
  unsigned long long stepLimit = 0;
  unsigned long timeLimit = 0;  // milliseconds
  unsigned long long memoryLimit = 0;
  std::atomic<bool> cancelRequested{false};
  unsigned long long stepsTaken = 0;
  long long deadline = 0;  // steady clock, nanoseconds; 0: none
  VELQ_MemoryBudget memory{0, 0};

  // ---- The latest run's outcome ----
  bool endedByExit = false;
  char errorBuffer[VELQ_ERROR_TEXT_SIZE] = {0};
  VELQ_StoredFrame *frames = nullptr;
  VELQ_ErrorFrame *frameViews = nullptr;
  uint32_t frameCount = 0;
  unsigned long callDepth = 0;
  char moduleFailure[VELQ_ERROR_TEXT_SIZE] = {0};

  ~VELQ_ProgramInternals();

  // Whether the program holds pointer already (see runtime/ownership.h): its
  // environment, one of its variable systems, its result, the value of one of its
  // variables, or a value on its data stack.
  static bool holds(const VELQ_Program &program, const void *pointer);

  // ---- The steps of a run (vm/program.cpp) ----
  static int refuseNestedRun(VELQ_Program &program, VELQ_Environment *environment,
                             uint32_t argc, VELQ_Value **argv, VELQ_VariableSystem *userLocals,
                             VELQ_VariableSystem **globalsOut);
  static bool takeRunInputs(VELQ_Program &program, VELQ_Environment *environment, uint32_t argc,
                            VELQ_Value **argv, VELQ_VariableSystem *userLocals);
  static void releaseRunInputs(VELQ_Program &program);
  struct SavedVariables {
    VELQ_VariableSystem *globals;
    VELQ_VariableSystem *constants;  // null when the run merged no constants
    bool complete;                   // false when memory was refused (error 29 raised)
  };
  static SavedVariables saveVariables(VELQ_Program &program, VELQ_VariableSystem *runConstants);
  static void restoreVariables(VELQ_Program &program, SavedVariables saved,
                               VELQ_VariableSystem **globalsOut);
  static bool mergeModules(VELQ_Program &program);
  static void dropMergedModules(VELQ_Program &program, uint32_t codeSize, uint32_t functionCount);
  static void runMain(VELQ_Program &program);
  static void startBudgets(VELQ_Program &program);
  static void stopBudgets(VELQ_Program &program);
  // The error a budget, a cancellation or a refused allocation raises after the current
  // step, or 0 when the run may go on.
  static int budgetExhausted(VELQ_Program &program);
  // Error 29 or 28 when an allocation of this run was refused, else 0.
  static int allocationError();

  // ---- Handlers of single instructions ----
  static void doPrint(VELQ_Program &program);
  static void doCast(VELQ_Program &program, int type);
  static void doVariableStep(VELQ_Program &program, int opCode, const char *name);
  static void doArrayDeclare(VELQ_Program &program, const char *name);
  static void doElementGet(VELQ_Program &program);
  static void doElementSet(VELQ_Program &program);
  static void doAttributeGet(VELQ_Program &program, const char *name);
  static void doAttributeSet(VELQ_Program &program, const char *name);
  static void doCallByName(VELQ_Program &program, const char *name, int argc);
  static void doBind(VELQ_Program &program, const char *name);
  static void doReturn(VELQ_Program &program);
  // Pushes a value the instruction made; a null value (memory refused) stops the run.
  static bool push(VELQ_Program &program, VELQ_Value *value);

  // ---- Parts of doBinaryOperation (vm/operators.cpp) ----
  static void compareCase(VELQ_Program &program);
  static int matchPattern(VELQ_Program &program, int opCode, VELQ_Value *left, VELQ_Value *right,
                          VELQ_Value **outcome);

  // ---- The function table (vm/function_table.cpp) ----
  static uint32_t findFunctionRecord(VELQ_Program &program, const char *name);
  static void forgetFunctionIndex(VELQ_Program &program);

  // ---- The code array (vm/program.cpp) ----
  static bool reserveCode(VELQ_Program &program, size_t slots);

  // ---- Modules (vm/modules.cpp, vm/module_loading.cpp) ----
  static bool moduleMerged(const VELQ_Program &program, const char *name);
  static void noteModuleFile(VELQ_Program &program, const char *name, const char *file);
  static void noteModuleFailure(VELQ_Program &program, const char *format, ...)
      __attribute__((format(printf, 2, 3)));

  // ---- The latest error (vm/errors.cpp) ----
  static void recordErrorFrames(VELQ_Program &program);
  static void forgetErrorFrames(VELQ_Program &program);
};

#endif
