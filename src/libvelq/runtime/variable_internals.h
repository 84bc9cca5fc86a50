// The engine's own access to variables and variable systems.
#ifndef VELQ_VARIABLE_INTERNALS_H
#define VELQ_VARIABLE_INTERNALS_H

#include <stdint.h>
#include <string.h>

#include "runtime/force_inline.h"
#include "values/value_internals.h"
#include "velq_variable.h"

// The locals systems and variables of returned calls, kept by a run for its next calls
// (up to a bound, past which they are freed), so that a call takes no memory of the
// system in the common case.
enum { VELQ_SPARE_SYSTEMS = 64, VELQ_SPARE_VARIABLES = 512 };
struct VELQ_FrameSpares {
  VELQ_VariableSystem *systems[VELQ_SPARE_SYSTEMS];
  uint32_t systemCount = 0;
  VELQ_Variable *variables[VELQ_SPARE_VARIABLES];
  uint32_t variableCount = 0;
  ~VELQ_FrameSpares();
};

struct VELQ_RuntimeInternals {
  // A variable appended to system under name, which it keeps without a copy of its own:
  // name must outlive the variable (the interned names of a program, which the program
  // keeps for its life, and the argument names do). It holds a null value. Null when
  // memory is refused. With spares, a spare variable serves when there is one.
  // The common case, a spare variable and room in the system, is made here, inline: the
  // machine makes every argument, parameter and new local of a frame this way.
  VELQ_FORCE_INLINE static VELQ_Variable *createBorrowing(VELQ_VariableSystem *system,
                                                          const char *name,
                                                          VELQ_FrameSpares *spares = nullptr) {
    if (spares && spares->variableCount > 0 && system->count < system->capacity) {
      // A spare variable's value was dropped when it was kept; it is raw until now.
      VELQ_Variable *variable = spares->variables[--spares->variableCount];
      variable->name = const_cast<char *>(name);
      variable->constant = system->constant;
      VELQ_ValueInternals::putNull(&variable->ownValue);
      system->items[system->count++] = variable;
      return variable;
    }
    return createBorrowingSlowly(system, name, spares);
  }
  static VELQ_Variable *createBorrowingSlowly(VELQ_VariableSystem *system, const char *name,
                                              VELQ_FrameSpares *spares);
  // An empty locals system for a new frame, a spare one when there is one.
  static VELQ_VariableSystem *newFrameLocals(VELQ_FrameSpares &spares);
  // The locals of a frame that ends: their variables are destroyed or kept as spares,
  // and the system too.
  static void retireFrameLocals(VELQ_VariableSystem *system, VELQ_FrameSpares &spares);
  static void freeSpares(VELQ_FrameSpares &spares);

  VELQ_FORCE_INLINE static uint32_t count(const VELQ_VariableSystem *system) {
    return system->count;
  }
  VELQ_FORCE_INLINE static VELQ_Variable *at(const VELQ_VariableSystem *system, uint32_t i) {
    return system->items[i];
  }
  VELQ_FORCE_INLINE static const char *nameOf(const VELQ_Variable *variable) {
    return variable->name;
  }
  // Whether a variable's name is name: the same copy (the engine's locals carry the
  // program's interned copy of their name), or equal text; names mostly differ in their
  // first byte, which is tested before the library is called.
  VELQ_FORCE_INLINE static bool hasName(const VELQ_Variable *variable, const char *name) {
    const char *own = variable->name;
    return own == name || (own[0] == name[0] && strcmp(own, name) == 0);
  }
};

#endif
