// The limits of the run in progress in this thread, for work that runs long inside one
// instruction (a wildcard match, a copy of a large array): it asks velqWorkMayGoOn now
// and then, and stops when the answer is no; the run then stops with its error.
#ifndef VELQ_RUN_LIMITS_H
#define VELQ_RUN_LIMITS_H

#include <atomic>

struct VELQ_RunLimits {
  // Set by cancel(), by a refused allocation and by work that found the deadline passed:
  // the run stops before its next jump, call or return.
  std::atomic<bool> *interrupt;
  long long deadline;  // steady clock, nanoseconds; 0: none
};

// Sets the limits of this thread (null: none) and returns the ones they replace.
VELQ_RunLimits *velqSetRunLimits(VELQ_RunLimits *limits);

// The limits of this thread, or null outside a run.
VELQ_RunLimits *velqRunLimits();

// Whether work may go on: the run was not interrupted and its deadline has not passed
// (when it has, the interrupt is set). Always true outside a run.
bool velqWorkMayGoOn();

// The steady clock in nanoseconds.
long long velqSteadyNanoseconds();

#endif
