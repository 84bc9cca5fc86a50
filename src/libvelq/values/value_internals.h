// The engine's own access to values and arrays, beyond what hosts see.
#ifndef VELQ_VALUE_INTERNALS_H
#define VELQ_VALUE_INTERNALS_H

#include <stdint.h>

#include "velq_array.h"
#include "velq_object.h"
#include "velq_value.h"

struct VELQ_ValueInternals {
  // VELQ_Array::set that reports a failure instead of dropping the value: false, with
  // the array unchanged and value still the caller's, when no slot can be had.
  static bool store(VELQ_Array *array, int32_t index, VELQ_Value *value);

  // Maps every byte of the value's text form (rendered first if needed) through change,
  // in place; the type and the number stay as they are. Nothing for null, object and
  // array values, and for a number whose text cannot be rendered.
  static void changeText(VELQ_Value *value, int (*change)(int)) {
    uint32_t length = 0;
    if (!value->getValueAsString(&length) || !value->stringValid) return;
    for (uint32_t i = 0; i < length; i++)
      value->stringValue[i] = (char)change((unsigned char)value->stringValue[i]);
  }

  // VELQ_Value::concatenate that reports a failure: false, with the value as it was,
  // when memory for the joined text is refused.
  static bool append(VELQ_Value *value, const char *text, uint32_t length);

  // A new string value of length zero bytes whose text the caller then writes through
  // writableText and ends with textWritten (which reads it as a number, as a text
  // constructor does); null when memory is refused.
  static VELQ_Value *newText(uint32_t length) {
    VELQ_Value *value = new VELQ_Value(nullptr, length);
    if (value && !value->stringValid) {
      delete value;
      return nullptr;
    }
    return value;
  }
  static char *writableText(VELQ_Value *value) { return value->stringValue; }
  static void textWritten(VELQ_Value *value) {
    value->dataType = DTYPE_STRING;
    value->value.uint64 = 0;
    value->updateNumber();
  }

  // Whether an object record is counted with the other records of its data, so that
  // the last of them calls onObjectDelete (see VELQ_Object).
  static bool isCounted(const VELQ_Object *object) { return object->counted; }

  // Marks the arrays on the path of a deep copy (values/deep_copy.cpp).
  static bool onCopyPath(const VELQ_Array *array) { return array->onCopyPath; }
  static void setOnCopyPath(VELQ_Array *array, bool on) { array->onCopyPath = on; }

  // The chain of arrays waiting to be deleted (values/value.cpp).
  static void chainPendingArray(VELQ_Array *array, VELQ_Array *next) { array->pendingNext = next; }
  static VELQ_Array *nextPendingArray(const VELQ_Array *array) { return array->pendingNext; }
};

#endif
