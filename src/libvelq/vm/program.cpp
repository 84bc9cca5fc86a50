// The program image and a run of it: construction, run in its steps, budgets, globals,
// tracing, and the two basic building operations.
#include <string.h>
#include <time.h>

#include <new>

#include "runtime/environment_internals.h"
#include "runtime/growth.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "runtime/run_limits.h"
#include "runtime/variable_internals.h"
#include "values/deep_copy.h"
#include "values/value_internals.h"
#include "velq_environment.h"
#include "velq_program.h"
#include "velq_value.h"
#include "velq_variable.h"
#include "vm/argument_names.h"
#include "vm/opcodes.h"
#include "vm/program_internals.h"

VELQ_DEFINE_ENGINE_ALLOCATION(VELQ_Program)

namespace {

// The error text of a run that could not start because the program itself never got
// the memory it is made of.
char unusableProgramText[] = "Error 29 in line 0: Out of memory";

VELQ_ProgramInternals *newInternals() {
  void *block = velqAllocate(sizeof(VELQ_ProgramInternals));
  return block ? ::new (block) VELQ_ProgramInternals : nullptr;
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
  if (internals && internals->running)
    return VELQ_ProgramInternals::refuseNestedRun(*this, runEnvironment, argumentCount, argv,
                                                  userLocals, globalsOut);
  unload();  // a run starts from the program as compiled
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
  VELQ_ProgramInternals::forgetError(*this);
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

namespace {

// Values that leave a run (its result, its globals) get texts of their own, which they
// share with no value of the run: the host may hand them to other threads.
void ownTexts(VELQ_VariableSystem *system) {
  for (uint32_t i = 0; system && i < system->getCount(); i++)
    VELQ_ValueInternals::ownText(system->getVariable(i)->getValue());
}

}  // namespace

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
  program.locals = userLocals ? userLocals : new VELQ_VariableSystem(false);
  program.subLevel = 0;
  program.bindPosition = 1;
  program.internals->running = true;
  program.internals->argumentCount = argc;
  VELQ_Machine &m = program.internals->machine;
  m.sp = m.stack;
  m.frames.count = 0;
  m.stamp++;  // new constants and globals: what the caches knew of them is old
  m.constantCount = program.constants->getCount();
  m.globalCount = program.globals->getCount();
  bool complete = program.environment && program.locals &&
                  !VELQ_EnvironmentInternals::outOfMemory(program.environment) &&
                  keepArguments(program, argc, argv);
  // The arguments' variables keep the shared copies of the names "$1" ... "$255".
  char name[VELQ_ARGUMENT_NAME_SIZE];
  for (uint32_t i = 1; i <= argc; i++) {
    const char *shared = VELQ_SharedArgumentName((int32_t)i);
    VELQ_Variable *variable = nullptr;
    if (program.locals)
      variable = shared
                     ? VELQ_RuntimeInternals::createBorrowing(program.locals, shared)
                     : program.locals->create(VELQ_FormatArgumentName(name, (int32_t)i), nullptr);
    if (variable) {
      variable->setValue(argv[i - 1]);
    } else {
      delete argv[i - 1];
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

bool VELQ_ProgramInternals::keepArguments(VELQ_Program &program, uint32_t argc,
                                          VELQ_Value *const *argv) {
  if (argc == 0) return true;
  VELQ_Value **kept = static_cast<VELQ_Value **>(velqAllocate(argc * sizeof *kept));
  if (!kept) return false;
  bool complete = true;
  for (uint32_t i = 0; i < argc; i++) {
    kept[i] = velqStoredCopy(argv[i]);
    if (!kept[i]) complete = false;
  }
  program.internals->arguments = kept;
  return complete;
}

// The mirror of takeRunInputs: the values left on the data stack, the frames still open
// (each with the locals of its caller), the environment and the locals go.
void VELQ_ProgramInternals::releaseRunInputs(VELQ_Program &program) {
  VELQ_Machine &m = program.internals->machine;
  popValues(program, m.depth());
  while (m.frames.count > 0) {
    delete program.locals;
    program.locals = m.frames.items[--m.frames.count].callerLocals;
  }
  program.subLevel = 0;
  delete program.environment;
  program.environment = nullptr;
  delete program.locals;
  program.locals = nullptr;
  releaseArguments(program);
  program.internals->running = false;
}

void VELQ_ProgramInternals::releaseArguments(VELQ_Program &program) {
  if (VELQ_Value **kept = program.internals->arguments) {
    for (unsigned long i = 0; i < program.internals->argumentCount; i++) delete kept[i];
    velqRelease(kept);
    program.internals->arguments = nullptr;
  }
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
      ownTexts(program.globals);
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
      errorAbout(program, VELQ_ERR_MODULE, program.preloadList[i]);
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
// from the outermost function or an error; the value left on the data stack is the
// result. The loop runs the translated code; code added while the run goes on (a host
// function may add instructions) is translated when the loop reaches it. The loop that
// counts steps runs when a step or time budget is set.
void VELQ_ProgramInternals::runMain(VELQ_Program &program) {
  unsigned long mainAddress = program.getFunctionAddress("main");
  if (mainAddress == VELQ_NO_ADDRESS) {
    program.error(VELQ_ERR_NO_MAIN);
    return;
  }
  runFrom(program, (uint32_t)mainAddress);
}

void VELQ_ProgramInternals::runFrom(VELQ_Program &program, uint32_t address) {
  VELQ_ProgramInternals &state = *program.internals;
  bool counting = state.stepLimit != 0 || state.timeLimit != 0;
  state.machine.stepsUntilCheck = 0;  // the counting loop looks at its budgets first
  state.machine.stepsGranted = 0;
  program.currentPosition = address;
  while (program.currentPosition < program.codeSize) {
    if (state.machine.interrupt.load(std::memory_order_relaxed)) break;  // reported below
    if (!translate(program, counting)) return;
    if (counting) {
      loop<true>(&program, nullptr);
    } else {
      loop<false>(&program, nullptr);
    }
  }
  if (program.currentPosition == VELQ_NO_ADDRESS) return;
  // Memory refused by the last instructions, or a cancel that came after the last check,
  // still fails the run.
  if (state.machine.interrupt.load(std::memory_order_relaxed)) {
    program.error(interruption(program));
    return;
  }
  keepResult(program);
}

// The value left on top of the data stack becomes the result, with a text of its own (it
// leaves the run); none when the stack is empty.
void VELQ_ProgramInternals::keepResult(VELQ_Program &program) {
  VELQ_Value *top = peekValue(program);
  if (!top) return;
  VELQ_Value *result = new VELQ_Value();
  if (!result) {
    program.error(allocationError() ? allocationError() : VELQ_ERR_OUT_OF_MEMORY);
    return;
  }
  VELQ_ValueInternals::move(result, top);
  program.internals->machine.sp--;
  VELQ_ValueInternals::ownText(result);
  program.result = result;
}

// The budgets of this run start: the cancellation of an earlier run is forgotten, the
// steps are counted from 0, the deadline is set, and the run's allocations count
// against its memory budget.
void VELQ_ProgramInternals::startBudgets(VELQ_Program &program) {
  VELQ_ProgramInternals &state = *program.internals;
  state.machine.interrupt.store(false, std::memory_order_relaxed);
  state.stepsTaken = 0;
  state.deadline =
      state.timeLimit ? velqSteadyNanoseconds() + (long long)state.timeLimit * 1000000LL : 0;
  state.memory = {0, state.memoryLimit};
  // A host function may run another program inside this run: each run puts back the
  // budget, the limits and the note of a refused allocation of the run it interrupted.
  // A run without a memory budget of its own counts into the budget of that run.
  state.outerFailure = velqAllocationFailure();
  velqClearAllocationFailure();
  state.outerBudget = velqSetMemoryBudget(nullptr);
  velqSetMemoryBudget(state.memoryLimit ? &state.memory : state.outerBudget);
  state.limits.interrupt = &state.machine.interrupt;
  state.limits.reach = &state.machine.reach;
  state.limits.deadline = state.deadline;
  state.limits.hostException = false;
  state.outerLimits = velqSetRunLimits(&state.limits);
  velqKeepReserve();
}

void VELQ_ProgramInternals::stopBudgets(VELQ_Program &program) {
  VELQ_ProgramInternals &state = *program.internals;
  velqSetMemoryBudget(state.outerBudget);
  velqSetRunLimits(state.outerLimits);
  if (state.outerFailure != VELQ_ALLOCATION_OK) velqNoteAllocationFailure(state.outerFailure);
  state.machine.interrupt.store(false, std::memory_order_relaxed);
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

// The steps the counting loop runs before it looks at the clock again.
enum : uint64_t { STEPS_BETWEEN_CHECKS = 4096 };

// The counting loop's steps ran out: the run stops with error 26 once it has taken its
// budget of steps, with error 27 once its time has passed; else it may run some more.
// execute() stops after one step here.
bool VELQ_ProgramInternals::budgetsAllowMore(VELQ_Program &program) {
  VELQ_ProgramInternals &state = *program.internals;
  VELQ_Machine &m = state.machine;
  if (m.singleStep) return false;
  state.stepsTaken += m.stepsGranted;
  if (state.stepLimit && state.stepsTaken >= state.stepLimit) {
    program.error(VELQ_ERR_STEP_LIMIT);
    return false;
  }
  if (state.deadline && velqSteadyNanoseconds() >= state.deadline) {
    program.error(VELQ_ERR_TIME_LIMIT);
    return false;
  }
  uint64_t grant = STEPS_BETWEEN_CHECKS;
  if (state.stepLimit && state.stepLimit - state.stepsTaken < grant)
    grant = state.stepLimit - state.stepsTaken;
  m.stepsGranted = grant;
  m.stepsUntilCheck = grant - 1;  // the step being dispatched is the first of them
  return true;
}

// Why the run was interrupted: memory refused, its deadline passed (found by work inside
// an instruction), or cancel().
int VELQ_ProgramInternals::interruption(VELQ_Program &program) {
  if (int code = allocationError()) return code;
  if (program.internals->limits.hostException) {
    program.setErrorDetail(program.internals->limits.hostExceptionText);
    return VELQ_ERR_HOST_EXCEPTION;
  }
  long long deadline = program.internals->deadline;
  if (deadline && velqSteadyNanoseconds() >= deadline) return VELQ_ERR_TIME_LIMIT;
  return VELQ_ERR_CANCELLED;
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

// Stores to lock-free atomics: safe from any thread and from a signal handler.
void VELQ_Program::cancel() {
  if (internals && internals->running.load())
    velqInterruptRun(&internals->machine.interrupt, &internals->machine.reach);
}

bool VELQ_Program::endedByExit() const { return internals && internals->endedByExit; }

unsigned long VELQ_Program::getArgumentCount() const {
  return internals ? internals->argumentCount : 0;
}

const VELQ_Value *VELQ_Program::getArgument(unsigned long i) const {
  if (!internals || !internals->arguments || i >= internals->argumentCount) return nullptr;
  return internals->arguments[i];
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
  if (pointer == program.environment || pointer == program.result || pointer == program.constants ||
      pointer == program.globals || pointer == program.locals)
    return true;
  if (holdsValue(program.constants, pointer) || holdsValue(program.globals, pointer) ||
      holdsValue(program.locals, pointer))
    return true;
  const VELQ_Machine &m = program.internals->machine;
  return velqPointsInto(pointer, m.stack, m.depth());
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
