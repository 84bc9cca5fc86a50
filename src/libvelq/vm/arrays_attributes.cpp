// Array declaration, element access and object attribute access.
#include "values/deep_copy.h"
#include "values/value_internals.h"
#include "vm/program_internals.h"
#include "velq_array.h"
#include "velq_object.h"
#include "velq_program.h"
#include "velq_stack.h"
#include "velq_value.h"
#include "velq_variable.h"

void VELQ_ProgramInternals::doArrayDeclare(VELQ_Program &program, const char *name) {
  VELQ_Variable *variable = program.createVariable(name);
  if (!variable) {
    program.error(VELQ_ERR_VARIABLE_EXISTS);
    return;
  }
  VELQ_Array *array = new VELQ_Array();
  VELQ_Value *value = array ? new VELQ_Value(array) : nullptr;
  if (!value) {
    delete array;
    program.error(VELQ_ERR_OUT_OF_MEMORY);
    return;
  }
  variable->setValue(value);
}

// array index -> element. A nested array is shared with the element, so writes through the
// pushed value reach it. An array value that holds no array (a host can make one) is an
// internal error, as an object value without its record is for the attribute operator.
void VELQ_ProgramInternals::doElementGet(VELQ_Program &program) {
  VELQ_Value *index = static_cast<VELQ_Value *>(program.dataStack->pop());
  VELQ_Value *array = static_cast<VELQ_Value *>(program.dataStack->pop());
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
    program.error(code);
  } else {
    // A missing element reads as null (the copy of no value).
    push(program, new VELQ_Value(array->getValueAsArray()->get(index->getValueAsInt32())));
  }
  delete index;
  delete array;
}

// array index value -> value. The index is checked before the array.
void VELQ_ProgramInternals::doElementSet(VELQ_Program &program) {
  VELQ_Value *value = static_cast<VELQ_Value *>(program.dataStack->pop());
  VELQ_Value *index = value ? static_cast<VELQ_Value *>(program.dataStack->pop()) : nullptr;
  VELQ_Value *array = index ? static_cast<VELQ_Value *>(program.dataStack->pop()) : nullptr;
  int code = 0;
  if (!value || !index || !array)
    code = VELQ_ERR_STACK_UNDERFLOW;
  else if (!index->isInteger())
    code = VELQ_ERR_INDEX_NOT_INTEGER;
  else if (!array->isArray())
    code = VELQ_ERR_NOT_ARRAY;
  else if (!array->getValueAsArray())
    code = VELQ_ERR_INTERNAL;
  if (code == 0) {
    VELQ_Value *stored = velqStoredCopy(value);
    if (!stored ||
        !VELQ_ValueInternals::store(array->getValueAsArray(), index->getValueAsInt32(), stored)) {
      delete stored;
      code = VELQ_ERR_OUT_OF_MEMORY;
    }
  }
  if (code != 0) {
    program.error(code);
    delete value;
  } else {
    push(program, value);
  }
  delete index;
  delete array;
}

// object -> attribute value, as the object's class answers it.
void VELQ_ProgramInternals::doAttributeGet(VELQ_Program &program, const char *name) {
  if (!name) name = "";  // the class is always asked about some name
  VELQ_Value *objectValue = static_cast<VELQ_Value *>(program.dataStack->pop());
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
      push(program, attribute);
    else
      code = VELQ_ERR_UNKNOWN_ATTRIBUTE;
  }
  if (code != 0) program.error(code);
  delete objectValue;
}

// object value -> value. The class reads the value and does not keep it.
void VELQ_ProgramInternals::doAttributeSet(VELQ_Program &program, const char *name) {
  if (!name) name = "";
  VELQ_Value *value = static_cast<VELQ_Value *>(program.dataStack->pop());
  VELQ_Value *objectValue = value ? static_cast<VELQ_Value *>(program.dataStack->pop()) : nullptr;
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
    program.error(code);
    delete value;
  } else {
    push(program, value);
  }
  delete objectValue;
}
