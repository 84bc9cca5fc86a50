// Named values and the flat, ordered collections that hold constants, globals and locals.
#ifndef VELQ_VARIABLE_H
#define VELQ_VARIABLE_H

#include <stdint.h>

class VELQ_Value;

class VELQ_Variable {
public:
  explicit VELQ_Variable(const char *name);
  VELQ_Variable(const char *name, VELQ_Value *value, bool constant);  // takes value
  explicit VELQ_Variable(const VELQ_Variable *source);                 // deep copy
  ~VELQ_Variable();

  VELQ_Variable(const VELQ_Variable &) = delete;
  VELQ_Variable &operator=(const VELQ_Variable &) = delete;

  const char *getName() const { return name; }
  VELQ_Value *getValue() const { return value; }
  bool isConstant() const { return constant; }
  void setValue(VELQ_Value *newValue);  // destroys the old value, takes the new one

private:
  char *name;
  VELQ_Value *value;
  bool constant;
};

class VELQ_VariableSystem {
public:
  explicit VELQ_VariableSystem(bool constant = false);
  explicit VELQ_VariableSystem(const VELQ_VariableSystem *source);  // deep copy
  ~VELQ_VariableSystem();

  VELQ_VariableSystem(const VELQ_VariableSystem &) = delete;
  VELQ_VariableSystem &operator=(const VELQ_VariableSystem &) = delete;

  VELQ_Variable *find(const char *name) const;
  VELQ_Variable *create(const char *name, VELQ_Value *value);  // takes value; null means a null value
  void merge(const VELQ_VariableSystem *source);
  bool isConstant() const { return constant; }

  uint32_t getCount() const { return count; }
  VELQ_Variable *getVariable(uint32_t i) const { return i < count ? items[i] : nullptr; }

private:
  uint32_t count;
  VELQ_Variable **items;
  bool constant;
};

#endif
