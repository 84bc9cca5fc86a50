// The limits of the run in progress in this thread.
#include "runtime/run_limits.h"

#include <time.h>

namespace {

__attribute__((tls_model("initial-exec"))) thread_local VELQ_RunLimits *runLimits = nullptr;

}  // namespace

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
    limits->interrupt->store(true, std::memory_order_relaxed);
    return false;
  }
  return true;
}

long long velqSteadyNanoseconds() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (long long)now.tv_sec * 1000000000LL + now.tv_nsec;
}
