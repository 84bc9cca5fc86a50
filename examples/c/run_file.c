/* Runs a script file's main with the command line's arguments and prints its result:
 *   run_file SCRIPT [ARGUMENT...] */
#include <stdio.h>
#include <string.h>

#include "velq_c.h"

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: run_file SCRIPT [ARGUMENT...]\n");
    return 2;
  }
  velq_engine *engine = NULL;
  velq_instance *instance = NULL;
  velq_value *args[16], *result = NULL;
  velq_error *error = NULL;
  size_t count = 0;

  velq_engine_new(&engine);
  velq_status status = velq_load_file(engine, argv[1], &instance, &error);
  /* Arguments are texts; one that reads as a number is that number. */
  for (int i = 2; i < argc && count < 16; i++)
    velq_value_text(argv[i], strlen(argv[i]), &args[count++]);
  if (status == VELQ_OK)
    status = velq_run(instance, count, (const velq_value *const *)args, &result, &error);

  if (status == VELQ_OK) /* null, arrays and objects have no text: "" */
    printf("result: %s (%s)\n", velq_as_text(result, ""), velq_type_name(velq_value_type(result)));
  else
    fprintf(stderr, "%s: %s\n", velq_error_source(error), velq_error_message(error));

  for (size_t i = 0; i < count; i++) velq_value_free(args[i]);
  velq_value_free(result);
  velq_error_free(error);
  velq_instance_free(instance);
  velq_engine_free(engine);
  return status == VELQ_OK ? 0 : 1;
}
