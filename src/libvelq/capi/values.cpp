// Values and arrays of the C interface. A handle is the engine's own VELQ_Value; what
// goes in is copied and what comes out is a copy the caller owns, arrays included at
// every level, so a host never shares an array with a script behind its back.
#include <limits.h>
#include <string.h>

#include "capi/capi.h"
#include "runtime/memory.h"
#include "values/deep_copy.h"

namespace {

// Hands a new value to the caller, or reports that memory for it was refused (and *out
// is NULL, so that a host may free it either way).
velq_status give(VELQ_Value *value, velq_value **out) {
  *out = value ? velqHandle(value) : nullptr;
  return value ? VELQ_OK : VELQ_STATUS_NO_MEMORY;
}

// Reads a number for the host: texts convert as the language's casts do (to 0), while
// null, arrays and objects are no numbers at all.
const VELQ_Value *numberSource(const velq_value *value) {
  const VELQ_Value *source = velqValue(value);
  return source && source->isString() ? source : nullptr;
}

// An array index as the language reads one: an integer, or text that reads as one.
bool readIndex(const char *key, int32_t *index) {
  if (!key) return false;
  VELQ_Value number(key);
  if (!number.isInteger()) return false;
  if (number.isUnsigned()
          ? number.getValueAsUInt64() > INT32_MAX
          : number.getValueAsInt64() < INT32_MIN || number.getValueAsInt64() > INT32_MAX)
    return false;
  *index = number.getValueAsInt32();
  return true;
}

VELQ_Array *arrayOf(const velq_value *value) {
  const VELQ_Value *source = velqValue(value);
  return source ? source->getValueAsArray() : nullptr;
}

velq_status getElement(const velq_value *array, int32_t index, velq_value **out) {
  if (out) *out = nullptr;
  VELQ_Array *elements = arrayOf(array);
  if (!elements || !out) return VELQ_STATUS_INVALID;
  const VELQ_Value *element = elements->get(index);
  return give(element ? velqCapiCopy(element) : new VELQ_Value(), out);
}

velq_status setElement(velq_value *array, int32_t index, const velq_value *value) {
  VELQ_Array *elements = arrayOf(array);
  if (!elements || !value) return VELQ_STATUS_INVALID;
  VELQ_Value *copy = velqCapiCopy(velqValue(value));
  if (!copy) return VELQ_STATUS_NO_MEMORY;
  // The array destroys the copy when it cannot make room for it.
  elements->set(index, copy);
  return elements->get(index) == copy ? VELQ_OK : VELQ_STATUS_NO_MEMORY;
}

}  // namespace

// A copy made outside a run finds a failure of its nested parts only through the
// allocation note, which the copy must not take from a run in progress (a host function
// may copy values): the note it found is put back.
VELQ_Value *velqCapiCopy(const VELQ_Value *source) {
  VELQ_AllocationFailure before = velqAllocationFailure();
  velqClearAllocationFailure();
  VELQ_Value *copy = velqStoredCopy(source);
  if (copy && velqAllocationFailed()) {
    delete copy;
    copy = nullptr;
  }
  if (before != VELQ_ALLOCATION_OK) velqNoteAllocationFailure(before);
  return copy;
}

extern "C" {

const char *velq_version(void) { return VELQ_VERSION; }

velq_status velq_value_null(velq_value **out) {
  if (!out) return VELQ_STATUS_INVALID;
  return give(new VELQ_Value(), out);
}

velq_status velq_value_int(int64_t n, velq_value **out) {
  if (!out) return VELQ_STATUS_INVALID;
  if (n >= INT32_MIN && n <= INT32_MAX) return give(new VELQ_Value((int32_t)n), out);
  return give(new VELQ_Value(n), out);
}

velq_status velq_value_uint(uint64_t n, velq_value **out) {
  if (!out) return VELQ_STATUS_INVALID;
  if (n <= UINT32_MAX) return give(new VELQ_Value((uint32_t)n), out);
  return give(new VELQ_Value(n), out);
}

velq_status velq_value_real(double d, velq_value **out) {
  if (!out) return VELQ_STATUS_INVALID;
  return give(new VELQ_Value(d), out);
}

velq_status velq_value_bool(int b, velq_value **out) {
  if (!out) return VELQ_STATUS_INVALID;
  return give(new VELQ_Value((int32_t)(b != 0)), out);
}

velq_status velq_value_text(const char *text, size_t length, velq_value **out) {
  if (out) *out = nullptr;
  if (!out || (!text && length > 0) || length > UINT32_MAX) return VELQ_STATUS_INVALID;
  VELQ_Value *value = new VELQ_Value(text ? text : "", (uint32_t)length);
  // A text value whose text could not get memory is null.
  if (value && value->isNull()) {
    delete value;
    value = nullptr;
  }
  return give(value, out);
}

velq_status velq_value_copy(const velq_value *value, velq_value **out) {
  if (out) *out = nullptr;
  if (!value || !out) return VELQ_STATUS_INVALID;
  return give(velqCapiCopy(velqValue(value)), out);
}

void velq_value_free(velq_value *value) { delete velqValue(value); }

int velq_value_type(const velq_value *value) {
  return value ? velqValue(value)->getDataType() : VELQ_TYPE_NULL;
}

const char *velq_type_name(int type) { return VELQ_TypeName(type); }

velq_status velq_value_get_int(const velq_value *value, int64_t *out) {
  const VELQ_Value *source = numberSource(value);
  if (!source || !out) return VELQ_STATUS_INVALID;
  *out = source->getValueAsInt64();
  return VELQ_OK;
}

velq_status velq_value_get_uint(const velq_value *value, uint64_t *out) {
  const VELQ_Value *source = numberSource(value);
  if (!source || !out) return VELQ_STATUS_INVALID;
  *out = source->getValueAsUInt64();
  return VELQ_OK;
}

velq_status velq_value_get_real(const velq_value *value, double *out) {
  const VELQ_Value *source = numberSource(value);
  if (!source || !out) return VELQ_STATUS_INVALID;
  *out = source->getValueAsReal();
  return VELQ_OK;
}

velq_status velq_value_get_bool(const velq_value *value, int *out) {
  const VELQ_Value *source = numberSource(value);
  if (!source || !out) return VELQ_STATUS_INVALID;
  *out = source->isNonZero() ? 1 : 0;
  return VELQ_OK;
}

// A number renders its text on first reading, which changes only the value's cache.
velq_status velq_value_get_text(const velq_value *value, const char **text, size_t *length) {
  if (!value || !text) return VELQ_STATUS_INVALID;
  VELQ_Value *source = const_cast<VELQ_Value *>(velqValue(value));
  if (!source->isString()) return VELQ_STATUS_INVALID;
  uint32_t size = 0;
  const char *chars = source->getValueAsString(&size);
  if (!chars) return VELQ_STATUS_NO_MEMORY;
  *text = chars;
  if (length) *length = size;
  return VELQ_OK;
}

int64_t velq_as_int(const velq_value *value, int64_t fallback) {
  int64_t n;
  return velq_value_get_int(value, &n) == VELQ_OK ? n : fallback;
}

double velq_as_real(const velq_value *value, double fallback) {
  double d;
  return velq_value_get_real(value, &d) == VELQ_OK ? d : fallback;
}

const char *velq_as_text(const velq_value *value, const char *fallback) {
  const char *text;
  return velq_value_get_text(value, &text, nullptr) == VELQ_OK ? text : fallback;
}

velq_status velq_value_get_object(const velq_value *value, void **object, const char **class_name) {
  VELQ_Object *record = value ? velqValue(value)->getValueAsObject() : nullptr;
  if (!record) return VELQ_STATUS_INVALID;
  if (object) *object = record->getData();
  if (class_name) *class_name = record->getClass() ? record->getClass()->getName() : "";
  return VELQ_OK;
}

velq_status velq_array_new(velq_value **out) {
  if (!out) return VELQ_STATUS_INVALID;
  VELQ_Array *array = new VELQ_Array();
  if (!array) return VELQ_STATUS_NO_MEMORY;
  VELQ_Value *value = new VELQ_Value(array);
  if (!value) delete array;
  return give(value, out);
}

velq_status velq_array_size(const velq_value *array, size_t *size) {
  VELQ_Array *elements = arrayOf(array);
  if (!elements || !size) return VELQ_STATUS_INVALID;
  *size = (size_t)elements->getSize();
  return VELQ_OK;
}

velq_status velq_array_get(const velq_value *array, int32_t index, velq_value **out) {
  return getElement(array, index, out);
}

velq_status velq_array_set(velq_value *array, int32_t index, const velq_value *value) {
  return setElement(array, index, value);
}

velq_status velq_array_get_key(const velq_value *array, const char *key, velq_value **out) {
  if (out) *out = nullptr;
  int32_t index;
  if (!readIndex(key, &index)) return VELQ_STATUS_INVALID;
  return getElement(array, index, out);
}

velq_status velq_array_set_key(velq_value *array, const char *key, const velq_value *value) {
  int32_t index;
  if (!readIndex(key, &index)) return VELQ_STATUS_INVALID;
  return setElement(array, index, value);
}

velq_status velq_array_entry(const velq_value *array, size_t position, int32_t *index,
                             velq_value **value) {
  if (value) *value = nullptr;
  VELQ_Array *elements = arrayOf(array);
  if (!elements || position >= (size_t)elements->getSize()) return VELQ_STATUS_INVALID;
  const VELQ_ArrayElement *entry = elements->getElement((int32_t)position);
  if (!entry) return VELQ_STATUS_INVALID;
  if (value) {
    VELQ_Value *copy = entry->value ? velqCapiCopy(entry->value) : new VELQ_Value();
    if (!copy) return VELQ_STATUS_NO_MEMORY;
    *value = velqHandle(copy);
  }
  if (index) *index = entry->index;
  return VELQ_OK;
}

}  // extern "C"
