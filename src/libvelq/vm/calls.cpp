// Calls of script and external functions, parameter binding and returns.
#include <stdint.h>
#include <string.h>

#include "runtime/ownership.h"
#include "vm/argument_names.h"
#include "vm/program_internals.h"
#include "velq_environment.h"
#include "velq_program.h"
#include "velq_stack.h"
#include "velq_value.h"
#include "velq_variable.h"

// Opens a frame: the return address and the caller's locals go onto the control stack,
// and the argc top values of the data stack move into new locals as $1 .. $argc.
// The caller has already set the next position to the function's address.
void VELQ_Program::callFunction(int argc) {
  if (subLevel >= VELQ_MAX_FRAMES) {
    error(VELQ_ERR_CONTROL_OVERFLOW);
    return;
  }
  VELQ_VariableSystem *frameLocals = new VELQ_VariableSystem(false);
  if (!frameLocals || !controlStack->push((void *)(uintptr_t)(currentPosition + 1))) {
    delete frameLocals;
    error(VELQ_ERR_OUT_OF_MEMORY);
    return;
  }
  if (!controlStack->push(locals)) {
    controlStack->pop();
    delete frameLocals;
    error(VELQ_ERR_OUT_OF_MEMORY);
    return;
  }
  subLevel++;
  locals = frameLocals;
  bindPosition = 1;
  char name[VELQ_ARGUMENT_NAME_SIZE];
  for (int n = argc; n >= 1; n--) {
    VELQ_Value *argument = (VELQ_Value *)dataStack->pop();
    if (!argument) {
      error(VELQ_ERR_STACK_UNDERFLOW);
      return;
    }
    if (!locals->create(VELQ_FormatArgumentName(name, n), argument)) {
      error(VELQ_ERR_OUT_OF_MEMORY);
      return;
    }
  }
}

// A call by name reaches an external function of that name first, then a script
// function (the program's own, or one merged from a module for this run).
void VELQ_ProgramInternals::doCallByName(VELQ_Program &program, const char *name, int argc) {
  VELQ_ExtFunction *function = program.environment->findFunction(name);
  if (!function) {
    unsigned long address = program.getFunctionAddress(name);
    if (address == VELQ_NO_ADDRESS) {
      program.error(VELQ_ERR_FUNCTION_NOT_FOUND);
      return;
    }
    program.internals->nextPosition = (uint32_t)address;
    program.callFunction(argc);
    return;
  }
  VELQ_Stack *stack = program.dataStack;
  if (argc < 0 || (function->argCount != -1 && function->argCount != argc)) {
    program.error(VELQ_ERR_ARGUMENT_COUNT);
    return;
  }
  if (stack->getSize() < argc) {
    program.error(VELQ_ERR_STACK_UNDERFLOW);
    return;
  }
  if (!function->handler) {
    program.error(VELQ_ERR_INTERNAL);
    return;
  }
  VELQ_Value *value = nullptr;
  void **arguments = stack->peekList(argc);
  int32_t code = function->handler(argc, (VELQ_Value **)arguments, &value, &program);
  // A handler that stores one of its arguments as the result hands back a value that the
  // stack still owns; it must neither be destroyed with the arguments nor be on the stack
  // twice.
  bool resultIsArgument = value && velqListHolds(arguments, (size_t)argc, value);
  if (code != 0 && code != -1) {
    // A failing handler should store nothing; never keep what it did store.
    if (!resultIsArgument) delete value;
    program.error(code);
    return;
  }
  if (code == 0) {
    for (int i = 0; i < argc; i++) {
      VELQ_Value *argument = (VELQ_Value *)stack->pop();
      if (argument != value) delete argument;
    }
  } else if (resultIsArgument) {
    value = new VELQ_Value(value);  // the arguments stay below the result
    if (!value) {
      program.error(VELQ_ERR_OUT_OF_MEMORY);
      return;
    }
  }
  if (code == -1) {
    program.internals->endedByExit = true;
    program.internals->nextPosition = program.codeSize;
  }
  // A handler that stored nothing yields null (a value that could not be made: error 29).
  push(program, value ? value : new VELQ_Value());
}

// Binds the next positional argument ($1, $2, ...) of the current frame to a parameter.
void VELQ_ProgramInternals::doBind(VELQ_Program &program, const char *name) {
  if (!name) name = "";  // as for any variable access by name
  char argumentName[VELQ_ARGUMENT_NAME_SIZE];
  VELQ_FormatArgumentName(argumentName, program.bindPosition);
  program.bindPosition = (int32_t)((uint32_t)program.bindPosition + 1);
  VELQ_VariableSystem *locals = program.locals;
  VELQ_Variable *argument = locals->find(argumentName);
  VELQ_Value *bound = new VELQ_Value(argument ? argument->getValue() : nullptr);
  if (!bound) {
    program.error(VELQ_ERR_OUT_OF_MEMORY);
    return;
  }
  VELQ_Variable *parameter = locals->find(name);
  if (parameter) {
    parameter->setValue(bound);
  } else if (!locals->create(name, bound)) {
    program.error(VELQ_ERR_OUT_OF_MEMORY);
  }
}

// Closes the innermost frame; with none open the run ends and the value on top is its result.
void VELQ_ProgramInternals::doReturn(VELQ_Program &program) {
  if (program.subLevel == 0) {
    program.internals->nextPosition = program.codeSize;
    return;
  }
  program.subLevel--;
  delete program.locals;
  program.locals = (VELQ_VariableSystem *)program.controlStack->pop();
  program.internals->nextPosition = (uint32_t)(uintptr_t)program.controlStack->pop();
}
