/* The C interface of velq: opaque handles and functions that return a status, for hosts
 * written in C and for other languages' foreign-function interfaces. It holds no C++
 * type and no structure layout; its ABI is what the library's SONAME versions.
 *
 * Ownership, the one rule: every handle a function gives through an out-parameter
 * (named out) is the caller's, and goes back with its own free function; a handle the
 * caller passes in is only borrowed, never taken. Values passed in are copied.
 *
 * Errors: a function that can fail for a reason worth reporting takes a last parameter
 * velq_error **error. When it fails and error is not NULL, *error receives a new error
 * that the caller frees with velq_error_free; on success *error is set to NULL.
 *
 * Formats: velq_callf, velq_call_returnf and velq_array_setf make values from C arguments
 * as printf makes text, one letter per value; velq_call_args reads arguments back into C
 * variables as scanf does, with the same letters:
 *   i  int                    I  int64_t                d  double
 *   s  const char *, a text ending in a zero byte (NULL is VELQ_STATUS_INVALID)
 *   t  const char *, size_t: a counted text, zero bytes kept
 *   v  const velq_value *, copied (NULL is VELQ_STATUS_INVALID)
 *   n  null, taking no C argument (making only)
 * i is int, not int64_t, so that a plain 3 is right: a C variadic function cannot tell
 * the width of what it was given. A format with another letter is VELQ_STATUS_INVALID
 * before any C argument is read. */
#ifndef VELQ_C_H
#define VELQ_C_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "velq_export.h"

/* The library is built with hidden visibility; these are among the names it exports. */
#define VELQ_C_EXPORT VELQ_API

#ifdef __cplusplus
extern "C" {
#endif

typedef struct velq_engine velq_engine;     /* host functions, classes, module policy */
typedef struct velq_script velq_script;     /* a compiled script */
typedef struct velq_instance velq_instance; /* a loaded script whose globals persist */
typedef struct velq_value velq_value;       /* one value */
typedef struct velq_error velq_error;       /* what went wrong, as data */
typedef struct velq_host_call velq_host_call; /* one call of a host function */

/* The status every function returns. 1 to 31 are the run-time error codes of the
 * engine, the same numbers as velq_error_code gives (26 step limit, 27 time limit, 28
 * memory limit, 29 out of memory, 30 cancelled, 31 host exception, ...). */
typedef int velq_status;
enum {
  VELQ_OK = 0,
  VELQ_STATUS_HOST_EXCEPTION = 31, /* what a host function returns after velq_call_fail */
  VELQ_STATUS_COMPILE_ERROR = -1,  /* the script text did not compile */
  VELQ_STATUS_INVALID = -2,        /* a NULL handle, a value of the wrong kind, an index out
                                      of range, or an instance already busy with a call */
  VELQ_STATUS_NO_MEMORY = -3,      /* memory refused outside a run */
  VELQ_STATUS_FILE_ERROR = -4      /* a file could not be read */
};

/* Type codes of values, the engine's own. */
enum {
  VELQ_TYPE_NULL = 0,
  VELQ_TYPE_OBJECT = 1,
  VELQ_TYPE_ARRAY = 2,
  VELQ_TYPE_STRING = 3,
  VELQ_TYPE_REAL = 4,
  VELQ_TYPE_INT32 = 5,
  VELQ_TYPE_INT64 = 6,
  VELQ_TYPE_UINT32 = 7,
  VELQ_TYPE_UINT64 = 8
};

/* The library's version, "MAJOR.MINOR.PATCH". */
VELQ_C_EXPORT const char *velq_version(void);

/* ---- Engines: what scripts may reach -------------------------------------------- */

/* A new engine with the 30 built-in functions. An engine is set up first and then used
 * by any number of scripts and instances, in any threads; scripts and instances keep it
 * alive, so velq_engine_free may come before theirs. */
VELQ_C_EXPORT velq_status velq_engine_new(velq_engine **out);
VELQ_C_EXPORT void velq_engine_free(velq_engine *engine);

/* A host function: it reads its arguments from call, gives its result with
 * velq_call_return, and returns VELQ_OK; or returns a run-time error code (or the
 * status of velq_call_fail) to end the run with that error. arity is the number of
 * arguments a script must pass, or -1 for any number. */
typedef velq_status (*velq_function)(velq_host_call *call, void *userdata);
VELQ_C_EXPORT velq_status velq_engine_add_function(velq_engine *engine, const char *name,
                                                   int arity, velq_function function,
                                                   void *userdata);
/* The toolkit functions (ReadLine, Split, Format, ...) for scripts. */
VELQ_C_EXPORT velq_status velq_engine_add_toolkit(velq_engine *engine);

/* A host class. get gives the attribute's value through *result (or returns
 * VELQ_STATUS_INVALID for an unknown attribute: the script gets error 15); set stores
 * one (VELQ_STATUS_INVALID: error 15). destroy is called once, when the script and the
 * host hold the object no more. Any of the three may be NULL. */
typedef velq_status (*velq_get_attribute)(void *object, const char *name, velq_value **result,
                                          void *class_userdata);
typedef velq_status (*velq_set_attribute)(void *object, const char *name,
                                          const velq_value *value, void *class_userdata);
typedef void (*velq_destroy_object)(void *object, void *class_userdata);
VELQ_C_EXPORT velq_status velq_engine_add_class(velq_engine *engine, const char *name,
                                                velq_get_attribute get, velq_set_attribute set,
                                                velq_destroy_object destroy, void *userdata);

/* The module policy: whether "use NAME" may read NAME.velq files, and the directories
 * searched for them (the current directory when none was added). */
VELQ_C_EXPORT velq_status velq_engine_set_module_files(velq_engine *engine, int allowed);
VELQ_C_EXPORT velq_status velq_engine_add_module_directory(velq_engine *engine,
                                                           const char *directory);
/* Where print and println write (standard output when NULL) and where ReadLine reads. */
VELQ_C_EXPORT velq_status velq_engine_set_io(velq_engine *engine, FILE *input, FILE *output);

/* ---- Scripts and instances ------------------------------------------------------- */

/* Compiles length bytes of text; name is what errors call the source (a file name, say). */
VELQ_C_EXPORT velq_status velq_compile(velq_engine *engine, const char *text, size_t length,
                                       const char *name, velq_script **out,
                                       velq_error **error);
VELQ_C_EXPORT velq_status velq_compile_file(velq_engine *engine, const char *path,
                                            velq_script **out, velq_error **error);
VELQ_C_EXPORT void velq_script_free(velq_script *script);

/* Loads a script: its modules merged, its globals made. Instances of one script are
 * independent of each other; one instance serves one call at a time. */
VELQ_C_EXPORT velq_status velq_load(velq_script *script, velq_instance **out,
                                    velq_error **error);
VELQ_C_EXPORT void velq_instance_free(velq_instance *instance);
/* Compiles a file and loads it in one step, for a host that wants one instance of it:
 * velq_compile_file and velq_load with no script handle in between. */
VELQ_C_EXPORT velq_status velq_load_file(velq_engine *engine, const char *path,
                                         velq_instance **out, velq_error **error);

/* Runs "main" with the arguments ($1, $2, ...). *result (when result is not NULL)
 * receives the value main returned, a new value the caller frees. */
VELQ_C_EXPORT velq_status velq_run(velq_instance *instance, size_t argc,
                                   const velq_value *const *argv, velq_value **result,
                                   velq_error **error);
/* Calls the script function of that name, as velq_run calls main. */
VELQ_C_EXPORT velq_status velq_call(velq_instance *instance, const char *function, size_t argc,
                                    const velq_value *const *argv, velq_value **result,
                                    velq_error **error);
/* The same with the arguments made from a format (see Formats above):
 *   velq_callf(instance, "area", &result, &error, "id", 3, 4.5)
 * A NULL text or value among them is VELQ_STATUS_INVALID, and the function is not called. */
VELQ_C_EXPORT velq_status velq_callf(velq_instance *instance, const char *function,
                                     velq_value **result, velq_error **error,
                                     const char *format, ...);
VELQ_C_EXPORT velq_status velq_vcallf(velq_instance *instance, const char *function,
                                      velq_value **result, velq_error **error,
                                      const char *format, va_list arguments);

/* Globals of an instance: set before or between calls, read after. */
VELQ_C_EXPORT velq_status velq_set_global(velq_instance *instance, const char *name,
                                          const velq_value *value);
VELQ_C_EXPORT velq_status velq_get_global(velq_instance *instance, const char *name,
                                          velq_value **out);

/* Budgets for every later call of the instance; 0 turns one off (the start). */
VELQ_C_EXPORT velq_status velq_set_step_limit(velq_instance *instance, uint64_t steps);
VELQ_C_EXPORT velq_status velq_set_time_limit(velq_instance *instance, uint64_t milliseconds);
VELQ_C_EXPORT velq_status velq_set_memory_limit(velq_instance *instance, uint64_t bytes);
/* Stops the call in progress with error 30. Safe from any thread and from a signal
 * handler; does nothing when no call is in progress. */
VELQ_C_EXPORT velq_status velq_cancel(velq_instance *instance);

/* ---- Values ---------------------------------------------------------------------- */

VELQ_C_EXPORT velq_status velq_value_null(velq_value **out);
VELQ_C_EXPORT velq_status velq_value_int(int64_t n, velq_value **out);  /* int32 if it fits */
VELQ_C_EXPORT velq_status velq_value_uint(uint64_t n, velq_value **out);
VELQ_C_EXPORT velq_status velq_value_real(double d, velq_value **out);
VELQ_C_EXPORT velq_status velq_value_bool(int b, velq_value **out);     /* int32 1 or 0 */
VELQ_C_EXPORT velq_status velq_value_text(const char *text, size_t length, velq_value **out);
/* A new object of a class the engine has, holding the host's pointer. */
VELQ_C_EXPORT velq_status velq_value_object(velq_engine *engine, const char *class_name,
                                            void *object, velq_value **out);
VELQ_C_EXPORT velq_status velq_value_copy(const velq_value *value, velq_value **out);
VELQ_C_EXPORT void velq_value_free(velq_value *value);

/* The type code (VELQ_TYPE_NULL for a NULL handle) and its name ("int32", ...). */
VELQ_C_EXPORT int velq_value_type(const velq_value *value);
VELQ_C_EXPORT const char *velq_type_name(int type);
/* Readers convert as the language does ("12" reads as 12); a null, array or object
 * value is VELQ_STATUS_INVALID for the number readers. */
VELQ_C_EXPORT velq_status velq_value_get_int(const velq_value *value, int64_t *out);
VELQ_C_EXPORT velq_status velq_value_get_uint(const velq_value *value, uint64_t *out);
VELQ_C_EXPORT velq_status velq_value_get_real(const velq_value *value, double *out);
VELQ_C_EXPORT velq_status velq_value_get_bool(const velq_value *value, int *out);
/* The text of a text or number value, valid while the value lives unchanged; its length
 * goes to *length when length is not NULL. */
VELQ_C_EXPORT velq_status velq_value_get_text(const velq_value *value, const char **text,
                                              size_t *length);
/* The host pointer of an object value, and its class name. */
VELQ_C_EXPORT velq_status velq_value_get_object(const velq_value *value, void **object,
                                                const char **class_name);
/* Plain readers for a host that has a fallback: the value read as the readers above read
 * it, or fallback where they fail (a NULL handle; a null, array or object value; for the
 * text, memory refused). The text lives as velq_value_get_text's does. */
VELQ_C_EXPORT int64_t velq_as_int(const velq_value *value, int64_t fallback);
VELQ_C_EXPORT double velq_as_real(const velq_value *value, double fallback);
VELQ_C_EXPORT const char *velq_as_text(const velq_value *value, const char *fallback);

/* ---- Arrays ---------------------------------------------------------------------- */

VELQ_C_EXPORT velq_status velq_array_new(velq_value **out);
VELQ_C_EXPORT velq_status velq_array_size(const velq_value *array, size_t *size);
/* The element at an index, a new value (a null value where there is none). */
VELQ_C_EXPORT velq_status velq_array_get(const velq_value *array, int32_t index,
                                         velq_value **out);
/* Stores a copy of value at an index. */
VELQ_C_EXPORT velq_status velq_array_set(velq_value *array, int32_t index,
                                         const velq_value *value);
/* Stores values made from a format (see Formats above) at index, index + 1, ...:
 *   velq_array_setf(array, 0, "sid", "x", 2, 0.5)
 * A bad format or a NULL text or value stores nothing; when memory is refused, the values
 * before the one that failed are stored. */
VELQ_C_EXPORT velq_status velq_array_setf(velq_value *array, int32_t index, const char *format,
                                          ...);
/* The same by a key text, read as the language reads an index ("7" is 7). */
VELQ_C_EXPORT velq_status velq_array_get_key(const velq_value *array, const char *key,
                                             velq_value **out);
VELQ_C_EXPORT velq_status velq_array_set_key(velq_value *array, const char *key,
                                             const velq_value *value);
/* The element at a position 0 .. size - 1 in ascending index order: its index, and its
 * value as a new value. */
VELQ_C_EXPORT velq_status velq_array_entry(const velq_value *array, size_t position,
                                           int32_t *index, velq_value **value);

/* ---- Host functions -------------------------------------------------------------- */

VELQ_C_EXPORT size_t velq_call_argc(const velq_host_call *call);
/* Argument i, borrowed for the call (NULL beyond the count). */
VELQ_C_EXPORT const velq_value *velq_call_arg(const velq_host_call *call, size_t i);
/* The name the script called the function by. */
VELQ_C_EXPORT const char *velq_call_name(const velq_host_call *call);
/* Gives the call's result; the call takes the value, and drops it when the host function
 * then returns a failure. Without it the result is null. */
VELQ_C_EXPORT velq_status velq_call_return(velq_host_call *call, velq_value *result);
/* Ends the run with error 31 "Host exception", message as its detail; returns the status
 * the host function then returns. */
VELQ_C_EXPORT velq_status velq_call_fail(velq_host_call *call, const char *message);
/* Reads the arguments by a format (see Formats above) into the pointers that follow, one
 * letter per argument in order: int *, int64_t *, double *, const char ** (s), const
 * char ** and size_t * (t), const velq_value ** (v). Texts and values are borrowed for
 * the call:
 *   double a, b;
 *   velq_status status = velq_call_args(call, "dd", &a, &b);
 *   if (status != VELQ_OK) return status;
 * Numbers and texts convert as velq_value_get_int, _real and _text do; i also fails for a
 * number outside int. When an argument is missing or does not convert, the call fails as
 * with velq_call_fail, naming the argument ("mean: argument 2: expected a number, got
 * array"), and that status is returned; the pointers of the arguments before it are
 * written. A bad format or a NULL pointer is VELQ_STATUS_INVALID. */
VELQ_C_EXPORT velq_status velq_call_args(velq_host_call *call, const char *format, ...);
/* Gives the call's result made from a format of one letter, as velq_call_return gives a
 * value: velq_call_returnf(call, "d", (a + b) / 2). VELQ_STATUS_NO_MEMORY when memory is
 * refused, VELQ_STATUS_INVALID for another format or a NULL text or value. */
VELQ_C_EXPORT velq_status velq_call_returnf(velq_host_call *call, const char *format, ...);

/* ---- Errors ---------------------------------------------------------------------- */

VELQ_C_EXPORT void velq_error_free(velq_error *error);
/* The status (a run-time error code, or VELQ_STATUS_COMPILE_ERROR, ...). */
VELQ_C_EXPORT velq_status velq_error_code(const velq_error *error);
/* The engine's one line: "Error in line 3: ..." or "Error 11 in line 4: Function not found". */
VELQ_C_EXPORT const char *velq_error_message(const velq_error *error);
/* What the error is about ("" when nothing is named): the function (a function not
 * found, a wrong argument count, an error a host or built-in function raised), the
 * variable, the attribute or the module. */
VELQ_C_EXPORT const char *velq_error_subject(const velq_error *error);
/* More text: a host exception's own message, "expects 2 arguments, got 3" for a wrong
 * argument count. "" when none. */
VELQ_C_EXPORT const char *velq_error_detail(const velq_error *error);
/* Where: the line (0 when unknown), the column (compile errors, else 0), and the source:
 * the name given to velq_compile, or the module's file. */
VELQ_C_EXPORT int velq_error_line(const velq_error *error);
VELQ_C_EXPORT int velq_error_column(const velq_error *error);
VELQ_C_EXPORT const char *velq_error_source(const velq_error *error);
/* The call chain of a run-time error, innermost first: function, module ("" for the
 * script's own code), file ("" when none) and line. */
VELQ_C_EXPORT size_t velq_error_frame_count(const velq_error *error);
VELQ_C_EXPORT velq_status velq_error_frame(const velq_error *error, size_t i,
                                           const char **function, const char **module,
                                           const char **file, int *line);

#ifdef __cplusplus
}
#endif

#endif
