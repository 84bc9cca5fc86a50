/* The cost of one call of an empty script function through the C interface, velq_call.
 *   velq_c CALLS */
#define _POSIX_C_SOURCE 200809L
#include "velq_c.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static double seconds(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec + now.tv_nsec / 1e9;
}

int main(int argc, char **argv) {
  long calls = argc > 1 ? atol(argv[1]) : 1000000;
  static const char text[] = "sub empty() { }\n";
  velq_engine *engine;
  velq_script *script;
  velq_instance *instance;
  velq_engine_new(&engine);
  if (velq_compile(engine, text, strlen(text), "empty.velq", &script, NULL) != VELQ_OK ||
      velq_load(script, &instance, NULL) != VELQ_OK)
    return 1;
  for (long i = 0; i < calls / 100; i++) velq_call(instance, "empty", 0, NULL, NULL, NULL);
  double start = seconds();
  for (long i = 0; i < calls; i++)
    if (velq_call(instance, "empty", 0, NULL, NULL, NULL) != VELQ_OK) return 1;
  double elapsed = seconds() - start;
  printf("velq C interface (velq_call)\t%.1f\n", elapsed * 1e9 / calls);
  velq_instance_free(instance);
  velq_script_free(script);
  velq_engine_free(engine);
  return 0;
}
