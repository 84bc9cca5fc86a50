// Reference-counted sparse array of owned values, keyed by a signed 32-bit index.
#ifndef VELQ_ARRAY_H
#define VELQ_ARRAY_H

#include <stddef.h>
#include <stdint.h>

#include <atomic>

#include "velq_export.h"

class VELQ_Value;

struct VELQ_ArrayElement {
  int32_t index;
  VELQ_Value *value;
};

class VELQ_API VELQ_Array {
public:
  VELQ_Array();
  explicit VELQ_Array(const VELQ_Array *source);  // independent copy
  ~VELQ_Array();

  VELQ_Array(const VELQ_Array &) = delete;
  VELQ_Array &operator=(const VELQ_Array &) = delete;

  // The engine allocates arrays itself: new yields null when memory is refused.
  static void *operator new(size_t size) noexcept;
  static void operator delete(void *block, size_t size) noexcept;

  VELQ_Value *get(int32_t index) const;
  // Takes ownership of value. Without memory for a new slot the value is destroyed and
  // the array stays as it was.
  void set(int32_t index, VELQ_Value *value);

  // The count of values holding the array. Values holding one array may be released in
  // different threads (a host's copy of a result, say), so the count is atomic.
  void incRefCount() { refCount.fetch_add(1, std::memory_order_relaxed); }
  void decRefCount() { refCount.fetch_sub(1, std::memory_order_acq_rel); }
  int isUnused() const { return refCount.load(std::memory_order_acquire) <= 0; }

  // The number of elements, and the element slot at position i (0 <= i < size) in
  // ascending index order (null for a position outside that range), so that a host
  // function can walk an array.
  int32_t getSize() const { return size; }
  const VELQ_ArrayElement *getElement(int32_t position) const {
    return position >= 0 && position < size ? &elements[position] : nullptr;
  }

private:
  friend struct VELQ_ValueInternals;  // the engine's own access (values/value_internals.h)
  friend struct VELQ_TestAccess;

  std::atomic<int32_t> refCount;
  int32_t size;
  int32_t allocated;
  VELQ_ArrayElement *elements;
  VELQ_Array *pendingNext;  // chains arrays waiting to be deleted (values/value.cpp)
  bool onCopyPath;          // being copied by velqStoredCopy (values/deep_copy.cpp)
  int32_t lastFound;        // where the machine found an element last (values/array.cpp)
};

#endif
