// The copy a variable or an array element stores: arrays copied at every level.
//
// If nested arrays were shared with the source, `a[1][0] = a` could make an array hold a
// reference to itself, and such a ring of arrays would never be released. The copy walks
// the nesting with a list of the arrays on the current path instead of recursion, so that
// deep nesting cannot exhaust the machine stack. Scripts cannot make a ring, but a host
// can (an array given an element that refers to the array itself); following it would
// never end, so an element that leads back to an array on the path (marked while it is
// there) is copied as null. An array reached twice by different paths is copied twice.
#include "values/deep_copy.h"

#include "runtime/growth.h"
#include "runtime/memory.h"
#include "values/value_internals.h"
#include "velq_array.h"
#include "velq_value.h"

namespace {

struct Level {
  VELQ_Array *source;
  VELQ_Array *copy;
  int32_t next;  // position of the next element of copy to look at
};

// The path from the top array to the one being copied.
struct Path {
  Level *levels = nullptr;
  uint32_t count = 0;
  uint32_t capacity = 0;

  bool push(VELQ_Array *source, VELQ_Array *copy) {
    if (!velqReserve(levels, capacity, (size_t)count + 1)) return false;
    levels[count++] = {source, copy, 0};
    if (source) VELQ_ValueInternals::setOnCopyPath(source, true);
    return true;
  }
  void pop() {
    VELQ_Array *source = levels[--count].source;
    if (source) VELQ_ValueInternals::setOnCopyPath(source, false);
  }
  ~Path() {
    while (count > 0) pop();
    velqRelease(levels);
  }
};

}  // namespace

VELQ_Value *velqStoredCopy(const VELQ_Value *source) {
  if (!source || !source->isArray()) return new VELQ_Value(source);
  VELQ_Array *sourceArray = source->getValueAsArray();
  VELQ_Array *top = new VELQ_Array(sourceArray);
  VELQ_Value *stored = top ? new VELQ_Value(top) : nullptr;
  if (!stored) {
    delete top;
    return nullptr;
  }
  Path path;
  if (!path.push(sourceArray, top)) {
    delete stored;
    return nullptr;
  }
  while (path.count > 0) {
    Level &level = path.levels[path.count - 1];
    const VELQ_ArrayElement *element = level.copy->getElement(level.next);
    if (!element) {
      path.pop();
      continue;
    }
    level.next++;
    if (!element->value || !element->value->isArray()) continue;
    // The copy constructor shares nested arrays; give each element its own copy. Replacing
    // the value of an existing index neither moves nor re-sorts the slots.
    VELQ_Array *nestedSource = element->value->getValueAsArray();
    if (nestedSource && VELQ_ValueInternals::onCopyPath(nestedSource)) {
      level.copy->set(element->index, new VELQ_Value());
      continue;
    }
    VELQ_Array *nested = new VELQ_Array(nestedSource);
    VELQ_Value *nestedValue = nested ? new VELQ_Value(nested) : nullptr;
    VELQ_Array *copy = level.copy;  // level is not used after the push below
    int32_t index = element->index;
    if (!nestedValue || !path.push(nestedSource, nested)) {
      if (nestedValue) {
        delete nestedValue;  // and with it the nested copy
      } else {
        delete nested;
      }
      delete stored;
      return nullptr;
    }
    copy->set(index, nestedValue);
  }
  return stored;
}
