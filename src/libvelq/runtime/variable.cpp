// Named values and the ordered variable systems of constants, globals and locals.
#include <stdlib.h>
#include <string.h>

#include "velq_value.h"
#include "velq_variable.h"

namespace {

// A heap copy of a name; a missing name is kept as the empty one.
char *copyName(const char *name) {
  char *copy = strdup(name ? name : "");
  if (!copy) abort();
  return copy;
}

}  // namespace

VELQ_Variable::VELQ_Variable(const char *name)
    : name(copyName(name)), value(new VELQ_Value()), constant(false) {}

VELQ_Variable::VELQ_Variable(const char *name, VELQ_Value *value, bool constant)
    : name(copyName(name)), value(value ? value : new VELQ_Value()), constant(constant) {}

// A missing source gives what the name-only constructor gives for the empty name.
VELQ_Variable::VELQ_Variable(const VELQ_Variable *source)
    : name(copyName(source ? source->name : nullptr)),
      value(new VELQ_Value(source ? source->value : nullptr)),
      constant(source ? source->constant : false) {}

VELQ_Variable::~VELQ_Variable() {
  free(name);
  delete value;
}

void VELQ_Variable::setValue(VELQ_Value *newValue) {
  if (newValue == value) return;
  delete value;
  value = newValue ? newValue : new VELQ_Value();
}

VELQ_VariableSystem::VELQ_VariableSystem(bool constant)
    : count(0), items(nullptr), constant(constant) {}

// A missing source gives an empty system with the constant flag clear.
VELQ_VariableSystem::VELQ_VariableSystem(const VELQ_VariableSystem *source)
    : count(0), items(nullptr), constant(source ? source->constant : false) {
  if (!source || source->count == 0) return;
  items = static_cast<VELQ_Variable **>(malloc(source->count * sizeof(VELQ_Variable *)));
  if (!items) abort();
  for (uint32_t i = 0; i < source->count; i++) items[i] = new VELQ_Variable(source->items[i]);
  count = source->count;
}

VELQ_VariableSystem::~VELQ_VariableSystem() {
  for (uint32_t i = 0; i < count; i++) delete items[i];
  free(items);
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
  VELQ_Variable **grown =
      static_cast<VELQ_Variable **>(realloc(items, (count + 1) * sizeof(VELQ_Variable *)));
  if (!grown) abort();
  items = grown;
  VELQ_Variable *variable = new VELQ_Variable(name, value, constant);
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
