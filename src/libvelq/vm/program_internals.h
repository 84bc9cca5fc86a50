// What a program holds beyond its public face, and the engine's operations on it that
// are not part of the program's API: the steps of a run, the run loop and the handlers
// it calls for the longer instructions, the index of the function table and the record
// of the latest error.
#ifndef VELQ_PROGRAM_INTERNALS_H
#define VELQ_PROGRAM_INTERNALS_H

#include <stdint.h>

#include <atomic>

#include "runtime/memory.h"
#include "runtime/run_limits.h"
#include "velq_program.h"
#include "velq_variable.h"
#include "vm/machine.h"

// Where each name of the function table is first found, so that lookups cost no more
// than a hash however many functions a module has. Positions are the table's; the index
// follows appends on the next lookup and is rebuilt after the table is cut back. Without
// memory for it, lookups scan the table instead.
struct VELQ_FunctionIndex {
  uint32_t *slots = nullptr;  // a position + 1 per slot, 0 for a free slot
  uint32_t capacity = 0;      // a power of two, or 0
  uint32_t indexed = 0;       // records 0 .. indexed-1 are in the index
};

// The program's compiled regular expressions, kept for its later matches: the ones used
// last, up to VELQ_PATTERN_CACHE_SIZE and as many as fit the run's memory budget together
// (vm/matching.cpp).
enum { VELQ_PATTERN_CACHE_SIZE = 16 };
struct VELQ_CompiledPattern;
struct VELQ_PatternCache {
  VELQ_CompiledPattern *entries = nullptr;  // room for VELQ_PATTERN_CACHE_SIZE
  uint32_t count = 0;
  uint64_t uses = 0;
  ~VELQ_PatternCache();
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
  VELQ_Machine machine;
  std::atomic<bool> running{false};  // read by cancel(), from any thread
  uint32_t nextPosition = 0;         // where execute() continues after the current step
  unsigned long argumentCount = 0;
  // Copies of the run's or call's arguments, for getArgument: $1, $2, ... are variables
  // of main's locals, which a script may assign and a match overwrites. Null without
  // arguments; an entry is null when memory for its copy was refused.
  VELQ_Value **arguments = nullptr;
  char **moduleFiles = nullptr;  // per merged module: the file it was read from, or null
  // The variable an access by name gets when memory for a new one is refused; the run
  // stops at once, and the instruction never works on a missing variable.
  VELQ_Variable spareVariable{""};

  VELQ_PatternCache patterns;

  // ---- Budgets ----
  unsigned long long stepLimit = 0;
  unsigned long timeLimit = 0;  // milliseconds
  unsigned long long memoryLimit = 0;
  unsigned long long stepsTaken = 0;
  long long deadline = 0;  // steady clock, nanoseconds; 0: none
  VELQ_MemoryBudget memory{0, 0};
  VELQ_RunLimits limits{nullptr, nullptr, 0};
  // Of the run this one runs inside (a host function may run another program), if any.
  VELQ_MemoryBudget *outerBudget = nullptr;
  VELQ_RunLimits *outerLimits = nullptr;
  VELQ_AllocationFailure outerFailure = VELQ_ALLOCATION_OK;

  // ---- The latest run's outcome ----
  bool endedByExit = false;
  char errorBuffer[VELQ_ERROR_TEXT_SIZE] = {0};
  VELQ_StoredFrame *frames = nullptr;
  VELQ_ErrorFrame *frameViews = nullptr;
  uint32_t frameCount = 0;
  unsigned long callDepth = 0;
  char moduleFailure[VELQ_ERROR_TEXT_SIZE] = {0};
  int errorCode = 0;
  int errorLine = 0;
  char errorSubject[VELQ_ERROR_SUBJECT_SIZE] = {0};
  char errorDetail[VELQ_ERROR_TEXT_SIZE] = {0};

  // ---- A loaded program (load, call) ----
  bool loaded = false;
  // The function the latest call went to: its position in the function table.
  uint32_t lastCalled = UINT32_MAX;
  uint32_t loadedCodeSize = 0;       // the code and function count before load merged
  uint32_t loadedFunctionCount = 0;  // the modules

  ~VELQ_ProgramInternals();

  // Whether the program holds pointer already (see runtime/ownership.h): its
  // environment, one of its variable systems, its result, the value of one of its
  // variables, or a value on its data stack.
  static bool holds(const VELQ_Program &program, const void *pointer);

  // ---- The steps of a run (vm/program.cpp) ----
  static int refuseNestedRun(VELQ_Program &program, VELQ_Environment *environment, uint32_t argc,
                             VELQ_Value **argv, VELQ_VariableSystem *userLocals,
                             VELQ_VariableSystem **globalsOut);
  static bool takeRunInputs(VELQ_Program &program, VELQ_Environment *environment, uint32_t argc,
                            VELQ_Value **argv, VELQ_VariableSystem *userLocals);
  // Keeps copies of the arguments for getArgument; false when memory is refused.
  static bool keepArguments(VELQ_Program &program, uint32_t argc, VELQ_Value *const *argv);
  // The mirror of keepArguments, at the end of a run or call.
  static void releaseArguments(VELQ_Program &program);
  static void releaseRunInputs(VELQ_Program &program);
  // Forgets what a loaded program keeps for its calls (the translation's shortcut, the
  // function called last): its code or function table changes.
  static void forgetKeptForCalls(VELQ_Program &program);
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
  static void keepResult(VELQ_Program &program);
  // Copies source's own image into a new program (see the copy constructor); leaves the
  // program unusable when memory is refused.
  static void copyImage(VELQ_Program &program, const VELQ_Program *source);
  // Runs from the function at address as runMain runs from "main".
  static void runFrom(VELQ_Program &program, uint32_t address);
  // The run of a loaded program's function: what run does without the steps that
  // load did for good (modules, the environment) and without restoring the globals.
  static void callLoaded(VELQ_Program &program, const char *function, uint32_t argc,
                         VELQ_Value *const *argv);
  static void releaseCallInputs(VELQ_Program &program);
  static void startBudgets(VELQ_Program &program);
  static void stopBudgets(VELQ_Program &program);
  // Error 29 or 28 when an allocation of this run was refused, else 0.
  static int allocationError();

  // ---- The run loop (vm/run_loop.cpp) ----
  // Runs from program.currentPosition until the translated code ends, the run ends, an
  // error stops it, or (counting) a budget runs out. Called with a table, it only
  // stores there where its handlers are.
  template <bool Counting>
  static void loop(VELQ_Program *program, const void *const **table);
  // The loop's handler of each opcode, then of the end of the code (VELQ_HANDLER_COUNT
  // in all), for the translation: those of the counting loop or of the other.
  static const void *const *handlers(bool counting);
  // Called by the counting loop when its steps run out: error 26 or 27, or more steps.
  static bool budgetsAllowMore(VELQ_Program &program);
  // Called at jumps, calls and returns once the interrupt is set: the error it means.
  static int interruption(VELQ_Program &program);

  // ---- The translation (vm/translation.cpp) ----
  // Brings the translated code up to the program's code, with the handlers of the
  // counting loop or the other; false (error 29 raised) when memory is refused.
  static bool translate(VELQ_Program &program, bool counting);
  // The program's one copy of a name, kept for its life; null when memory is refused.
  static const char *intern(VELQ_Program &program, const char *name);

  // ---- Values on the machine's stack (vm/execute.cpp) ----
  // Makes room for n more values; false (error raised) when memory is refused.
  static bool reserveStack(VELQ_Program &program, uint32_t n);
  // Pushes the engine's copy of value (a copy of null for a null pointer).
  static bool pushCopy(VELQ_Program &program, const VELQ_Value *value);
  // Moves a value a handler or a class made (and its owner gave up) onto the stack; a
  // null value (memory refused) raises error 29.
  static bool pushNew(VELQ_Program &program, VELQ_Value *value);
  // The value under the top (0: the top); null when the stack holds fewer.
  static VELQ_Value *peekValue(VELQ_Program &program, uint32_t below = 0);
  static void popValues(VELQ_Program &program, uint32_t n);

  // ---- Handlers of the longer instructions ----
  static void doPrint(VELQ_Program &program);
  static void doCast(VELQ_Program &program, int type);
  static void doVariableStep(VELQ_Program &program, int opCode, VELQ_Variable *variable);
  static void doSet(VELQ_Program &program, VELQ_Variable *variable);
  static void doArrayDeclare(VELQ_Program &program, const char *name);
  static void doElementGet(VELQ_Program &program);
  static void doElementSet(VELQ_Program &program);
  // ESET without memory for the element: its three operands go, and error 29 is raised.
  static void refuseElementSet(VELQ_Program &program);
  static void doAttributeGet(VELQ_Program &program, const char *name);
  static void doAttributeSet(VELQ_Program &program, const char *name);
  // A call by name; when it calls a script function, nextPosition is its address.
  static void doCallByName(VELQ_Program &program, const char *name, int argc,
                           VELQ_CallCache *cache);
  static int32_t callHandler(VELQ_Program &program, const VELQ_ExtFunction *function,
                             VELQ_HostFunctionHandler hostHandler, void *userData, int argc,
                             VELQ_Value **argv, VELQ_Value **value);
  static void doBind(VELQ_Program &program, const char *name, VELQ_NameCache *cache);
  static void doReturn(VELQ_Program &program);
  // The variable of a name as the run sees it now (constants, globals, locals, or a
  // new local), and what the name's cache remembers of it. Null after error 29.
  static VELQ_Variable *lookUp(VELQ_Program &program, const char *name, VELQ_NameCache *cache);
  // Whether a variable of that name is among the constants, globals or locals.
  static bool nameTaken(const VELQ_Program &program, const char *name);
  // After a host function ran: whether it gave the constants or globals a new variable.
  static void noteShape(VELQ_Program &program);

  // ---- Parts of doBinaryOperation (vm/operators.cpp) ----
  static void compareCase(VELQ_Program &program);
  static int matchPattern(VELQ_Program &program, int opCode, VELQ_Value *left, VELQ_Value *right);

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
  // Raises the error with its subject, the name it is about.
  static void errorAbout(VELQ_Program &program, int code, const char *subject);
  // Forgets the error data of the latest run, before a new one.
  static void forgetError(VELQ_Program &program);
  static void recordErrorFrames(VELQ_Program &program);
  static void forgetErrorFrames(VELQ_Program &program);
};

#endif
