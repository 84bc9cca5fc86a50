// Array declaration, element access and object attribute access.
#include <unordered_set>
#include <vector>

#include "velq_array.h"
#include "velq_object.h"
#include "velq_program.h"
#include "velq_stack.h"
#include "velq_value.h"
#include "velq_variable.h"

// A stored array is copied at every level, not only at the top one: if nested arrays were
// shared with the source, `a[1][0] = a` could make an array hold a reference to itself, and
// such a ring of arrays would never be released. The copy walks the nesting with a list of
// the arrays on the current path instead of recursion, so that deep nesting cannot exhaust
// the machine stack. Scripts cannot make a ring, but a host can (an array given an element
// that refers to the array itself); following it would never end, so an element that leads
// back to an array on the path is copied as null. An array reached twice by different paths
// is simply copied twice.
VELQ_Value *VELQ_Program::copyForStore(const VELQ_Value *source) {
  if (!source || !source->isArray()) return new VELQ_Value(source);
  struct Level {
    const VELQ_Array *source;
    VELQ_Array *copy;
    int32_t next;  // position of the next element of copy to look at
  };
  VELQ_Array *top = new VELQ_Array(source->getValueAsArray());
  VELQ_Value *stored = new VELQ_Value(top);
  std::vector<Level> path{{source->getValueAsArray(), top, 0}};
  // Whether an array is on the path: a scan of the path while it is short; once it grows
  // long, a set of the arrays on it, kept from then on.
  const size_t shortPath = 64;
  std::unordered_set<const VELQ_Array *> longPath;
  auto onPath = [&](const VELQ_Array *array) {
    if (!longPath.empty()) return longPath.count(array) != 0;
    for (const Level &level : path)
      if (level.source == array) return true;
    return false;
  };
  while (!path.empty()) {
    Level &level = path.back();
    const ArrayElement *element = level.copy->getElement(level.next);
    if (!element) {
      longPath.erase(level.source);
      path.pop_back();
      continue;
    }
    level.next++;
    if (!element->value || !element->value->isArray()) continue;
    // The copy constructor shares nested arrays; give each element its own copy. Replacing
    // the value of an existing index neither moves nor re-sorts the slots.
    const VELQ_Array *nestedSource = element->value->getValueAsArray();
    if (nestedSource && onPath(nestedSource)) {
      level.copy->set(element->index, new VELQ_Value());
      continue;
    }
    VELQ_Array *nested = new VELQ_Array(nestedSource);
    level.copy->set(element->index, new VELQ_Value(nested));
    path.push_back({nestedSource, nested, 0});  // level is not used after this
    if (!longPath.empty()) {
      if (nestedSource) longPath.insert(nestedSource);
    } else if (path.size() > shortPath) {
      for (const Level &each : path)
        if (each.source) longPath.insert(each.source);
    }
  }
  return stored;
}

void VELQ_Program::doArrayDeclare(const char *name) {
  VELQ_Variable *variable = createVariable(name);
  if (!variable) {
    error(VELQ_ERR_VARIABLE_EXISTS);
    return;
  }
  variable->setValue(new VELQ_Value(new VELQ_Array()));
}

// array index -> element. A nested array is shared with the element, so writes through the
// pushed value reach it. An array value that holds no array (a host can make one) is an
// internal error, as an object value without its record is for the attribute operator.
void VELQ_Program::doElementGet() {
  VELQ_Value *index = static_cast<VELQ_Value *>(dataStack->pop());
  VELQ_Value *array = static_cast<VELQ_Value *>(dataStack->pop());
  int code = 0;
  if (!index || !array)
    code = VELQ_ERR_STACK_UNDERFLOW;
  else if (!array->isArray())
    code = VELQ_ERR_NOT_ARRAY;
  else if (!index->isInteger())
    code = VELQ_ERR_INDEX_NOT_INTEGER;
  else if (!array->getValueAsArray())
    code = VELQ_ERR_INTERNAL;
  if (code != 0) {
    error(code);
  } else {
    // A missing element reads as null (the copy of no value).
    dataStack->push(new VELQ_Value(array->getValueAsArray()->get(index->getValueAsInt32())));
  }
  delete index;
  delete array;
}

// array index value -> value. The index is checked before the array.
void VELQ_Program::doElementSet() {
  VELQ_Value *value = static_cast<VELQ_Value *>(dataStack->pop());
  VELQ_Value *index = value ? static_cast<VELQ_Value *>(dataStack->pop()) : nullptr;
  VELQ_Value *array = index ? static_cast<VELQ_Value *>(dataStack->pop()) : nullptr;
  int code = 0;
  if (!value || !index || !array)
    code = VELQ_ERR_STACK_UNDERFLOW;
  else if (!index->isInteger())
    code = VELQ_ERR_INDEX_NOT_INTEGER;
  else if (!array->isArray())
    code = VELQ_ERR_NOT_ARRAY;
  else if (!array->getValueAsArray())
    code = VELQ_ERR_INTERNAL;
  if (code != 0) {
    error(code);
    delete value;
  } else {
    array->getValueAsArray()->set(index->getValueAsInt32(), copyForStore(value));
    dataStack->push(value);
  }
  delete index;
  delete array;
}

// object -> attribute value, as the object's class answers it.
void VELQ_Program::doAttributeGet(const char *name) {
  if (!name) name = "";  // the class is always asked about some name
  VELQ_Value *objectValue = static_cast<VELQ_Value *>(dataStack->pop());
  int code = 0;
  VELQ_Object *object = nullptr;
  if (!objectValue)
    code = VELQ_ERR_STACK_UNDERFLOW;
  else if (!objectValue->isObject())
    code = VELQ_ERR_NOT_OBJECT;
  else if (!(object = objectValue->getValueAsObject()) || !object->getClass())
    code = VELQ_ERR_INTERNAL;
  if (code == 0) {
    VELQ_Value *attribute = object->getClass()->getAttr(object, name);
    if (attribute)
      dataStack->push(attribute);
    else
      code = VELQ_ERR_UNKNOWN_ATTRIBUTE;
  }
  if (code != 0) error(code);
  delete objectValue;
}

// object value -> value. The class reads the value and does not keep it.
void VELQ_Program::doAttributeSet(const char *name) {
  if (!name) name = "";
  VELQ_Value *value = static_cast<VELQ_Value *>(dataStack->pop());
  VELQ_Value *objectValue = value ? static_cast<VELQ_Value *>(dataStack->pop()) : nullptr;
  int code = 0;
  VELQ_Object *object = nullptr;
  if (!value || !objectValue)
    code = VELQ_ERR_STACK_UNDERFLOW;
  else if (!objectValue->isObject())
    code = VELQ_ERR_NOT_OBJECT;
  else if (!(object = objectValue->getValueAsObject()) || !object->getClass())
    code = VELQ_ERR_INTERNAL;
  else if (!object->getClass()->setAttr(object, name, value))
    code = VELQ_ERR_UNKNOWN_ATTRIBUTE;
  if (code != 0) {
    error(code);
    delete value;
  } else {
    dataStack->push(value);
  }
  delete objectValue;
}
