// A compiled script and the virtual machine that runs it.
#ifndef VELQ_PROGRAM_H
#define VELQ_PROGRAM_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "velq_instruction.h"

class VELQ_Value;
class VELQ_Stack;
class VELQ_Variable;
class VELQ_VariableSystem;
class VELQ_Environment;

enum {
  VELQ_MAX_FRAMES = 32768,      // open script-function frames at most
  VELQ_MODULE_NAME_SIZE = 260,  // 259 bytes of a module name and a zero byte
  VELQ_ERROR_TEXT_SIZE = 1024,  // a run-time error text holds at most 1023 characters
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
  VELQ_ERROR_CODE_COUNT = 25
};

// The message of a run-time error code; "Unknown error code" outside 1 to 25.
const char *VELQ_ErrorMessage(int code);

struct VELQ_Function {
  char name[64];  // at most 63 bytes and a zero byte
  uint32_t address;
};

struct VELQ_Module {
  char name[VELQ_MODULE_NAME_SIZE];
  uint32_t codeStart;
  uint32_t codeCount;
  uint32_t functionStart;
  uint32_t functionCount;
};

class VELQ_Program {
public:
  VELQ_Program();
  ~VELQ_Program();

  VELQ_Program(const VELQ_Program &) = delete;
  VELQ_Program &operator=(const VELQ_Program &) = delete;

  // Runs "main". Takes the environment, the argument values and userLocals; returns 0 or -1.
  int run(VELQ_Environment *environment, unsigned long argc, VELQ_Value **argv,
          VELQ_VariableSystem *userLocals, VELQ_VariableSystem **globalsOut,
          VELQ_VariableSystem *constants);

  VELQ_Value *getResult() const { return result; }
  const char *getErrorText() const { return errorText ? errorText : ""; }
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

  // Read access to the program image, for hosts, tools and tests.
  VELQ_Instruction *getInstruction(unsigned long address) const {
    return address < codeSize ? instructions[address] : nullptr;
  }
  // The records and names by position; null for a position beyond the count.
  uint32_t getFunctionCount() const { return functionCount; }
  const VELQ_Function *getFunction(uint32_t i) const {
    return i < functionCount ? &functions[i] : nullptr;
  }
  uint32_t getPreloadCount() const { return preloadCount; }
  const char *getPreload(uint32_t i) const { return i < preloadCount ? preloadList[i] : nullptr; }
  uint32_t getModuleCount() const { return moduleCount; }
  const VELQ_Module *getModule(uint32_t i) const { return i < moduleCount ? &modules[i] : nullptr; }
  VELQ_VariableSystem *getConstants() const { return constants; }
  VELQ_VariableSystem *getGlobals() const { return globals; }
  // During a run: the innermost frame's locals and the environment; null otherwise.
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

  // Handlers of single instructions that execute() delegates to.
  void doCast(int type);                             // CAST
  void doVariableStep(int opCode, const char *name);  // INC, DEC, INCP, DECP
  void doArrayDeclare(const char *name);             // ARRAY
  void doElementGet();                               // EGET
  void doElementSet();                               // ESET
  void doAttributeGet(const char *name);             // AGET
  void doAttributeSet(const char *name);             // ASET
  // The value a variable or an element stores for source: a copy, except that an
  // array value gets a deep copy of its array, so that the store never shares it.
  static VELQ_Value *copyForStore(const VELQ_Value *source);
  // Handlers of the call, return and print instructions.
  void doCallExternal(const char *name, int argc);  // CALL_EXT
  void doBind(const char *name);                    // BIND
  void doReturn();                                  // RET, and NRET after its null
  void doPrint();                                   // PRINT

  VELQ_Environment *environment;
  VELQ_Instruction **instructions;
  uint32_t codeSize;
  uint32_t currentPosition;
  uint32_t preloadCount;
  char **preloadList;
  uint32_t subLevel;
  VELQ_Stack *dataStack;
  VELQ_Stack *controlStack;
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

  // Where execute() continues after the current step; jumps, calls and returns set it.
  uint32_t nextPosition;

private:
  // Makes room for at least slots instructions in the code array.
  void reserveCode(size_t slots);
  uint32_t codeCapacity;

  // Position of the first function record named name, or VELQ_NO_ADDRESS.
  uint32_t findFunctionRecord(const char *name);
  void forgetFunctionIndex();
  struct FunctionIndex;
  FunctionIndex *functionIndex;

  // The jumps added without a target, so that resolveLastJump need not search the code.
  void noteOpenJump(int opCode, uint32_t position);
  void forgetOpenJumps();
  struct OpenJumps;
  OpenJumps *openJumps;
  bool openJumpsUntracked;  // the code changed in ways the lists do not follow
};

#endif
