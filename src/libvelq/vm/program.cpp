// The program image and a run of it: construction, run with its set-up and clean-up,
// globals, tracing, and the two basic building operations.
#include <stdlib.h>
#include <string.h>

#include "argument_names.h"
#include "velq_environment.h"
#include "velq_program.h"
#include "velq_stack.h"
#include "velq_value.h"
#include "velq_variable.h"

VELQ_Program::VELQ_Program()
    : environment(nullptr),
      instructions(nullptr),
      codeSize(0),
      currentPosition(VELQ_NO_ADDRESS),
      preloadCount(0),
      preloadList(nullptr),
      subLevel(0),
      dataStack(nullptr),
      controlStack(nullptr),
      bindPosition(1),
      constants(new VELQ_VariableSystem(true)),
      globals(new VELQ_VariableSystem(false)),
      locals(nullptr),
      functionCount(0),
      functions(nullptr),
      moduleCount(0),
      modules(nullptr),
      result(nullptr),
      errorText(nullptr),
      nextPosition(0),
      codeCapacity(0),
      functionIndex(nullptr) {}

VELQ_Program::~VELQ_Program() {
  for (uint32_t i = 0; i < codeSize; i++) delete instructions[i];
  free(instructions);
  forgetFunctionIndex();
  delete dataStack;
  delete controlStack;
  delete constants;
  delete globals;
  delete locals;
  delete environment;
  delete result;
  free(functions);
  free(modules);
  for (uint32_t i = 0; i < preloadCount; i++) free(preloadList[i]);
  free(preloadList);
  free(errorText);
}

int VELQ_Program::run(VELQ_Environment *runEnvironment, unsigned long argc, VELQ_Value **argv,
                      VELQ_VariableSystem *userLocals, VELQ_VariableSystem **globalsOut,
                      VELQ_VariableSystem *runConstants) {
  uint32_t argumentCount = argv ? (uint32_t)argc : 0;

  // A program serves one run at a time. A call from inside a run (a host function
  // calling run on the program that called it) is refused; what it hands over is still
  // taken, as the caller expects, and destroyed.
  if (dataStack) {
    delete runEnvironment;
    for (uint32_t i = 0; i < argumentCount; i++) delete argv[i];
    delete userLocals;
    if (globalsOut) *globalsOut = nullptr;
    return -1;
  }

  uint32_t savedCodeSize = codeSize;
  uint32_t savedFunctionCount = functionCount;
  delete result;
  result = nullptr;

  environment = runEnvironment ? runEnvironment : new VELQ_Environment();
  dataStack = new VELQ_Stack();
  controlStack = new VELQ_Stack();
  locals = userLocals ? userLocals : new VELQ_VariableSystem(false);
  char name[VELQ_ARGUMENT_NAME_SIZE];
  for (uint32_t i = 1; i <= argumentCount; i++)
    locals->create(VELQ_FormatArgumentName(name, (int32_t)i), argv[i - 1]);

  VELQ_VariableSystem *savedGlobals = new VELQ_VariableSystem(globals);
  VELQ_VariableSystem *savedConstants = nullptr;
  if (runConstants) {
    savedConstants = new VELQ_VariableSystem(constants);
    constants->merge(runConstants);
  }
  bindPosition = 1;
  subLevel = 0;
  // Errors raised before the first instruction (modules, "main") report line 0.
  currentPosition = VELQ_NO_ADDRESS;

  bool ready = true;
  for (uint32_t i = 0; i < preloadCount; i++) {
    if (environment->useModule(this, preloadList[i]) == 0) {
      error(VELQ_ERR_MODULE);
      ready = false;
      break;
    }
  }
  if (ready) {
    unsigned long mainAddress = getFunctionAddress("main");
    if (mainAddress == VELQ_NO_ADDRESS) {
      error(VELQ_ERR_NO_MAIN);
    } else {
      currentPosition = (uint32_t)mainAddress;
      while (currentPosition < codeSize) execute();
      if (currentPosition != VELQ_NO_ADDRESS) result = (VELQ_Value *)dataStack->pop();
    }
  }

  // Clean-up: leave the program as it was before the run, apart from result and error.
  if (globalsOut) {
    *globalsOut = globals;
  } else {
    delete globals;
  }
  globals = savedGlobals;
  if (savedConstants) {
    delete constants;
    constants = savedConstants;
  }
  while (dataStack->getSize() > 0) delete (VELQ_Value *)dataStack->pop();
  while (subLevel > 0) {
    subLevel--;
    delete (VELQ_VariableSystem *)controlStack->pop();
    controlStack->pop();  // the frame's return address
  }
  delete environment;
  environment = nullptr;
  delete locals;
  locals = nullptr;
  delete dataStack;
  dataStack = nullptr;
  delete controlStack;
  controlStack = nullptr;
  free(modules);
  modules = nullptr;
  moduleCount = 0;
  for (uint32_t i = savedCodeSize; i < codeSize; i++) delete instructions[i];
  codeSize = savedCodeSize;
  if (functionCount != savedFunctionCount) forgetFunctionIndex();
  functionCount = savedFunctionCount;

  return currentPosition != VELQ_NO_ADDRESS ? 0 : -1;
}

VELQ_Variable *VELQ_Program::findGlobalVariable(const char *name) {
  return name ? globals->find(name) : nullptr;
}

void VELQ_Program::setGlobalVariable(const char *name, VELQ_Value *value) {
  if (!name) {
    delete value;
    return;
  }
  VELQ_Variable *variable = globals->find(name);
  if (variable) {
    variable->setValue(value ? value : new VELQ_Value());
  } else {
    globals->create(name, value);
  }
}

void VELQ_Program::trace(int level, const char *text) {
  if (environment) environment->trace(level, text);
}

// The code array grows by half its size when full rather than by one slot, so that
// building a long program does not copy the array once per instruction.
void VELQ_Program::reserveCode(size_t slots) {
  if (slots <= codeCapacity) return;
  size_t grown = (size_t)codeCapacity + codeCapacity / 2 + 16;
  if (grown < slots) grown = slots;
  VELQ_Instruction **block =
      (VELQ_Instruction **)realloc(instructions, grown * sizeof(VELQ_Instruction *));
  if (!block) abort();
  instructions = block;
  codeCapacity = grown;
}

void VELQ_Program::addInstruction(VELQ_Instruction *instruction) {
  if (!instruction) return;
  reserveCode((size_t)codeSize + 1);
  instructions[codeSize++] = instruction;
}

// Constants shadow globals, globals shadow locals; an unknown name becomes a local.
VELQ_Variable *VELQ_Program::findOrCreateVariable(const char *name) {
  VELQ_Variable *variable = constants->find(name);
  if (variable) return variable;
  variable = globals->find(name);
  if (variable) return variable;
  variable = locals->find(name);
  if (variable) return variable;
  return locals->create(name, nullptr);
}

VELQ_Variable *VELQ_Program::createVariable(const char *name) {
  if (constants->find(name) || globals->find(name) || locals->find(name)) return nullptr;
  return locals->create(name, nullptr);
}
