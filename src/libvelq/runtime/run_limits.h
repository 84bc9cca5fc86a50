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

// Notes a host exception for the run in progress in this thread and stops it (see
// VELQ_RunLimits); outside a run it is dropped.
void velqNoteHostException(const char *text);

// The steady clock in nanoseconds.
long long velqSteadyNanoseconds();

#endif
