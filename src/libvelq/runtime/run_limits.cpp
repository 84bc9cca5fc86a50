// The limits of the run in progress in this thread.
#include "runtime/run_limits.h"

#include <string.h>
#include <time.h>

namespace {

__attribute__((tls_model("initial-exec"))) thread_local VELQ_RunLimits *runLimits = nullptr;

}  // namespace

__thread long long velqWorkUntilCheck __attribute__((tls_model("initial-exec"))) =
    VELQ_WORK_BETWEEN_CHECKS;

// A run that must stop is asked again at every charge that follows, so that each loop on
// the way out (the callers of a recursive sort, the levels of a copy) ends early too.
bool velqWorkCheckpoint() {
  bool goOn = velqWorkMayGoOn();
  velqWorkUntilCheck = goOn ? VELQ_WORK_BETWEEN_CHECKS : 0;
  return goOn;
}

VELQ_RunLimits *velqSetRunLimits(VELQ_RunLimits *limits) {
  VELQ_RunLimits *previous = runLimits;
  runLimits = limits;
  return previous;
}

VELQ_RunLimits *velqRunLimits() { return runLimits; }

bool velqWorkMayGoOn() {
  VELQ_RunLimits *limits = runLimits;
  if (!limits) return true;
  if (limits->interrupt->load(std::memory_order_relaxed)) return false;
  if (limits->deadline && velqSteadyNanoseconds() >= limits->deadline) {
    velqInterruptRun(limits->interrupt, limits->reach);
    return false;
  }
  return true;
}

long long velqSteadyNanoseconds() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (long long)now.tv_sec * 1000000000LL + now.tv_nsec;
}

void velqNoteHostException(const char *text) {
  VELQ_RunLimits *limits = runLimits;
  if (!limits || limits->hostException) return;  // the first one is reported
  limits->hostException = true;
  strncpy(limits->hostExceptionText, text ? text : "", sizeof limits->hostExceptionText - 1);
  velqInterruptRun(limits->interrupt, limits->reach);
}
