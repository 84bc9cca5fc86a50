// The single run-time datum of the engine: a typed value with a cached text form.
#ifndef VELQ_VALUE_H
#define VELQ_VALUE_H

#include <stddef.h>
#include <stdint.h>

#include "velq_export.h"

class VELQ_Object;
class VELQ_Array;

// Type codes. Their order matters: 3 and above have a text form, 4 and above
// are numbers, 5 and above integers, 7 and above unsigned.
enum {
  DTYPE_NULL = 0,
  DTYPE_OBJECT = 1,
  DTYPE_ARRAY = 2,
  DTYPE_STRING = 3,
  DTYPE_REAL = 4,
  DTYPE_INT32 = 5,
  DTYPE_INT64 = 6,
  DTYPE_UINT32 = 7,
  DTYPE_UINT64 = 8
};

enum { VELQ_TYPE_COUNT = 9 };

// Names of the type codes, indexed by code ("null", "object", "array", ...).
VELQ_API extern const char *const VELQ_TypeNames[VELQ_TYPE_COUNT];

// The name of a type code, or "unknown" for a code outside the table.
VELQ_API const char *VELQ_TypeName(int type);

class VELQ_API VELQ_Value {
public:
  VELQ_Value();
  explicit VELQ_Value(const VELQ_Value *source);
  explicit VELQ_Value(VELQ_Object *object);  // takes ownership of the record
  explicit VELQ_Value(VELQ_Array *array);    // adds one reference
  explicit VELQ_Value(int32_t n);
  explicit VELQ_Value(uint32_t n);
  explicit VELQ_Value(int64_t n);
  explicit VELQ_Value(uint64_t n);
  explicit VELQ_Value(double d);
  // A value made from text is null when memory for the text is refused.
  explicit VELQ_Value(const char *text);                   // zero-terminated, may be null
  VELQ_Value(const char *text, uint32_t length);          // counted, zero bytes kept
  ~VELQ_Value();

  VELQ_Value(const VELQ_Value &) = delete;
  VELQ_Value &operator=(const VELQ_Value &) = delete;

  // The engine allocates values itself: new yields null when memory is refused.
  static void *operator new(size_t size) noexcept;
  static void operator delete(void *block, size_t size) noexcept;

  int getDataType() const { return dataType; }
  bool isNull() const { return dataType == DTYPE_NULL; }
  bool isObject() const { return dataType == DTYPE_OBJECT; }
  bool isArray() const { return dataType == DTYPE_ARRAY; }
  bool isString() const { return dataType >= DTYPE_STRING; }
  bool isNumeric() const { return dataType >= DTYPE_REAL; }
  bool isReal() const { return dataType == DTYPE_REAL; }
  bool isInteger() const { return dataType >= DTYPE_INT32; }
  bool isUnsigned() const { return dataType >= DTYPE_UINT32; }

  VELQ_Object *getValueAsObject() const { return dataType == DTYPE_OBJECT ? value.object : nullptr; }
  VELQ_Array *getValueAsArray() const { return dataType == DTYPE_ARRAY ? value.array : nullptr; }

  // Text readers render a number's text on first use; null for null, object and array.
  const char *getValueAsCString();
  const char *getValueAsString(uint32_t *length);

  int32_t getValueAsInt32() const;
  uint32_t getValueAsUInt32() const;
  int64_t getValueAsInt64() const;
  uint64_t getValueAsUInt64() const;
  double getValueAsReal() const;

  bool isZero() const;
  bool isNonZero() const;

  bool convert(int type);
  void set(int32_t n);
  void concatenate(const char *text, uint32_t length);

  // One-operand steps and two-operand operations on the receiver's own type.
  void increment();
  void decrement();
  void negate();
  void bitNot();
  int EQ(const VELQ_Value *other) const;
  int LT(const VELQ_Value *other) const;
  int LE(const VELQ_Value *other) const;
  int GT(const VELQ_Value *other) const;
  int GE(const VELQ_Value *other) const;
  void add(const VELQ_Value *other);
  void sub(const VELQ_Value *other);
  void mul(const VELQ_Value *other);
  void div(const VELQ_Value *other);
  void rem(const VELQ_Value *other);
  void bitAnd(const VELQ_Value *other);
  void bitOr(const VELQ_Value *other);
  void bitXor(const VELQ_Value *other);
  void lshift(int32_t count);
  void rshift(int32_t count);

protected:
  void invalidateString();
  void updateNumber();
  void updateString();

private:
  friend struct VELQ_ValueInternals;  // the engine's own access (values/value_internals.h)
  friend struct VELQ_TestAccess;

  void releaseContent();  // drops text, object record or array reference

  uint32_t stringLength = 0;
  char *stringValue = nullptr;  // the text, in a block that copies of the value may share
  uint8_t dataType = DTYPE_NULL;
  uint8_t stringValid = 0;
  uint8_t textExposed = 0;  // a pointer to the text was handed out (values/text.cpp)
  union {
    double real;
    int32_t int32;
    uint32_t uint32;
    int64_t int64;
    uint64_t uint64;
    VELQ_Object *object;
    VELQ_Array *array;
  } value = {};
};

#endif
