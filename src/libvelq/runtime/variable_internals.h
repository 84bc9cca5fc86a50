// The engine's own access to variables and variable systems.
#ifndef VELQ_VARIABLE_INTERNALS_H
#define VELQ_VARIABLE_INTERNALS_H

#include <stdint.h>

#include "velq_variable.h"

struct VELQ_RuntimeInternals {
  // A variable appended to system under name, which it keeps without a copy of its own:
  // name must outlive the variable (the interned names of a program, which the program
  // keeps for its life, and the argument names do). It holds a null value. Null when
  // memory is refused.
  static VELQ_Variable *createBorrowing(VELQ_VariableSystem *system, const char *name);

  static uint32_t count(const VELQ_VariableSystem *system) { return system->count; }
  static VELQ_Variable *at(const VELQ_VariableSystem *system, uint32_t i) {
    return system->items[i];
  }
  static const char *nameOf(const VELQ_Variable *variable) { return variable->name; }
};

#endif
