// Programs kept loaded for calls by name: a copy of a compiled program, loading (the
// environment kept, the modules merged for good), calls of any function, unloading.
#include <string.h>

#include "runtime/environment_internals.h"
#include "runtime/growth.h"
#include "runtime/memory.h"
#include "runtime/variable_internals.h"
#include "values/deep_copy.h"
#include "values/value_internals.h"
#include "velq_environment.h"
#include "velq_program.h"
#include "velq_value.h"
#include "velq_variable.h"
#include "vm/argument_names.h"
#include "vm/program_internals.h"

namespace {

// The code of source that is its own: a loaded program's merged modules are left out.
uint32_t ownCodeSize(const VELQ_Program *source, const VELQ_ProgramInternals *state) {
  return state && state->loaded ? state->loadedCodeSize : (uint32_t)source->getCodeSize();
}

uint32_t ownFunctionCount(const VELQ_Program *source, const VELQ_ProgramInternals *state) {
  return state && state->loaded ? state->loadedFunctionCount : source->getFunctionCount();
}

}  // namespace

// Copies the image one part after the other; at the first part that gets no memory the
// copy gives up and is left unusable (as a program whose construction ran out of memory).
VELQ_Program::VELQ_Program(const VELQ_Program *source) : VELQ_Program() {
  if (!internals || !source || !source->internals) return;
  // The copy tells its own refused allocations from one noted before it (by a run that
  // ran out of its budget, say), which is kept.
  VELQ_AllocationFailure before = velqAllocationFailure();
  velqClearAllocationFailure();
  VELQ_ProgramInternals::copyImage(*this, source);
  if (before != VELQ_ALLOCATION_OK && !velqAllocationFailed()) velqNoteAllocationFailure(before);
}

void VELQ_ProgramInternals::copyImage(VELQ_Program &program, const VELQ_Program *source) {
  const VELQ_ProgramInternals *from = source->internals;
  uint32_t code = ownCodeSize(source, from);
  uint32_t functionTotal = ownFunctionCount(source, from);
  bool complete =
      reserveCode(program, code) &&
      velqReserve(program.functions, program.internals->functionCapacity, functionTotal) &&
      velqReserve(program.preloadList, program.internals->preloadCapacity, source->preloadCount);
  for (uint32_t i = 0; complete && i < code; i++) {
    VELQ_Instruction *copy = new VELQ_Instruction(source->instructions[i]);
    if (!copy)
      complete = false;
    else
      program.instructions[program.codeSize++] = copy;
  }
  if (complete) {
    if (functionTotal)
      memcpy(program.functions, source->functions, functionTotal * sizeof *program.functions);
    program.functionCount = functionTotal;
  }
  for (uint32_t i = 0; complete && i < source->preloadCount; i++) {
    char *name = velqCopyName(source->preloadList[i]);
    if (!name)
      complete = false;
    else
      program.preloadList[program.preloadCount++] = name;
  }
  if (complete) {
    VELQ_VariableSystem *constantsCopy = new VELQ_VariableSystem(source->constants);
    VELQ_VariableSystem *globalsCopy = new VELQ_VariableSystem(source->globals);
    delete program.constants;
    delete program.globals;
    program.constants = constantsCopy;
    program.globals = globalsCopy;
    complete = program.constants && program.globals && !velqAllocationFailed();
  }
  program.internals->stepLimit = from->stepLimit;
  program.internals->timeLimit = from->timeLimit;
  program.internals->memoryLimit = from->memoryLimit;
  if (complete) return;
  // Unusable: what was copied goes, and every run fails with error 29.
  for (uint32_t i = 0; i < program.codeSize; i++) delete program.instructions[i];
  program.codeSize = 0;
  program.functionCount = 0;
  for (uint32_t i = 0; i < program.preloadCount; i++) velqRelease(program.preloadList[i]);
  program.preloadCount = 0;
  delete program.constants;
  delete program.globals;
  program.constants = program.globals = nullptr;
  program.internals->~VELQ_ProgramInternals();
  velqRelease(program.internals);
  program.internals = nullptr;
}

bool VELQ_Program::isLoaded() const { return internals && internals->loaded; }

// The steps of a run that a loaded program keeps: the environment is taken and kept, the
// constants merged, the modules merged. A failure leaves the program as before, not loaded.
int VELQ_Program::load(VELQ_Environment *loadEnvironment, VELQ_VariableSystem *loadConstants) {
  if (internals && internals->running) {
    if (!VELQ_ProgramInternals::holds(*this, loadEnvironment)) delete loadEnvironment;
    return -1;
  }
  unload();
  delete result;
  result = nullptr;
  if (!internals) {
    delete loadEnvironment;
    errorText = const_cast<char *>("Error 29 in line 0: Out of memory");
    return -1;
  }
  VELQ_ProgramInternals &state = *internals;
  state.endedByExit = false;
  VELQ_ProgramInternals::forgetError(*this);
  currentPosition = VELQ_NO_ADDRESS;
  state.loadedCodeSize = codeSize;
  state.loadedFunctionCount = functionCount;

  VELQ_ProgramInternals::startBudgets(*this);
  environment = loadEnvironment ? loadEnvironment : new VELQ_Environment();
  bool complete = environment && !VELQ_EnvironmentInternals::outOfMemory(environment);
  if (complete && loadConstants) {
    uint32_t ownCount = constants->getCount();
    constants->merge(loadConstants);
    // Arrays merged in are the program's own: no store of a call reaches the caller's.
    for (uint32_t i = ownCount; i < constants->getCount(); i++) {
      VELQ_Variable *variable = constants->getVariable(i);
      if (variable->getValue()->isArray()) variable->setValue(velqStoredCopy(variable->getValue()));
    }
  }
  if (!complete || velqAllocationFailed()) {
    int code = VELQ_ProgramInternals::allocationError();
    error(code ? code : VELQ_ERR_OUT_OF_MEMORY);
    complete = false;
  }
  state.running = true;  // modules are merged as a run merges them
  if (complete) complete = VELQ_ProgramInternals::mergeModules(*this);
  state.running = false;
  if (!complete) {
    VELQ_ProgramInternals::dropMergedModules(*this, state.loadedCodeSize,
                                             state.loadedFunctionCount);
    delete environment;
    environment = nullptr;
  }
  VELQ_ProgramInternals::stopBudgets(*this);
  VELQ_ProgramInternals::forgetKeptForCalls(*this);
  state.loaded = complete;
  return complete ? 0 : -1;
}

void VELQ_ProgramInternals::forgetKeptForCalls(VELQ_Program &program) {
  program.internals->machine.keptForCalls = false;
  program.internals->lastCalled = UINT32_MAX;
}

void VELQ_Program::unload() {
  if (!internals || !internals->loaded || internals->running) return;
  VELQ_ProgramInternals::dropMergedModules(*this, internals->loadedCodeSize,
                                           internals->loadedFunctionCount);
  delete environment;
  environment = nullptr;
  internals->loaded = false;
  VELQ_ProgramInternals::forgetKeptForCalls(*this);
}

int VELQ_Program::call(const char *function, unsigned long argc, VELQ_Value *const *argv) {
  if (internals && internals->running) return -1;  // a program serves one run at a time
  if (!internals || (!internals->loaded && load(nullptr, nullptr) != 0)) {
    if (!internals) errorText = const_cast<char *>("Error 29 in line 0: Out of memory");
    return -1;
  }
  delete result;
  result = nullptr;
  VELQ_ProgramInternals &state = *internals;
  state.endedByExit = false;
  VELQ_ProgramInternals::forgetError(*this);
  currentPosition = VELQ_NO_ADDRESS;
  VELQ_ProgramInternals::startBudgets(*this);
  VELQ_ProgramInternals::callLoaded(*this, function ? function : "", argv ? (uint32_t)argc : 0,
                                    argv);
  VELQ_ProgramInternals::releaseCallInputs(*this);
  VELQ_ProgramInternals::stopBudgets(*this);
  return currentPosition != VELQ_NO_ADDRESS ? 0 : -1;
}

// As takeRunInputs and runMain, for a loaded program: fresh locals with copies of the
// arguments as $1, $2, ..., then the function's code.
void VELQ_ProgramInternals::callLoaded(VELQ_Program &program, const char *function, uint32_t argc,
                                       VELQ_Value *const *argv) {
  VELQ_Machine &m = program.internals->machine;
  program.locals = VELQ_RuntimeInternals::newFrameLocals(m.spares);
  program.subLevel = 0;
  program.bindPosition = 1;
  program.internals->running = true;
  program.internals->argumentCount = argc;
  m.sp = m.stack;
  m.frames.count = 0;
  noteShape(program);  // the host may have given the constants or globals new variables
  bool complete = program.locals != nullptr && (argc == 0 || keepArguments(program, argc, argv));
  char name[VELQ_ARGUMENT_NAME_SIZE];
  for (uint32_t i = 1; complete && i <= argc; i++) {
    const char *shared = VELQ_SharedArgumentName((int32_t)i);
    VELQ_Variable *variable =
        shared ? VELQ_RuntimeInternals::createBorrowing(program.locals, shared, &m.spares)
               : program.locals->create(VELQ_FormatArgumentName(name, (int32_t)i), nullptr);
    // A copy that stores no element into the caller's array.
    VELQ_Value *copy = variable ? velqStoredCopy(argv[i - 1]) : nullptr;
    if (copy)
      variable->setValue(copy);
    else
      complete = false;
  }
  if (!complete || velqAllocationFailed()) {
    int code = allocationError();
    program.error(code ? code : VELQ_ERR_OUT_OF_MEMORY);
    return;
  }
  // A host calls a few functions again and again: the one called last is checked first.
  VELQ_ProgramInternals &state = *program.internals;
  uint32_t position = state.lastCalled;
  if (position >= program.functionCount || strcmp(program.functions[position].name, function) != 0)
    position = findFunctionRecord(program, function);
  if (position >= program.functionCount) {
    errorAbout(program, VELQ_ERR_FUNCTION_NOT_FOUND, function);
    return;
  }
  state.lastCalled = position;
  runFrom(program, program.functions[position].address);
}

// The mirror of callLoaded: the values left on the stack and the frames still open go,
// their locals kept as spares for the next calls; the environment stays.
void VELQ_ProgramInternals::releaseCallInputs(VELQ_Program &program) {
  VELQ_Machine &m = program.internals->machine;
  popValues(program, m.depth());
  while (m.frames.count > 0) {
    VELQ_RuntimeInternals::retireFrameLocals(program.locals, m.spares);
    program.locals = m.frames.items[--m.frames.count].callerLocals;
  }
  program.subLevel = 0;
  if (program.locals) VELQ_RuntimeInternals::retireFrameLocals(program.locals, m.spares);
  program.locals = nullptr;
  if (program.internals->arguments) releaseArguments(program);
  program.internals->argumentCount = 0;
  program.internals->running = false;
}

VELQ_Value *VELQ_Program::takeResult() {
  VELQ_Value *taken = result;
  result = nullptr;
  return taken;
}
