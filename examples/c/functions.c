/* Gives scripts two host functions, mean(a, b) on numbers and words(text), which splits a
 * text into an array of words, and runs functions.velq with them. */
#include <stdio.h>
#include <string.h>

#include "velq_c.h"

/* mean(a, b): the mean of two numbers, as a real. */
static velq_status mean(velq_host_call *call, void *userdata) {
  double a, b;
  if (velq_value_get_real(velq_call_arg(call, 0), &a) != VELQ_OK ||
      velq_value_get_real(velq_call_arg(call, 1), &b) != VELQ_OK)
    return velq_call_fail(call, "mean wants two numbers");
  velq_value *result;
  velq_status status = velq_value_real((a + b) / 2, &result);
  return status == VELQ_OK ? velq_call_return(call, result) : status;
}

/* words(text): the words of a text, at indexes 0, 1, ... */
static velq_status words(velq_host_call *call, void *userdata) {
  const char *text;
  size_t length;
  if (velq_value_get_text(velq_call_arg(call, 0), &text, &length) != VELQ_OK)
    return velq_call_fail(call, "words wants a text");
  velq_value *array;
  if (velq_array_new(&array) != VELQ_OK) return VELQ_STATUS_NO_MEMORY;
  int32_t count = 0;
  for (size_t i = 0; i < length;) {
    size_t start = i;
    while (i < length && text[i] != ' ') i++;
    velq_value *word;
    if (i > start && velq_value_text(text + start, i - start, &word) == VELQ_OK) {
      velq_array_set(array, count++, word);
      velq_value_free(word);
    }
    while (i < length && text[i] == ' ') i++;
  }
  return velq_call_return(call, array);
}

int main(void) {
  velq_engine *engine;
  velq_script *script = NULL;
  velq_instance *instance = NULL;
  velq_error *error = NULL;
  velq_engine_new(&engine);
  velq_engine_add_function(engine, "mean", 2, mean, NULL);
  velq_engine_add_function(engine, "words", 1, words, NULL);

  velq_status status = velq_compile_file(engine, "functions.velq", &script, &error);
  if (status == VELQ_OK) status = velq_load(script, &instance, &error);
  if (status == VELQ_OK) status = velq_run(instance, 0, NULL, NULL, &error);
  if (status != VELQ_OK) fprintf(stderr, "%s\n", velq_error_message(error));

  velq_error_free(error);
  velq_instance_free(instance);
  velq_script_free(script);
  velq_engine_free(engine);
  return status == VELQ_OK ? 0 : 1;
}
