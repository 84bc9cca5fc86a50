// Array declaration, element access and object attribute access.
#include <exception>

#include "runtime/variable_internals.h"
#include "values/deep_copy.h"
#include "values/value_internals.h"
#include "velq_array.h"
#include "velq_object.h"
#include "velq_program.h"
#include "velq_value.h"
#include "velq_variable.h"
#include "vm/program_internals.h"

// name is the program's interned copy, which the new local keeps (as createVariable
// would make it, but without a copy of its own).
void VELQ_ProgramInternals::doArrayDeclare(VELQ_Program &program, const char *name) {
  if (nameTaken(program, name)) {
    errorAbout(program, VELQ_ERR_VARIABLE_EXISTS, name);
    return;
  }
  VELQ_Variable *variable = VELQ_RuntimeInternals::createBorrowing(
      program.locals, name, &program.internals->machine.spares);
  if (!variable) {
    program.error(VELQ_ERR_OUT_OF_MEMORY);
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

namespace {

typedef VELQ_ValueInternals V;

// Room for a value kept aside for a moment, outside the stack.
struct HeldValue {
  alignas(VELQ_Value) unsigned char bytes[sizeof(VELQ_Value)];
  VELQ_Value *get() { return reinterpret_cast<VELQ_Value *>(bytes); }
};

// The error of element access on array and index (EGET checks the array first, ESET the
// index first), or 0.
int elementAccessError(VELQ_Value *array, VELQ_Value *index, bool indexFirst) {
  if (indexFirst && !index->isInteger()) return VELQ_ERR_INDEX_NOT_INTEGER;
  if (!array->isArray()) return VELQ_ERR_NOT_ARRAY;
  if (!index->isInteger()) return VELQ_ERR_INDEX_NOT_INTEGER;
  if (!array->getValueAsArray()) return VELQ_ERR_INTERNAL;
  return 0;
}

}  // namespace

// array index -> element. A nested array is shared with the element, so writes through the
// pushed value reach it. An array value that holds no array (a host can make one) is an
// internal error, as an object value without its record is for the attribute operator.
void VELQ_ProgramInternals::doElementGet(VELQ_Program &program) {
  VELQ_Value *index = peekValue(program, 0);
  VELQ_Value *array = peekValue(program, 1);
  int code = !index || !array ? VELQ_ERR_STACK_UNDERFLOW : elementAccessError(array, index, false);
  if (code != 0) {
    popValues(program, 2);
    program.error(code);
    return;
  }
  // The element is copied before the array value goes, which may be the array's last.
  HeldValue element;
  const VELQ_Value *stored =
      VELQ_ValueInternals::element(array->getValueAsArray(), index->getValueAsInt32());
  if (stored) {
    V::putCopy(element.get(), stored);
  } else {
    V::putNull(element.get());  // a missing element reads as null
  }
  popValues(program, 2);
  V::move(program.internals->machine.sp++, element.get());
}

// array index value -> value. The index is checked before the array.
void VELQ_ProgramInternals::doElementSet(VELQ_Program &program) {
  VELQ_Value *value = peekValue(program, 0);
  VELQ_Value *index = peekValue(program, 1);
  VELQ_Value *array = peekValue(program, 2);
  int code = !value || !index || !array ? VELQ_ERR_STACK_UNDERFLOW
                                        : elementAccessError(array, index, true);
  if (code == 0) {
    VELQ_Value *stored = velqStoredCopy(value);
    if (!stored ||
        !VELQ_ValueInternals::store(array->getValueAsArray(), index->getValueAsInt32(), stored)) {
      delete stored;
      code = VELQ_ERR_OUT_OF_MEMORY;
    }
  }
  if (code != 0) {
    popValues(program, 3);
    program.error(code);
    return;
  }
  // The value stays as the value of the assignment, in the array's place.
  HeldValue result;
  V::move(result.get(), value);
  program.internals->machine.sp--;
  popValues(program, 2);
  V::move(program.internals->machine.sp++, result.get());
}

void VELQ_ProgramInternals::refuseElementSet(VELQ_Program &program) {
  popValues(program, 3);
  program.error(VELQ_ERR_OUT_OF_MEMORY);
}

namespace {

// Runs a call of the host's class; an exception it throws gives error 31 with its text as
// the detail, else 0.
template <typename Call>
int hostClassCall(VELQ_Program &program, Call call) {
  try {
    call();
    return 0;
  } catch (const std::exception &exception) {
    program.setErrorDetail(exception.what());
  } catch (...) {
    program.setErrorDetail("an exception that is not a std::exception");
  }
  return VELQ_ERR_HOST_EXCEPTION;
}

}  // namespace

// object -> attribute value, as the object's class answers it.
void VELQ_ProgramInternals::doAttributeGet(VELQ_Program &program, const char *name) {
  if (!name) name = "";  // the class is always asked about some name
  VELQ_Value *objectValue = peekValue(program);
  int code = 0;
  VELQ_Object *object = nullptr;
  if (!objectValue)
    code = VELQ_ERR_STACK_UNDERFLOW;
  else if (!objectValue->isObject())
    code = VELQ_ERR_NOT_OBJECT;
  else if (!(object = objectValue->getValueAsObject()) || !object->getClass())
    code = VELQ_ERR_INTERNAL;
  VELQ_Value *attribute = nullptr;
  if (code == 0) {
    code = hostClassCall(program, [&] { attribute = object->getClass()->getAttr(object, name); });
    noteShape(program);  // the class is the host's code
  }
  if (code == 0 && !attribute) code = VELQ_ERR_UNKNOWN_ATTRIBUTE;
  popValues(program, 1);
  if (code != 0) {
    errorAbout(program, code, name);
    return;
  }
  pushNew(program, attribute);
}

// object value -> value. The class reads the value and does not keep it.
void VELQ_ProgramInternals::doAttributeSet(VELQ_Program &program, const char *name) {
  if (!name) name = "";
  VELQ_Value *value = peekValue(program, 0);
  VELQ_Value *objectValue = peekValue(program, 1);
  int code = 0;
  VELQ_Object *object = nullptr;
  if (!value || !objectValue) {
    code = VELQ_ERR_STACK_UNDERFLOW;
  } else if (!objectValue->isObject()) {
    code = VELQ_ERR_NOT_OBJECT;
  } else if (!(object = objectValue->getValueAsObject()) || !object->getClass()) {
    code = VELQ_ERR_INTERNAL;
  } else {
    int set = 0;
    code = hostClassCall(program, [&] { set = object->getClass()->setAttr(object, name, value); });
    if (code == 0 && !set) code = VELQ_ERR_UNKNOWN_ATTRIBUTE;
    noteShape(program);
  }
  if (code != 0) {
    popValues(program, 2);
    errorAbout(program, code, name);
    return;
  }
  HeldValue result;
  V::move(result.get(), value);
  program.internals->machine.sp--;
  popValues(program, 1);
  V::move(program.internals->machine.sp++, result.get());
}
