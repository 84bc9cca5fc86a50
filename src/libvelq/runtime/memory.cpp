// The engine's allocation path: the system allocator, the memory budget of the run in
// progress, and a per-thread note of a refused allocation.
#include "runtime/memory.h"

#include "runtime/run_limits.h"

#include <malloc.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

namespace {

// Initial-exec TLS: the engine's library is loaded with the program (or early by
// dlopen), and these are read on every allocation.
__attribute__((tls_model("initial-exec"))) thread_local VELQ_AllocationFailure failure =
    VELQ_ALLOCATION_OK;
__attribute__((tls_model("initial-exec"))) thread_local VELQ_MemoryBudget *budget = nullptr;

#ifdef VELQ_FAULT_INJECTION
// Test builds: the allocations of this thread until the one that is made to fail (0:
// none), and whether one was.
thread_local long faultCountdown = 0;
thread_local bool faultInjected = false;

bool injectFault() {
  if (faultCountdown == 0 || --faultCountdown != 0) return false;
  faultInjected = true;
  return true;
}
#else
inline bool injectFault() { return false; }
#endif

// A refused allocation stops the run in progress, if any.
void stopRun() {
  if (VELQ_RunLimits *limits = velqRunLimits())
    limits->interrupt->store(true, std::memory_order_relaxed);
}

void *refuse(VELQ_AllocationFailure why) {
  failure = why;
  stopRun();
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

// Whether size more bytes still fit the budget (none set: always).
bool fits(double size) {
  return !budget || !budget->limit || (double)budget->used + size <= (double)budget->limit;
}

// ---- The per-thread pools of objects ----

// Pooled sizes are rounded up to a multiple of 8 bytes, up to POOLED_MAX.
enum : size_t { POOL_GRAIN = 8, POOLED_MAX = 128, POOL_CLASSES = POOLED_MAX / POOL_GRAIN };
// Free blocks a thread keeps per size, beyond which freed blocks go back to the system.
enum : uint32_t { POOL_KEPT = 4096 };

struct FreeBlock {
  FreeBlock *next;
};

// Plain data, so that reaching it costs no more than a thread-local access.
struct Pools {
  FreeBlock *heads[POOL_CLASSES];
  uint32_t counts[POOL_CLASSES];
  bool cleanupSet;  // the thread's PoolsCleanup is set up
};
__attribute__((tls_model("initial-exec"))) thread_local Pools pools;

// Gives a thread's kept blocks back to the system when the thread ends. It is set up
// the first time the thread keeps a block (touching it is what sets it up).
struct PoolsCleanup {
  bool active = false;
  ~PoolsCleanup() {
    for (size_t i = 0; i < POOL_CLASSES; i++) {
      while (FreeBlock *block = pools.heads[i]) {
        pools.heads[i] = block->next;
        free(block);
      }
      pools.counts[i] = 0;
    }
  }
};
thread_local PoolsCleanup poolsCleanup;

// Sanitizer builds take every object from the system, so that a use after free is seen.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
const bool poolsOn = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
const bool poolsOn = false;
#else
const bool poolsOn = true;
#endif
#else
const bool poolsOn = true;
#endif

}  // namespace

void *velqAllocateObject(size_t size) {
  size_t poolClass = (size + POOL_GRAIN - 1) / POOL_GRAIN - 1;
  if (!poolsOn || poolClass >= POOL_CLASSES) return velqAllocate(size);
  size_t rounded = (poolClass + 1) * POOL_GRAIN;
  if (injectFault()) return refuse(VELQ_SYSTEM_REFUSED);
  if (budget) {
    if (budget->limit && budget->used + (long long)rounded > (long long)budget->limit)
      return refuse(VELQ_BUDGET_REFUSED);
    budget->used += (long long)rounded;
  }
  if (FreeBlock *block = pools.heads[poolClass]) {
    pools.heads[poolClass] = block->next;
    pools.counts[poolClass]--;
    return block;
  }
  void *block = malloc(rounded);
  if (!block) {
    if (budget) budget->used -= (long long)rounded;
    return refuse(VELQ_SYSTEM_REFUSED);
  }
  return block;
}

void velqReleaseObject(void *block, size_t size) {
  if (!block) return;
  size_t poolClass = (size + POOL_GRAIN - 1) / POOL_GRAIN - 1;
  if (!poolsOn || poolClass >= POOL_CLASSES) {
    velqRelease(block);
    return;
  }
  if (budget) budget->used -= (long long)((poolClass + 1) * POOL_GRAIN);
  if (pools.counts[poolClass] >= POOL_KEPT) {
    free(block);
    return;
  }
  if (!pools.cleanupSet) {
    poolsCleanup.active = true;
    pools.cleanupSet = true;
  }
  FreeBlock *freed = static_cast<FreeBlock *>(block);
  freed->next = pools.heads[poolClass];
  pools.heads[poolClass] = freed;
  pools.counts[poolClass]++;
}

void *velqAllocate(size_t size) {
  // A block that cannot fit is refused before the system is asked for it.
  if (!fits((double)size)) return refuse(VELQ_BUDGET_REFUSED);
  if (injectFault()) return refuse(VELQ_SYSTEM_REFUSED);
  void *block = malloc(size ? size : 1);
  if (!block) return refuse(VELQ_SYSTEM_REFUSED);
  if (budget && !admit(block)) return refuse(VELQ_BUDGET_REFUSED);
  return block;
}

// Over the budget, the block keeps its old size and content: the grown block is given
// back as it came, by shrinking it again.
void *velqReallocate(void *block, size_t size) {
  if (!size) size = 1;
  if (injectFault()) return refuse(VELQ_SYSTEM_REFUSED);
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

void velqNoteAllocationFailure(VELQ_AllocationFailure why) {
  failure = why;
  stopRun();
}

bool velqBudgetAllows(double bytes) {
  if (fits(bytes)) return true;
  refuse(VELQ_BUDGET_REFUSED);
  return false;
}

VELQ_MemoryBudget *velqSetMemoryBudget(VELQ_MemoryBudget *next) {
  VELQ_MemoryBudget *previous = budget;
  budget = next;
  return previous;
}

#ifdef VELQ_FAULT_INJECTION
void velqInjectFault(long n) {
  faultCountdown = n;
  faultInjected = false;
}

bool velqFaultInjected() { return faultInjected; }
#endif
