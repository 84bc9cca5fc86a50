// Reference-counted sparse array of owned values, keyed by a signed 32-bit index.
#ifndef VELQ_ARRAY_H
#define VELQ_ARRAY_H

#include <stdint.h>

class VELQ_Value;

struct ArrayElement {
  int32_t index;
  VELQ_Value *value;
};

class VELQ_Array {
public:
  VELQ_Array();
  explicit VELQ_Array(const VELQ_Array *source);  // independent copy
  ~VELQ_Array();

  VELQ_Array(const VELQ_Array &) = delete;
  VELQ_Array &operator=(const VELQ_Array &) = delete;

  VELQ_Value *get(int32_t index) const;
  void set(int32_t index, VELQ_Value *value);  // takes ownership of value

  void incRefCount() { refCount++; }
  void decRefCount() { refCount--; }
  int isUnused() const { return refCount <= 0; }

  int32_t getRefCount() const { return refCount; }
  int32_t getSize() const { return size; }
  int32_t getAllocated() const { return allocated; }
  // The element slot at position i (0 <= i < size), in ascending index order; null for
  // a position outside that range.
  const ArrayElement *getElement(int32_t position) const {
    return position >= 0 && position < size ? &elements[position] : nullptr;
  }

private:
  int32_t refCount;
  int32_t size;
  int32_t allocated;
  ArrayElement *elements;
};

#endif
