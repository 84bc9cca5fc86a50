// Array declaration, element access and object attribute access.
#include <vector>

#include "velq_array.h"
#include "velq_object.h"
#include "velq_program.h"
#include "velq_stack.h"
#include "velq_value.h"
#include "velq_variable.h"

// A stored array is copied at every level, not only at the top one: if nested arrays were
// shared with the source, `a[1][0] = a` could make an array hold a reference to itself, and
// such a ring of arrays would never be released. The copy works through a list of pending
// arrays instead of recursion, so that deep nesting cannot exhaust the machine stack.
VELQ_Value *VELQ_Program::copyForStore(const VELQ_Value *source) {
  if (!source || !source->isArray()) return new VELQ_Value(source);
  VELQ_Array *top = new VELQ_Array(source->getValueAsArray());
  VELQ_Value *stored = new VELQ_Value(top);
  std::vector<VELQ_Array *> pending{top};
  while (!pending.empty()) {
    VELQ_Array *array = pending.back();
    pending.pop_back();
    // The copy constructor shares nested arrays; give each element its own copy. Replacing
    // the value of an existing index neither moves nor re-sorts the slots.
    for (int32_t i = 0; i < array->getSize(); i++) {
      const ArrayElement *element = array->getElement(i);
      if (!element->value || !element->value->isArray()) continue;
      VELQ_Array *nested = new VELQ_Array(element->value->getValueAsArray());
      array->set(element->index, new VELQ_Value(nested));
      pending.push_back(nested);
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
// pushed value reach it.
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
