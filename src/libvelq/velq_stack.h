// Growable last-in-first-out stack of untyped pointers; it never owns what they point to.
#ifndef VELQ_STACK_H
#define VELQ_STACK_H

enum { VELQ_STACK_INITIAL = 128, VELQ_STACK_GROWTH = 64 };

class VELQ_Stack {
public:
  VELQ_Stack();
  ~VELQ_Stack();

  VELQ_Stack(const VELQ_Stack &) = delete;
  VELQ_Stack &operator=(const VELQ_Stack &) = delete;

  void push(void *item) {
    if (size == capacity) grow();
    items[size++] = item;
  }
  void *pop() { return size > 0 ? items[--size] : nullptr; }
  void *peek() const { return size > 0 ? items[size - 1] : nullptr; }
  // The slot n places below the top: the oldest of the n top items, which follow it.
  void **peekList(int n) { return &items[size - n]; }
  int getSize() const { return size; }
  int getCapacity() const { return capacity; }

private:
  void grow();

  int capacity;
  int size;
  void **items;
};

#endif
