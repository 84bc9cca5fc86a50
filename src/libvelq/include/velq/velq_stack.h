// Growable last-in-first-out stack of untyped pointers; it never owns what they point to.
#ifndef VELQ_STACK_H
#define VELQ_STACK_H

#include <stddef.h>
#include <stdint.h>

#include "velq_export.h"

enum { VELQ_STACK_INITIAL = 128 };

class VELQ_API VELQ_Stack {
public:
  VELQ_Stack();
  ~VELQ_Stack();

  VELQ_Stack(const VELQ_Stack &) = delete;
  VELQ_Stack &operator=(const VELQ_Stack &) = delete;

  // The engine allocates stacks itself: new yields null when memory is refused.
  static void *operator new(size_t size) noexcept;
  static void operator delete(void *block) noexcept;

  // Adds an item on top; false, with the stack unchanged, when it is full and memory
  // to grow it is refused.
  bool push(void *item) {
    if (size == (int)capacity && !grow()) return false;
    items[size++] = item;
    return true;
  }
  void *pop() { return size > 0 ? items[--size] : nullptr; }
  void *peek() const { return size > 0 ? items[size - 1] : nullptr; }
  // The slot n places below the top: the oldest of the n top items, which follow it.
  void **peekList(int n) { return &items[size - n]; }
  int getSize() const { return size; }

private:
  friend struct VELQ_TestAccess;

  bool grow();

  uint32_t capacity;
  int size;
  void **items;
};

#endif
