// The engine's own access to values and arrays, beyond what hosts see.
#ifndef VELQ_VALUE_INTERNALS_H
#define VELQ_VALUE_INTERNALS_H

#include <stdint.h>

#include <new>

#include "velq_array.h"
#include "velq_object.h"
#include "velq_value.h"

struct VELQ_ValueInternals {
  // ---- Texts (values/text.cpp) ----

  // The characters of a new text block holding length bytes of text (zero bytes for a
  // null text) and a zero byte, with room for capacity bytes in all (at least length +
  // 1); null when memory is refused.
  static char *newTextBlock(const char *text, uint32_t length, uint32_t capacity);
  // Drops the value's text (its share of the block).
  static void releaseText(VELQ_Value *value);
  // Gives `to`, which has no text, a share of from's text.
  static void shareText(VELQ_Value *to, const VELQ_Value *from);
  // Gives `to`, which has no text, a block of its own with from's text; false when
  // memory is refused (then `to` has no text).
  static bool copyText(VELQ_Value *to, const VELQ_Value *from);
  // The value's text and its length for the engine's own reading (a number renders its
  // text first): not zero-terminated, and valid until the value or a value sharing its
  // block changes. Null for null, object and array.
  static const char *textView(VELQ_Value *value, uint32_t *length);
  // The value's text as the public readers hand it out: zero-terminated, and kept so
  // until the value changes.
  static const char *exposeText(VELQ_Value *value, uint32_t *length);
  // VELQ_Value::concatenate that reports a failure: false, with the value as it was,
  // when memory for the joined text is refused.
  static bool append(VELQ_Value *value, const char *text, uint32_t length);
  // The value's text, held by the value alone and zero-terminated, for the caller to
  // change in place; null for a value without text, or when memory is refused.
  static char *writableText(VELQ_Value *value);

  // ---- Copies (values/value.cpp) ----

  // The type and content of from, without its text, into `to` (an empty value): an object
  // value gets a record of its own, an array value one more reference.
  static void copyContent(VELQ_Value *to, const VELQ_Value *from);
  // A copy sharing from's text, into `to` (an empty value): what the engine pushes and
  // stores. Only the engine makes such copies; a host's copy gets a text of its own.
  static void shareCopy(VELQ_Value *to, const VELQ_Value *from) {
    copyContent(to, from);
    shareText(to, from);
  }
  // After its text was joined: the value becomes a string and reads it as a number.
  static void becomeString(VELQ_Value *value);

  // ---- Built-ins that make texts ----

  // A new string value of length zero bytes whose text the caller then writes through
  // textToWrite and ends with textWritten (which reads it as a number, as a text
  // constructor does); null when memory is refused.
  static VELQ_Value *newText(uint32_t length) {
    VELQ_Value *value = new VELQ_Value(nullptr, length);
    if (value && !value->stringValid) {
      delete value;
      return nullptr;
    }
    return value;
  }
  static char *textToWrite(VELQ_Value *value) { return value->stringValue; }
  static void textWritten(VELQ_Value *value) {
    value->dataType = DTYPE_STRING;
    value->value.uint64 = 0;
    value->updateNumber();
  }

  // Maps every byte of the value's text form (rendered first if needed) through change,
  // in place; the type and the number stay as they are. Nothing for null, object and
  // array values; false when memory for a text of its own is refused.
  static bool changeText(VELQ_Value *value, int (*change)(int)) {
    if (value->dataType < DTYPE_STRING) return true;
    char *text = writableText(value);
    if (!text) return false;
    for (uint32_t i = 0; i < value->stringLength; i++)
      text[i] = (char)change((unsigned char)text[i]);
    return true;
  }

  // ---- Arrays and objects ----

  // VELQ_Array::set that reports a failure instead of dropping the value: false, with
  // the array unchanged and value still the caller's, when no slot can be had.
  static bool store(VELQ_Array *array, int32_t index, VELQ_Value *value);

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
