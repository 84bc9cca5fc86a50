/* Tests of the C interface, written as a C host writes: C11, the one header velq_c.h.
 * Each test_ function covers one behaviour; CHECK records a failure with its line and
 * goes on, so one run reports every mismatch. The last line is the count. */
#define _POSIX_C_SOURCE 200809L

#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "velq_c.h"

static int passed, failed;

static void check(int ok, const char *what, int line) {
  if (ok) {
    passed++;
  } else {
    failed++;
    fprintf(stderr, "capi_test.c:%d: FAILED: %s\n", line, what);
  }
}

#define CHECK(condition) check((condition) != 0, #condition, __LINE__)
#define CHECK_TEXT(actual, expected) check_text((actual), (expected), #actual, __LINE__)

static void check_text(const char *actual, const char *expected, const char *what, int line) {
  int ok = actual && strcmp(actual, expected) == 0;
  check(ok, what, line);
  if (!ok) fprintf(stderr, "  got \"%s\", expected \"%s\"\n", actual ? actual : "(null)", expected);
}

/* ---- Helpers: compile, load and call, or report why not ---------------------------- */

static velq_instance *load_text(velq_engine *engine, const char *text) {
  velq_script *script = NULL;
  velq_instance *instance = NULL;
  velq_error *error = NULL;
  if (velq_compile(engine, text, strlen(text), "test.velq", &script, &error) != VELQ_OK ||
      velq_load(script, &instance, &error) != VELQ_OK) {
    fprintf(stderr, "cannot load a test script: %s\n", velq_error_message(error));
    failed++;
  }
  velq_error_free(error);
  velq_script_free(script); /* the instance keeps what it needs */
  return instance;
}

/* Calls a function and gives the error's code (VELQ_OK without error); the error itself
 * goes to *error when error is not NULL. */
static velq_status call(velq_instance *instance, const char *function, velq_value **result,
                        velq_error **error, size_t argc, ...) {
  velq_value *argv[8];
  va_list list;
  va_start(list, argc);
  for (size_t i = 0; i < argc && i < 8; i++) argv[i] = va_arg(list, velq_value *);
  va_end(list);
  velq_error *own = NULL;
  velq_status status = velq_call(instance, function, argc, (const velq_value *const *)argv, result,
                                 error ? error : &own);
  velq_error_free(own);
  for (size_t i = 0; i < argc; i++) velq_value_free(argv[i]);
  return status;
}

static velq_value *int_value(int64_t n) {
  velq_value *value = NULL;
  velq_value_int(n, &value);
  return value;
}

static velq_value *text_value(const char *text) {
  velq_value *value = NULL;
  velq_value_text(text, strlen(text), &value);
  return value;
}

static const char *text_of(const velq_value *value) {
  const char *text = NULL;
  return velq_value_get_text(value, &text, NULL) == VELQ_OK ? text : "(no text)";
}

static int64_t int_of(const velq_value *value) {
  int64_t n = -999999;
  velq_value_get_int(value, &n);
  return n;
}

/* ---- Compiling ------------------------------------------------------------------- */

static void test_compile_errors(velq_engine *engine) {
  static const struct {
    const char *text;
    const char *message;
    int line, column;
  } cases[] = {
      {"sub main() {\n  x = 1\n}\n", "Error in line 3: syntax error, unexpected '}'", 3, 1},
      {"sub main() {\n  return 1\n}\n",
       "Error in line 3: syntax error, unexpected '}', expecting ';'", 3, 1},
      {"sub f() { }\nsub f() { }\n", "Error in line 2: Duplicate function name: \"f\"", 2, 6},
      {"sub main() {\n  x = \"abc\ndef\";\n}\n", "Error in line 2: Newline in string constant", 2,
       11},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) {
    velq_script *script = (velq_script *)&script; /* must be set to NULL */
    velq_error *error = NULL;
    velq_status status =
        velq_compile(engine, cases[i].text, strlen(cases[i].text), "case.velq", &script, &error);
    CHECK(status == VELQ_STATUS_COMPILE_ERROR);
    CHECK(script == NULL);
    CHECK(velq_error_code(error) == VELQ_STATUS_COMPILE_ERROR);
    CHECK_TEXT(velq_error_message(error), cases[i].message);
    CHECK(velq_error_line(error) == cases[i].line);
    if (velq_error_column(error) != cases[i].column)
      fprintf(stderr, "  case %zu: column %d\n", i, velq_error_column(error));
    CHECK(velq_error_column(error) == cases[i].column);
    CHECK_TEXT(velq_error_source(error), "case.velq");
    CHECK(velq_error_frame_count(error) == 0);
    velq_error_free(error);
  }

  /* The error pointer is optional; the status alone tells. */
  velq_script *script = NULL;
  CHECK(velq_compile(engine, "sub main( {", 11, NULL, &script, NULL) == VELQ_STATUS_COMPILE_ERROR);
  CHECK(script == NULL);
}

static void test_compile_file(velq_engine *engine) {
  char directory[] = "/tmp/velq_capi_XXXXXX";
  if (!mkdtemp(directory)) return;
  char path[128];
  snprintf(path, sizeof path, "%s/broken.velq", directory);
  FILE *file = fopen(path, "w");
  fputs("sub main() {\n  return 1 +;\n}\n", file);
  fclose(file);

  velq_script *script = NULL;
  velq_error *error = NULL;
  CHECK(velq_compile_file(engine, path, &script, &error) == VELQ_STATUS_COMPILE_ERROR);
  CHECK(velq_error_line(error) == 2);
  CHECK_TEXT(velq_error_source(error), path);
  velq_error_free(error);

  char missing[160];
  snprintf(missing, sizeof missing, "%s/missing.velq", directory);
  CHECK(velq_compile_file(engine, missing, &script, &error) == VELQ_STATUS_FILE_ERROR);
  CHECK(velq_error_code(error) == VELQ_STATUS_FILE_ERROR);
  CHECK_TEXT(velq_error_source(error), missing);
  CHECK(strstr(velq_error_message(error), missing) != NULL);
  velq_error_free(error);

  unlink(path);
  rmdir(directory);
}

/* ---- Running and calling ----------------------------------------------------------- */

static const char *const functions_script =
    "sub main(a, b) { return a * b; }\n"
    "sub add(a, b) { return a + b; }\n"
    "sub greet(name) { return \"hello \" . name; }\n"
    "sub nothing() { }\n"
    "sub pair(a, b) { array r; r[0] = a; r[1] = b; return r; }\n"
    "sub fill(list) { list[0] = \"filled\"; return list; }\n"
    "sub total(list) { t = 0; i = 0; while (i < 3) { t = t + list[i]; i++; } return t; }\n";

static void test_run_and_call(velq_engine *engine) {
  velq_instance *instance = load_text(engine, functions_script);
  if (!instance) return;
  velq_value *result = NULL;

  /* Arguments of main are $1, $2: a text that reads as a number is that number. */
  CHECK(call(instance, NULL, &result, NULL, 0) == VELQ_STATUS_INVALID);
  velq_value *argv[2] = {int_value(6), text_value("7")};
  CHECK(velq_run(instance, 2, (const velq_value *const *)argv, &result, NULL) == VELQ_OK);
  CHECK(int_of(result) == 42);
  velq_value_free(result);
  velq_value_free(argv[0]);
  velq_value_free(argv[1]);

  static const struct {
    const char *function;
    int kind; /* of the arguments: 0 two ints, 1 int64 and int, 2 real and int, 3 a text */
    int type;
    const char *text;
  } cases[] = {
      {"add", 0, VELQ_TYPE_INT32, "5"},
      {"add", 1, VELQ_TYPE_INT64, "5000000003"},
      {"add", 2, VELQ_TYPE_REAL, "5.500000"},
      {"greet", 3, VELQ_TYPE_STRING, "hello ann"},
      {"nothing", -1, VELQ_TYPE_NULL, "(no text)"},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) {
    velq_status status;
    velq_value *real = NULL;
    switch (cases[i].kind) {
      case 0:
        status = call(instance, cases[i].function, &result, NULL, 2, int_value(2), int_value(3));
        break;
      case 1:
        status = call(instance, cases[i].function, &result, NULL, 2, int_value(5000000000LL),
                      int_value(3));
        break;
      case 2:
        velq_value_real(2.5, &real);
        status = call(instance, cases[i].function, &result, NULL, 2, real, int_value(3));
        break;
      case 3:
        status = call(instance, cases[i].function, &result, NULL, 1, text_value("ann"));
        break;
      default:
        status = call(instance, cases[i].function, &result, NULL, 0);
        break;
    }
    CHECK(status == VELQ_OK);
    CHECK(velq_value_type(result) == cases[i].type);
    CHECK_TEXT(text_of(result), cases[i].text);
    velq_value_free(result);
  }

  /* An array result is the host's own copy. */
  CHECK(call(instance, "pair", &result, NULL, 2, text_value("x"), int_value(9)) == VELQ_OK);
  size_t size = 0;
  CHECK(velq_array_size(result, &size) == VELQ_OK && size == 2);
  velq_value *element = NULL;
  CHECK(velq_array_get(result, 0, &element) == VELQ_OK);
  CHECK_TEXT(text_of(element), "x");
  velq_value_free(element);
  CHECK(velq_array_get(result, 1, &element) == VELQ_OK);
  CHECK(int_of(element) == 9);
  velq_value_free(element);
  velq_value_free(result);

  /* An array argument is read by the script and copied: what the function changes is
   * not the host's array. */
  velq_value *list = NULL;
  velq_array_new(&list);
  for (int32_t i = 0; i < 3; i++) {
    velq_value *n = int_value(10 * (i + 1));
    velq_array_set(list, i, n);
    velq_value_free(n);
  }
  velq_value *copy = NULL;
  velq_value_copy(list, &copy);
  CHECK(call(instance, "total", &result, NULL, 1, copy) == VELQ_OK);
  CHECK(int_of(result) == 60);
  velq_value_free(result);
  velq_value_copy(list, &copy);
  CHECK(call(instance, "fill", &result, NULL, 1, copy) == VELQ_OK);
  CHECK(velq_array_get(result, 0, &element) == VELQ_OK);
  CHECK_TEXT(text_of(element), "filled");
  velq_value_free(element);
  CHECK(velq_array_get(list, 0, &element) == VELQ_OK);
  CHECK(int_of(element) == 10);
  velq_value_free(element);
  velq_value_free(result);
  velq_value_free(list);

  /* No result wanted: the call still runs. */
  CHECK(call(instance, "nothing", NULL, NULL, 0) == VELQ_OK);
  velq_instance_free(instance);
}

static void test_function_not_found(velq_engine *engine) {
  velq_instance *instance = load_text(engine, functions_script);
  if (!instance) return;
  velq_error *error = NULL;
  velq_value *result = (velq_value *)&result; /* must be set to NULL */
  CHECK(call(instance, "no_such_function", &result, &error, 0) == 11);
  CHECK(result == NULL);
  CHECK(velq_error_code(error) == 11);
  CHECK_TEXT(velq_error_subject(error), "no_such_function");
  CHECK(strstr(velq_error_message(error), "Error 11 in line 0: Function not found") != NULL);
  CHECK_TEXT(velq_error_source(error), "test.velq");
  velq_error_free(error);

  /* The instance serves the next call as before. */
  CHECK(call(instance, "add", &result, NULL, 2, int_value(1), int_value(1)) == VELQ_OK);
  CHECK(int_of(result) == 2);
  velq_value_free(result);
  velq_instance_free(instance);
}

/* Globals persist across the calls of one instance; two instances of one script have
 * globals of their own. */
static void test_globals(velq_engine *engine) {
  static const char text[] = "sub bump() { count = count + 1; return count; }\n";
  velq_script *script = NULL;
  velq_instance *first = NULL, *second = NULL;
  CHECK(velq_compile(engine, text, strlen(text), "globals.velq", &script, NULL) == VELQ_OK);
  CHECK(velq_load(script, &first, NULL) == VELQ_OK);
  CHECK(velq_load(script, &second, NULL) == VELQ_OK);
  velq_script_free(script);
  if (!first || !second) return;

  velq_value *start = int_value(0);
  CHECK(velq_set_global(first, "count", start) == VELQ_OK);
  velq_value_free(start);
  start = int_value(100);
  CHECK(velq_set_global(second, "count", start) == VELQ_OK);
  velq_value_free(start);

  velq_value *result = NULL;
  for (int i = 1; i <= 3; i++) {
    CHECK(call(first, "bump", &result, NULL, 0) == VELQ_OK);
    CHECK(int_of(result) == i);
    velq_value_free(result);
  }
  CHECK(call(second, "bump", &result, NULL, 0) == VELQ_OK);
  CHECK(int_of(result) == 101);
  velq_value_free(result);

  velq_value *count = NULL;
  CHECK(velq_get_global(first, "count", &count) == VELQ_OK);
  CHECK(int_of(count) == 3);
  velq_value_free(count);
  CHECK(velq_get_global(second, "count", &count) == VELQ_OK);
  CHECK(int_of(count) == 101);
  velq_value_free(count);
  CHECK(velq_get_global(first, "never_set", &count) == VELQ_STATUS_INVALID);

  velq_instance_free(first);
  velq_instance_free(second);
}

/* ---- Host functions ---------------------------------------------------------------- */

static velq_status scale(velq_host_call *call, void *userdata) {
  int64_t n = 0;
  if (velq_value_get_int(velq_call_arg(call, 0), &n) != VELQ_OK) return 4;
  velq_value *result = NULL;
  if (velq_value_int(n * *(const int *)userdata, &result) != VELQ_OK) return VELQ_STATUS_NO_MEMORY;
  return velq_call_return(call, result);
}

/* Any number of arguments: gives the count and the name it was called by. */
static velq_status describe(velq_host_call *call, void *userdata) {
  char text[96];
  snprintf(text, sizeof text, "%s/%zu", velq_call_name(call), velq_call_argc(call));
  CHECK(velq_call_arg(call, velq_call_argc(call)) == NULL);
  velq_value *result = NULL;
  velq_value_text(text, strlen(text), &result);
  return velq_call_return(call, result);
}

static velq_status refuse(velq_host_call *call, void *userdata) {
  return velq_call_fail(call, "the door is locked");
}

static velq_status divide_error(velq_host_call *call, void *userdata) { return 9; }

/* Calls back into the instance it runs in, which is busy with this call. */
static velq_status reenter(velq_host_call *call, void *userdata) {
  velq_instance *instance = *(velq_instance **)userdata;
  velq_value *result = NULL;
  velq_status status = velq_call(instance, "main", 0, NULL, &result, NULL);
  velq_value *answer = int_value(status);
  return velq_call_return(call, answer);
}

static void test_host_functions(void) {
  velq_engine *engine = NULL;
  velq_engine_new(&engine);
  int factor = 3;
  velq_instance *self = NULL;
  CHECK(velq_engine_add_function(engine, "scale", 1, scale, &factor) == VELQ_OK);
  CHECK(velq_engine_add_function(engine, "describe", -1, describe, NULL) == VELQ_OK);
  CHECK(velq_engine_add_function(engine, "refuse", 0, refuse, NULL) == VELQ_OK);
  CHECK(velq_engine_add_function(engine, "divide_error", 0, divide_error, NULL) == VELQ_OK);
  CHECK(velq_engine_add_function(engine, "reenter", 0, reenter, &self) == VELQ_OK);
  CHECK(velq_engine_add_function(engine, "", 0, refuse, NULL) == VELQ_STATUS_INVALID);
  CHECK(velq_engine_add_function(engine, "bad_arity", -2, refuse, NULL) == VELQ_STATUS_INVALID);

  static const char text[] =
      "sub main() { return scale(14); }\n"
      "sub variadic() { return describe(1, \"two\", 3) . \" \" . describe(); }\n"
      "sub wrong_count() {\n  return scale(1, 2);\n}\n"
      "sub failing() {\n  x = 1;\n  return refuse();\n}\n"
      "sub erring() { return divide_error(); }\n"
      "sub nested() { return reenter(); }\n";
  self = load_text(engine, text);
  velq_engine_free(engine); /* the instance keeps the engine */
  if (!self) return;

  velq_value *result = NULL;
  velq_error *error = NULL;
  CHECK(call(self, "main", &result, NULL, 0) == VELQ_OK);
  CHECK(int_of(result) == 42);
  velq_value_free(result);
  factor = 5; /* userdata is the host's pointer, read at every call */
  CHECK(call(self, "main", &result, NULL, 0) == VELQ_OK);
  CHECK(int_of(result) == 70);
  velq_value_free(result);

  CHECK(call(self, "variadic", &result, NULL, 0) == VELQ_OK);
  CHECK_TEXT(text_of(result), "describe/3 describe/0");
  velq_value_free(result);

  CHECK(call(self, "wrong_count", &result, &error, 0) == 12);
  CHECK(velq_error_line(error) == 4);
  CHECK(strstr(velq_error_subject(error), "scale") != NULL);
  velq_error_free(error);

  CHECK(call(self, "failing", &result, &error, 0) == VELQ_STATUS_HOST_EXCEPTION);
  CHECK(velq_error_code(error) == 31);
  CHECK_TEXT(velq_error_detail(error), "the door is locked");
  CHECK(velq_error_line(error) == 8);
  CHECK(strstr(velq_error_message(error), "Error 31 in line 8: Host exception") != NULL);
  velq_error_free(error);

  CHECK(call(self, "erring", &result, &error, 0) == 9);
  CHECK_TEXT(velq_error_detail(error), "");
  velq_error_free(error);

  CHECK(call(self, "nested", &result, NULL, 0) == VELQ_OK);
  CHECK(int_of(result) == VELQ_STATUS_INVALID);
  velq_value_free(result);
  velq_instance_free(self);
}

/* ---- Host classes ------------------------------------------------------------------ */

struct point {
  int64_t x, y;
  int *destroyed;
};

static velq_status point_get(void *object, const char *name, velq_value **result, void *data) {
  const struct point *p = object;
  if (strcmp(name, "x") == 0) return velq_value_int(p->x, result);
  if (strcmp(name, "y") == 0) return velq_value_int(p->y, result);
  return VELQ_STATUS_INVALID;
}

static velq_status point_set(void *object, const char *name, const velq_value *value, void *data) {
  struct point *p = object;
  if (strcmp(name, "x") != 0) return VELQ_STATUS_INVALID;
  return velq_value_get_int(value, &p->x);
}

static void point_destroy(void *object, void *data) {
  struct point *p = object;
  ++*p->destroyed;
  free(p);
}

struct point_maker {
  velq_engine *engine;
  int destroyed;
};

/* point(x, y): a new POINT object. */
static velq_status make_point(velq_host_call *call, void *userdata) {
  struct point_maker *maker = userdata;
  struct point *p = malloc(sizeof *p);
  if (!p) return VELQ_STATUS_NO_MEMORY;
  velq_value_get_int(velq_call_arg(call, 0), &p->x);
  velq_value_get_int(velq_call_arg(call, 1), &p->y);
  p->destroyed = &maker->destroyed;
  velq_value *object = NULL;
  velq_status status = velq_value_object(maker->engine, "POINT", p, &object);
  if (status != VELQ_OK) {
    free(p);
    return status;
  }
  return velq_call_return(call, object);
}

static void test_host_class(void) {
  struct point_maker maker = {NULL, 0};
  velq_engine_new(&maker.engine);
  CHECK(velq_engine_add_class(maker.engine, "POINT", point_get, point_set, point_destroy, NULL) ==
        VELQ_OK);
  CHECK(velq_engine_add_class(maker.engine, "POINT", NULL, NULL, NULL, NULL) ==
        VELQ_STATUS_INVALID);
  velq_engine_add_function(maker.engine, "point", 2, make_point, &maker);
  velq_instance *instance = load_text(maker.engine,
                                      "sub main() { p = point(1, 2); p->x = p->x + 10;\n"
                                      "  return p->x * 100 + p->y; }\n"
                                      "sub keep() { return point(3, 4); }\n"
                                      "sub unknown() {\n  p = point(1, 2);\n  return p->z;\n}\n"
                                      "sub read_only() {\n  p = point(1, 2);\n  p->y = 5;\n}\n"
                                      "sub kind() { return classof(point(0, 0)); }\n");
  if (!instance) return;
  velq_value *result = NULL;
  velq_error *error = NULL;

  CHECK(call(instance, "main", &result, NULL, 0) == VELQ_OK);
  CHECK(int_of(result) == 1102);
  CHECK(maker.destroyed == 1); /* the script's object went with its call */
  velq_value_free(result);

  static const struct {
    const char *function;
    int line;
    const char *subject;
  } refused[] = {{"unknown", 6, "z"}, {"read_only", 10, "y"}};
  for (size_t i = 0; i < sizeof refused / sizeof refused[0]; i++) {
    CHECK(call(instance, refused[i].function, &result, &error, 0) == 15);
    CHECK(velq_error_line(error) == refused[i].line);
    CHECK_TEXT(velq_error_subject(error), refused[i].subject);
    velq_error_free(error);
  }
  CHECK(maker.destroyed == 3);

  CHECK(call(instance, "kind", &result, NULL, 0) == VELQ_OK);
  CHECK_TEXT(text_of(result), "POINT");
  velq_value_free(result);
  CHECK(maker.destroyed == 4);

  /* An object the host holds lives on after the instance and the engine, and is
   * destroyed once, when the host's last copy goes. */
  CHECK(call(instance, "keep", &result, NULL, 0) == VELQ_OK);
  velq_value *copy = NULL;
  CHECK(velq_value_copy(result, &copy) == VELQ_OK);
  velq_instance_free(instance);
  velq_engine_free(maker.engine);
  void *object = NULL;
  const char *class_name = NULL;
  CHECK(velq_value_type(result) == VELQ_TYPE_OBJECT);
  CHECK(velq_value_get_object(result, &object, &class_name) == VELQ_OK);
  CHECK_TEXT(class_name, "POINT");
  CHECK(((struct point *)object)->x == 3);
  velq_value_free(result);
  CHECK(maker.destroyed == 4);
  velq_value_free(copy);
  CHECK(maker.destroyed == 5);
}

/* ---- Values and arrays --------------------------------------------------------------- */

static void test_values(void) {
  velq_value *values[9] = {NULL};
  velq_value_int(5, &values[0]);
  velq_value_int(1LL << 40, &values[1]);
  velq_value_uint(5, &values[2]);
  velq_value_uint(1ULL << 40, &values[3]);
  velq_value_real(-0.25, &values[4]);
  velq_value_bool(7, &values[5]);
  velq_value_text("12", 2, &values[6]);
  velq_value_text("a\0b", 3, &values[7]);
  velq_value_null(&values[8]);
  static const struct {
    int type;
    const char *type_name;
    const char *text;
    int64_t number;
  } expected[] = {
      {VELQ_TYPE_INT32, "int32", "5", 5},
      {VELQ_TYPE_INT64, "int64", "1099511627776", 1LL << 40},
      {VELQ_TYPE_UINT32, "uint32", "5", 5},
      {VELQ_TYPE_UINT64, "uint64", "1099511627776", 1LL << 40},
      {VELQ_TYPE_REAL, "real", "-0.250000", 0},
      {VELQ_TYPE_INT32, "int32", "1", 1},
      {VELQ_TYPE_INT32, "int32", "12", 12},
      {VELQ_TYPE_STRING, "string", "a", 0},
      {VELQ_TYPE_NULL, "null", "(no text)", -999999},
  };
  for (size_t i = 0; i < 9; i++) {
    CHECK(velq_value_type(values[i]) == expected[i].type);
    CHECK_TEXT(velq_type_name(velq_value_type(values[i])), expected[i].type_name);
    CHECK_TEXT(text_of(values[i]), expected[i].text);
    CHECK(int_of(values[i]) == expected[i].number);
  }
  size_t length = 0;
  const char *text = NULL;
  CHECK(velq_value_get_text(values[7], &text, &length) == VELQ_OK && length == 3);
  double real = 0;
  CHECK(velq_value_get_real(values[4], &real) == VELQ_OK && real == -0.25);
  int truth = -1;
  CHECK(velq_value_get_bool(values[0], &truth) == VELQ_OK && truth == 1);
  CHECK(velq_value_get_real(values[8], &real) == VELQ_STATUS_INVALID);
  CHECK(velq_value_get_object(values[0], NULL, NULL) == VELQ_STATUS_INVALID);
  for (size_t i = 0; i < 9; i++) velq_value_free(values[i]);
}

static void test_arrays(void) {
  velq_value *array = NULL, *value = NULL;
  CHECK(velq_array_new(&array) == VELQ_OK);
  CHECK(velq_value_type(array) == VELQ_TYPE_ARRAY);
  static const struct {
    const char *key; /* NULL: by index */
    int32_t index;
    const char *text;
  } stores[] = {
      {NULL, 3, "three"},     {NULL, -5, "minus five"},   {"7", 0, "seven"},
      {"-2", 0, "minus two"}, {NULL, 2147483647, "last"}, {NULL, 3, "three again"},
  };
  for (size_t i = 0; i < sizeof stores / sizeof stores[0]; i++) {
    value = text_value(stores[i].text);
    CHECK((stores[i].key ? velq_array_set_key(array, stores[i].key, value)
                         : velq_array_set(array, stores[i].index, value)) == VELQ_OK);
    velq_value_free(value);
  }
  size_t size = 0;
  CHECK(velq_array_size(array, &size) == VELQ_OK && size == 5);

  /* Entries come in ascending index order. */
  static const struct {
    int32_t index;
    const char *text;
  } entries[] = {{-5, "minus five"},
                 {-2, "minus two"},
                 {3, "three again"},
                 {7, "seven"},
                 {2147483647, "last"}};
  for (size_t i = 0; i < 5; i++) {
    int32_t index = 0;
    CHECK(velq_array_entry(array, i, &index, &value) == VELQ_OK);
    CHECK(index == entries[i].index);
    CHECK_TEXT(text_of(value), entries[i].text);
    velq_value_free(value);
  }
  CHECK(velq_array_entry(array, 5, NULL, &value) == VELQ_STATUS_INVALID);

  CHECK(velq_array_get_key(array, "3", &value) == VELQ_OK);
  CHECK_TEXT(text_of(value), "three again");
  velq_value_free(value);
  CHECK(velq_array_get(array, 4, &value) == VELQ_OK);
  CHECK(velq_value_type(value) == VELQ_TYPE_NULL);
  velq_value_free(value);
  static const char *const bad_keys[] = {"abc", "1.5", "2147483648", "-2147483649"};
  for (size_t i = 0; i < sizeof bad_keys / sizeof bad_keys[0]; i++)
    CHECK(velq_array_get_key(array, bad_keys[i], &value) == VELQ_STATUS_INVALID);

  /* A stored array is a copy: changing the original later leaves the store alone, and so
   * does storing an array into itself. */
  velq_value *inner = NULL;
  velq_array_new(&inner);
  value = int_value(1);
  velq_array_set(inner, 0, value);
  velq_value_free(value);
  CHECK(velq_array_set(array, 100, inner) == VELQ_OK);
  value = int_value(2);
  velq_array_set(inner, 0, value);
  velq_value_free(value);
  velq_value *stored = NULL, *element = NULL;
  CHECK(velq_array_get(array, 100, &stored) == VELQ_OK);
  CHECK(velq_array_get(stored, 0, &element) == VELQ_OK);
  CHECK(int_of(element) == 1);
  velq_value_free(element);
  velq_value_free(stored);
  velq_value_free(inner);
  CHECK(velq_array_set(array, 101, array) == VELQ_OK);
  CHECK(velq_array_size(array, &size) == VELQ_OK && size == 7);

  value = int_value(1);
  CHECK(velq_array_size(value, &size) == VELQ_STATUS_INVALID);
  CHECK(velq_array_set(value, 0, value) == VELQ_STATUS_INVALID);
  velq_value_free(value);
  velq_value_free(array);
}

/* ---- Budgets, cancelling, modules ---------------------------------------------------- */

static const char *const spin_script =
    "sub spin() { while (1) { } }\n"
    "sub grow() { s = \"x\"; while (1) { s = s . s; } }\n"
    "sub quick() { return 1; }\n";

static void test_budgets(velq_engine *engine) {
  velq_instance *instance = load_text(engine, spin_script);
  if (!instance) return;
  static const struct {
    const char *function;
    uint64_t steps, milliseconds, bytes;
    velq_status code;
  } cases[] = {
      {"spin", 100000, 0, 0, 26},
      {"spin", 0, 50, 0, 27},
      {"grow", 0, 0, 1 << 20, 28},
  };
  velq_error *error = NULL;
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) {
    velq_set_step_limit(instance, cases[i].steps);
    velq_set_time_limit(instance, cases[i].milliseconds);
    velq_set_memory_limit(instance, cases[i].bytes);
    CHECK(call(instance, cases[i].function, NULL, &error, 0) == cases[i].code);
    CHECK(velq_error_code(error) == cases[i].code);
    CHECK(velq_error_frame_count(error) >= 1);
    velq_error_free(error);
  }
  velq_value *result = NULL;
  CHECK(call(instance, "quick", &result, NULL, 0) == VELQ_OK);
  velq_value_free(result);
  velq_instance_free(instance);
}

struct canceller {
  velq_instance *instance;
  volatile int done;
};

static void *cancel_until_done(void *argument) {
  struct canceller *canceller = argument;
  struct timespec pause = {0, 1000000};
  while (!canceller->done) {
    velq_cancel(canceller->instance);
    nanosleep(&pause, NULL);
  }
  return NULL;
}

static void test_cancel(velq_engine *engine) {
  struct canceller canceller = {load_text(engine, spin_script), 0};
  if (!canceller.instance) return;
  CHECK(velq_cancel(canceller.instance) == VELQ_OK); /* nothing in progress: no effect */
  velq_value *result = NULL;
  CHECK(call(canceller.instance, "quick", &result, NULL, 0) == VELQ_OK);
  velq_value_free(result);

  /* The time limit is a safety net, far above how long the cancel takes. */
  velq_set_time_limit(canceller.instance, 20000);
  pthread_t thread;
  CHECK(pthread_create(&thread, NULL, cancel_until_done, &canceller) == 0);
  velq_error *error = NULL;
  CHECK(call(canceller.instance, "spin", NULL, &error, 0) == 30);
  canceller.done = 1;
  pthread_join(thread, NULL);
  CHECK(velq_error_code(error) == 30);
  velq_error_free(error);
  velq_instance_free(canceller.instance);
}

static void test_modules(void) {
  char directory[] = "/tmp/velq_capi_XXXXXX";
  if (!mkdtemp(directory)) return;
  char path[128];
  snprintf(path, sizeof path, "%s/helper.velq", directory);
  FILE *file = fopen(path, "w");
  fputs("sub twice(x) { return 2 * x; }\nsub broken() {\n  return missing + 1;\n}\n", file);
  fclose(file);
  static const char text[] =
      "use helper;\nsub main() { return twice(21); }\nsub fail() {\n  return broken();\n}\n";

  velq_engine *engine = NULL;
  velq_engine_new(&engine);
  velq_engine_add_module_directory(engine, directory);
  velq_instance *instance = load_text(engine, text);
  if (instance) {
    velq_value *result = NULL;
    velq_error *error = NULL;
    CHECK(call(instance, "main", &result, NULL, 0) == VELQ_OK);
    CHECK(int_of(result) == 42);
    velq_value_free(result);
    /* An error in the module's code is placed in its file, with the call chain. */
    CHECK(call(instance, "fail", &result, &error, 0) == 5);
    CHECK_TEXT(velq_error_source(error), path);
    CHECK(velq_error_line(error) == 3);
    CHECK(velq_error_frame_count(error) == 2);
    const char *function = NULL, *module = NULL, *frame_file = NULL;
    int line = 0;
    CHECK(velq_error_frame(error, 0, &function, &module, &frame_file, &line) == VELQ_OK);
    CHECK_TEXT(function, "broken");
    CHECK_TEXT(module, "helper");
    CHECK_TEXT(frame_file, path);
    CHECK(line == 3);
    CHECK(velq_error_frame(error, 1, &function, &module, &frame_file, &line) == VELQ_OK);
    CHECK_TEXT(function, "fail");
    CHECK_TEXT(module, "");
    CHECK_TEXT(frame_file, "");
    CHECK(line == 4);
    CHECK(velq_error_frame(error, 2, &function, NULL, NULL, NULL) == VELQ_STATUS_INVALID);
    velq_error_free(error);
    velq_instance_free(instance);
  }

  /* With module files off, the load fails with 16 and names the module. */
  velq_engine_set_module_files(engine, 0);
  velq_script *script = NULL;
  velq_error *error = NULL;
  CHECK(velq_compile(engine, text, strlen(text), "user.velq", &script, NULL) == VELQ_OK);
  instance = (velq_instance *)&instance; /* must be set to NULL */
  CHECK(velq_load(script, &instance, &error) == 16);
  CHECK(instance == NULL);
  CHECK(velq_error_code(error) == 16);
  CHECK_TEXT(velq_error_subject(error), "helper");
  CHECK_TEXT(velq_error_source(error), "user.velq");
  velq_error_free(error);
  velq_script_free(script);
  velq_engine_free(engine);
  unlink(path);
  rmdir(directory);
}

/* ---- Loading a file in one step, formats, readers with a fallback -------------------- */

static void write_file(const char *path, const char *text) {
  FILE *file = fopen(path, "w");
  if (!file) return;
  fputs(text, file);
  fclose(file);
}

static void test_load_file(void) {
  char directory[] = "/tmp/velq_capi_XXXXXX";
  if (!mkdtemp(directory)) return;
  velq_engine *engine = NULL;
  velq_engine_new(&engine);
  velq_engine_set_module_files(engine, 0);
  /* Each failure of either step comes back with its error; a load that fails leaves no
   * instance behind. */
  static const struct {
    const char *name;
    const char *text; /* NULL: no such file */
    velq_status status;
    int line;
  } cases[] = {
      {"good.velq", "sub main() { return 6 * 7; }\n", VELQ_OK, 0},
      {"missing.velq", NULL, VELQ_STATUS_FILE_ERROR, 0},
      {"broken.velq", "sub main() {\n  return 1 +;\n}\n", VELQ_STATUS_COMPILE_ERROR, 2},
      {"modular.velq", "use helper;\nsub main() { }\n", 16, 0},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) {
    char path[128];
    snprintf(path, sizeof path, "%s/%s", directory, cases[i].name);
    if (cases[i].text) write_file(path, cases[i].text);
    velq_instance *instance = (velq_instance *)&instance; /* must be set */
    velq_error *error = (velq_error *)&error;
    CHECK(velq_load_file(engine, path, &instance, &error) == cases[i].status);
    if (cases[i].status == VELQ_OK) {
      CHECK(error == NULL && instance != NULL);
      velq_value *result = NULL;
      CHECK(velq_run(instance, 0, NULL, &result, NULL) == VELQ_OK);
      CHECK(velq_as_int(result, 0) == 42);
      velq_value_free(result);
    } else {
      CHECK(instance == NULL);
      CHECK(velq_error_code(error) == cases[i].status);
      CHECK_TEXT(velq_error_source(error), path);
      CHECK(velq_error_line(error) == cases[i].line);
    }
    velq_error_free(error);
    velq_instance_free(instance);
    unlink(path);
  }
  velq_engine_free(engine);
  rmdir(directory);
}

/* Every letter that makes a value, through velq_array_setf, whose elements are easy to
 * read back; velq_callf and velq_call_returnf make their values the same way. */
static void test_array_setf(void) {
  velq_value *array = NULL, *element = NULL;
  velq_array_new(&array);
  velq_value *held = text_value("held");
  CHECK(velq_array_setf(array, -1, "iIdstvn", -5, (int64_t)1 << 40, 2.5, "text", "a\0bc", (size_t)3,
                        held) == VELQ_OK);
  velq_value_free(held); /* the array has a copy */
  static const struct {
    int type;
    const char *text;
    size_t length;
  } expected[] = {
      {VELQ_TYPE_INT32, "-5", 2},       {VELQ_TYPE_INT64, "1099511627776", 13},
      {VELQ_TYPE_REAL, "2.500000", 8},  {VELQ_TYPE_STRING, "text", 4},
      {VELQ_TYPE_STRING, "a", 3},       {VELQ_TYPE_STRING, "held", 4},
      {VELQ_TYPE_NULL, "(no text)", 0},
  };
  size_t size = 0;
  CHECK(velq_array_size(array, &size) == VELQ_OK && size == 7);
  for (int32_t i = 0; i < 7; i++) {
    CHECK(velq_array_get(array, i - 1, &element) == VELQ_OK);
    const char *text = NULL;
    size_t length = 0;
    velq_value_get_text(element, &text, &length);
    CHECK(velq_value_type(element) == expected[i].type);
    CHECK_TEXT(text_of(element), expected[i].text);
    CHECK(length == expected[i].length);
    velq_value_free(element);
  }

  /* A bad letter is refused before any C argument is read: these pass none. A NULL text
   * or value, an index past the last, or no array store nothing. */
  static const char *const bad_formats[] = {"x", "iq", "i%", "n n", "I*"};
  for (size_t i = 0; i < sizeof bad_formats / sizeof bad_formats[0]; i++)
    CHECK(velq_array_setf(array, 0, bad_formats[i]) == VELQ_STATUS_INVALID);
  CHECK(velq_array_setf(array, 100, NULL) == VELQ_STATUS_INVALID);
  CHECK(velq_array_setf(array, 100, "is", 1, (const char *)NULL) == VELQ_STATUS_INVALID);
  CHECK(velq_array_setf(array, 100, "iv", 1, (const velq_value *)NULL) == VELQ_STATUS_INVALID);
  CHECK(velq_array_setf(array, INT32_MAX - 1, "iii", 1, 2, 3) == VELQ_STATUS_INVALID);
  CHECK(velq_array_size(array, &size) == VELQ_OK && size == 7);
  CHECK(velq_array_setf(array, INT32_MAX - 1, "ii", 1, 2) == VELQ_OK);
  CHECK(velq_array_size(array, &size) == VELQ_OK && size == 9);
  CHECK(velq_array_setf(array, 0, "") == VELQ_OK); /* nothing to store */
  CHECK(velq_array_setf(NULL, 0, "i", 1) == VELQ_STATUS_INVALID);
  element = int_value(1);
  CHECK(velq_array_setf(element, 0, "i", 1) == VELQ_STATUS_INVALID);
  velq_value_free(element);
  /* A failed read leaves the handle NULL, so that freeing it is always right. */
  element = (velq_value *)&element;
  CHECK(velq_array_entry(array, 99, NULL, &element) == VELQ_STATUS_INVALID && element == NULL);
  velq_value_free(array);
}

/* Calls a function through velq_vcallf, as a host's own wrapper would. */
static velq_status wrapped_call(velq_instance *instance, const char *function, velq_value **result,
                                const char *format, ...) {
  va_list arguments;
  va_start(arguments, format);
  velq_status status = velq_vcallf(instance, function, result, NULL, format, arguments);
  va_end(arguments);
  return status;
}

static void test_callf(velq_engine *engine) {
  velq_instance *instance = load_text(engine, functions_script);
  if (!instance) return;
  velq_value *result = NULL, *element = NULL;
  velq_error *error = NULL;

  CHECK(velq_callf(instance, "add", &result, &error, "iI", 2, (int64_t)5000000000) == VELQ_OK);
  CHECK(error == NULL && velq_as_int(result, 0) == 5000000002LL);
  velq_value_free(result);
  CHECK(velq_callf(instance, "greet", &result, &error, "s", "ann") == VELQ_OK);
  CHECK_TEXT(velq_as_text(result, ""), "hello ann");
  velq_value_free(result);
  CHECK(velq_callf(instance, "pair", &result, &error, "tn", "xyz", (size_t)2) == VELQ_OK);
  CHECK(velq_array_get(result, 0, &element) == VELQ_OK);
  CHECK_TEXT(text_of(element), "xy");
  velq_value_free(element);
  CHECK(velq_array_get(result, 1, &element) == VELQ_OK);
  CHECK(velq_value_type(element) == VELQ_TYPE_NULL);
  velq_value_free(element);
  velq_value_free(result);
  CHECK(wrapped_call(instance, "add", &result, "dd", 0.25, 0.5) == VELQ_OK);
  CHECK(velq_as_real(result, 0) == 0.75);
  velq_value_free(result);
  CHECK(velq_callf(instance, "nothing", NULL, NULL, "") == VELQ_OK);

  /* Failures: the status, an error that says why, and no result. */
  velq_value *held = int_value(1);
  static const struct {
    const char *format;
    velq_status status;
    const char *message; /* a part of it */
  } failures[] = {
      {"iz", VELQ_STATUS_INVALID, "a format of the letters i I d s t v n"},
      {"s", VELQ_STATUS_INVALID, "argument 1 (s) is NULL"},
      {"iv", VELQ_STATUS_INVALID, "argument 2 (v) is NULL"},
      {"i", 5, "Invalid operation with NULL value"}, /* b is null in add */
  };
  for (size_t i = 0; i < sizeof failures / sizeof failures[0]; i++) {
    velq_status status = VELQ_OK;
    result = (velq_value *)&result; /* must be set to NULL */
    switch (i) {
      case 0:
        status = velq_callf(instance, "add", &result, &error, failures[i].format);
        break;
      case 1:
        status = velq_callf(instance, "greet", &result, &error, "s", (const char *)NULL);
        break;
      case 2:
        status = velq_callf(instance, "add", &result, &error, "iv", 1, (const velq_value *)NULL);
        break;
      default:
        status = velq_callf(instance, "add", &result, &error, "i", 1);
        break;
    }
    CHECK(status == failures[i].status);
    CHECK(result == NULL);
    CHECK(velq_error_code(error) == failures[i].status);
    if (!strstr(velq_error_message(error), failures[i].message))
      fprintf(stderr, "  callf case %zu: %s\n", i, velq_error_message(error));
    CHECK(strstr(velq_error_message(error), failures[i].message) != NULL);
    velq_error_free(error);
  }
  CHECK(velq_callf(instance, "add", &result, &error, "sv", "2", held) == VELQ_OK);
  CHECK_TEXT(velq_as_text(result, ""), "3");
  velq_value_free(result);
  velq_value_free(held);
  CHECK(velq_callf(instance, "no_such_function", &result, &error, "i", 1) == 11);
  CHECK_TEXT(velq_error_subject(error), "no_such_function");
  velq_error_free(error);
  CHECK(velq_callf(NULL, "add", &result, &error, "ii", 1, 2) == VELQ_STATUS_INVALID);
  CHECK(velq_error_code(error) == VELQ_STATUS_INVALID);
  velq_error_free(error);
  CHECK(velq_callf(instance, "add", &result, NULL, NULL) == VELQ_STATUS_INVALID);
  velq_instance_free(instance);
}

/* mix(i, I, d, s, t, v): reads every letter and gives what it read as one text. */
static velq_status mix(velq_host_call *call, void *userdata) {
  int i;
  int64_t big;
  double d;
  const char *s, *t;
  size_t length;
  const velq_value *v;
  velq_status status = velq_call_args(call, "iIdstv", &i, &big, &d, &s, &t, &length, &v);
  if (status != VELQ_OK) return status;
  char text[160];
  snprintf(text, sizeof text, "%d %lld %g %s %.*s/%zu %s", i, (long long)big, d, s, (int)length, t,
           length, velq_type_name(velq_value_type(v)));
  return velq_call_returnf(call, "s", text);
}

/* misuse(n): velq_call_args and velq_call_returnf used wrongly in way n; each is refused
 * with VELQ_STATUS_INVALID, which ends the run with error 31. */
static velq_status misuse(velq_host_call *call, void *userdata) {
  int n = 0;
  double d;
  velq_status status = velq_call_args(call, "i", &n);
  if (status != VELQ_OK) return status;
  switch (n) {
    case 0:
      return velq_call_args(call, "iq"); /* no pointers: none may be read */
    case 1:
      return velq_call_args(call, "n");
    case 2:
      return velq_call_args(call, "d", (double *)NULL);
    case 3:
      return velq_call_returnf(call, "ii", 1, 2);
    case 4:
      return velq_call_returnf(call, "");
    case 5:
      return velq_call_returnf(call, "s", (const char *)NULL);
    case 6:
      return velq_call_returnf(call, "x");
    case 7:
      return velq_call_args(NULL, "d", &d) == VELQ_STATUS_INVALID &&
                     velq_call_returnf(NULL, "d", 1.0) == VELQ_STATUS_INVALID
                 ? VELQ_STATUS_INVALID
                 : VELQ_OK;
    default:
      return velq_call_returnf(call, "n");
  }
}

/* give(n): a result of each letter, by velq_call_returnf. */
static velq_status give(velq_host_call *call, void *userdata) {
  int n = 0;
  velq_status status = velq_call_args(call, "i", &n);
  if (status != VELQ_OK) return status;
  switch (n) {
    case 0:
      return velq_call_returnf(call, "i", -7);
    case 1:
      return velq_call_returnf(call, "I", (int64_t)1 << 40);
    case 2:
      return velq_call_returnf(call, "d", 0.5);
    case 3:
      return velq_call_returnf(call, "s", "text");
    case 4:
      return velq_call_returnf(call, "t", "text", (size_t)2);
    case 5:
      return velq_call_returnf(call, "v", (const velq_value *)userdata);
    default:
      return velq_call_returnf(call, "n");
  }
}

static void test_call_args_and_returnf(void) {
  velq_engine *engine = NULL;
  velq_engine_new(&engine);
  velq_value *held = text_value("held");
  velq_engine_add_function(engine, "mix", -1, mix, NULL);
  velq_engine_add_function(engine, "misuse", 1, misuse, NULL);
  velq_engine_add_function(engine, "give", 1, give, held);
  velq_instance *instance =
      load_text(engine,
                "sub run(n) {\n  array a; a[0] = 1;\n"
                "  if (n == 0) return mix(-3, 5000000000, 2.5, \"s\", \"tt\", a);\n"
                "  if (n == 1) return mix(\"12\", \"-4\", \"0.5\", 7, 8.5, null);\n"
                "  if (n == 2) return mix(1, 2, 3);\n"
                "  if (n == 3) return mix(a, 2, 3, 4, 5, 6);\n"
                "  if (n == 4) return mix(5000000000, 2, 3, 4, 5, 6);\n"
                "  if (n == 5) return mix(1, a, 3, 4, 5, 6);\n"
                "  if (n == 6) return mix(1, 2, null, 4, 5, 6);\n"
                "  if (n == 7) return mix(1, 2, 3, a, 5, 6);\n"
                "  if (n == 8) return mix(1, 2, 3, 4, null, 6);\n"
                "  return misuse(n - 100);\n}\n"
                "sub kind(n) {\n  x = give(n);\n"
                "  if (typeof(x) == \"null\") return \"null\";\n"
                "  return typeof(x) . \" \" . x;\n}\n");
  velq_engine_free(engine);
  if (!instance) return;
  velq_value *result = NULL;
  velq_error *error = NULL;

  /* The text the call gives, or the detail of the error 31 it ends with. */
  static const struct {
    int n;
    const char *text;
  } reads[] = {
      {0, "-3 5000000000 2.5 s tt/2 array"},
      {1, "12 -4 0.5 7 8.500000/8 null"},
      {2, "mix: argument 4: missing"},
      {3, "mix: argument 1: expected a number, got array"},
      {4, "mix: argument 1: expected a number that fits an int, got int64"},
      {5, "mix: argument 2: expected a number, got array"},
      {6, "mix: argument 3: expected a number, got null"},
      {7, "mix: argument 4: expected a text, got array"},
      {8, "mix: argument 5: expected a text, got null"},
  };
  for (size_t i = 0; i < sizeof reads / sizeof reads[0]; i++) {
    velq_status status = velq_callf(instance, "run", &result, &error, "i", reads[i].n);
    const char *got = status == VELQ_OK ? velq_as_text(result, "") : velq_error_detail(error);
    if (strcmp(got, reads[i].text) != 0) fprintf(stderr, "  mix case %d\n", reads[i].n);
    CHECK_TEXT(got, reads[i].text);
    CHECK(status == (i < 2 ? VELQ_OK : VELQ_STATUS_HOST_EXCEPTION));
    velq_value_free(result);
    velq_error_free(error);
  }

  for (int n = 0; n <= 7; n++) {
    CHECK(velq_callf(instance, "run", &result, &error, "i", 100 + n) == VELQ_STATUS_HOST_EXCEPTION);
    if (strcmp(velq_error_detail(error), "host function returned status -2") != 0)
      fprintf(stderr, "  misuse case %d: %s\n", n, velq_error_detail(error));
    CHECK_TEXT(velq_error_detail(error), "host function returned status -2");
    velq_error_free(error);
  }
  CHECK(velq_callf(instance, "run", &result, &error, "i", 108) == VELQ_OK);
  CHECK(velq_value_type(result) == VELQ_TYPE_NULL);
  velq_value_free(result);

  static const char *const kinds[] = {"int32 -7",    "int64 1099511627776", "real 0.500000",
                                      "string text", "string te",           "string held",
                                      "null"};
  for (int n = 0; n < 7; n++) {
    CHECK(velq_callf(instance, "kind", &result, &error, "i", n) == VELQ_OK);
    CHECK_TEXT(velq_as_text(result, ""), kinds[n]);
    velq_value_free(result);
  }
  velq_instance_free(instance);
  velq_value_free(held);
}

static void test_readers_with_fallback(void) {
  velq_value *values[7] = {NULL};
  velq_value_int(5, &values[0]);
  velq_value_real(2.5, &values[1]);
  velq_value_text("12", 2, &values[2]);
  velq_value_text("abc", 3, &values[3]);
  velq_value_null(&values[4]);
  velq_array_new(&values[5]);
  /* values[6] stays NULL: a NULL handle reads as the fallback too. */
  static const struct {
    int64_t n;
    double d;
    const char *text;
  } expected[] = {
      {5, 5.0, "5"},   {2, 2.5, "2.500000"}, {12, 12.0, "12"}, {0, 0.0, "abc"},
      {-1, -1.5, "-"}, {-1, -1.5, "-"},      {-1, -1.5, "-"},
  };
  for (size_t i = 0; i < 7; i++) {
    CHECK(velq_as_int(values[i], -1) == expected[i].n);
    CHECK(velq_as_real(values[i], -1.5) == expected[i].d);
    CHECK_TEXT(velq_as_text(values[i], "-"), expected[i].text);
    velq_value_free(values[i]);
  }
  CHECK(velq_as_text(NULL, NULL) == NULL);
}

/* ---- NULL handles -------------------------------------------------------------------- */

static void test_null_handles(velq_engine *engine) {
  velq_value *value = NULL;
  velq_script *script = NULL;
  velq_instance *instance = NULL;
  velq_error *error = NULL;
  const char *text = NULL;
  int64_t n = 0;
  size_t size = 0;
  const velq_status statuses[] = {
      velq_engine_new(NULL),
      velq_engine_add_function(NULL, "f", 0, refuse, NULL),
      velq_engine_add_function(engine, "f", 0, NULL, NULL),
      velq_engine_add_function(engine, NULL, 0, refuse, NULL),
      velq_engine_add_toolkit(NULL),
      velq_engine_add_class(NULL, "C", NULL, NULL, NULL, NULL),
      velq_engine_add_class(engine, NULL, NULL, NULL, NULL, NULL),
      velq_engine_set_module_files(NULL, 1),
      velq_engine_add_module_directory(NULL, "."),
      velq_engine_add_module_directory(engine, NULL),
      velq_engine_set_io(NULL, NULL, NULL),
      velq_compile(NULL, "1", 1, "x", &script, &error),
      velq_compile(engine, NULL, 1, "x", &script, NULL),
      velq_compile(engine, "1", 1, "x", NULL, NULL),
      velq_compile_file(NULL, "x.velq", &script, NULL),
      velq_compile_file(engine, NULL, &script, NULL),
      velq_load_file(NULL, "x.velq", &instance, NULL),
      velq_load_file(engine, NULL, &instance, NULL),
      velq_load_file(engine, "x.velq", NULL, NULL),
      velq_load(NULL, &instance, NULL),
      velq_run(NULL, 0, NULL, &value, NULL),
      velq_call(NULL, "main", 0, NULL, &value, NULL),
      velq_set_global(NULL, "g", value),
      velq_get_global(NULL, "g", &value),
      velq_set_step_limit(NULL, 1),
      velq_set_time_limit(NULL, 1),
      velq_set_memory_limit(NULL, 1),
      velq_cancel(NULL),
      velq_value_null(NULL),
      velq_value_text(NULL, 3, &value),
      velq_value_object(NULL, "C", &n, &value),
      velq_value_object(engine, "NO_SUCH_CLASS", &n, &value),
      velq_value_copy(NULL, &value),
      velq_value_get_int(NULL, &n),
      velq_value_get_text(NULL, &text, NULL),
      velq_value_get_object(NULL, NULL, NULL),
      velq_array_size(NULL, &size),
      velq_array_get(NULL, 0, &value),
      velq_array_set(NULL, 0, NULL),
      velq_array_get_key(NULL, "1", &value),
      velq_array_entry(NULL, 0, NULL, &value),
      velq_call_return(NULL, NULL),
      velq_call_fail(NULL, "x"),
      velq_error_frame(NULL, 0, NULL, NULL, NULL, NULL),
      velq_error_code(NULL),
  };
  for (size_t i = 0; i < sizeof statuses / sizeof statuses[0]; i++) {
    if (statuses[i] != VELQ_STATUS_INVALID) fprintf(stderr, "  NULL handle case %zu\n", i);
    CHECK(statuses[i] == VELQ_STATUS_INVALID);
  }
  CHECK(value == NULL && script == NULL && instance == NULL);
  CHECK(velq_error_code(error) == VELQ_STATUS_INVALID); /* an error says why */
  velq_error_free(error);
  CHECK(velq_value_type(NULL) == VELQ_TYPE_NULL);
  CHECK(velq_call_argc(NULL) == 0 && velq_call_arg(NULL, 0) == NULL);
  CHECK_TEXT(velq_error_message(NULL), "");
  CHECK(velq_error_frame_count(NULL) == 0);
  /* The free functions accept NULL. */
  velq_engine_free(NULL);
  velq_script_free(NULL);
  velq_instance_free(NULL);
  velq_value_free(NULL);
  velq_error_free(NULL);
}

int main(void) {
  velq_engine *engine = NULL;
  if (velq_engine_new(&engine) != VELQ_OK) return 1;
  CHECK(strchr(velq_version(), '.') != NULL);
  test_compile_errors(engine);
  test_compile_file(engine);
  test_run_and_call(engine);
  test_function_not_found(engine);
  test_globals(engine);
  test_host_functions();
  test_host_class();
  test_values();
  test_arrays();
  test_budgets(engine);
  test_cancel(engine);
  test_modules();
  test_load_file();
  test_array_setf();
  test_callf(engine);
  test_call_args_and_returnf();
  test_readers_with_fallback();
  test_null_handles(engine);
  velq_engine_free(engine);
  printf("%d passed, %d failed\n", passed, failed);
  return failed ? 1 : 0;
}
