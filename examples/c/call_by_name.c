/* Loads call_by_name.velq once and calls its functions by name with arguments, reading a
 * number, a text and an array back. */
#include <stdarg.h>
#include <stdio.h>

#include "velq_c.h"

/* Calls function with the arguments of format (velq_callf's letters: i int, d double,
 * s text, ...); prints the error and gives NULL when the call fails. */
static velq_value *call(velq_instance *instance, const char *function, const char *format, ...) {
  velq_value *result = NULL;
  velq_error *error = NULL;
  va_list arguments;
  va_start(arguments, format);
  if (velq_vcallf(instance, function, &result, &error, format, arguments) != VELQ_OK)
    fprintf(stderr, "%s: %s\n", function, velq_error_message(error));
  va_end(arguments);
  velq_error_free(error);
  return result;
}

int main(void) {
  velq_engine *engine;
  velq_instance *instance = NULL;
  velq_error *error = NULL;
  velq_engine_new(&engine);
  if (velq_load_file(engine, "call_by_name.velq", &instance, &error) != VELQ_OK) {
    fprintf(stderr, "%s\n", velq_error_message(error));
    velq_error_free(error);
    velq_engine_free(engine);
    return 1;
  }

  /* A number: area(3, 4.5). */
  velq_value *area = call(instance, "area", "id", 3, 4.5);
  if (area) printf("area: %g\n", velq_as_real(area, 0));

  /* A text: label("widget", 3). */
  velq_value *label = call(instance, "label", "si", "widget", 3);
  if (label) printf("label: %s\n", velq_as_text(label, ""));

  /* An array: squares(3), walked in index order. */
  velq_value *squares = call(instance, "squares", "i", 3);
  size_t size = 0;
  velq_array_size(squares, &size);
  for (size_t i = 0; i < size; i++) {
    int32_t index = 0;
    velq_value *element;
    velq_array_entry(squares, i, &index, &element); /* element is NULL if this fails */
    printf("squares[%d] = %lld\n", (int)index, (long long)velq_as_int(element, 0));
    velq_value_free(element);
  }

  velq_value_free(area);
  velq_value_free(label);
  velq_value_free(squares);
  velq_instance_free(instance);
  velq_engine_free(engine);
  return 0;
}
