// The growable pointer stack shared by the machine and the compiler.
#include <stdlib.h>

#include "velq_stack.h"

VELQ_Stack::VELQ_Stack()
    : capacity(VELQ_STACK_INITIAL),
      size(0),
      items(static_cast<void **>(malloc(VELQ_STACK_INITIAL * sizeof(void *)))) {
  if (!items) abort();
}

VELQ_Stack::~VELQ_Stack() { free(items); }

// Called by push when every slot is taken: adds VELQ_STACK_GROWTH slots, keeping the
// contents. The storage never shrinks.
void VELQ_Stack::grow() {
  int newCapacity = capacity + VELQ_STACK_GROWTH;
  void **grown = static_cast<void **>(realloc(items, (size_t)newCapacity * sizeof(void *)));
  if (!grown) abort();
  items = grown;
  capacity = newCapacity;
}
