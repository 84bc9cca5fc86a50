// The limits of the run in progress in this thread, for work that runs long inside one
// instruction (a wildcard match, a copy of a large array): it asks velqWorkMayGoOn now
// and then, and stops when the answer is no; the run then stops with its error.
//
// A run is stopped through two flags of its machine: `interrupt` says that it must stop,
// and `reach`, the bound the run loop compares every jump, call and return target with,
// drops to 0, so that the loop leaves at its next jump, call or return without testing
// anything more than it tests anyway.
#ifndef VELQ_RUN_LIMITS_H
#define VELQ_RUN_LIMITS_H

#include <stdint.h>

#include <atomic>

struct VELQ_RunLimits {
  // Set by cancel(), by a refused allocation and by work that found the deadline passed:
  // the run stops before its next jump, call or return.
  std::atomic<bool> *interrupt;
  std::atomic<uint32_t> *reach;
  long long deadline;  // steady clock, nanoseconds; 0: none
  // An exception of the host's code that was caught where it could not stop the run at
  // once (a class's onObjectDelete runs wherever a value goes): the run stops with error
  // 31 at its next jump, call or return, with this text as the detail.
  bool hostException = false;
  char hostExceptionText[256] = {0};
};

// Stops the run: sets its interrupt and closes its reach. Safe from any thread and from
// a signal handler (lock-free atomic stores).
inline void velqInterruptRun(std::atomic<bool> *interrupt, std::atomic<uint32_t> *reach) {
  interrupt->store(true);
  reach->store(0);
}

// Opens the reach of a run up to bound, unless the run has been interrupted meanwhile.
// Sequentially consistent with velqInterruptRun: an interrupt is never lost to a reach
// stored after it.
inline void velqOpenReach(std::atomic<bool> *interrupt, std::atomic<uint32_t> *reach,
                          uint32_t bound) {
  reach->store(bound);
  if (interrupt->load()) reach->store(0);
}

// Sets the limits of this thread (null: none) and returns the ones they replace.
VELQ_RunLimits *velqSetRunLimits(VELQ_RunLimits *limits);

// The limits of this thread, or null outside a run.
VELQ_RunLimits *velqRunLimits();

// Whether work may go on: the run was not interrupted and its deadline has not passed
// (when it has, the interrupt is set). Always true outside a run.
bool velqWorkMayGoOn();

// Work inside one instruction or built-in pays for itself: whatever grows with its input
// (bytes copied, scanned or converted; values and array elements made, at
// VELQ_WORK_PER_VALUE bytes each) is charged to a count of this thread, and each time
// VELQ_WORK_BETWEEN_CHECKS bytes of it have been charged the limits are looked at
// (velqWorkMayGoOn). A budget thus holds whatever one instruction costs, within about one
// allocation or one check's worth of work, rather than every so many instructions. The
// charge is a thread-local subtraction, so it costs nothing worth measuring without
// budgets; outside a run the check finds no limits and says yes.
enum : long long { VELQ_WORK_BETWEEN_CHECKS = 1 << 20, VELQ_WORK_PER_VALUE = 64 };

// The work left until the next look at the limits. __thread rather than thread_local:
// plain data, reached without the wrapper call an extern thread_local needs.
extern __thread long long velqWorkUntilCheck __attribute__((tls_model("initial-exec")));

// Starts a new count and answers velqWorkMayGoOn().
bool velqWorkCheckpoint();

// Charges amount bytes of work; false when the run in progress must stop (its interrupt
// is then set, and the caller ends its work early with whatever consistent result it has).
inline bool velqChargeWork(unsigned long long amount) {
  velqWorkUntilCheck -= (long long)amount;
  if (__builtin_expect(velqWorkUntilCheck > 0, 1)) return true;
  return velqWorkCheckpoint();
}

// Notes a host exception for the run in progress in this thread and stops it (see
// VELQ_RunLimits); outside a run it is dropped.
void velqNoteHostException(const char *text);

// The steady clock in nanoseconds.
long long velqSteadyNanoseconds();

#endif
