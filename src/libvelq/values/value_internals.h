// The engine's own access to values and arrays, beyond what hosts see.
#ifndef VELQ_VALUE_INTERNALS_H
#define VELQ_VALUE_INTERNALS_H

#include <stdint.h>
#include <string.h>

#include <new>

#include "runtime/force_inline.h"
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
  // Whether the value holds its text now (a number may not have rendered its text yet).
  static bool hasText(const VELQ_Value *value) { return value->stringValid; }
  // Writes the text of a number into buffer (VELQ_REAL_TEXT_SIZE bytes), zero-terminated,
  // and returns its length: "%f" for reals, plain decimal for the integers, the empty
  // text for every other type. Allocates nothing.
  static size_t renderNumber(const VELQ_Value *value, char *buffer);
  // The value's text as the public readers hand it out: zero-terminated, and kept so
  // until the value changes.
  static const char *exposeText(VELQ_Value *value, uint32_t *length);
  // VELQ_Value::concatenate that reports a failure: false, with the value as it was,
  // when memory for the joined text is refused.
  static bool append(VELQ_Value *value, const char *text, uint32_t length);
  // The value's text, held by the value alone and zero-terminated, for the caller to
  // change in place; null for a value without text, or when memory is refused.
  static char *writableText(VELQ_Value *value);
  // Gives the value a text block of its own if it shares one (it is about to leave the
  // run). Without memory for it the value keeps the shared block.
  static void ownText(VELQ_Value *value);

  // Gives back one reference to the array; true when it was the last one.
  static bool dropArrayReference(VELQ_Array *array) {
    return array->refCount.fetch_sub(1, std::memory_order_acq_rel) <= 1;
  }

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

  // ---- Values held in place (the machine's data stack, a variable's own value) ----
  // A slot is raw memory until a value is put into it; `put` functions build a value in
  // a raw slot, `drop` ends the value in a slot.

  // Whether the value holds nothing that another value could share or that must be
  // released: null, or a number without a text.
  VELQ_FORCE_INLINE static bool isPlain(const VELQ_Value *value) {
    // Objects and arrays are types 1 and 2.
    return !value->stringValue && (uint8_t)(value->dataType - DTYPE_OBJECT) > 1;
  }
  VELQ_FORCE_INLINE static int typeOf(const VELQ_Value *value) { return value->dataType; }
  VELQ_FORCE_INLINE static void putNull(VELQ_Value *slot) { memset((void *)slot, 0, sizeof *slot); }
  VELQ_FORCE_INLINE static void putInt32(VELQ_Value *slot, int32_t n) {
    putNull(slot);
    slot->dataType = DTYPE_INT32;
    slot->value.int32 = n;
  }
  // The engine's copy of from (sharing its text) built in a raw slot.
  VELQ_FORCE_INLINE static void putCopy(VELQ_Value *slot, const VELQ_Value *from) {
    if (isPlain(from)) {
      memcpy((void *)slot, (const void *)from, sizeof *slot);
    } else {
      putNull(slot);
      shareCopy(slot, from);
    }
  }
  // Moves the value from one place to a raw slot; `from` is raw afterwards.
  VELQ_FORCE_INLINE static void move(VELQ_Value *slot, VELQ_Value *from) {
    memcpy((void *)slot, (const void *)from, sizeof *slot);
  }
  VELQ_FORCE_INLINE static void drop(VELQ_Value *slot) {
    if (!isPlain(slot)) slot->~VELQ_Value();
  }
  // Replaces what target holds by the engine's copy of from.
  VELQ_FORCE_INLINE static void assign(VELQ_Value *target, const VELQ_Value *from) {
    if (target == from) return;
    drop(target);
    putCopy(target, from);
  }

  // Replaces what target holds by what fresh holds, and frees fresh's own record: a
  // value that was made on the heap to be stored in place.
  static void replaceWith(VELQ_Value *target, VELQ_Value *fresh) {
    drop(target);
    move(target, fresh);
    VELQ_Value::operator delete(fresh, sizeof *fresh);
  }

  // The numbers of a plain value, for the machine's fast paths.
  VELQ_FORCE_INLINE static int32_t &int32Of(VELQ_Value *value) { return value->value.int32; }
  VELQ_FORCE_INLINE static double &realOf(VELQ_Value *value) { return value->value.real; }
  VELQ_FORCE_INLINE static uint64_t &uint64Of(VELQ_Value *value) { return value->value.uint64; }
  VELQ_FORCE_INLINE static void setType(VELQ_Value *value, int type) {
    value->dataType = (uint8_t)type;
  }

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

  // VELQ_Array::get for the machine, which remembers where it found the element.
  static VELQ_Value *element(VELQ_Array *array, int32_t index);
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
