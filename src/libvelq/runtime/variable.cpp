// Named values and the ordered variable systems of constants, globals and locals.
#include <string.h>

#include <new>

#include "runtime/force_inline.h"
#include "runtime/growth.h"
#include "runtime/memory.h"
#include "runtime/variable_internals.h"
#include "values/value_internals.h"
#include "velq_value.h"
#include "velq_variable.h"

VELQ_DEFINE_POOLED_ALLOCATION(VELQ_Variable)
VELQ_DEFINE_POOLED_ALLOCATION(VELQ_VariableSystem)

namespace {

// The name of a variable whose own copy of its name could not be had.
char emptyName[1] = {0};

char *copyName(const char *name) {
  char *copy = velqCopyName(name);
  return copy ? copy : emptyName;
}

}  // namespace

VELQ_Variable::VELQ_Variable(const char *name)
    : name(copyName(name)), value(&ownValue), constant(false), nameBorrowed(false) {}

VELQ_Variable::VELQ_Variable(const char *name, VELQ_Value *value, bool constant)
    : name(copyName(name)),
      value(value ? value : &ownValue),
      constant(constant),
      nameBorrowed(false) {}

// A missing source gives what the name-only constructor gives for the empty name.
VELQ_Variable::VELQ_Variable(const VELQ_Variable *source)
    : name(copyName(source ? source->name : nullptr)),
      value(&ownValue),
      constant(source ? source->constant : false),
      nameBorrowed(false),
      ownValue(source ? source->value : nullptr) {}

VELQ_Variable::VELQ_Variable(const char *name, bool constant, BorrowedName)
    : name(const_cast<char *>(name)), value(&ownValue), constant(constant), nameBorrowed(true) {}

VELQ_Variable *VELQ_RuntimeInternals::createBorrowingSlowly(VELQ_VariableSystem *system,
                                                            const char *name,
                                                            VELQ_FrameSpares *spares) {
  if (!system->reserveOne()) return nullptr;
  VELQ_Variable *variable;
  if (spares && spares->variableCount > 0) {
    // A spare variable's value was dropped when it was kept; it is raw until now.
    variable = spares->variables[--spares->variableCount];
    variable->name = const_cast<char *>(name);
    variable->constant = system->constant;
    VELQ_ValueInternals::putNull(&variable->ownValue);
  } else {
    variable = new VELQ_Variable(name, system->constant, VELQ_Variable::BorrowedName{});
  }
  if (variable) system->items[system->count++] = variable;
  return variable;
}

VELQ_VariableSystem *VELQ_RuntimeInternals::newFrameLocals(VELQ_FrameSpares &spares) {
  if (spares.systemCount > 0) return spares.systems[--spares.systemCount];
  return new VELQ_VariableSystem(false);
}

namespace {

// The rare steps of retiring a frame's locals, kept out of its loop so that the common
// one, a variable kept as a spare, stays short.
VELQ_NO_INLINE void destroyValue(VELQ_Value *value) { value->~VELQ_Value(); }
VELQ_NO_INLINE void destroyVariable(VELQ_Variable *variable) { delete variable; }
VELQ_NO_INLINE void destroySystem(VELQ_VariableSystem *system) { delete system; }

}  // namespace

// Only the variables the engine made (a borrowed name, their own value) are kept; a
// variable a host made is destroyed as usual.
void VELQ_RuntimeInternals::retireFrameLocals(VELQ_VariableSystem *system,
                                              VELQ_FrameSpares &spares) {
  for (uint32_t i = 0; i < system->count; i++) {
    VELQ_Variable *variable = system->items[i];
    if (variable->nameBorrowed && variable->value == &variable->ownValue &&
        spares.variableCount < VELQ_SPARE_VARIABLES) {
      if (!VELQ_ValueInternals::isPlain(&variable->ownValue)) destroyValue(&variable->ownValue);
      spares.variables[spares.variableCount++] = variable;
    } else {
      destroyVariable(variable);
    }
  }
  system->count = 0;
  if (spares.systemCount < VELQ_SPARE_SYSTEMS && !system->constant) {
    spares.systems[spares.systemCount++] = system;
  } else {
    destroySystem(system);
  }
}

// Spare variables hold no value (it was dropped when they were kept).
void VELQ_RuntimeInternals::freeSpares(VELQ_FrameSpares &spares) {
  for (uint32_t i = 0; i < spares.variableCount; i++) {
    VELQ_ValueInternals::putNull(&spares.variables[i]->ownValue);
    delete spares.variables[i];
  }
  spares.variableCount = 0;
  for (uint32_t i = 0; i < spares.systemCount; i++) delete spares.systems[i];
  spares.systemCount = 0;
}

VELQ_FrameSpares::~VELQ_FrameSpares() { VELQ_RuntimeInternals::freeSpares(*this); }

VELQ_Variable::~VELQ_Variable() {
  if (name != emptyName && !nameBorrowed) velqRelease(name);
  if (value != &ownValue) delete value;
}

void VELQ_Variable::setValue(VELQ_Value *newValue) {
  if (newValue == value) return;
  if (value != &ownValue) delete value;
  if (newValue) {
    value = newValue;
  } else {
    holdOwnNull();
  }
}

// The variable's own value becomes null and is the one it holds.
void VELQ_Variable::holdOwnNull() {
  ownValue.~VELQ_Value();
  ::new (&ownValue) VELQ_Value();
  value = &ownValue;
}

VELQ_VariableSystem::VELQ_VariableSystem(bool constant)
    : count(0), items(inlineItems), constant(constant), capacity(4) {}

// A missing source gives an empty system with the constant flag clear. Without memory
// the copy stops short: it holds the variables copied until then.
VELQ_VariableSystem::VELQ_VariableSystem(const VELQ_VariableSystem *source)
    : VELQ_VariableSystem(source ? source->constant : false) {
  for (uint32_t i = 0; source && i < source->count; i++) {
    VELQ_Variable *copy = reserveOne() ? new VELQ_Variable(source->items[i]) : nullptr;
    if (!copy) return;
    items[count++] = copy;
  }
}

VELQ_VariableSystem::~VELQ_VariableSystem() {
  for (uint32_t i = 0; i < count; i++) delete items[i];
  if (items != inlineItems) velqRelease(items);
}

// The variables move from the inline slots to a block of their own when those fill up,
// and the block then grows the engine's one way.
bool VELQ_VariableSystem::reserveOne() {
  if (count < capacity) return true;
  if (items != inlineItems) return velqReserve(items, capacity, (size_t)count + 1);
  VELQ_Variable **block = nullptr;
  uint32_t room = 0;
  if (!velqReserve(block, room, (size_t)count * 2)) return false;
  memcpy(block, inlineItems, count * sizeof *block);
  items = block;
  capacity = room;
  return true;
}

VELQ_Variable *VELQ_VariableSystem::find(const char *name) const {
  if (!name) return nullptr;
  // Names are short and mostly differ early: an inline byte loop beats a library call
  // per variable on the hot path of every variable access.
  for (uint32_t i = 0; i < count; i++) {
    const char *a = items[i]->getName();
    const char *b = name;
    while (*a && *a == *b) a++, b++;
    if (*a == *b) return items[i];
  }
  return nullptr;
}

VELQ_Variable *VELQ_VariableSystem::create(const char *name, VELQ_Value *value) {
  VELQ_Variable *variable = reserveOne() ? new VELQ_Variable(name, value, constant) : nullptr;
  if (!variable) {
    delete value;
    return nullptr;
  }
  if (variable->getName() == emptyName && name && *name) {  // no memory for the name
    delete variable;                                        // and with it the value
    return nullptr;
  }
  items[count++] = variable;
  return variable;
}

// Adds a copy of every variable of source whose name this system lacks; the
// variables this system has already keep their values.
void VELQ_VariableSystem::merge(const VELQ_VariableSystem *source) {
  if (!source || source == this) return;
  for (uint32_t i = 0; i < source->count; i++) {
    const VELQ_Variable *variable = source->items[i];
    if (!find(variable->getName()))
      create(variable->getName(), new VELQ_Value(variable->getValue()));
  }
}
