// The engine's allocation path: the system allocator, the memory budget of the run in
// progress, and a per-thread note of a refused allocation.
#include "runtime/memory.h"

#include <malloc.h>
#include <pthread.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>

#include "runtime/run_limits.h"

namespace {

// Pooled sizes are rounded up to a multiple of 8 bytes, up to POOLED_MAX.
enum : size_t { POOL_GRAIN = 8, POOLED_MAX = 128, POOL_CLASSES = POOLED_MAX / POOL_GRAIN };
// Free blocks a thread keeps per size, beyond which freed blocks go back to the system.
enum : uint32_t { POOL_KEPT = 4096 };

struct FreeBlock {
  FreeBlock *next;
};

// What each thread keeps for its allocations, read on every one of them: plain data in
// one place, so that reaching it costs one thread-local access. Initial-exec TLS: the
// engine's library is loaded with the program (or early by dlopen).
struct ThreadMemory {
  VELQ_MemoryBudget *budget;       // of the run in progress, if any
  VELQ_AllocationFailure failure;  // the note of a refused allocation
  FreeBlock *heads[POOL_CLASSES];  // the pools of freed objects, by size
  uint32_t counts[POOL_CLASSES];
  bool cleanupSet;  // the thread's clean-up of its pools is set up
  void *reserve;    // see velqKeepReserve
};
enum : size_t { RESERVE_SIZE = 96 * 1024 };
__attribute__((tls_model("initial-exec"))) thread_local ThreadMemory threadMemory;

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
  if (VELQ_RunLimits *limits = velqRunLimits()) velqInterruptRun(limits->interrupt, limits->reach);
}

void *refuse(VELQ_AllocationFailure why) {
  if (why == VELQ_SYSTEM_REFUSED && threadMemory.reserve) {
    free(threadMemory.reserve);
    threadMemory.reserve = nullptr;
  }
  threadMemory.failure = why;
  stopRun();
  return nullptr;
}

// What a block really takes from the system, which is what a budget counts: its usable
// size and the allocator's size word in front of it. Counting requested sizes instead
// let a run of many small values hold about 1.4 times its budget.
enum : long long { BLOCK_HEADER = sizeof(size_t), SMALLEST_CHUNK = 4 * sizeof(size_t) };
inline long long blockCost(void *block) {
  return (long long)malloc_usable_size(block) + BLOCK_HEADER;
}

// The same for a pooled block of poolClass, which the system gave as malloc(size) for
// its pool's size: the allocator's chunk, rounded up to its alignment.
inline long long pooledCost(size_t poolClass) {
  long long chunk = ((long long)((poolClass + 1) * POOL_GRAIN) + BLOCK_HEADER + 15) & ~15LL;
  return chunk < SMALLEST_CHUNK ? SMALLEST_CHUNK : chunk;
}

// Counts a released block out of the budget. A run may release blocks it did not
// allocate (a host's argument, a global set before it started); they are not credited
// to it beyond what it holds, so the count never drops below zero and such a release
// never lets the run hold more than its budget.
inline void creditRelease(VELQ_MemoryBudget *budget, long long cost) {
  budget->used = budget->used > cost ? budget->used - cost : 0;
}

// Counts a new block into the budget; false (the block released) when it goes over.
bool admit(void *block) {
  long long size = blockCost(block);
  if (threadMemory.budget->limit &&
      threadMemory.budget->used + size > (long long)threadMemory.budget->limit) {
    free(block);
    return false;
  }
  threadMemory.budget->used += size;
  return true;
}

// Whether size more bytes still fit the budget (none set: always).
bool fits(double size) {
  const VELQ_MemoryBudget *budget = threadMemory.budget;
  return !budget || !budget->limit || (double)budget->used + size <= (double)budget->limit;
}

// ---- The per-thread pools of objects ----

// Gives a thread's kept blocks (and its reserve) back to the system when the thread
// ends. The clean-up is a key of the thread library, created when the engine's library
// is loaded, rather than a thread_local destructor: registering such a destructor
// allocates, and when that allocation fails (the first free of a thread that has run
// out of memory) the C library ends the process. Setting a key's value for a thread
// never allocates (the first keys of a thread live in the thread's own record).
void releasePools(void *) {
  for (size_t i = 0; i < POOL_CLASSES; i++) {
    while (FreeBlock *block = threadMemory.heads[i]) {
      threadMemory.heads[i] = block->next;
      free(block);
    }
    threadMemory.counts[i] = 0;
  }
  free(threadMemory.reserve);
  threadMemory.reserve = nullptr;
  threadMemory.cleanupSet = false;
}

struct PoolsKey {
  pthread_key_t key;
  bool made;
  PoolsKey() { made = pthread_key_create(&key, releasePools) == 0; }
};
PoolsKey poolsKey;

// Whether objects come from the pools. A block kept in a pool is never freed, so a tool
// that watches the system allocator cannot see a host use an object (a value, a program's
// result) after deleting it. Sanitizer builds therefore take every object from the system
// and give it straight back; so does any build run with VELQ_NO_POOLS set to anything but
// "" or "0" (for valgrind, say). The variable is read once, at the first object
// allocated, so that no block goes into a pool it did not come from.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
const bool poolsBuiltIn = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
const bool poolsBuiltIn = false;
#else
const bool poolsBuiltIn = true;
#endif
#else
const bool poolsBuiltIn = true;
#endif

enum : uint8_t { POOLS_UNDECIDED, POOLS_ON, POOLS_OFF };
// Threads that decide at once read the same variable and store the same answer.
std::atomic<uint8_t> poolsState{POOLS_UNDECIDED};

__attribute__((noinline)) bool decidePools() {
  const char *setting = getenv("VELQ_NO_POOLS");
  bool on = !(setting && setting[0] && strcmp(setting, "0") != 0);
  poolsState.store(on ? POOLS_ON : POOLS_OFF, std::memory_order_relaxed);
  return on;
}

inline bool poolsOn() {
  if (!poolsBuiltIn) return false;
  uint8_t state = poolsState.load(std::memory_order_relaxed);
  if (__builtin_expect(state == POOLS_ON, 1)) return true;
  return state == POOLS_UNDECIDED && decidePools();
}

}  // namespace

namespace {

// The paths that call out (to the system, to the thread's clean-up) are kept out of the
// functions below, which then need no registers saved on their way.
__attribute__((noinline)) void *newPooledBlock(size_t poolClass) {
  void *block = malloc((poolClass + 1) * POOL_GRAIN);
  return block ? block : refuse(VELQ_SYSTEM_REFUSED);
}

__attribute__((noinline)) void setUpPoolsCleanup() {
  if (poolsKey.made) pthread_setspecific(poolsKey.key, &threadMemory);
  threadMemory.cleanupSet = true;
}

// A block of the pool of poolClass, or a new one from the system.
inline void *takeFromPool(size_t poolClass) {
  if (FreeBlock *block = threadMemory.heads[poolClass]) {
    threadMemory.heads[poolClass] = block->next;
    threadMemory.counts[poolClass]--;
    return block;
  }
  return newPooledBlock(poolClass);
}

inline void giveToPool(void *block, size_t poolClass) {
  if (threadMemory.counts[poolClass] >= POOL_KEPT) {
    free(block);
    return;
  }
  if (!threadMemory.cleanupSet) setUpPoolsCleanup();
  FreeBlock *freed = static_cast<FreeBlock *>(block);
  freed->next = threadMemory.heads[poolClass];
  threadMemory.heads[poolClass] = freed;
  threadMemory.counts[poolClass]++;
}

// Blocks beyond the pooled sizes.
__attribute__((noinline)) void *allocateUnpooled(size_t size) { return velqAllocate(size); }
__attribute__((noinline)) void releaseUnpooled(void *block) { velqRelease(block); }

// The pools under a budget (and in test builds that inject faults), kept out of line so
// that the path without one stays short.
__attribute__((noinline)) void *takeCounted(size_t poolClass) {
  if (injectFault()) return refuse(VELQ_SYSTEM_REFUSED);
  long long rounded = pooledCost(poolClass);
  VELQ_MemoryBudget *budget = threadMemory.budget;
  if (!budget) return takeFromPool(poolClass);
  if (budget->limit && budget->used + rounded > (long long)budget->limit)
    return refuse(VELQ_BUDGET_REFUSED);
  void *block = takeFromPool(poolClass);
  if (block) budget->used += rounded;
  return block;
}

__attribute__((noinline)) void giveCounted(void *block, size_t poolClass) {
  creditRelease(threadMemory.budget, pooledCost(poolClass));
  giveToPool(block, poolClass);
}

#ifdef VELQ_FAULT_INJECTION
const bool faultsInjected = true;
#else
const bool faultsInjected = false;
#endif

}  // namespace

void *velqAllocateObject(size_t size) {
  size_t poolClass = (size + POOL_GRAIN - 1) / POOL_GRAIN - 1;
  if (poolClass >= POOL_CLASSES || !poolsOn()) return allocateUnpooled(size);
  if (__builtin_expect(threadMemory.budget != nullptr || faultsInjected, 0))
    return takeCounted(poolClass);
  return takeFromPool(poolClass);
}

void velqReleaseObject(void *block, size_t size) {
  if (!block) return;
  size_t poolClass = (size + POOL_GRAIN - 1) / POOL_GRAIN - 1;
  if (poolClass >= POOL_CLASSES || !poolsOn()) {
    releaseUnpooled(block);
    return;
  }
  if (__builtin_expect(threadMemory.budget != nullptr, 0)) {
    giveCounted(block, poolClass);
    return;
  }
  giveToPool(block, poolClass);
}

namespace {

// velqAllocate under a budget. A block that cannot fit is refused before the system is
// asked for it.
void *allocateCounted(size_t size) {
  if (!fits((double)size)) return refuse(VELQ_BUDGET_REFUSED);
  void *block = malloc(size ? size : 1);
  if (!block) return refuse(VELQ_SYSTEM_REFUSED);
  if (!admit(block)) return refuse(VELQ_BUDGET_REFUSED);
  return block;
}

}  // namespace

void *velqAllocate(size_t size) {
  if (injectFault()) return refuse(VELQ_SYSTEM_REFUSED);
  if (__builtin_expect(threadMemory.budget != nullptr, 0)) return allocateCounted(size);
  void *block = malloc(size ? size : 1);
  return block ? block : refuse(VELQ_SYSTEM_REFUSED);
}

// Over the budget, the block keeps its old size and content: the grown block is given
// back as it came, by shrinking it again.
void *velqReallocate(void *block, size_t size) {
  if (!size) size = 1;
  if (injectFault()) return refuse(VELQ_SYSTEM_REFUSED);
  if (!threadMemory.budget) {
    void *grown = realloc(block, size);
    return grown ? grown : refuse(VELQ_SYSTEM_REFUSED);
  }
  long long before = block ? blockCost(block) : 0;
  if (threadMemory.budget->limit && size > (size_t)before &&
      threadMemory.budget->used - before + (long long)size > (long long)threadMemory.budget->limit)
    return refuse(VELQ_BUDGET_REFUSED);
  void *grown = realloc(block, size);
  if (!grown) return refuse(VELQ_SYSTEM_REFUSED);
  threadMemory.budget->used += blockCost(grown) - before;
  return grown;
}

void velqRelease(void *block) {
  if (!block) return;
  if (threadMemory.budget) creditRelease(threadMemory.budget, blockCost(block));
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

void velqKeepReserve() {
  if (threadMemory.reserve) return;
  threadMemory.reserve = malloc(RESERVE_SIZE);
  if (threadMemory.reserve && !threadMemory.cleanupSet) setUpPoolsCleanup();
}

VELQ_AllocationFailure velqAllocationFailure() { return threadMemory.failure; }

void velqClearAllocationFailure() { threadMemory.failure = VELQ_ALLOCATION_OK; }

void velqNoteAllocationFailure(VELQ_AllocationFailure why) {
  threadMemory.failure = why;
  stopRun();
}

bool velqBudgetAllows(double bytes) {
  if (fits(bytes)) return true;
  refuse(VELQ_BUDGET_REFUSED);
  return false;
}

bool velqBudgetHasRoom(double bytes) { return fits(bytes); }

VELQ_MemoryBudget *velqSetMemoryBudget(VELQ_MemoryBudget *next) {
  VELQ_MemoryBudget *previous = threadMemory.budget;
  threadMemory.budget = next;
  return previous;
}

#ifdef VELQ_FAULT_INJECTION
void velqInjectFault(long n) {
  faultCountdown = n;
  faultInjected = false;
}

bool velqFaultInjected() { return faultInjected; }
#endif
