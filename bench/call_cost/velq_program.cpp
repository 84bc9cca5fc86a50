// The cost of one call of an empty script function through VELQ_Program::call, the C++
// interface under the C one.
//   velq_program CALLS
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "velq.h"

static double seconds() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec + now.tv_nsec / 1e9;
}

int main(int argc, char **argv) {
  long calls = argc > 1 ? atol(argv[1]) : 1000000;
  VELQ_Program *program = VELQCompile("sub empty() { }\n", nullptr, 0);
  if (!program || program->load(nullptr, nullptr) != 0) return 1;
  for (long i = 0; i < calls / 100; i++) program->call("empty", 0, nullptr);
  double start = seconds();
  for (long i = 0; i < calls; i++)
    if (program->call("empty", 0, nullptr) != 0) return 1;
  double elapsed = seconds() - start;
  printf("velq C++ (VELQ_Program::call)\t%.1f\n", elapsed * 1e9 / calls);
  delete program;
  return 0;
}
