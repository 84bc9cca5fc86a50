// The toolkit's table and registration, and its functions for input, arrays, texts and
// whole numbers: ReadLine, ReadFile, ArgCount, Count, Keys, Split, Join, Replace, Floor,
// Ceil and Sqrt. Round and Format, which write numbers as decimal text, are in
// toolkit_format.cpp.
//
// Every handler checks its arguments in a fixed order and returns the first failing
// code before it creates anything; on success it stores one new value in *result.
// Texts are bytes, zero bytes included; a result made from text is read as a number
// when it is one, as every text the engine makes. What a script could make as large as
// it likes (a line, a file, a joined or replaced text, the pieces of a split) is held to
// the limits of velq_toolkit.h, and nothing is allocated beyond what the result needs
// and a constant.
#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "toolkit_functions.h"
#include "velq_array.h"
#include "velq_program.h"
#include "velq_value.h"

const VELQ_ToolkitFunction VELQ_ToolkitFunctions[VELQ_TOOLKIT_COUNT] = {
    {{"ReadLine", velqReadLine, 0}, "ReadLine()",
     "the next line of standard input without its line feed; null at the end of the input"},
    {{"ReadFile", velqReadFile, 1}, "ReadFile(path)",
     "the whole file as one text; null when it cannot be opened"},
    {{"ArgCount", velqArgCount, 0}, "ArgCount()", "the number of arguments the run was given"},
    {{"Count", velqCount, 1}, "Count(array)", "the number of elements of the array"},
    {{"Keys", velqKeys, 1}, "Keys(array)",
     "a new array holding the array's indices in ascending order at 0, 1, 2, ..."},
    {{"Split", velqSplit, 2}, "Split(text, separator)",
     "a new array of the pieces of text between separators at 0, 1, 2, ..."},
    {{"Join", velqJoin, 2}, "Join(array, separator)",
     "the texts of the array's elements in index order, separator between them"},
    {{"Replace", velqReplace, 3}, "Replace(text, old, new)",
     "text with every occurrence of old, from left to right, replaced by new"},
    {{"Floor", velqFloor, 1}, "Floor(x)", "the greatest whole number not above x"},
    {{"Ceil", velqCeil, 1}, "Ceil(x)", "the least whole number not below x"},
    {{"Round", velqRound, -1}, "Round(x [, digits])",
     "x rounded half away from zero: a whole number, or a real with exactly digits decimals"},
    {{"Sqrt", velqSqrt, 1}, "Sqrt(x)", "the square root of x, a real"},
    {{"Format", velqFormat, -1}, "Format(format, ...)",
     "the arguments written by the printf-like conversions of format"},
};

void VELQRegisterToolkit(VELQ_Environment *environment) {
  if (!environment) return;
  VELQ_ExtFunction records[VELQ_TOOLKIT_COUNT];
  for (int i = 0; i < VELQ_TOOLKIT_COUNT; i++) records[i] = VELQ_ToolkitFunctions[i].record;
  environment->registerFunctionSet(VELQ_TOOLKIT_COUNT, records);
}

namespace {

enum {
  LINE_START_SIZE = 256,      // bytes ReadLine holds before it needs a larger buffer
  STREAM_START_SIZE = 65536,  // bytes ReadFile reads at first from a file of unknown size
};

// The text form of a value with one; the empty text for a value without (null).
const char *textOf(VELQ_Value *value, uint32_t *length) {
  const char *text = value ? value->getValueAsString(length) : nullptr;
  if (!text) {
    *length = 0;
    return "";
  }
  return text;
}

// A byte buffer that grows by doubling up to a limit. Its bytes are the caller's to
// turn into a value; the buffer frees them when it goes.
struct GrowingBuffer {
  char *data = nullptr;
  size_t length = 0;
  size_t capacity = 0;

  ~GrowingBuffer() { free(data); }

  // Makes room for at least one more byte: 0, or the code for a buffer that would pass
  // limit bytes or that cannot be had.
  int32_t reserveMore(size_t limit, size_t startSize) {
    if (length < capacity) return 0;
    if (capacity >= limit) return VELQ_TOOLKIT_ERR_LIMIT;
    size_t grown = capacity == 0 ? startSize : capacity * 2;
    if (grown > limit) grown = limit;
    char *block = static_cast<char *>(realloc(data, grown));
    if (!block) return VELQ_TOOLKIT_ERR_NO_MEMORY;
    data = block;
    capacity = grown;
    return 0;
  }
};

// The input stream of the running program's environment; null without one.
FILE *inputOf(VELQ_Program *program) {
  VELQ_Environment *environment = program ? program->getEnvironment() : nullptr;
  return environment ? environment->getStdIn() : nullptr;
}

// The number of pieces Split makes of a text of textLength bytes.
uint64_t countPieces(const char *text, uint32_t textLength, const char *separator,
                     uint32_t separatorLength) {
  if (textLength == 0) return 0;
  if (separatorLength == 0) return textLength;
  uint64_t pieces = 1;
  const char *end = text + textLength;
  for (const char *at = text; at < end;) {
    const char *hit = static_cast<const char *>(memmem(at, end - at, separator, separatorLength));
    if (!hit) break;
    pieces++;
    at = hit + separatorLength;
  }
  return pieces;
}

// Floor and Ceil: integers as they are, a real through round.
int32_t wholeOf(VELQ_Value *x, double (*toWhole)(double), VELQ_Value **result) {
  if (!x->isNumeric()) return VELQ_ERR_BAD_ARITHMETIC;
  *result = x->isReal() ? velqToolkitWholeNumber(toWhole(x->getValueAsReal())) : new VELQ_Value(x);
  return 0;
}

}  // namespace

VELQ_Value *velqToolkitWholeNumber(double d) {
  // The bounds are those of text read as a number: int32 from -2147483647 on.
  if (d >= -2147483647.0 && d <= 2147483647.0) return new VELQ_Value((int32_t)d);
  if (d >= -9223372036854775808.0 && d < 9223372036854775808.0) return new VELQ_Value((int64_t)d);
  return new VELQ_Value(d);
}

// Reads bytes up to the next line feed, which is dropped; a last line without one is
// a line too. At the end of the input, or without an input stream, the result is null.
VELQ_HANDLER(velqReadLine) {
  FILE *input = inputOf(program);
  if (!input) {
    *result = new VELQ_Value();
    return 0;
  }
  GrowingBuffer line;
  bool any = false;
  int32_t code = 0;
  flockfile(input);
  for (int c; (c = getc_unlocked(input)) != EOF;) {
    any = true;
    if (c == '\n') break;
    code = line.reserveMore(VELQ_TOOLKIT_TEXT_LIMIT, LINE_START_SIZE);
    if (code != 0) break;
    line.data[line.length++] = (char)c;
  }
  funlockfile(input);
  if (code != 0) return code;
  *result = any ? new VELQ_Value(line.data, (uint32_t)line.length) : new VELQ_Value();
  return 0;
}

// Reads the whole file in large blocks, into a buffer of the file's size when it has
// one, and makes the value once. A path that cannot be opened, or names a folder, gives
// null; so does a read that fails on the way.
VELQ_HANDLER(velqReadFile) {
  if (!argv[0]->isString()) return VELQ_ERR_NOT_STRING;
  uint32_t pathLength;
  const char *path = textOf(argv[0], &pathLength);
  if (strlen(path) != pathLength) {  // no file name holds a zero byte
    *result = new VELQ_Value();
    return 0;
  }
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  struct stat info;
  if (fd < 0 || fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    if (fd >= 0) close(fd);
    *result = new VELQ_Value();
    return 0;
  }
  // One byte beyond the limit tells a file that is too long from one that just fits.
  const size_t limit = (size_t)VELQ_TOOLKIT_TEXT_LIMIT + 1;
  size_t startSize = STREAM_START_SIZE;
  if (S_ISREG(info.st_mode) && info.st_size >= 0) {
    if ((uint64_t)info.st_size >= limit) {
      close(fd);
      return VELQ_TOOLKIT_ERR_LIMIT;
    }
    startSize = (size_t)info.st_size + 1;  // and one byte to see the end of the file
  }
  GrowingBuffer text;
  int32_t code = 0;
  bool failed = false;
  for (;;) {
    code = text.reserveMore(limit, startSize);
    if (code != 0) break;
    ssize_t got = read(fd, text.data + text.length, text.capacity - text.length);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) failed = true;
    if (got <= 0) break;
    text.length += (size_t)got;
  }
  close(fd);
  if (code == 0 && text.length >= limit) code = VELQ_TOOLKIT_ERR_LIMIT;
  if (code != 0) return code;
  *result = failed ? new VELQ_Value() : new VELQ_Value(text.data, (uint32_t)text.length);
  return 0;
}

VELQ_HANDLER(velqArgCount) {
  *result = new VELQ_Value((int32_t)0);
  return 0;
}

VELQ_HANDLER(velqCount) {
  VELQ_Array *array = argv[0]->getValueAsArray();
  if (!array) return VELQ_ERR_NOT_ARRAY;
  *result = new VELQ_Value((int32_t)array->getSize());
  return 0;
}

VELQ_HANDLER(velqKeys) {
  VELQ_Array *array = argv[0]->getValueAsArray();
  if (!array) return VELQ_ERR_NOT_ARRAY;
  VELQ_Array *keys = new VELQ_Array();
  for (int32_t i = 0; i < array->getSize(); i++)
    keys->set(i, new VELQ_Value(array->getElement(i)->index));
  *result = new VELQ_Value(keys);
  return 0;
}

// The pieces between separators, each a value made from its text. An empty separator
// splits the text into single bytes; an empty text has no pieces.
VELQ_HANDLER(velqSplit) {
  if (!argv[0]->isString()) return VELQ_ERR_NOT_STRING;
  if (!argv[1]->isString()) return VELQ_ERR_NOT_STRING;
  uint32_t textLength, separatorLength;
  const char *text = textOf(argv[0], &textLength);
  const char *separator = textOf(argv[1], &separatorLength);
  if (countPieces(text, textLength, separator, separatorLength) > VELQ_TOOLKIT_ELEMENT_LIMIT)
    return VELQ_TOOLKIT_ERR_LIMIT;

  VELQ_Array *pieces = new VELQ_Array();
  int32_t index = 0;
  if (separatorLength == 0) {
    for (uint32_t i = 0; i < textLength; i++) pieces->set(index++, new VELQ_Value(text + i, 1));
  } else if (textLength > 0) {
    const char *end = text + textLength;
    const char *start = text;
    for (;;) {
      const char *hit =
          static_cast<const char *>(memmem(start, end - start, separator, separatorLength));
      const char *stop = hit ? hit : end;
      pieces->set(index++, new VELQ_Value(start, (uint32_t)(stop - start)));
      if (!hit) break;
      start = hit + separatorLength;
    }
  }
  *result = new VELQ_Value(pieces);
  return 0;
}

// The elements' texts in index order; a null element adds the empty text, an object
// or an array element is refused (error 17), as it has no text.
VELQ_HANDLER(velqJoin) {
  VELQ_Array *array = argv[0]->getValueAsArray();
  if (!array) return VELQ_ERR_NOT_ARRAY;
  if (!argv[1]->isString()) return VELQ_ERR_NOT_STRING;
  uint32_t separatorLength;
  const char *separator = textOf(argv[1], &separatorLength);
  int32_t count = array->getSize();
  uint64_t total = count > 0 ? (uint64_t)separatorLength * (uint64_t)(count - 1) : 0;
  for (int32_t i = 0; i < count; i++) {
    VELQ_Value *element = array->getElement(i)->value;
    if (!element || element->isNull()) continue;
    if (!element->isString()) return VELQ_ERR_NOT_STRING;
    uint32_t length;
    textOf(element, &length);
    total += length;
  }
  if (total > VELQ_TOOLKIT_TEXT_LIMIT) return VELQ_TOOLKIT_ERR_LIMIT;

  char *joined = static_cast<char *>(malloc(total > 0 ? (size_t)total : 1));
  if (!joined) return VELQ_TOOLKIT_ERR_NO_MEMORY;
  size_t at = 0;
  for (int32_t i = 0; i < count; i++) {
    if (i > 0) {
      memcpy(joined + at, separator, separatorLength);
      at += separatorLength;
    }
    uint32_t length;
    const char *text = textOf(array->getElement(i)->value, &length);
    memcpy(joined + at, text, length);
    at += length;
  }
  *result = new VELQ_Value(joined, (uint32_t)total);
  free(joined);
  return 0;
}

// Replaces the occurrences of old found from left to right, each search going on after
// the previous occurrence. An empty old leaves the text as it is.
VELQ_HANDLER(velqReplace) {
  for (int i = 0; i < 3; i++)
    if (!argv[i]->isString()) return VELQ_ERR_NOT_STRING;
  uint32_t textLength, oldLength, newLength;
  const char *text = textOf(argv[0], &textLength);
  const char *old = textOf(argv[1], &oldLength);
  const char *replacement = textOf(argv[2], &newLength);
  uint64_t occurrences = oldLength > 0 ? countPieces(text, textLength, old, oldLength) : 0;
  if (occurrences > 0) occurrences--;  // the pieces between occurrences are one more
  uint64_t total = textLength - occurrences * oldLength + occurrences * newLength;
  if (total > VELQ_TOOLKIT_TEXT_LIMIT) return VELQ_TOOLKIT_ERR_LIMIT;

  char *replaced = static_cast<char *>(malloc(total > 0 ? (size_t)total : 1));
  if (!replaced) return VELQ_TOOLKIT_ERR_NO_MEMORY;
  size_t at = 0;
  const char *end = text + textLength;
  const char *start = text;
  while (occurrences > 0) {
    const char *hit = static_cast<const char *>(memmem(start, end - start, old, oldLength));
    memcpy(replaced + at, start, hit - start);
    at += hit - start;
    memcpy(replaced + at, replacement, newLength);
    at += newLength;
    start = hit + oldLength;
    occurrences--;
  }
  memcpy(replaced + at, start, end - start);
  *result = new VELQ_Value(replaced, (uint32_t)total);
  free(replaced);
  return 0;
}

VELQ_HANDLER(velqFloor) { return wholeOf(argv[0], floor, result); }

VELQ_HANDLER(velqCeil) { return wholeOf(argv[0], ceil, result); }

VELQ_HANDLER(velqSqrt) {
  if (!argv[0]->isNumeric()) return VELQ_ERR_BAD_ARITHMETIC;
  *result = new VELQ_Value(sqrt(argv[0]->getValueAsReal()));
  return 0;
}
