// The toolkit: an optional set of external functions for scripts that read their input
// and arguments, work with arrays, maps and texts, write to standard error and to files,
// and round and format numbers. Its file functions (ReadFile, WriteFile, AppendFile) reach
// any file the process may open: a host that runs scripts it does not trust leaves the
// toolkit out. Every environment starts with
// the 30 built-in functions only; a host adds the toolkit with one call, and the velq tool
// adds it unless told not to.
//
// The names are capitalized (ReadLine, Split, Format, ...), as the less common built-ins
// are (AddrInRange): external functions are found before the functions of modules, so a
// toolkit name must be one a module is unlikely to define, and modules name their
// functions in lower case.
#ifndef VELQ_TOOLKIT_H
#define VELQ_TOOLKIT_H

#include "velq_environment.h"
#include "velq_export.h"

// Limits of the toolkit functions. A result beyond a limit, and a width, precision or
// number of digits beyond the field limit, is refused with error 28 "Memory limit
// exceeded" rather than built.
enum : uint32_t {
  VELQ_TOOLKIT_TEXT_LIMIT = 256u * 1024 * 1024,    // bytes of a text a function makes or reads
  VELQ_TOOLKIT_ELEMENT_LIMIT = 16u * 1024 * 1024,  // elements of an array a function makes
  VELQ_TOOLKIT_FIELD_LIMIT = 400  // Format's width and precision, Round's digits
};

// One toolkit function: its record and the text that documents it.
struct VELQ_ToolkitFunction {
  VELQ_ExtFunction record;
  const char *synopsis;     // how it is called, e.g. "Split(text, separator)"
  const char *description;  // what it gives, in one line
};

enum { VELQ_TOOLKIT_COUNT = 35 };

// The toolkit's functions, in the order they are registered and listed.
VELQ_API extern const VELQ_ToolkitFunction VELQ_ToolkitFunctions[VELQ_TOOLKIT_COUNT];

// Appends the toolkit's records to the environment's function table, after whatever is
// there (the built-ins always come first, so a built-in's name can never be taken).
VELQ_API void VELQRegisterToolkit(VELQ_Environment *environment);

#endif
