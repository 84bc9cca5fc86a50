// Named values and the flat, ordered collections that hold constants, globals and locals.
#ifndef VELQ_VARIABLE_H
#define VELQ_VARIABLE_H

#include <stddef.h>
#include <stdint.h>

#include "velq_export.h"
#include "velq_value.h"

class VELQ_API VELQ_Variable {
public:
  explicit VELQ_Variable(const char *name);
  VELQ_Variable(const char *name, VELQ_Value *value, bool constant);  // takes value
  explicit VELQ_Variable(const VELQ_Variable *source);                 // deep copy
  ~VELQ_Variable();

  VELQ_Variable(const VELQ_Variable &) = delete;
  VELQ_Variable &operator=(const VELQ_Variable &) = delete;

  // The engine allocates variables itself: new yields null when memory is refused.
  static void *operator new(size_t size) noexcept;
  static void operator delete(void *block, size_t size) noexcept;

  const char *getName() const { return name; }
  VELQ_Value *getValue() const { return value; }
  bool isConstant() const { return constant; }
  void setValue(VELQ_Value *newValue);  // destroys the old value, takes the new one

private:
  friend struct VELQ_RuntimeInternals;  // the engine's own access (runtime/variable_internals.h)

  struct BorrowedName {};
  VELQ_Variable(const char *name, bool constant, BorrowedName);
  void holdOwnNull();

  char *name;  // the empty name when memory for a copy was refused
  VELQ_Value *value;
  bool constant;
  bool nameBorrowed;  // name is not the variable's own copy (runtime/variable_internals.h)
  // The value the variable holds when it was given none (or null): kept inside the
  // variable, so that a variable always has a value, even without memory for one.
  VELQ_Value ownValue;
};

class VELQ_API VELQ_VariableSystem {
public:
  explicit VELQ_VariableSystem(bool constant = false);
  explicit VELQ_VariableSystem(const VELQ_VariableSystem *source);  // deep copy
  ~VELQ_VariableSystem();

  VELQ_VariableSystem(const VELQ_VariableSystem &) = delete;
  VELQ_VariableSystem &operator=(const VELQ_VariableSystem &) = delete;

  // The engine allocates systems itself: new yields null when memory is refused.
  static void *operator new(size_t size) noexcept;
  static void operator delete(void *block, size_t size) noexcept;

  VELQ_Variable *find(const char *name) const;
  // Takes value (null means a null value). Null, with value destroyed and the system
  // unchanged, when memory for the variable is refused.
  VELQ_Variable *create(const char *name, VELQ_Value *value);
  void merge(const VELQ_VariableSystem *source);
  bool isConstant() const { return constant; }

  // The number of variables, and the variable at position i in creation order (null
  // beyond the count), so that a host can walk a system such as the globals of a run.
  uint32_t getCount() const { return count; }
  VELQ_Variable *getVariable(uint32_t i) const { return i < count ? items[i] : nullptr; }

private:
  friend struct VELQ_RuntimeInternals;

  // Makes room for one more variable; false when memory is refused.
  bool reserveOne();

  uint32_t count;
  VELQ_Variable **items;  // inlineItems until more variables are created
  bool constant;
  uint32_t capacity;
  // Room for the first few variables, so that a function's locals need no block of
  // their own in the common case.
  VELQ_Variable *inlineItems[4];
};

#endif
