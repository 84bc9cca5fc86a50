// Named values and the ordered variable systems of constants, globals and locals.
#include <string.h>

#include <new>

#include "runtime/growth.h"
#include "runtime/memory.h"
#include "velq_value.h"
#include "velq_variable.h"

VELQ_DEFINE_ENGINE_ALLOCATION(VELQ_Variable)
VELQ_DEFINE_ENGINE_ALLOCATION(VELQ_VariableSystem)

namespace {

// The name of a variable whose own copy of its name could not be had.
char emptyName[1] = {0};

char *copyName(const char *name) {
  char *copy = velqCopyName(name);
  return copy ? copy : emptyName;
}

}  // namespace

VELQ_Variable::VELQ_Variable(const char *name)
    : name(copyName(name)), value(&ownValue), constant(false) {}

VELQ_Variable::VELQ_Variable(const char *name, VELQ_Value *value, bool constant)
    : name(copyName(name)), value(value ? value : &ownValue), constant(constant) {}

// A missing source gives what the name-only constructor gives for the empty name.
VELQ_Variable::VELQ_Variable(const VELQ_Variable *source)
    : name(copyName(source ? source->name : nullptr)),
      value(&ownValue),
      constant(source ? source->constant : false),
      ownValue(source ? source->value : nullptr) {}

VELQ_Variable::~VELQ_Variable() {
  if (name != emptyName) velqRelease(name);
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
    : count(0), items(nullptr), constant(constant), capacity(0) {}

// A missing source gives an empty system with the constant flag clear. Without memory
// the copy stops short: it holds the variables copied until then.
VELQ_VariableSystem::VELQ_VariableSystem(const VELQ_VariableSystem *source)
    : count(0), items(nullptr), constant(source ? source->constant : false), capacity(0) {
  if (!source || !velqReserve(items, capacity, source->count)) return;
  for (uint32_t i = 0; i < source->count; i++) {
    VELQ_Variable *copy = new VELQ_Variable(source->items[i]);
    if (!copy) return;
    items[count++] = copy;
  }
}

VELQ_VariableSystem::~VELQ_VariableSystem() {
  for (uint32_t i = 0; i < count; i++) delete items[i];
  velqRelease(items);
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
  VELQ_Variable *variable = nullptr;
  if (velqReserve(items, capacity, (size_t)count + 1))
    variable = new VELQ_Variable(name, value, constant);
  if (!variable) {
    delete value;
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
