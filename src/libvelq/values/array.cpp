// The sparse array: element slots sorted by index, found by binary search.
#include <string.h>

#include "runtime/memory.h"
#include "runtime/run_limits.h"
#include "values/value_internals.h"
#include "velq_array.h"
#include "velq_value.h"

VELQ_DEFINE_POOLED_ALLOCATION(VELQ_Array)

namespace {

// A slot block starts with this many slots and doubles whenever it is full, so that n
// stores cost O(n) in all (32, 64, 128, ...).
enum { ARRAY_FIRST_SLOTS = 32 };

// The slot count after `allocated` slots are full: double, up to the most an array counts.
int32_t grownSlots(int32_t allocated) {
  if (allocated < ARRAY_FIRST_SLOTS) return ARRAY_FIRST_SLOTS;
  return allocated > INT32_MAX / 2 ? INT32_MAX : allocated * 2;
}

// The position of the first of the size slots whose index is not below index:
// the slot holding it, or where it belongs.
int32_t lowerBound(const VELQ_ArrayElement *elements, int32_t size, int32_t index) {
  int32_t low = 0;
  int32_t high = size;
  while (low < high) {
    int32_t middle = low + (high - low) / 2;
    if (elements[middle].index < index) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return low;
}

}  // namespace

VELQ_Array::VELQ_Array()
    : refCount(0), size(0), allocated(0), elements(nullptr), pendingNext(nullptr),
      onCopyPath(false),
      lastFound(0) {}

// The copy holds exactly the source's elements, each value copied: texts are
// duplicated, objects get records of their own, nested arrays are shared. Without
// memory for the slots the copy is empty; an element whose value cannot be copied is
// kept as a null pointer. A copy made in a run that has been stopped (cancelled, or past
// its deadline) while it copies ends with the elements copied so far.
VELQ_Array::VELQ_Array(const VELQ_Array *source)
    : refCount(0), size(0), allocated(0), elements(nullptr), pendingNext(nullptr),
      onCopyPath(false),
      lastFound(0) {
  if (!source || source->size <= 0) return;
  elements = static_cast<VELQ_ArrayElement *>(
      velqAllocate(sizeof(VELQ_ArrayElement) * (size_t)source->size));
  if (!elements) return;
  int32_t copied = 0;
  for (; copied < source->size; copied++) {
    // A large copy asks now and then whether the run in progress may go on.
    if ((copied & 0xFFF) == 0xFFF && !velqChargeWork(0x1000 * VELQ_WORK_PER_VALUE)) break;
    const VELQ_ArrayElement &from = source->elements[copied];
    elements[copied].index = from.index;
    elements[copied].value = from.value ? new VELQ_Value(from.value) : nullptr;
  }
  size = copied;
  allocated = source->size;
}

VELQ_Array::~VELQ_Array() {
  for (int32_t i = 0; i < size; i++) delete elements[i].value;
  velqRelease(elements);
}

VELQ_Value *VELQ_Array::get(int32_t index) const {
  int32_t position = lowerBound(elements, size, index);
  if (position < size && elements[position].index == index) return elements[position].value;
  return nullptr;
}

void VELQ_Array::set(int32_t index, VELQ_Value *value) {
  if (!VELQ_ValueInternals::store(this, index, value)) delete value;
}

// Stores value under index, replacing (and destroying) the value held there. A new
// index above the last one is appended; one elsewhere moves the slots after its place
// up by one, which keeps the slots sorted without sorting them again. False, with the
// array unchanged and value still the caller's, when no slot can be had: memory is
// refused, or every one of the 2^31 - 1 slots an array can count is taken.
// Scripts mostly walk an array in order, forwards or backwards: the machine tries the
// element next to the one it found last before it searches.
VELQ_Value *VELQ_ValueInternals::element(VELQ_Array *array, int32_t index) {
  const VELQ_ArrayElement *elements = array->elements;
  int32_t size = array->size;
  for (int32_t near = array->lastFound - 1; near <= array->lastFound + 1; near++) {
    if (near >= 0 && near < size && elements[near].index == index) {
      array->lastFound = near;
      return elements[near].value;
    }
  }
  // An index past the last one, as a store that fills an array in order asks about.
  if (size == 0 || elements[size - 1].index < index) return nullptr;
  int32_t position = lowerBound(elements, size, index);
  if (position < size && elements[position].index == index) {
    array->lastFound = position;
    return elements[position].value;
  }
  return nullptr;
}

bool VELQ_ValueInternals::store(VELQ_Array *array, int32_t index, VELQ_Value *value) {
  VELQ_ArrayElement *&elements = array->elements;
  int32_t &size = array->size;
  int32_t position = size;
  if (size > 0 && elements[size - 1].index >= index) {
    position = lowerBound(elements, size, index);
    if (elements[position].index == index) {
      // Storing the pointer the slot already holds must not destroy it.
      if (elements[position].value != value) delete elements[position].value;
      elements[position].value = value;
      return true;
    }
  }
  if (size == array->allocated) {
    if (array->allocated == INT32_MAX) return false;
    int32_t grown = grownSlots(array->allocated);
    VELQ_ArrayElement *block = static_cast<VELQ_ArrayElement *>(
        velqReallocate(elements, sizeof(VELQ_ArrayElement) * (size_t)grown));
    if (!block) return false;
    elements = block;
    array->allocated = grown;
  }
  if (position < size) {
    memmove(&elements[position + 1], &elements[position],
            sizeof(VELQ_ArrayElement) * (size_t)(size - position));
  }
  elements[position].index = index;
  elements[position].value = value;
  size++;
  return true;
}
