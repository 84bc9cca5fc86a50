// A compiled script and the virtual machine that runs it.
#ifndef VELQ_PROGRAM_H
#define VELQ_PROGRAM_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "velq_environment.h"
#include "velq_instruction.h"

class VELQ_Value;
class VELQ_Stack;
class VELQ_Variable;
class VELQ_VariableSystem;
class VELQ_Environment;

enum {
  VELQ_MAX_FRAMES = 32768,      // open script-function frames at most
  VELQ_MODULE_NAME_SIZE = 260,  // 259 bytes of a module name and a zero byte
  VELQ_ERROR_TEXT_SIZE = 1024,  // an error text holds at most 1023 characters
  VELQ_REGEX_SUBMATCHES = 256   // sub-match records of a regular-expression match
};

// Run-time error codes; their messages are indexed by code.
enum {
  VELQ_ERR_STACK_UNDERFLOW = 1,
  VELQ_ERR_CONTROL_UNDERFLOW = 2,
  VELQ_ERR_CONDITION_NOT_NUMBER = 3,
  VELQ_ERR_BAD_ARITHMETIC = 4,
  VELQ_ERR_NULL_OPERATION = 5,
  VELQ_ERR_INTERNAL = 6,
  VELQ_ERR_NO_MAIN = 7,
  VELQ_ERR_CONTROL_OVERFLOW = 8,
  VELQ_ERR_DIVIDE_BY_ZERO = 9,
  VELQ_ERR_REAL_OPERATION = 10,
  VELQ_ERR_FUNCTION_NOT_FOUND = 11,
  VELQ_ERR_ARGUMENT_COUNT = 12,
  VELQ_ERR_TYPE_CAST = 13,
  VELQ_ERR_NOT_OBJECT = 14,
  VELQ_ERR_UNKNOWN_ATTRIBUTE = 15,
  VELQ_ERR_MODULE = 16,
  VELQ_ERR_NOT_STRING = 17,
  VELQ_ERR_REGEX = 18,
  VELQ_ERR_NOT_WHOLE = 19,
  VELQ_ERR_OBJECT_OPERATION = 20,
  VELQ_ERR_BAD_CLASS = 21,
  VELQ_ERR_VARIABLE_EXISTS = 22,
  VELQ_ERR_INDEX_NOT_INTEGER = 23,
  VELQ_ERR_NOT_ARRAY = 24,
  VELQ_ERR_CONSTANT_ASSIGN = 25,
  // The budgets of a run and the memory of the system.
  VELQ_ERR_STEP_LIMIT = 26,
  VELQ_ERR_TIME_LIMIT = 27,
  VELQ_ERR_MEMORY_LIMIT = 28,
  VELQ_ERR_OUT_OF_MEMORY = 29,
  VELQ_ERR_CANCELLED = 30,
  // A host function, a host class or the trace hook threw an exception, or a host
  // function raised the error with a text of its own (getErrorDetail).
  VELQ_ERR_HOST_EXCEPTION = 31,
  VELQ_ERROR_CODE_LAST = 31
};

enum { VELQ_ERROR_SUBJECT_SIZE = 256 };  // a subject holds at most 255 bytes

// The message of a run-time error code; "Unknown error code" for a code without one.
VELQ_API const char *VELQ_ErrorMessage(int code);

struct VELQ_Function {
  char name[VELQ_FUNCTION_NAME_SIZE];  // at most 63 bytes and a zero byte
  uint32_t address;
};

struct VELQ_Module {
  char name[VELQ_MODULE_NAME_SIZE];
  uint32_t codeStart;
  uint32_t codeCount;
  uint32_t functionStart;
  uint32_t functionCount;
};

// One frame of the chain of calls that led to a run-time error: the function, the
// module its code came from (null for the program's own code), the file that module was
// read from (null for the program's own code and for a module of the script library),
// and the line: where the error happened for the innermost frame, the line of the call
// for the others.
struct VELQ_ErrorFrame {
  const char *function;
  const char *module;
  const char *file;
  int line;
};

struct VELQ_ProgramInternals;

class VELQ_API VELQ_Program {
public:
  VELQ_Program();
  ~VELQ_Program();

  // A copy of a program's image, to load and call apart from the source program: its
  // code, functions, modules to use, constants, globals and budgets. A copy that could
  // not get memory for all of it is unusable, as a program is (every run fails with 29).
  explicit VELQ_Program(const VELQ_Program *source);

  VELQ_Program(const VELQ_Program &) = delete;
  VELQ_Program &operator=(const VELQ_Program &) = delete;

  // The engine allocates programs itself: new yields null when memory is refused.
  static void *operator new(size_t size) noexcept;
  static void operator delete(void *block) noexcept;

  // Runs "main". Takes the environment, the argument values and userLocals; returns 0 or -1.
  int run(VELQ_Environment *environment, unsigned long argc, VELQ_Value **argv,
          VELQ_VariableSystem *userLocals, VELQ_VariableSystem **globalsOut,
          VELQ_VariableSystem *constants);

  // Budgets for every later run of this program; 0 turns one off, which is how a
  // program starts. A run that exceeds one stops with its error: 26 after `steps`
  // instructions, 27 once `milliseconds` of wall-clock time have passed since the run
  // started, 28 when the values, texts, arrays, variables and stacks it holds at once
  // would take more than `bytes`.
  void setStepLimit(unsigned long long steps);
  void setTimeLimit(unsigned long milliseconds);
  void setMemoryLimit(unsigned long long bytes);
  // Stops the run in progress with error 30 before its next instruction (a built-in
  // busy with a long text stops too). Any thread may call it, and so may a signal
  // handler; without a run in progress it does nothing.
  void cancel();

  // Loading keeps a program ready for calls: it takes the environment (null: a default
  // one) and keeps it until unload, merges the given constants (the caller keeps them)
  // and merges the modules the script uses, for good. The globals are no longer restored
  // after a call: what one call leaves in them the next call sees. Returns 0, or -1 with
  // the error (a module that cannot be merged: 16) and the program not loaded. Loading a
  // loaded program unloads it first; so does a run. Calls reuse the code as the machine
  // translated it for the first call: a change the host makes to an instruction of a
  // loaded program (through getInstruction) takes effect when it is loaded again.
  int load(VELQ_Environment *environment, VELQ_VariableSystem *constants);
  // Calls the script function of that name as a run calls "main": the arguments are
  // $1, $2, ... (copies: the caller keeps argv), the budgets apply, the result and the
  // error are kept as a run's. A program that is not loaded is loaded first with a
  // default environment. A function the program does not have fails with error 11, its
  // name the subject. Returns 0 or -1.
  int call(const char *function, unsigned long argc, VELQ_Value *const *argv);
  // Drops what load took and merged; the globals stay as the calls left them.
  void unload();
  bool isLoaded() const;

  VELQ_Value *getResult() const { return result; }
  // Hands the result of the latest run or call to the caller, who then owns it; null
  // when there is none. getResult gives null after it.
  VELQ_Value *takeResult();
  const char *getErrorText() const { return errorText ? errorText : ""; }
  // Whether the latest run ended through the exit statement or _exit; its result is
  // then the value exited with.
  bool endedByExit() const;
  // During a run, for host functions: the number of arguments the run was given, and
  // argument i (from 0) as the run was given it, whatever the script did to $1, $2, ...
  // since (the program keeps it; null beyond the count).
  unsigned long getArgumentCount() const;
  const VELQ_Value *getArgument(unsigned long i) const;

  // Where the latest run-time error happened: frame 0 is where the error was raised,
  // each later frame the call that led to the one before it, down to the function the
  // run started in. None when the error arose before the first instruction (a module
  // that could not be loaded, no "main"). A chain deeper than the frames kept loses
  // frames from its middle; getErrorCallDepth tells how many there were.
  uint32_t getErrorFrameCount() const;
  const VELQ_ErrorFrame *getErrorFrame(uint32_t i) const;
  unsigned long getErrorCallDepth() const;
  // The latest error as data beside its text: the code (0 after a run without error),
  // the line (0 before the first instruction), and the subject, the name the error is
  // about: the function not found (11), the external function that refused its argument
  // count (12) or raised any other error, the attribute (15), the module (16), the
  // variable (22, 25); "" when the error names nothing. The detail adds text: for 31 the
  // exception's what() or what the host function set, for 12 "expects N arguments, got
  // M"; "" when none.
  int getErrorCode() const;
  int getErrorLine() const;
  const char *getErrorSubject() const;
  const char *getErrorDetail() const;
  // For a host function about to return error 31: the detail of that error.
  void setErrorDetail(const char *text);
  // After error 16: one line naming the module that could not be loaded and why (not
  // found, and where it was looked for; or its compile error). Empty otherwise.
  const char *getModuleFailure() const;
  unsigned long getCodeSize() const { return codeSize; }
  VELQ_Variable *findGlobalVariable(const char *name);
  void setGlobalVariable(const char *name, VELQ_Value *value);
  void trace(int level, const char *text);

  // Code building.
  void addInstruction(VELQ_Instruction *instruction);
  int addFunction(const char *name, unsigned long address, char *errorText);
  void resolveLastJump(int opCode);
  void createJumpAt(unsigned long position, unsigned long address);
  void addPreload(char *name);
  void resolveFunctions();
  void optimize();
  void dump(FILE *file);

  // Merges a module's code and functions for the current run, once per name.
  void useModule(VELQ_Program *module, const char *name);

  // The program image, for hosts and tools: the instruction at an address, the function
  // records and the module names by position (null beyond the count), the constants and
  // the globals.
  VELQ_Instruction *getInstruction(unsigned long address) const {
    return address < codeSize ? instructions[address] : nullptr;
  }
  uint32_t getFunctionCount() const { return functionCount; }
  const VELQ_Function *getFunction(uint32_t i) const {
    return i < functionCount ? &functions[i] : nullptr;
  }
  uint32_t getPreloadCount() const { return preloadCount; }
  const char *getPreload(uint32_t i) const { return i < preloadCount ? preloadList[i] : nullptr; }
  VELQ_VariableSystem *getConstants() const { return constants; }
  VELQ_VariableSystem *getGlobals() const { return globals; }
  // During a run, for host functions: the innermost frame's locals and the environment;
  // null otherwise.
  VELQ_VariableSystem *getLocals() const { return locals; }
  VELQ_Environment *getEnvironment() const { return environment; }

protected:
  void execute();
  void error(int code);
  VELQ_Variable *findOrCreateVariable(const char *name);
  VELQ_Variable *createVariable(const char *name);
  void doBinaryOperation(int opCode);
  void doUnaryOperation(int opCode);
  void callFunction(int argc);
  unsigned long getFunctionAddress(const char *name);
  VELQ_Value *matchRegexp(VELQ_Value *text, VELQ_Value *pattern, int ignoreCase);
  void relocateCode(unsigned long start, unsigned long count, unsigned long offset);
  unsigned long getFinalJumpDestination(unsigned long address);

  VELQ_Environment *environment;
  VELQ_Instruction **instructions;
  uint32_t codeSize;
  uint32_t currentPosition;
  uint32_t preloadCount;
  char **preloadList;
  uint32_t subLevel;
  int32_t bindPosition;
  VELQ_VariableSystem *constants;
  VELQ_VariableSystem *globals;
  VELQ_VariableSystem *locals;
  uint32_t functionCount;
  VELQ_Function *functions;
  uint32_t moduleCount;
  VELQ_Module *modules;
  VELQ_Value *result;
  char *errorText;

private:
  // The engine's own machinery: the run in its steps, the handlers of single
  // instructions, the indexes and the state that hosts do not see (vm/program_internals.h).
  friend struct VELQ_ProgramInternals;
  friend struct VELQ_TestAccess;
  VELQ_ProgramInternals *internals;
};

#endif
