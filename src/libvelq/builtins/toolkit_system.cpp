// The toolkit's functions for command-line scripts that reach outside the run: the run's
// arguments by position (Arg, Args), standard error (PrintError), the environment
// (GetEnv), and writing files (WriteFile, AppendFile).
//
// Like ReadFile, the file functions reach any file the process may open: a host that
// runs scripts it does not trust leaves the toolkit out (see velq_toolkit.h).
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "toolkit_functions.h"
#include "values/deep_copy.h"
#include "velq_array.h"
#include "velq_program.h"
#include "velq_value.h"

namespace {

// Whether a value can be written as text: null (the empty text), a text or a number.
bool hasTextForm(const VELQ_Value *value) { return value->isNull() || value->isString(); }

// Writes the whole text to fd, going on after a signal interrupts: false on failure.
bool writeAll(int fd, const char *text, size_t length) {
  while (length > 0) {
    ssize_t done = write(fd, text, length);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    text += done;
    length -= (size_t)done;
  }
  return true;
}

// WriteFile and AppendFile: 1 when the whole text went into the file, 0 when the file
// cannot be opened or written (a path with a zero byte names no file).
int32_t writeFile(VELQ_Value **argv, int openFlags, VELQ_Value **result) {
  if (!argv[0]->isString()) return VELQ_ERR_NOT_STRING;
  if (!hasTextForm(argv[1])) return VELQ_ERR_NOT_STRING;
  uint32_t pathLength = 0;
  const char *path = argv[0]->getValueAsString(&pathLength);  // zero-terminated
  if (!path) return VELQ_ERR_OUT_OF_MEMORY;
  uint32_t length;
  const char *text = velqToolkitTextOf(argv[1], &length);
  bool written = false;
  if (strlen(path) == pathLength) {
    int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC | openFlags, 0666);
    if (fd >= 0) {
      written = writeAll(fd, text, length);
      if (close(fd) != 0) written = false;
    }
  }
  return velqResult(result, new VELQ_Value((int32_t)(written ? 1 : 0)));
}

}  // namespace

// Argument k counts from 1, as $1 does; the value is the one the run was given, which
// neither an assignment to $k nor a match (whose groups are $1, $2, ...) changes.
VELQ_HANDLER(velqArg) {
  if (!argv[0]->isInteger()) return VELQ_ERR_NOT_WHOLE;
  int64_t k = argv[0]->getValueAsInt64();
  const VELQ_Value *argument = nullptr;
  if (program && k >= 1 && (uint64_t)k <= program->getArgumentCount())
    argument = program->getArgument((unsigned long)(k - 1));
  return velqResult(result, velqStoredCopy(argument));
}

VELQ_HANDLER(velqArgs) {
  unsigned long count = program ? program->getArgumentCount() : 0;
  VELQ_Array *arguments = new VELQ_Array();
  if (!arguments) return VELQ_ERR_OUT_OF_MEMORY;
  for (unsigned long i = 0; i < count; i++) {
    if (!velqToolkitStore(arguments, (int32_t)i, velqStoredCopy(program->getArgument(i)))) {
      delete arguments;
      return VELQ_ERR_OUT_OF_MEMORY;
    }
  }
  return velqToolkitArrayResult(arguments, result);
}

// The text and a line feed in one write, so that lines from several processes sharing
// standard error stay whole.
VELQ_HANDLER(velqPrintError) {
  if (!hasTextForm(argv[0])) return VELQ_ERR_NOT_STRING;
  uint32_t length;
  const char *text = velqToolkitTextOf(argv[0], &length);
  flockfile(stderr);
  fwrite(text, 1, length, stderr);
  putc_unlocked('\n', stderr);
  funlockfile(stderr);
  return velqResult(result, new VELQ_Value());
}

VELQ_HANDLER(velqGetEnv) {
  if (!argv[0]->isString()) return VELQ_ERR_NOT_STRING;
  uint32_t nameLength = 0;
  const char *name = argv[0]->getValueAsString(&nameLength);
  if (!name) return VELQ_ERR_OUT_OF_MEMORY;
  const char *found = strlen(name) == nameLength ? getenv(name) : nullptr;
  if (!found) return velqResult(result, new VELQ_Value());
  return velqResult(result, velqToolkitText(found, strlen(found)));
}

VELQ_HANDLER(velqWriteFile) { return writeFile(argv, O_TRUNC, result); }

VELQ_HANDLER(velqAppendFile) { return writeFile(argv, O_APPEND, result); }
