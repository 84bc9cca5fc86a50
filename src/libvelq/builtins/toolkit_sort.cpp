// The toolkit's sorting: Sort gives an array's values in order, Order the indices that
// put them in order (so that a second array, the keys of a map say, can be read in the
// order of the first).
//
// The order is given as a text of letters, as sort(1) takes them: "" (or no argument)
// compares texts byte by byte, "n" compares numbers, and "r" reverses either. The sort is
// stable, so equal values keep the order of their indices, also when reversed. It is a
// merge sort over positions, with its buffer from the engine's allocation path.
#include <string.h>

#include "runtime/memory.h"
#include "toolkit_functions.h"
#include "values/deep_copy.h"
#include "velq_array.h"
#include "velq_value.h"

namespace {

struct SortOrder {
  bool numbers = false;
  bool reversed = false;
};

// Reads the order's letters: false for a letter other than n and r.
bool readOrder(VELQ_Value *letters, SortOrder *order) {
  uint32_t length;
  const char *text = velqToolkitTextOf(letters, &length);
  for (uint32_t i = 0; i < length; i++) {
    if (text[i] == 'n')
      order->numbers = true;
    else if (text[i] == 'r')
      order->reversed = true;
    else
      return false;
  }
  return true;
}

// A number's value for comparing: integers exactly when both are, else reals; a text that
// is no number, and null, count as 0, as sort -n takes them.
int compareNumbers(const VELQ_Value *a, const VELQ_Value *b) {
  bool aInteger = a && a->isInteger() && !a->isUnsigned();
  bool bInteger = b && b->isInteger() && !b->isUnsigned();
  if (aInteger && bInteger) {
    int64_t x = a->getValueAsInt64(), y = b->getValueAsInt64();
    return x < y ? -1 : x > y ? 1 : 0;
  }
  double x = a && a->isNumeric() ? a->getValueAsReal() : 0.0;
  double y = b && b->isNumeric() ? b->getValueAsReal() : 0.0;
  return x < y ? -1 : x > y ? 1 : 0;
}

int compareTexts(VELQ_Value *a, VELQ_Value *b) {
  uint32_t aLength, bLength;
  const char *x = velqToolkitTextOf(a, &aLength);
  const char *y = velqToolkitTextOf(b, &bLength);
  int c = memcmp(x, y, aLength < bLength ? aLength : bLength);
  if (c != 0) return c < 0 ? -1 : 1;
  return aLength < bLength ? -1 : aLength > bLength ? 1 : 0;
}

struct Sorter {
  VELQ_Array *array;
  SortOrder order;

  // Whether the element at position j must come before the one at position i.
  bool before(int32_t j, int32_t i) const {
    VELQ_Value *a = array->getElement(j)->value;
    VELQ_Value *b = array->getElement(i)->value;
    int c = order.numbers ? compareNumbers(a, b) : compareTexts(a, b);
    return order.reversed ? c > 0 : c < 0;
  }

  // Sorts positions[from, to) using scratch of the same size; stable.
  void mergeSort(int32_t *positions, int32_t *scratch, int32_t from, int32_t to) const {
    if (to - from < 2) return;
    int32_t middle = from + (to - from) / 2;
    mergeSort(positions, scratch, from, middle);
    mergeSort(positions, scratch, middle, to);
    int32_t left = from, right = middle, out = from;
    while (left < middle && right < to)
      scratch[out++] =
          before(positions[right], positions[left]) ? positions[right++] : positions[left++];
    while (left < middle) scratch[out++] = positions[left++];
    while (right < to) scratch[out++] = positions[right++];
    memcpy(positions + from, scratch + from, (size_t)(to - from) * sizeof *positions);
  }
};

// The positions of the array's elements in sorted order, into *positions (the caller
// releases them): 0, or the error code.
int32_t sortedPositions(int32_t argc, VELQ_Value **argv, VELQ_Array **array, int32_t **positions) {
  if (argc < 1 || argc > 2) return VELQ_ERR_ARGUMENT_COUNT;
  Sorter sorter;
  sorter.array = argv[0]->getValueAsArray();
  if (!sorter.array) return VELQ_ERR_NOT_ARRAY;
  if (argc == 2 && (!argv[1]->isString() || !readOrder(argv[1], &sorter.order)))
    return VELQ_ERR_NOT_STRING;
  int32_t count = sorter.array->getSize();
  for (int32_t i = 0; i < count; i++) {
    VELQ_Value *element = sorter.array->getElement(i)->value;
    if (element && (element->isArray() || element->isObject())) return VELQ_ERR_NOT_STRING;
  }
  size_t bytes = (size_t)(count > 0 ? count : 1) * sizeof(int32_t);
  int32_t *sorted = static_cast<int32_t *>(velqAllocate(bytes));
  int32_t *scratch = static_cast<int32_t *>(velqAllocate(bytes));
  if (!sorted || !scratch) {
    velqRelease(sorted);
    velqRelease(scratch);
    return VELQ_ERR_OUT_OF_MEMORY;
  }
  for (int32_t i = 0; i < count; i++) sorted[i] = i;
  sorter.mergeSort(sorted, scratch, 0, count);
  velqRelease(scratch);
  *array = sorter.array;
  *positions = sorted;
  return 0;
}

// Sort and Order: a new array at 0, 1, 2, ... of what pick makes of each element in order.
int32_t sortedArray(int32_t argc, VELQ_Value **argv, VELQ_Value **result,
                    VELQ_Value *(*pick)(const VELQ_ArrayElement *)) {
  VELQ_Array *array = nullptr;
  int32_t *positions = nullptr;
  int32_t code = sortedPositions(argc, argv, &array, &positions);
  if (code != 0) return code;
  VELQ_Array *sorted = new VELQ_Array();
  bool stored = sorted != nullptr;
  for (int32_t i = 0; stored && i < array->getSize(); i++)
    stored = velqToolkitStore(sorted, i, pick(array->getElement(positions[i])));
  velqRelease(positions);
  if (!stored) {
    delete sorted;
    return VELQ_ERR_OUT_OF_MEMORY;
  }
  return velqToolkitArrayResult(sorted, result);
}

VELQ_Value *valueOf(const VELQ_ArrayElement *element) { return velqStoredCopy(element->value); }

VELQ_Value *indexOf(const VELQ_ArrayElement *element) { return new VELQ_Value(element->index); }

}  // namespace

VELQ_HANDLER(velqSort) { return sortedArray(argc, argv, result, valueOf); }

VELQ_HANDLER(velqOrder) { return sortedArray(argc, argv, result, indexOf); }
