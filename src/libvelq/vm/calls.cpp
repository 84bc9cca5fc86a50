// Calls of script and external functions, parameter binding and returns.
#include <stdint.h>
#include <string.h>

#include "argument_names.h"
#include "velq_environment.h"
#include "velq_program.h"
#include "velq_stack.h"
#include "velq_value.h"
#include "velq_variable.h"

// Opens a frame: the return address and the caller's locals go onto the control stack,
// and the argc top values of the data stack move into new locals as $1 .. $argc.
// The caller has already set nextPosition to the function's address.
void VELQ_Program::callFunction(int argc) {
  if (subLevel >= VELQ_MAX_FRAMES) {
    error(VELQ_ERR_CONTROL_OVERFLOW);
    return;
  }
  subLevel++;
  controlStack->push((void *)(uintptr_t)(currentPosition + 1));
  controlStack->push(locals);
  locals = new VELQ_VariableSystem(false);
  bindPosition = 1;
  char name[VELQ_ARGUMENT_NAME_SIZE];
  for (int n = argc; n >= 1; n--) {
    VELQ_Value *argument = (VELQ_Value *)dataStack->pop();
    if (!argument) {
      error(VELQ_ERR_STACK_UNDERFLOW);
      return;
    }
    locals->create(VELQ_FormatArgumentName(name, n), argument);
  }
}

// An external function of that name first, then a script function.
void VELQ_Program::doCallExternal(const char *name, int argc) {
  VELQ_ExtFunction *function = environment->findFunction(name);
  if (!function) {
    unsigned long address = getFunctionAddress(name);
    if (address == VELQ_NO_ADDRESS) {
      error(VELQ_ERR_FUNCTION_NOT_FOUND);
      return;
    }
    nextPosition = (uint32_t)address;
    callFunction(argc);
    return;
  }
  if (argc < 0 || (function->argCount != -1 && function->argCount != argc)) {
    error(VELQ_ERR_ARGUMENT_COUNT);
    return;
  }
  if (dataStack->getSize() < argc) {
    error(VELQ_ERR_STACK_UNDERFLOW);
    return;
  }
  if (!function->handler) {
    error(VELQ_ERR_INTERNAL);
    return;
  }
  VELQ_Value *value = nullptr;
  VELQ_Value **arguments = (VELQ_Value **)dataStack->peekList(argc);
  int32_t code = function->handler(argc, arguments, &value, this);
  // A handler that stores one of its arguments as the result hands back a value that the
  // stack still owns; it must neither be destroyed with the arguments nor be on the stack
  // twice.
  bool resultIsArgument = false;
  for (int i = 0; value && i < argc && !resultIsArgument; i++)
    resultIsArgument = arguments[i] == value;
  if (code == 0 || code == -1) {
    if (code == 0) {
      for (int i = 0; i < argc; i++) {
        VELQ_Value *argument = (VELQ_Value *)dataStack->pop();
        if (argument != value) delete argument;
      }
    } else if (resultIsArgument) {
      value = new VELQ_Value(value);  // the arguments stay below the result
    }
    dataStack->push(value ? value : new VELQ_Value());  // a handler that stored nothing yields null
    if (code == -1) nextPosition = codeSize;
    return;
  }
  // A failing handler should store nothing; never keep what it did store.
  if (!resultIsArgument) delete value;
  error(code);
}

// Binds the next positional argument ($1, $2, ...) of the current frame to a parameter.
void VELQ_Program::doBind(const char *name) {
  if (!name) name = "";  // as for any variable access by name
  char argumentName[VELQ_ARGUMENT_NAME_SIZE];
  VELQ_FormatArgumentName(argumentName, bindPosition);
  bindPosition = (int32_t)((uint32_t)bindPosition + 1);
  VELQ_Variable *argument = locals->find(argumentName);
  VELQ_Value *bound = argument ? new VELQ_Value(argument->getValue()) : new VELQ_Value();
  VELQ_Variable *parameter = locals->find(name);
  if (parameter) {
    parameter->setValue(bound);
  } else {
    locals->create(name, bound);
  }
}

// Closes the innermost frame; with none open the run ends and the value on top is its result.
void VELQ_Program::doReturn() {
  if (subLevel == 0) {
    nextPosition = codeSize;
    return;
  }
  subLevel--;
  delete locals;
  locals = (VELQ_VariableSystem *)controlStack->pop();
  nextPosition = (uint32_t)(uintptr_t)controlStack->pop();
}
