// The typed value: construction, copying, readers, conversion and the text cache.
//
// A value holds a number, an object record or an array reference, and a text.
// For a string the text is the content; for a number it is a cache, either the
// text the number was read from or its rendering, dropped whenever the number
// changes. Texts are read as numbers only when they are given, and numbers are
// rendered only when their text is asked for, so the numeric readers and the type
// queries never parse, format or allocate.
#include <string.h>

#include "runtime/memory.h"
#include "values/number_text.h"
#include "values/value_internals.h"
#include "velq_array.h"
#include "velq_object.h"
#include "velq_value.h"

VELQ_DEFINE_POOLED_ALLOCATION(VELQ_Value)

namespace {

// Whether this thread is deleting arrays, and the arrays waiting to be deleted by
// that deletion, chained through the arrays themselves (see deleteArray).
thread_local bool deletingArrays = false;
thread_local VELQ_Array *pendingArrays = nullptr;

// Deletes an array that nothing refers to any more. Deleting an array destroys its
// elements, and an element's nested array would be deleted from inside that, one
// level of the machine stack per level of nesting: arrays nested a million deep
// would overflow it. Arrays met while another deletion runs are therefore only
// chained up, and the outermost deletion deletes them one after another. The chain
// needs no memory of its own, so a deletion cannot fail.
void deleteArray(VELQ_Array *array) {
  if (deletingArrays) {
    VELQ_ValueInternals::chainPendingArray(array, pendingArrays);
    pendingArrays = array;
    return;
  }
  deletingArrays = true;
  delete array;
  while (pendingArrays) {
    VELQ_Array *next = pendingArrays;
    pendingArrays = VELQ_ValueInternals::nextPendingArray(next);
    delete next;
  }
  deletingArrays = false;
}

// Drops what a value held besides its text: deletes its object record, or gives
// back its array reference and deletes the array once nothing refers to it.
void releaseHeld(int type, VELQ_Object *object, VELQ_Array *array) {
  if (type == DTYPE_OBJECT) {
    delete object;
  } else if (type == DTYPE_ARRAY && array) {
    // The value that takes the count to zero deletes the array: one step, so that of
    // two values released at once in two threads exactly one does.
    if (VELQ_ValueInternals::dropArrayReference(array)) deleteArray(array);
  }
}

}  // namespace

// INT64_MIN for NaN and out-of-range reals is also what the processor's own
// conversion yields; the range test keeps the C++ conversion defined.
int64_t VELQ_TruncateReal(double d) {
  if (d >= -9223372036854775808.0 && d < 9223372036854775808.0) return (int64_t)d;
  return INT64_MIN;
}

VELQ_Value::VELQ_Value() {}

// The copy a host makes has a text block of its own, so that it may go to another thread.
VELQ_Value::VELQ_Value(const VELQ_Value *source) : VELQ_Value() {
  if (!source) return;
  VELQ_ValueInternals::copyContent(this, source);
  if (!VELQ_ValueInternals::copyText(this, source) && dataType == DTYPE_STRING)
    dataType = DTYPE_NULL;  // no memory for the text; a number renders its text anew
}

VELQ_Value::VELQ_Value(VELQ_Object *object) : dataType(DTYPE_OBJECT) {
  value.object = object;
}

VELQ_Value::VELQ_Value(VELQ_Array *array) : dataType(DTYPE_ARRAY) {
  value.array = array;
  if (array) array->incRefCount();
}

VELQ_Value::VELQ_Value(int32_t n) : dataType(DTYPE_INT32) {
  value.int32 = n;
}

VELQ_Value::VELQ_Value(uint32_t n) : dataType(DTYPE_UINT32) {
  value.uint32 = n;
}

VELQ_Value::VELQ_Value(int64_t n) : dataType(DTYPE_INT64) {
  value.int64 = n;
}

VELQ_Value::VELQ_Value(uint64_t n) : dataType(DTYPE_UINT64) {
  value.uint64 = n;
}

VELQ_Value::VELQ_Value(double d) : dataType(DTYPE_REAL) {
  value.real = d;
}

namespace {

uint32_t textLength(const char *text) {
  if (!text) return 0;
  size_t length = strlen(text);
  return length > UINT32_MAX ? UINT32_MAX : (uint32_t)length;
}

}  // namespace

VELQ_Value::VELQ_Value(const char *text) : VELQ_Value(text, textLength(text)) {}

// Without memory for the text the value is null (velqAllocate has noted the failure).
VELQ_Value::VELQ_Value(const char *text, uint32_t length)
    : stringValue(VELQ_ValueInternals::newTextBlock(text, length, 0)) {
  if (!stringValue) return;
  stringLength = length;
  dataType = DTYPE_STRING;
  stringValid = 1;
  updateNumber();
}

VELQ_Value::~VELQ_Value() { releaseContent(); }

void VELQ_Value::releaseContent() {
  invalidateString();
  VELQ_Object *object = dataType == DTYPE_OBJECT ? value.object : nullptr;
  VELQ_Array *array = dataType == DTYPE_ARRAY ? value.array : nullptr;
  value.uint64 = 0;
  releaseHeld(dataType, object, array);
}

void VELQ_Value::invalidateString() { VELQ_ValueInternals::releaseText(this); }

// Reads the current text as a number: an automatic-base integer if the whole
// text is one (int32 from -2147483647 to 2147483647, else int64, saturated), else
// a decimal real if the whole text is one. The text itself stays as it is, and a
// text that is neither stays a string. A zero byte inside the text stops both
// parses short of stringLength, so such a text is always a string.
void VELQ_Value::updateNumber() {
  if (!stringValid || !stringValue) return;
  // Most texts are plainly not numbers: a number (of either kind) starts with white
  // space, a sign, a digit or a point. The empty text, which reads as 0, goes on.
  unsigned char first = (unsigned char)stringValue[0];
  if (stringLength > 0 && !(first >= '0' && first <= '9') && first != '-' && first != '+' &&
      first != '.' && first != ' ' && !(first >= '\t' && first <= '\r'))
    return;
  const char *end = nullptr;
  int64_t n = VELQ_ParseInt64(stringValue, &end);
  if ((size_t)(end - stringValue) == stringLength) {
    value.uint64 = 0;
    if (VELQ_IsTextInt32(n)) {
      dataType = DTYPE_INT32;
      value.int32 = (int32_t)n;
    } else {
      dataType = DTYPE_INT64;
      value.int64 = n;
    }
    return;
  }
  // Scanning first keeps texts such as "12abc" from being converted for nothing.
  if (VELQ_ScanReal(stringValue) == stringLength) {
    dataType = DTYPE_REAL;
    value.real = VELQ_ParseReal(stringValue, nullptr);
  }
}

size_t VELQ_ValueInternals::renderNumber(const VELQ_Value *value, char *buffer) {
  switch (value->dataType) {
    case DTYPE_REAL: {
      size_t length = VELQ_FormatReal(value->value.real, buffer, VELQ_REAL_TEXT_SIZE);
      // The buffer fits every real; should one not fit, it is cut.
      return length < VELQ_REAL_TEXT_SIZE ? length : VELQ_REAL_TEXT_SIZE - 1;
    }
    case DTYPE_INT32:
      return VELQ_FormatInt64(value->value.int32, buffer);
    case DTYPE_INT64:
      return VELQ_FormatInt64(value->value.int64, buffer);
    case DTYPE_UINT32:
      return VELQ_FormatUInt64(value->value.uint32, buffer);
    case DTYPE_UINT64:
      return VELQ_FormatUInt64(value->value.uint64, buffer);
    default:
      buffer[0] = '\0';
      return 0;
  }
}

// Renders the number as the value's new text.
void VELQ_Value::updateString() {
  char buffer[VELQ_REAL_TEXT_SIZE];
  size_t length = VELQ_ValueInternals::renderNumber(this, buffer);
  invalidateString();
  stringValue = VELQ_ValueInternals::newTextBlock(buffer, (uint32_t)length, 0);
  if (!stringValue) return;  // no memory: the text stays unrendered
  stringLength = (uint32_t)length;
  stringValid = 1;
}

// A number whose text cannot be given memory reads as the empty text.
const char *VELQ_Value::getValueAsCString() {
  uint32_t length;
  return VELQ_ValueInternals::exposeText(this, &length);
}

const char *VELQ_Value::getValueAsString(uint32_t *length) {
  uint32_t textLength;
  const char *text = VELQ_ValueInternals::exposeText(this, &textLength);
  if (length) *length = textLength;
  return text;
}

// The readers of one width return the same bits whether signed or unsigned, so
// all integer readers derive from the 64-bit two's-complement reading.
int64_t VELQ_Value::getValueAsInt64() const {
  switch (dataType) {
    case DTYPE_REAL:
      return VELQ_TruncateReal(value.real);
    case DTYPE_INT32:
      return value.int32;
    case DTYPE_INT64:
      return value.int64;
    case DTYPE_UINT32:
      return value.uint32;
    case DTYPE_UINT64:
      return (int64_t)value.uint64;
    default:
      return 0;
  }
}

uint64_t VELQ_Value::getValueAsUInt64() const { return (uint64_t)getValueAsInt64(); }

int32_t VELQ_Value::getValueAsInt32() const { return (int32_t)(uint32_t)getValueAsInt64(); }

uint32_t VELQ_Value::getValueAsUInt32() const { return (uint32_t)getValueAsInt64(); }

double VELQ_Value::getValueAsReal() const {
  switch (dataType) {
    case DTYPE_REAL:
      return value.real;
    case DTYPE_INT32:
      return value.int32;
    case DTYPE_INT64:
      return (double)value.int64;
    case DTYPE_UINT32:
      return value.uint32;
    case DTYPE_UINT64:
      return (double)value.uint64;
    default:
      return 0.0;
  }
}

// Only numbers are zero or not; NaN is not zero, so it counts as nonzero.
bool VELQ_Value::isZero() const {
  switch (dataType) {
    case DTYPE_REAL:
      return value.real == 0.0;
    case DTYPE_INT32:
    case DTYPE_UINT32:
      return value.uint32 == 0;
    case DTYPE_INT64:
    case DTYPE_UINT64:
      return value.uint64 == 0;
    default:
      return false;
  }
}

bool VELQ_Value::isNonZero() const { return isNumeric() && !isZero(); }

// Changes the value in place to the given type and tells whether it now counts
// as of that type. Values of a text form already count as strings; objects and
// arrays count as strings too and stay as they are. Unsigned 64-bit values never
// become reals, and null, object, array and string values become zero numbers.
bool VELQ_Value::convert(int type) {
  if (type == dataType) return true;
  if (type == DTYPE_STRING && dataType >= DTYPE_STRING) return true;
  if (type < DTYPE_STRING || type > DTYPE_UINT64) return false;
  if (type == DTYPE_REAL && dataType == DTYPE_UINT64) return false;

  if (type == DTYPE_STRING) {
    if (dataType == DTYPE_OBJECT || dataType == DTYPE_ARRAY) {
      invalidateString();
      return true;
    }
    // Null becomes a string without a text block, which reads as the empty text.
    releaseContent();
    dataType = DTYPE_STRING;
    return true;
  }

  double real = 0.0;
  uint64_t bits = 0;  // the two's-complement integer, for the integer targets
  switch (dataType) {
    case DTYPE_REAL:
      bits = (uint64_t)VELQ_TruncateReal(value.real);
      break;
    case DTYPE_INT32:
      bits = (uint64_t)(int64_t)value.int32;
      real = value.int32;
      break;
    case DTYPE_INT64:
      bits = value.uint64;
      real = (double)value.int64;
      break;
    case DTYPE_UINT32:
      bits = value.uint32;
      real = value.uint32;
      break;
    case DTYPE_UINT64:
      bits = value.uint64;
      break;
    default:
      break;
  }
  releaseContent();
  dataType = (uint8_t)type;
  switch (type) {
    case DTYPE_REAL:
      value.real = real;
      break;
    case DTYPE_INT32:
      value.int32 = (int32_t)(uint32_t)bits;
      break;
    case DTYPE_UINT32:
      value.uint32 = (uint32_t)bits;
      break;
    case DTYPE_INT64:
      value.int64 = (int64_t)bits;
      break;
    default:
      value.uint64 = bits;
      break;
  }
  return true;
}

void VELQ_Value::set(int32_t n) {
  releaseContent();
  dataType = DTYPE_INT32;
  value.int32 = n;
}

// Appends length bytes to the value's text (rendering the number first if it has
// no text) and reads the joined text as a number. A null text appends zero bytes.
// Without memory for the joined text the value stays as it was.
void VELQ_Value::concatenate(const char *text, uint32_t length) {
  VELQ_ValueInternals::append(this, text, length);
}

// After its text was joined: the value is a string, holding no object or array any
// more, and its text is read as a number.
void VELQ_ValueInternals::becomeString(VELQ_Value *value) {
  VELQ_Object *object = value->dataType == DTYPE_OBJECT ? value->value.object : nullptr;
  VELQ_Array *array = value->dataType == DTYPE_ARRAY ? value->value.array : nullptr;
  int oldType = value->dataType;
  value->dataType = DTYPE_STRING;
  value->value.uint64 = 0;
  releaseHeld(oldType, object, array);
  value->updateNumber();
}

// The type and content of source without its text: an object value gets a record of its
// own (sharing the class and the data), an array value one more reference on the array.
void VELQ_ValueInternals::copyContent(VELQ_Value *to, const VELQ_Value *from) {
  to->dataType = from->dataType;
  if (from->dataType == DTYPE_OBJECT) {
    to->value.object = from->value.object ? new VELQ_Object(from->value.object) : nullptr;
  } else if (from->dataType == DTYPE_ARRAY) {
    to->value.array = from->value.array;
    if (to->value.array) to->value.array->incRefCount();
  } else {
    to->value = from->value;
  }
}
