// Calls of script and external functions, parameter binding and returns.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <exception>

#include "runtime/environment_internals.h"
#include "runtime/ownership.h"
#include "runtime/variable_internals.h"
#include "values/value_internals.h"
#include "velq_environment.h"
#include "velq_program.h"
#include "velq_value.h"
#include "velq_variable.h"
#include "vm/argument_names.h"
#include "vm/program_internals.h"

typedef VELQ_ValueInternals V;

namespace {

// The names "$1" to "$255", made once.
struct SharedArgumentNames {
  char names[VELQ_SHARED_ARGUMENT_NAMES][VELQ_ARGUMENT_NAME_SIZE];
  SharedArgumentNames() {
    for (int32_t n = 0; n < VELQ_SHARED_ARGUMENT_NAMES; n++) VELQ_FormatArgumentName(names[n], n);
  }
};

const SharedArgumentNames sharedArgumentNames;

// A new local of the frame named "$n" that takes the value on top of the stack.
bool moveArgument(VELQ_Machine &m, int32_t n, VELQ_VariableSystem *locals) {
  const char *shared = VELQ_SharedArgumentName(n);
  VELQ_Variable *variable;
  if (shared) {
    variable = VELQ_RuntimeInternals::createBorrowing(locals, shared, &m.spares);
  } else {
    char name[VELQ_ARGUMENT_NAME_SIZE];
    variable = locals->create(VELQ_FormatArgumentName(name, n), nullptr);
  }
  if (!variable) return false;
  V::move(variable->getValue(), --m.sp);  // the variable's own value was null
  return true;
}

}  // namespace

// Calls an external function's handler. An exception the host's code throws stays here:
// the call fails with error 31, the exception's text as the error's detail, and the run
// then unwinds as for any error.
int32_t VELQ_ProgramInternals::callHandler(VELQ_Program &program, const VELQ_ExtFunction *function,
                                           VELQ_HostFunctionHandler hostHandler, void *userData,
                                           int argc, VELQ_Value **argv, VELQ_Value **value) {
  try {
    if (function->handler) return function->handler(argc, argv, value, &program);
    return hostHandler(argc, argv, value, &program, userData);
  } catch (const std::exception &exception) {
    program.setErrorDetail(exception.what());
  } catch (...) {
    program.setErrorDetail("an exception that is not a std::exception");
  }
  return VELQ_ERR_HOST_EXCEPTION;
}

const char *VELQ_SharedArgumentName(int32_t n) {
  return n >= 1 && n < VELQ_SHARED_ARGUMENT_NAMES ? sharedArgumentNames.names[n] : nullptr;
}

// Opens a frame: the return address and the caller's locals are kept, and the argc top
// values of the data stack move into new locals as $argc .. $1. The caller has already
// set the next position to the function's address.
void VELQ_Program::callFunction(int argc) {
  VELQ_Machine &m = internals->machine;
  if (subLevel >= VELQ_MAX_FRAMES) {
    error(VELQ_ERR_CONTROL_OVERFLOW);
    return;
  }
  VELQ_VariableSystem *frameLocals = VELQ_RuntimeInternals::newFrameLocals(m.spares);
  if (!frameLocals || !m.frames.push({currentPosition + 1, locals})) {
    if (frameLocals) VELQ_RuntimeInternals::retireFrameLocals(frameLocals, m.spares);
    error(VELQ_ERR_OUT_OF_MEMORY);
    return;
  }
  subLevel++;
  locals = frameLocals;
  bindPosition = 1;
  for (int n = argc; n >= 1; n--) {
    if (m.depth() == 0) {
      error(VELQ_ERR_STACK_UNDERFLOW);
      return;
    }
    if (!moveArgument(m, n, locals)) {
      error(VELQ_ERR_OUT_OF_MEMORY);
      return;
    }
  }
}

// A call by name reaches an external function of that name first, then a script
// function (the program's own, or one merged from a module for this run). The cache
// remembers which, for as long as the table it came from stays as it was.
void VELQ_ProgramInternals::doCallByName(VELQ_Program &program, const char *name, int argc,
                                         VELQ_CallCache *cache) {
  VELQ_Environment *environment = program.environment;
  VELQ_ExtFunction *function = nullptr;
  const VELQ_ExtFunction *table = environment->getFunction(0);
  uint32_t stamp = program.internals->machine.stamp;
  if (cache->external && cache->stamp == stamp && cache->table == table &&
      cache->count == environment->getFunctionCount()) {
    function = const_cast<VELQ_ExtFunction *>(table) + cache->index;
  } else if ((function = environment->findFunction(name))) {
    *cache = {table, environment->getFunctionCount(), (uint32_t)(function - table), stamp, true};
  }
  if (!function) {
    unsigned long address = program.getFunctionAddress(name);
    if (address == VELQ_NO_ADDRESS) {
      errorAbout(program, VELQ_ERR_FUNCTION_NOT_FOUND, name);
      return;
    }
    program.internals->nextPosition = (uint32_t)address;
    program.callFunction(argc);
    return;
  }
  VELQ_Machine &m = program.internals->machine;
  if (argc < 0 || (function->argCount != -1 && function->argCount != argc)) {
    snprintf(program.internals->errorDetail, sizeof program.internals->errorDetail,
             "expects %d argument%s, got %d", (int)function->argCount,
             function->argCount == 1 ? "" : "s", argc);
    errorAbout(program, VELQ_ERR_ARGUMENT_COUNT, function->name);
    return;
  }
  if (m.depth() < (uint32_t)argc) {
    program.error(VELQ_ERR_STACK_UNDERFLOW);
    return;
  }
  void *userData = nullptr;
  VELQ_HostFunctionHandler hostHandler = VELQ_EnvironmentInternals::hostHandler(
      environment, (uint32_t)(function - environment->getFunction(0)), &userData);
  if (!function->handler && !hostHandler) {
    program.error(VELQ_ERR_INTERNAL);
    return;
  }
  // The handler sees pointers to its arguments, which stay on the stack meanwhile.
  enum { ARGUMENTS_ON_HAND = 8 };
  VELQ_Value *onHand[ARGUMENTS_ON_HAND];
  VELQ_Value **argv = onHand;
  if (argc > ARGUMENTS_ON_HAND) {
    m.argumentPointers.count = 0;
    for (int i = 0; i < argc; i++) {
      if (!m.argumentPointers.push(nullptr)) {
        program.error(VELQ_ERR_OUT_OF_MEMORY);
        return;
      }
    }
    argv = m.argumentPointers.items;
  }
  VELQ_Value *arguments = m.sp - argc;
  for (int i = 0; i < argc; i++) argv[i] = arguments + i;
  VELQ_Value *value = nullptr;
  int32_t code = callHandler(program, function, hostHandler, userData, argc, argv, &value);
  noteShape(program);
  // A handler that stores one of its arguments as the result hands back a value that the
  // stack still owns: the result is a copy of it.
  bool resultIsArgument = value && velqPointsInto(value, arguments, (size_t)argc);
  if (code != 0 && code != -1) {
    // A failing handler should store nothing; never keep what it did store.
    if (!resultIsArgument) delete value;
    errorAbout(program, code, function->name);
    return;
  }
  if (resultIsArgument) value = new VELQ_Value(value);
  if (code == 0) popValues(program, (uint32_t)argc);
  if (code == -1) {
    program.internals->endedByExit = true;
    program.internals->nextPosition = program.codeSize;
  }
  // A handler that stored nothing yields null; its arguments stay below the result of
  // one that ends the run.
  pushNew(program, value ? value : new VELQ_Value());
}

// Binds the next positional argument ($1, $2, ...) of the current frame to a parameter.
void VELQ_ProgramInternals::doBind(VELQ_Program &program, const char *name, VELQ_NameCache *) {
  if (!name) name = "";  // as for any variable access by name
  char formatted[VELQ_ARGUMENT_NAME_SIZE];
  const char *argumentName = VELQ_SharedArgumentName(program.bindPosition);
  if (!argumentName) argumentName = VELQ_FormatArgumentName(formatted, program.bindPosition);
  program.bindPosition = (int32_t)((uint32_t)program.bindPosition + 1);
  // The first locals named argumentName and name, in one pass over the frame's locals.
  // The engine's own argument locals carry the shared copy of their name, found by its
  // address (a frame's "$n" all begin alike); the names are compared only when that
  // fails. The engine makes a local only where no variable of that name comes before
  // it, so the first found is the first of that name.
  VELQ_VariableSystem *locals = program.locals;
  VELQ_Variable *argument = nullptr, *parameter = nullptr;
  uint32_t count = VELQ_RuntimeInternals::count(locals);
  for (uint32_t i = 0; i < count && !(argument && parameter); i++) {
    VELQ_Variable *variable = VELQ_RuntimeInternals::at(locals, i);
    if (!argument && VELQ_RuntimeInternals::nameOf(variable) == argumentName) argument = variable;
    if (!parameter && VELQ_RuntimeInternals::hasName(variable, name)) parameter = variable;
  }
  if (!argument) argument = locals->find(argumentName);
  if (!parameter)
    parameter =
        VELQ_RuntimeInternals::createBorrowing(locals, name, &program.internals->machine.spares);
  if (!parameter) {
    program.error(VELQ_ERR_OUT_OF_MEMORY);
    return;
  }
  if (argument) {
    V::assign(parameter->getValue(), argument->getValue());
  } else {
    V::drop(parameter->getValue());
    V::putNull(parameter->getValue());
  }
}

// Closes the innermost frame; with none open the run ends and the value on top is its result.
void VELQ_ProgramInternals::doReturn(VELQ_Program &program) {
  VELQ_Machine &m = program.internals->machine;
  if (program.subLevel == 0 || m.frames.count == 0) {
    program.internals->nextPosition = program.codeSize;
    return;
  }
  program.subLevel--;
  VELQ_Frame frame = m.frames.items[--m.frames.count];
  VELQ_RuntimeInternals::retireFrameLocals(program.locals, m.spares);
  program.locals = frame.callerLocals;
  program.internals->nextPosition = frame.returnAddress;
}
