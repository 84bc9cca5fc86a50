/* Gives scripts two host functions, mean(a, b) on numbers and words(text), which splits a
 * text into an array of words, and runs functions.velq with them. */
#include <stdio.h>

#include "velq_c.h"

/* mean(a, b): the mean of two numbers, as a real. */
static velq_status mean(velq_host_call *call, void *userdata) {
  double a, b;
  velq_status status = velq_call_args(call, "dd", &a, &b); /* fails the call if not numbers */
  return status == VELQ_OK ? velq_call_returnf(call, "d", (a + b) / 2) : status;
}

/* words(text): the words of a text, at indexes 0, 1, ... */
static velq_status words(velq_host_call *call, void *userdata) {
  const char *text;
  size_t length;
  velq_value *array = NULL;
  velq_status status = velq_call_args(call, "t", &text, &length);
  if (status == VELQ_OK) status = velq_array_new(&array);
  int32_t count = 0;
  for (size_t i = 0; status == VELQ_OK && i < length;) {
    size_t start = i;
    while (i < length && text[i] != ' ') i++;
    if (i > start) status = velq_array_setf(array, count++, "t", text + start, i - start);
    while (i < length && text[i] == ' ') i++;
  }
  velq_call_return(call, array); /* the call takes the array, and drops it if status fails */
  return status;
}

int main(void) {
  velq_engine *engine;
  velq_instance *instance = NULL;
  velq_error *error = NULL;
  velq_engine_new(&engine);
  velq_engine_add_function(engine, "mean", 2, mean, NULL);
  velq_engine_add_function(engine, "words", 1, words, NULL);

  velq_status status = velq_load_file(engine, "functions.velq", &instance, &error);
  if (status == VELQ_OK) status = velq_run(instance, 0, NULL, NULL, &error);
  if (status != VELQ_OK) fprintf(stderr, "%s\n", velq_error_message(error));

  velq_error_free(error);
  velq_instance_free(instance);
  velq_engine_free(engine);
  return status == VELQ_OK ? 0 : 1;
}
