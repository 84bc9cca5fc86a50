// The one way the engine's tables grow: geometrically, so that n appends cost O(n) in all.
#ifndef VELQ_GROWTH_H
#define VELQ_GROWTH_H

#include <stddef.h>
#include <stdint.h>

#include "runtime/memory.h"

// The first capacity of a table that grows from nothing.
const size_t VELQ_FIRST_CAPACITY = 8;

// Makes room for at least `needed` items of `items`, whose block holds `capacity` now:
// the block grows to double its capacity (or to `needed`, if that is more), keeping its
// contents. Tables count in 32 bits; a capacity beyond UINT32_MAX items, or a block the
// system refuses, leaves items and capacity as they were and returns false.
template <typename T>
bool velqReserve(T *&items, uint32_t &capacity, size_t needed) {
  if (needed <= capacity) return true;
  if (needed > UINT32_MAX || needed > SIZE_MAX / sizeof(T)) return false;
  size_t grown = capacity ? (size_t)capacity * 2 : VELQ_FIRST_CAPACITY;
  if (grown < needed) grown = needed;
  if (grown > UINT32_MAX) grown = UINT32_MAX;
  if (grown > SIZE_MAX / sizeof(T)) grown = needed;
  T *block = static_cast<T *>(velqReallocate(items, grown * sizeof(T)));
  if (!block) return false;
  items = block;
  capacity = (uint32_t)grown;
  return true;
}

// A list of plain values that grows the one way, for the engine's own bookkeeping.
template <typename T>
struct VELQ_GrowingList {
  T *items = nullptr;
  uint32_t count = 0;
  uint32_t capacity = 0;

  VELQ_GrowingList() = default;
  VELQ_GrowingList(const VELQ_GrowingList &) = delete;
  VELQ_GrowingList &operator=(const VELQ_GrowingList &) = delete;
  ~VELQ_GrowingList() { velqRelease(items); }

  // False, with the list unchanged, when memory is refused.
  bool push(const T &item) {
    if (!velqReserve(items, capacity, (size_t)count + 1)) return false;
    items[count++] = item;
    return true;
  }
  T &last() { return items[count - 1]; }
};

#endif
