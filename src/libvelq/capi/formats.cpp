// Formats of the C interface: values made from a host's C arguments by one letter each, as
// printf reads its arguments (velq_callf, velq_call_returnf, velq_array_setf), and a host
// function's arguments read back into C variables, as scanf writes them (velq_call_args).
//
// A variadic function cannot tell what it was given, so a whole format is checked before
// the first C argument is read: a bad letter never makes the function read an argument
// that is not there. Everything here is built on the public functions of values.cpp.
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "capi/capi.h"

namespace {

// The letters that make a value, and those that read an argument (n has nothing to read).
constexpr const char kMakeLetters[] = "iIdstvn";
constexpr const char kReadLetters[] = "iIdstv";

// Room for the message of an argument that does not convert.
constexpr size_t kArgumentMessageSize = 200;

// Whether every letter of format is one of letters.
bool validFormat(const char *format, const char *letters) {
  if (!format) return false;
  for (const char *letter = format; *letter; letter++)
    if (!strchr(letters, *letter)) return false;
  return true;
}

// Makes the value of one letter from the next C arguments.
velq_status makeValue(char letter, va_list *arguments, velq_value **out) {
  switch (letter) {
    case 'i':
      return velq_value_int(va_arg(*arguments, int), out);
    case 'I':
      return velq_value_int(va_arg(*arguments, int64_t), out);
    case 'd':
      return velq_value_real(va_arg(*arguments, double), out);
    case 's': {
      const char *text = va_arg(*arguments, const char *);
      return text ? velq_value_text(text, strlen(text), out) : VELQ_STATUS_INVALID;
    }
    case 't': {
      const char *text = va_arg(*arguments, const char *);
      size_t length = va_arg(*arguments, size_t);
      return velq_value_text(text, length, out);
    }
    case 'v':
      return velq_value_copy(va_arg(*arguments, const velq_value *), out);
    case 'n':
      return velq_value_null(out);
    default:
      return VELQ_STATUS_INVALID;
  }
}

// The values of a checked format, one per letter, freed with the list.
class MadeValues {
 public:
  ~MadeValues() {
    for (size_t i = 0; i < count; i++) velq_value_free(values[i]);
    free(values);
  }

  // Makes every value of format from the C arguments; on failure, *failed (when not null)
  // is the position of the letter that failed.
  velq_status make(const char *format, va_list *arguments, size_t *failed = nullptr) {
    size_t letters = strlen(format);
    values = static_cast<velq_value **>(calloc(letters ? letters : 1, sizeof *values));
    if (!values) return VELQ_STATUS_NO_MEMORY;
    for (; count < letters; count++) {
      velq_status status = makeValue(format[count], arguments, &values[count]);
      if (status != VELQ_OK) {
        if (failed) *failed = count;
        return status;
      }
    }
    return VELQ_OK;
  }

  velq_value **values = nullptr;
  size_t count = 0;
};

// Ends a host function's call over argument position (0 first), which is missing (when
// expected is null) or not what the letter expects: "NAME: argument N: expected X, got T".
velq_status failArgument(velq_host_call *call, size_t position, const char *expected) {
  char message[kArgumentMessageSize];
  const velq_value *argument = velq_call_arg(call, position);
  if (!expected)
    snprintf(message, sizeof message, "%s: argument %zu: missing", velq_call_name(call),
             position + 1);
  else
    snprintf(message, sizeof message, "%s: argument %zu: expected %s, got %s", velq_call_name(call),
             position + 1, expected, velq_type_name(velq_value_type(argument)));
  return velq_call_fail(call, message);
}

// Reads argument position by its letter into the next C pointers. Each pointer is taken
// as the type its letter names, the type the host passed.
velq_status readArgument(velq_host_call *call, size_t position, char letter, va_list *arguments) {
  const velq_value *argument = velq_call_arg(call, position);
  switch (letter) {
    case 'i': {
      int *target = va_arg(*arguments, int *);
      int64_t n = 0;
      if (!target) return VELQ_STATUS_INVALID;
      if (!argument) return failArgument(call, position, nullptr);
      if (velq_value_get_int(argument, &n) != VELQ_OK)
        return failArgument(call, position, "a number");
      if (n < INT_MIN || n > INT_MAX)
        return failArgument(call, position, "a number that fits an int");
      *target = (int)n;
      return VELQ_OK;
    }
    case 'I': {
      int64_t *target = va_arg(*arguments, int64_t *);
      if (!target) return VELQ_STATUS_INVALID;
      if (!argument) return failArgument(call, position, nullptr);
      if (velq_value_get_int(argument, target) == VELQ_OK) return VELQ_OK;
      return failArgument(call, position, "a number");
    }
    case 'd': {
      double *target = va_arg(*arguments, double *);
      if (!target) return VELQ_STATUS_INVALID;
      if (!argument) return failArgument(call, position, nullptr);
      if (velq_value_get_real(argument, target) == VELQ_OK) return VELQ_OK;
      return failArgument(call, position, "a number");
    }
    case 's':
    case 't': {
      const char **target = va_arg(*arguments, const char **);
      size_t *length = letter == 't' ? va_arg(*arguments, size_t *) : nullptr;
      if (!target || (letter == 't' && !length)) return VELQ_STATUS_INVALID;
      if (!argument) return failArgument(call, position, nullptr);
      velq_status status = velq_value_get_text(argument, target, length);
      if (status == VELQ_STATUS_INVALID) return failArgument(call, position, "a text");
      return status;
    }
    case 'v': {
      const velq_value **target = va_arg(*arguments, const velq_value **);
      if (!target) return VELQ_STATUS_INVALID;
      if (!argument) return failArgument(call, position, nullptr);
      *target = argument;
      return VELQ_OK;
    }
    default:
      return VELQ_STATUS_INVALID;
  }
}

}  // namespace

extern "C" {

velq_status velq_callf(velq_instance *instance, const char *function, velq_value **result,
                       velq_error **error, const char *format, ...) {
  va_list arguments;
  va_start(arguments, format);
  velq_status status = velq_vcallf(instance, function, result, error, format, arguments);
  va_end(arguments);
  return status;
}

velq_status velq_vcallf(velq_instance *instance, const char *function, velq_value **result,
                        velq_error **error, const char *format, va_list arguments) {
  velqNoError(error);
  if (result) *result = nullptr;
  if (!validFormat(format, kMakeLetters))
    return velqFail(error, VELQ_STATUS_INVALID,
                    "velq_callf: a format of the letters i I d s t v n");
  MadeValues made;
  size_t failed = 0;
  va_list copy;
  va_copy(copy, arguments);
  velq_status status = made.make(format, &copy, &failed);
  va_end(copy);
  if (status == VELQ_STATUS_INVALID) {
    char message[kArgumentMessageSize];
    snprintf(message, sizeof message, "velq_callf: argument %zu (%c) is NULL", failed + 1,
             format[failed]);
    return velqFail(error, status, message);
  }
  if (status != VELQ_OK) return velqFail(error, status, "the arguments");
  return velq_call(instance, function, made.count, made.values, result, error);
}

velq_status velq_array_setf(velq_value *array, int32_t index, const char *format, ...) {
  size_t size = 0;
  if (velq_array_size(array, &size) != VELQ_OK || !validFormat(format, kMakeLetters))
    return VELQ_STATUS_INVALID;
  size_t letters = strlen(format);
  // The last index must be an index too.
  if (letters > 0 && (uint64_t)letters - 1 > (uint64_t)((int64_t)INT32_MAX - index))
    return VELQ_STATUS_INVALID;
  MadeValues made;
  va_list arguments;
  va_start(arguments, format);
  velq_status status = made.make(format, &arguments);
  va_end(arguments);
  for (size_t i = 0; status == VELQ_OK && i < made.count; i++)
    status = velq_array_set(array, (int32_t)(index + (int64_t)i), made.values[i]);
  return status;
}

velq_status velq_call_returnf(velq_host_call *call, const char *format, ...) {
  if (!call || !validFormat(format, kMakeLetters) || strlen(format) != 1)
    return VELQ_STATUS_INVALID;
  velq_value *value = nullptr;
  va_list arguments;
  va_start(arguments, format);
  velq_status status = makeValue(format[0], &arguments, &value);
  va_end(arguments);
  return status == VELQ_OK ? velq_call_return(call, value) : status;
}

velq_status velq_call_args(velq_host_call *call, const char *format, ...) {
  if (!call || !validFormat(format, kReadLetters)) return VELQ_STATUS_INVALID;
  va_list arguments;
  va_start(arguments, format);
  velq_status status = VELQ_OK;
  for (size_t i = 0; status == VELQ_OK && format[i]; i++)
    status = readArgument(call, i, format[i], &arguments);
  va_end(arguments);
  return status;
}

}  // extern "C"
