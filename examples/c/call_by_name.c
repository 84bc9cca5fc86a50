/* Loads call_by_name.velq once and calls its functions by name with arguments, reading a
 * number, a text and an array back. */
#include <stdio.h>
#include <string.h>

#include "velq_c.h"

/* Calls function with argc arguments; prints the error and gives NULL when it fails. */
static velq_value *call(velq_instance *instance, const char *function, size_t argc,
                        velq_value **argv) {
  velq_value *result = NULL;
  velq_error *error = NULL;
  if (velq_call(instance, function, argc, (const velq_value *const *)argv, &result, &error) !=
      VELQ_OK)
    fprintf(stderr, "%s: %s\n", function, velq_error_message(error));
  velq_error_free(error);
  return result;
}

int main(void) {
  velq_engine *engine;
  velq_script *script = NULL;
  velq_instance *instance = NULL;
  velq_error *error = NULL;
  velq_engine_new(&engine);
  if (velq_compile_file(engine, "call_by_name.velq", &script, &error) != VELQ_OK ||
      velq_load(script, &instance, &error) != VELQ_OK) {
    fprintf(stderr, "%s\n", velq_error_message(error));
    return 1;
  }

  /* A number: area(3, 4.5). */
  velq_value *args[2];
  velq_value_int(3, &args[0]);
  velq_value_real(4.5, &args[1]);
  velq_value *area = call(instance, "area", 2, args);
  double number = 0;
  velq_value_get_real(area, &number);
  printf("area: %g\n", number);

  /* A text: label("widget", 3). */
  velq_value_free(args[0]);
  velq_value_text("widget", 6, &args[0]);
  velq_value_free(args[1]);
  velq_value_int(3, &args[1]);
  velq_value *label = call(instance, "label", 2, args);
  const char *text = "";
  velq_value_get_text(label, &text, NULL);
  printf("label: %s\n", text);

  /* An array: squares(4), walked in index order. */
  velq_value *squares = call(instance, "squares", 1, &args[1]);
  size_t size = 0;
  velq_array_size(squares, &size);
  for (size_t i = 0; i < size; i++) {
    int32_t index;
    velq_value *element;
    int64_t square = 0;
    velq_array_entry(squares, i, &index, &element);
    velq_value_get_int(element, &square);
    printf("squares[%d] = %lld\n", (int)index, (long long)square);
    velq_value_free(element);
  }

  velq_value_free(args[0]);
  velq_value_free(args[1]);
  velq_value_free(area);
  velq_value_free(label);
  velq_value_free(squares);
  velq_instance_free(instance);
  velq_script_free(script);
  velq_engine_free(engine);
  return 0;
}
