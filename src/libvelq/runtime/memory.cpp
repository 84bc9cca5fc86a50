// The engine's allocation path: the system allocator, the memory budget of the run in
// progress, and a per-thread note of a refused allocation.
#include "runtime/memory.h"

#include <malloc.h>
#include <stdlib.h>
#include <string.h>

namespace {

// Initial-exec TLS: the engine's library is loaded with the program (or early by
// dlopen), and these are read on every allocation.
__attribute__((tls_model("initial-exec"))) thread_local VELQ_AllocationFailure failure =
    VELQ_ALLOCATION_OK;
__attribute__((tls_model("initial-exec"))) thread_local VELQ_MemoryBudget *budget = nullptr;

void *refuse(VELQ_AllocationFailure why) {
  failure = why;
  return nullptr;
}

// Counts a new block into the budget; false (the block released) when it goes over.
bool admit(void *block) {
  long long size = (long long)malloc_usable_size(block);
  if (budget->limit && budget->used + size > (long long)budget->limit) {
    free(block);
    return false;
  }
  budget->used += size;
  return true;
}

}  // namespace

void *velqAllocate(size_t size) {
  void *block = malloc(size ? size : 1);
  if (!block) return refuse(VELQ_SYSTEM_REFUSED);
  if (budget && !admit(block)) return refuse(VELQ_BUDGET_REFUSED);
  return block;
}

// Over the budget, the block keeps its old size and content: the grown block is given
// back as it came, by shrinking it again.
void *velqReallocate(void *block, size_t size) {
  if (!size) size = 1;
  if (!budget) {
    void *grown = realloc(block, size);
    return grown ? grown : refuse(VELQ_SYSTEM_REFUSED);
  }
  long long before = block ? (long long)malloc_usable_size(block) : 0;
  if (budget->limit && size > (size_t)before &&
      budget->used - before + (long long)size > (long long)budget->limit)
    return refuse(VELQ_BUDGET_REFUSED);
  void *grown = realloc(block, size);
  if (!grown) return refuse(VELQ_SYSTEM_REFUSED);
  budget->used += (long long)malloc_usable_size(grown) - before;
  return grown;
}

void velqRelease(void *block) {
  if (!block) return;
  if (budget) budget->used -= (long long)malloc_usable_size(block);
  free(block);
}

char *velqCopyText(const char *text, size_t length) {
  if (length == (size_t)-1) return static_cast<char *>(refuse(VELQ_SYSTEM_REFUSED));
  char *copy = static_cast<char *>(velqAllocate(length + 1));
  if (!copy) return nullptr;
  if (text) {
    memcpy(copy, text, length);
  } else {
    memset(copy, 0, length);
  }
  copy[length] = '\0';
  return copy;
}

char *velqCopyName(const char *name) {
  if (!name) name = "";
  return velqCopyText(name, strlen(name));
}

VELQ_AllocationFailure velqAllocationFailure() { return failure; }

void velqClearAllocationFailure() { failure = VELQ_ALLOCATION_OK; }

void velqNoteAllocationFailure(VELQ_AllocationFailure why) { failure = why; }

VELQ_MemoryBudget *velqSetMemoryBudget(VELQ_MemoryBudget *next) {
  VELQ_MemoryBudget *previous = budget;
  budget = next;
  return previous;
}
