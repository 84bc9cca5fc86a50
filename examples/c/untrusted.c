/* Runs untrusted scripts under budgets of time, steps and memory, with module files off,
 * and reports each error with its file, line, subject and call chain:
 *   untrusted SCRIPT... */
#include <stdio.h>

#include "velq_c.h"

static void report(const velq_error *error) {
  printf("%s:%d: %s\n", velq_error_source(error), velq_error_line(error),
         velq_error_message(error));
  if (velq_error_subject(error)[0]) printf("  about: %s\n", velq_error_subject(error));
  for (size_t i = 0; i < velq_error_frame_count(error); i++) {
    const char *function, *module, *file;
    int line;
    velq_error_frame(error, i, &function, &module, &file, &line);
    printf("  in %s%s%s, line %d\n", module, module[0] ? "::" : "", function, line);
  }
}

int main(int argc, char **argv) {
  velq_engine *engine;
  velq_engine_new(&engine);
  velq_engine_set_module_files(engine, 0); /* "use" reaches no file */

  int failures = 0;
  for (int i = 1; i < argc; i++) {
    velq_instance *instance = NULL;
    velq_error *error = NULL;
    velq_status status = velq_load_file(engine, argv[i], &instance, &error);
    if (status == VELQ_OK) {
      velq_set_time_limit(instance, 2000);       /* milliseconds */
      velq_set_step_limit(instance, 1000000);    /* instructions */
      velq_set_memory_limit(instance, 16 << 20); /* bytes held at once */
      status = velq_run(instance, 0, NULL, NULL, &error);
    }
    if (status == VELQ_OK) {
      printf("%s: finished\n", argv[i]);
    } else {
      report(error);
      failures++;
    }
    velq_error_free(error);
    velq_instance_free(instance);
  }
  velq_engine_free(engine);
  return failures ? 1 : 0;
}
