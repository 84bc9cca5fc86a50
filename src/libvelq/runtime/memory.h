// The one path through which the engine allocates memory, and its one answer to running
// out of it.
//
// Every block the engine allocates comes from velqAllocate or velqReallocate and goes back
// through velqRelease; the engine's classes allocate their objects the same way (their
// operator new). None of them throws, aborts or exits when the system refuses memory: they
// return null. The rule for their callers:
//
//   Whoever gets null leaves every object it touched valid and as it was (or in a stated
//   fallback state), releases what it had already taken for the operation, and reports the
//   failure upwards: an instruction or a built-in function stops the run with error 29
//   "Out of memory"; the compiler records "memory exhausted" as its error, which fails the
//   compilation; an operation a host calls outside a run returns its failure result (null,
//   0 or false) where it has one, and otherwise leaves its object unchanged.
//
// A failure that happens where no result can carry it (a value's constructor, an operation
// declared void) is noted for the run in progress, if any, by velqAllocate itself, which
// also sets the run's interrupt (runtime/run_limits.h); the run stops with error 29.
#ifndef VELQ_MEMORY_H
#define VELQ_MEMORY_H

#include <stddef.h>

// A new block of size bytes, or null.
void *velqAllocate(size_t size);

// block grown or shrunk to size bytes (contents kept), or null with block untouched.
// A null block allocates.
void *velqReallocate(void *block, size_t size);

// Releases a block of velqAllocate or velqReallocate; null does nothing.
void velqRelease(void *block);

// Objects of the engine's classes (values, variables, variable systems, arrays, object
// records) are made and unmade all the time, so each thread keeps the blocks it freed
// for its next objects of the same size, up to a bound past which they go back to the
// system. A block may be freed by another thread than the one that allocated it.
// velqReleaseObject must be given the size the object was allocated with. Sanitizer
// builds, and runs with VELQ_NO_POOLS=1 in the environment, keep no blocks: every object
// goes straight to the system and back, so that a use after free is seen.
void *velqAllocateObject(size_t size);
void velqReleaseObject(void *block, size_t size);

// A new zero-terminated copy of length bytes of text (a null text gives length zero
// bytes), or null.
char *velqCopyText(const char *text, size_t length);

// A new copy of a zero-terminated name (null is the empty name), or null.
char *velqCopyName(const char *name);

// Why an allocation of this thread failed since the note was last cleared: not at all,
// the system refused memory, or the memory budget of the run in progress refused it. A
// run clears the note when it starts; a refusal interrupts it, and it stops before its
// next jump, call, return or output with the note's error (whatever error an incomplete
// value caused in between). The compiler clears the note when it starts and looks at it
// at the end.
enum VELQ_AllocationFailure { VELQ_ALLOCATION_OK, VELQ_SYSTEM_REFUSED, VELQ_BUDGET_REFUSED };
VELQ_AllocationFailure velqAllocationFailure();
inline bool velqAllocationFailed() { return velqAllocationFailure() != VELQ_ALLOCATION_OK; }
void velqClearAllocationFailure();
// Notes a failure again (after a nested piece of work cleared the note for itself).
void velqNoteAllocationFailure(VELQ_AllocationFailure why);

// Memory kept aside, outside any budget, for the report of a run that the system refuses
// memory: the first refusal gives it back, so that the run's error keeps its line and
// call frames and the host can still report it. A run keeps it (again) when it starts;
// a thread's reserve goes back to the system when the thread ends.
void velqKeepReserve();

// The memory budget of the run in progress in this thread. While one is set, every
// block this thread allocates counts its size into `used`, every block it releases
// counts it out again, and an allocation that would bring `used` above `limit` is
// refused as VELQ_BUDGET_REFUSED.
struct VELQ_MemoryBudget {
  long long used;
  unsigned long long limit;
};
// Sets the budget of this thread (null: none) and returns the one it replaces.
VELQ_MemoryBudget *velqSetMemoryBudget(VELQ_MemoryBudget *budget);

// Memory that belongs to the report of a run rather than to the run (the frames of its
// error) is kept out of its budget: the budget is set aside while one of these lives.
class VELQ_BudgetPause {
 public:
  VELQ_BudgetPause() : saved(velqSetMemoryBudget(nullptr)) {}
  ~VELQ_BudgetPause() { velqSetMemoryBudget(saved); }
  VELQ_BudgetPause(const VELQ_BudgetPause &) = delete;
  VELQ_BudgetPause &operator=(const VELQ_BudgetPause &) = delete;

 private:
  VELQ_MemoryBudget *saved;
};

// Whether memory that a library allocates outside this path (the expression compiler),
// estimated at bytes, fits the budget of the run in progress; when it does not, the
// refusal is noted as VELQ_BUDGET_REFUSED.
bool velqBudgetAllows(double bytes);
// The same question without noting a refusal: for memory its holder can give back to
// make room (compiled expressions kept for later matches).
bool velqBudgetHasRoom(double bytes);

#ifdef VELQ_FAULT_INJECTION
// Test builds (-DVELQ_FAULT_INJECTION=ON): makes the n-th allocation of this thread from
// now on fail as if the system refused it (0: none), whichever of the functions above
// makes it; velqFaultInjected tells whether it has happened since.
void velqInjectFault(long n);
bool velqFaultInjected();
#endif


// Defines the class-level operator new and delete that the engine's public classes
// declare: new returns null when memory is refused (so a new-expression yields null
// instead of throwing), delete releases through velqRelease.
#define VELQ_DEFINE_ENGINE_ALLOCATION(Class)                                     \
  void *Class::operator new(size_t size) noexcept { return velqAllocate(size); } \
  void Class::operator delete(void *block) noexcept { velqRelease(block); }

// The same for the classes whose objects come from the per-thread pools; their
// operator delete is declared with the object's size.
#define VELQ_DEFINE_POOLED_ALLOCATION(Class)                                                \
  void *Class::operator new(size_t size) noexcept { return velqAllocateObject(size); }      \
  void Class::operator delete(void *block, size_t size) noexcept {                          \
    velqReleaseObject(block, size);                                                         \
  }

#endif
