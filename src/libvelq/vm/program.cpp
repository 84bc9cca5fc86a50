// The program image and a run of it: construction, run in its steps, budgets, globals,
// tracing, and the two basic building operations.
#include <string.h>
#include <time.h>

#include <new>

#include "runtime/environment_internals.h"
#include "runtime/growth.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "values/deep_copy.h"
#include "vm/argument_names.h"
#include "vm/opcodes.h"
#include "vm/program_internals.h"
#include "velq_environment.h"
#include "velq_program.h"
#include "velq_stack.h"
#include "velq_value.h"
#include "velq_variable.h"

VELQ_DEFINE_ENGINE_ALLOCATION(VELQ_Program)

namespace {

// The error text of a run that could not start because the program itself never got
// the memory it is made of.
char unusableProgramText[] = "Error 29 in line 0: Out of memory";

VELQ_ProgramInternals *newInternals() {
  void *block = velqAllocate(sizeof(VELQ_ProgramInternals));
  return block ? ::new (block) VELQ_ProgramInternals : nullptr;
}

long long steadyNanoseconds() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (long long)now.tv_sec * 1000000000LL + now.tv_nsec;
}

}  // namespace

// Without memory for any of its parts the program is unusable: building it does
// nothing, and every run fails at once with error 29.
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
      internals(newInternals()) {
  if (!constants || !globals || !internals) {
    delete constants;
    delete globals;
    if (internals) internals->~VELQ_ProgramInternals();
    velqRelease(internals);
    constants = globals = nullptr;
    internals = nullptr;
  }
}

VELQ_Program::~VELQ_Program() {
  for (uint32_t i = 0; i < codeSize; i++) delete instructions[i];
  velqRelease(instructions);
  delete dataStack;
  delete controlStack;
  delete constants;
  delete globals;
  delete locals;
  delete environment;
  delete result;
  velqRelease(functions);
  velqRelease(modules);
  for (uint32_t i = 0; i < preloadCount; i++) velqRelease(preloadList[i]);
  velqRelease(preloadList);
  if (internals) {
    // Modules merged outside a run (by a host calling useModule) were never dropped.
    for (uint32_t i = 0; i < moduleCount; i++) velqRelease(internals->moduleFiles[i]);
    internals->~VELQ_ProgramInternals();
    velqRelease(internals);
  }
}

VELQ_ProgramInternals::~VELQ_ProgramInternals() {
  velqRelease(functionIndex.slots);
  velqRelease(moduleFiles);
  for (uint32_t i = 0; i < frameCount; i++) velqRelease(frames[i].file);
  velqRelease(frames);
  velqRelease(frameViews);
}

// A run takes what it is handed, keeps the variables it must give back, merges the
// modules and runs "main"; then it undoes those steps in the opposite order. A program
// serves one run at a time: a run started from inside a run is refused.
int VELQ_Program::run(VELQ_Environment *runEnvironment, unsigned long argc, VELQ_Value **argv,
                      VELQ_VariableSystem *userLocals, VELQ_VariableSystem **globalsOut,
                      VELQ_VariableSystem *runConstants) {
  uint32_t argumentCount = argv ? (uint32_t)argc : 0;
  if (dataStack)
    return VELQ_ProgramInternals::refuseNestedRun(*this, runEnvironment, argumentCount, argv,
                                                  userLocals, globalsOut);
  delete result;
  result = nullptr;
  if (!internals) {
    delete runEnvironment;
    for (uint32_t i = 0; i < argumentCount; i++) delete argv[i];
    delete userLocals;
    if (globalsOut) *globalsOut = nullptr;
    errorText = unusableProgramText;
    return -1;
  }
  internals->endedByExit = false;
  VELQ_ProgramInternals::forgetErrorFrames(*this);
  internals->moduleFailure[0] = '\0';
  // Errors raised before the first instruction (modules, "main") report line 0.
  currentPosition = VELQ_NO_ADDRESS;

  uint32_t savedCodeSize = codeSize;
  uint32_t savedFunctionCount = functionCount;
  VELQ_ProgramInternals::startBudgets(*this);
  if (VELQ_ProgramInternals::takeRunInputs(*this, runEnvironment, argumentCount, argv,
                                           userLocals)) {
    VELQ_ProgramInternals::SavedVariables saved =
        VELQ_ProgramInternals::saveVariables(*this, runConstants);
    if (saved.complete && VELQ_ProgramInternals::mergeModules(*this))
      VELQ_ProgramInternals::runMain(*this);
    VELQ_ProgramInternals::dropMergedModules(*this, savedCodeSize, savedFunctionCount);
    VELQ_ProgramInternals::restoreVariables(*this, saved, globalsOut);
  } else if (globalsOut) {
    *globalsOut = nullptr;
  }
  VELQ_ProgramInternals::releaseRunInputs(*this);
  VELQ_ProgramInternals::stopBudgets(*this);
  return currentPosition != VELQ_NO_ADDRESS ? 0 : -1;
}

// A call of run from inside a run (a host function calling run on the program that
// called it) is refused. What it hands over is still taken, as the caller expects, and
// destroyed, unless the running program holds it already (its environment, its variable
// systems, or values on its data stack, which a handler may pass on as arguments).
int VELQ_ProgramInternals::refuseNestedRun(VELQ_Program &program, VELQ_Environment *environment,
                                           uint32_t argc, VELQ_Value **argv,
                                           VELQ_VariableSystem *userLocals,
                                           VELQ_VariableSystem **globalsOut) {
  if (!holds(program, environment)) delete environment;
  for (uint32_t i = 0; i < argc; i++)
    if (!holds(program, argv[i])) delete argv[i];
  if (!holds(program, userLocals)) delete userLocals;
  if (globalsOut) *globalsOut = nullptr;
  return -1;
}

// The program takes the environment (or makes a default one), makes its stacks, and
// takes the locals (or makes them) with the arguments in them as $1, $2, ... False, with
// error 29 raised, when memory for any of it is refused, or when the environment could
// not get the memory it was built with.
bool VELQ_ProgramInternals::takeRunInputs(VELQ_Program &program, VELQ_Environment *environment,
                                          uint32_t argc, VELQ_Value **argv,
                                          VELQ_VariableSystem *userLocals) {
  // The program's own globals or constants cannot be handed over as the run's locals:
  // the program would destroy them twice.
  if (holds(program, userLocals)) userLocals = nullptr;
  program.environment = environment ? environment : new VELQ_Environment();
  program.dataStack = new VELQ_Stack();
  program.controlStack = new VELQ_Stack();
  program.locals = userLocals ? userLocals : new VELQ_VariableSystem(false);
  program.subLevel = 0;
  program.bindPosition = 1;
  program.internals->argumentCount = argc;
  bool complete = program.environment && program.dataStack && program.controlStack &&
                  program.locals && !VELQ_EnvironmentInternals::outOfMemory(program.environment);
  char name[VELQ_ARGUMENT_NAME_SIZE];
  for (uint32_t i = 1; i <= argc; i++) {
    if (!program.locals || !program.locals->create(VELQ_FormatArgumentName(name, (int32_t)i),
                                                   argv[i - 1])) {
      if (!program.locals) delete argv[i - 1];
      complete = false;
    }
  }
  if (!complete || velqAllocationFailed()) {
    int code = allocationError();
    program.error(code ? code : VELQ_ERR_OUT_OF_MEMORY);
    return false;
  }
  return true;
}

// The mirror of takeRunInputs: the values left on the data stack, the frames still open,
// the environment, the locals and the stacks go.
void VELQ_ProgramInternals::releaseRunInputs(VELQ_Program &program) {
  if (program.dataStack)
    while (program.dataStack->getSize() > 0) delete (VELQ_Value *)program.dataStack->pop();
  while (program.subLevel > 0) {
    program.subLevel--;
    delete (VELQ_VariableSystem *)program.controlStack->pop();
    program.controlStack->pop();  // the frame's return address
  }
  delete program.environment;
  program.environment = nullptr;
  delete program.locals;
  program.locals = nullptr;
  delete program.dataStack;
  program.dataStack = nullptr;
  delete program.controlStack;
  program.controlStack = nullptr;
  program.internals->argumentCount = 0;
}

namespace {

// A copy of a variable shares an array value's array, and a script can store into the
// elements of any array it reaches, a constant's too. The systems put aside to be
// restored after the run, and the constants merged in from the caller's system, hold
// arrays of their own, so that no element stored during the run reaches the globals of
// the next run, the caller's constants or, through globalsOut, the program again.
void ownArrays(VELQ_VariableSystem *system, uint32_t first) {
  for (uint32_t i = first; system && i < system->getCount(); i++) {
    VELQ_Variable *variable = system->getVariable(i);
    if (variable->getValue()->isArray()) variable->setValue(velqStoredCopy(variable->getValue()));
  }
}

}  // namespace

// Puts aside a copy of the globals and, when the run is given constants to merge, of
// the program's constants, then merges the given ones in (a name the program has keeps
// the program's value). The given system stays the caller's.
VELQ_ProgramInternals::SavedVariables VELQ_ProgramInternals::saveVariables(
    VELQ_Program &program, VELQ_VariableSystem *runConstants) {
  SavedVariables saved{new VELQ_VariableSystem(program.globals), nullptr, true};
  ownArrays(saved.globals, 0);
  if (runConstants) {
    saved.constants = new VELQ_VariableSystem(program.constants);
    ownArrays(saved.constants, 0);
    uint32_t ownCount = program.constants->getCount();
    program.constants->merge(runConstants);
    ownArrays(program.constants, ownCount);
  }
  if (!saved.globals || (runConstants && !saved.constants) || velqAllocationFailed()) {
    int code = allocationError();
    program.error(code ? code : VELQ_ERR_OUT_OF_MEMORY);
    saved.complete = false;
  }
  return saved;
}

// The mirror of saveVariables: the globals as the run left them go to the caller through
// globalsOut (or are destroyed), and the program gets back those put aside; so do the
// constants when the run merged some. Without the copies (memory was refused) the
// program keeps what it has.
void VELQ_ProgramInternals::restoreVariables(VELQ_Program &program, SavedVariables saved,
                                             VELQ_VariableSystem **globalsOut) {
  if (saved.globals) {
    if (globalsOut) {
      *globalsOut = program.globals;
    } else {
      delete program.globals;
    }
    program.globals = saved.globals;
  } else if (globalsOut) {
    *globalsOut = nullptr;
  }
  if (saved.constants) {
    delete program.constants;
    program.constants = saved.constants;
  }
}

// Merges the modules the script uses, in order; at the first that cannot be merged the
// run stops with error 16.
bool VELQ_ProgramInternals::mergeModules(VELQ_Program &program) {
  for (uint32_t i = 0; i < program.preloadCount; i++) {
    int merged = program.environment->useModule(&program, program.preloadList[i]);
    if (int code = allocationError()) {
      program.error(code);
      return false;
    }
    if (!merged) {
      program.error(VELQ_ERR_MODULE);
      return false;
    }
  }
  return true;
}

// The mirror of mergeModules: the merged instructions go, and the code size, the
// function count and the module table are as before the run.
void VELQ_ProgramInternals::dropMergedModules(VELQ_Program &program, uint32_t codeSize,
                                              uint32_t functionCount) {
  for (uint32_t i = 0; i < program.moduleCount; i++) velqRelease(program.internals->moduleFiles[i]);
  program.moduleCount = 0;
  for (uint32_t i = codeSize; i < program.codeSize; i++) delete program.instructions[i];
  program.codeSize = codeSize;
  if (program.functionCount != functionCount) forgetFunctionIndex(program);
  program.functionCount = functionCount;
}

// Runs from the first function named "main" until the code runs out, an exit, a return
// from the outermost function or an error; the value left on the data stack is the result.
void VELQ_ProgramInternals::runMain(VELQ_Program &program) {
  unsigned long mainAddress = program.getFunctionAddress("main");
  if (mainAddress == VELQ_NO_ADDRESS) {
    program.error(VELQ_ERR_NO_MAIN);
    return;
  }
  program.currentPosition = (uint32_t)mainAddress;
  while (program.currentPosition < program.codeSize) {
    uint32_t at = program.currentPosition;
    program.execute();
    if (program.currentPosition == VELQ_NO_ADDRESS) break;
    if (int code = budgetExhausted(program)) {
      // Memory refused to an instruction is reported on that instruction's line.
      if (allocationError()) program.currentPosition = at;
      program.error(code);
    }
  }
  if (program.currentPosition != VELQ_NO_ADDRESS)
    program.result = (VELQ_Value *)program.dataStack->pop();
}

// The budgets of this run start: the cancellation of an earlier run is forgotten, the
// steps are counted from 0, the deadline is set, and the run's allocations count
// against its memory budget.
void VELQ_ProgramInternals::startBudgets(VELQ_Program &program) {
  VELQ_ProgramInternals &state = *program.internals;
  state.cancelRequested.store(false, std::memory_order_relaxed);
  state.stepsTaken = 0;
  state.deadline = state.timeLimit
                       ? steadyNanoseconds() + (long long)state.timeLimit * 1000000LL
                       : 0;
  state.memory = {0, state.memoryLimit};
  velqClearAllocationFailure();
  velqSetMemoryBudget(&state.memory);
}

void VELQ_ProgramInternals::stopBudgets(VELQ_Program &program) {
  velqSetMemoryBudget(nullptr);
  program.internals->cancelRequested.store(false, std::memory_order_relaxed);
}

int VELQ_ProgramInternals::allocationError() {
  switch (velqAllocationFailure()) {
    case VELQ_SYSTEM_REFUSED:
      return VELQ_ERR_OUT_OF_MEMORY;
    case VELQ_BUDGET_REFUSED:
      return VELQ_ERR_MEMORY_LIMIT;
    default:
      return 0;
  }
}

int VELQ_ProgramInternals::budgetExhausted(VELQ_Program &program) {
  VELQ_ProgramInternals &state = *program.internals;
  if (int code = allocationError()) return code;
  if (state.cancelRequested.load(std::memory_order_relaxed)) return VELQ_ERR_CANCELLED;
  state.stepsTaken++;
  if (state.stepLimit && state.stepsTaken >= state.stepLimit &&
      program.currentPosition < program.codeSize)
    return VELQ_ERR_STEP_LIMIT;
  if (state.deadline && steadyNanoseconds() >= state.deadline) return VELQ_ERR_TIME_LIMIT;
  return 0;
}

void VELQ_Program::setStepLimit(unsigned long long steps) {
  if (internals) internals->stepLimit = steps;
}

void VELQ_Program::setTimeLimit(unsigned long milliseconds) {
  if (internals) internals->timeLimit = milliseconds;
}

void VELQ_Program::setMemoryLimit(unsigned long long bytes) {
  if (internals) internals->memoryLimit = bytes;
}

// A relaxed store of a lock-free atomic: safe from any thread and from a signal handler.
void VELQ_Program::cancel() {
  if (internals && dataStack) internals->cancelRequested.store(true, std::memory_order_relaxed);
}

bool VELQ_Program::endedByExit() const { return internals && internals->endedByExit; }

unsigned long VELQ_Program::getArgumentCount() const {
  return internals ? internals->argumentCount : 0;
}

VELQ_Variable *VELQ_Program::findGlobalVariable(const char *name) {
  return name && globals ? globals->find(name) : nullptr;
}

namespace {

// Whether one of the system's variables holds value.
bool holdsValue(const VELQ_VariableSystem *system, const void *value) {
  for (uint32_t i = 0; system && i < system->getCount(); i++)
    if (system->getVariable(i)->getValue() == value) return true;
  return false;
}

}  // namespace

bool VELQ_ProgramInternals::holds(const VELQ_Program &program, const void *pointer) {
  if (!pointer) return false;
  if (pointer == program.environment || pointer == program.result ||
      pointer == program.constants || pointer == program.globals || pointer == program.locals)
    return true;
  if (holdsValue(program.constants, pointer) || holdsValue(program.globals, pointer) ||
      holdsValue(program.locals, pointer))
    return true;
  VELQ_Stack *stack = program.dataStack;
  return stack && velqListHolds(stack->peekList(stack->getSize()), (size_t)stack->getSize(), pointer);
}

// A value that the program holds already (the latest result, or the value of another of its
// variables) cannot change owner a second time; the variable gets a copy of it instead.
void VELQ_Program::setGlobalVariable(const char *name, VELQ_Value *value) {
  VELQ_Variable *variable = name && globals ? globals->find(name) : nullptr;
  if (variable && variable->getValue() == value) return;  // it holds that value already
  bool held = internals && VELQ_ProgramInternals::holds(*this, value);
  if (!name || !globals) {
    if (!held) delete value;
    return;
  }
  if (held) value = new VELQ_Value(value);
  if (variable) {
    variable->setValue(value);
  } else {
    globals->create(name, value);
  }
}

void VELQ_Program::trace(int level, const char *text) {
  if (environment) environment->trace(level, text);
}

bool VELQ_ProgramInternals::reserveCode(VELQ_Program &program, size_t slots) {
  return velqReserve(program.instructions, program.internals->codeCapacity, slots);
}

// An instruction that finds no room in the code (memory refused) is destroyed, and the
// program is left as it was.
void VELQ_Program::addInstruction(VELQ_Instruction *instruction) {
  if (!instruction) return;
  if (!internals || !VELQ_ProgramInternals::reserveCode(*this, (size_t)codeSize + 1)) {
    delete instruction;
    return;
  }
  instructions[codeSize++] = instruction;
}

// Constants shadow globals, globals shadow locals; an unknown name becomes a local. A
// missing name (an instruction a host built without one) is the empty name, so that it
// names one variable rather than a new one at every use. Without memory for a new
// variable the spare one stands in, and the run stops after the instruction.
VELQ_Variable *VELQ_Program::findOrCreateVariable(const char *name) {
  if (!name) name = "";
  VELQ_Variable *variable = constants->find(name);
  if (variable) return variable;
  variable = globals->find(name);
  if (variable) return variable;
  variable = locals->find(name);
  if (variable) return variable;
  variable = locals->create(name, nullptr);
  return variable ? variable : &internals->spareVariable;
}

VELQ_Variable *VELQ_Program::createVariable(const char *name) {
  if (!name) name = "";
  if (constants->find(name) || globals->find(name) || locals->find(name)) return nullptr;
  VELQ_Variable *variable = locals->create(name, nullptr);
  return variable ? variable : &internals->spareVariable;
}
