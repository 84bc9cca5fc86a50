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
      functionIndex(nullptr),
      openJumps(nullptr),
      openJumpsUntracked(false) {}

VELQ_Program::~VELQ_Program() {
  for (uint32_t i = 0; i < codeSize; i++) delete instructions[i];
  free(instructions);
  forgetFunctionIndex();
  forgetOpenJumps();
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
  // taken, as the caller expects, and destroyed, unless it is what the running program
  // itself holds (its environment, globals, constants or locals).
  if (dataStack) {
    if (runEnvironment != environment) delete runEnvironment;
    // A handler may pass on its own arguments, which are values on the data stack.
    int stacked = dataStack->getSize();
    VELQ_Value **stack = (VELQ_Value **)dataStack->peekList(stacked);
    for (uint32_t i = 0; i < argumentCount; i++) {
      bool onStack = false;
      for (int k = 0; k < stacked && !onStack; k++) onStack = stack[k] == argv[i];
      if (!onStack) delete argv[i];
    }
    if (userLocals != globals && userLocals != constants && userLocals != locals) delete userLocals;
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
  // The program's own globals or constants cannot be handed over as the run's locals: the
  // program would destroy them twice.
  if (userLocals == globals || userLocals == constants) userLocals = nullptr;
  locals = userLocals ? userLocals : new VELQ_VariableSystem(false);
  char name[VELQ_ARGUMENT_NAME_SIZE];
  for (uint32_t i = 1; i <= argumentCount; i++)
    locals->create(VELQ_FormatArgumentName(name, (int32_t)i), argv[i - 1]);

  // A copy of a variable shares an array value's array, and a script can store into the
  // elements of any array it reaches, a constant's too. The systems put aside to be
  // restored after the run, and the constants merged in from the caller's system, hold
  // arrays of their own, so that no element stored during the run reaches the globals of
  // the next run, the caller's constants or, through globalsOut, the program again.
  auto ownArrays = [](VELQ_VariableSystem *system, uint32_t first) {
    for (uint32_t i = first; i < system->getCount(); i++) {
      VELQ_Variable *variable = system->getVariable(i);
      if (variable->getValue()->isArray()) variable->setValue(copyForStore(variable->getValue()));
    }
  };
  VELQ_VariableSystem *savedGlobals = new VELQ_VariableSystem(globals);
  ownArrays(savedGlobals, 0);
  VELQ_VariableSystem *savedConstants = nullptr;
  if (runConstants) {
    savedConstants = new VELQ_VariableSystem(constants);
    ownArrays(savedConstants, 0);
    uint32_t ownCount = constants->getCount();
    constants->merge(runConstants);
    ownArrays(constants, ownCount);
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

namespace {

// Whether one of the system's variables holds value.
bool holdsValue(const VELQ_VariableSystem *system, const VELQ_Value *value) {
  if (!system) return false;
  for (uint32_t i = 0; i < system->getCount(); i++)
    if (system->getVariable(i)->getValue() == value) return true;
  return false;
}

}  // namespace

// A value that the program holds already (the latest result, or the value of another of its
// variables) cannot change owner a second time; the variable gets a copy of it instead.
void VELQ_Program::setGlobalVariable(const char *name, VELQ_Value *value) {
  VELQ_Variable *variable = name ? globals->find(name) : nullptr;
  if (variable && variable->getValue() == value) return;  // it holds that value already
  bool held = value && (value == result || holdsValue(globals, value) ||
                        holdsValue(constants, value) || holdsValue(locals, value));
  if (!name) {
    if (!held) delete value;
    return;
  }
  if (held) value = new VELQ_Value(value);
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
  VELQ_OperandKind kind = VELQ_OperandKindOf(instruction->opCode);
  if ((kind == VELQ_OPERAND_ADDRESS || kind == VELQ_OPERAND_ADDRESS_COUNT) &&
      instruction->operand.address == VELQ_NO_ADDRESS)
    noteOpenJump(instruction->opCode, codeSize);
  instructions[codeSize++] = instruction;
}

// Constants shadow globals, globals shadow locals; an unknown name becomes a local. A
// missing name (an instruction a host built without one) is the empty name, so that it
// names one variable rather than a new one at every use.
VELQ_Variable *VELQ_Program::findOrCreateVariable(const char *name) {
  if (!name) name = "";
  VELQ_Variable *variable = constants->find(name);
  if (variable) return variable;
  variable = globals->find(name);
  if (variable) return variable;
  variable = locals->find(name);
  if (variable) return variable;
  return locals->create(name, nullptr);
}

VELQ_Variable *VELQ_Program::createVariable(const char *name) {
  if (!name) name = "";
  if (constants->find(name) || globals->find(name) || locals->find(name)) return nullptr;
  return locals->create(name, nullptr);
}
