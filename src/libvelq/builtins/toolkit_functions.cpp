// The toolkit's table and registration, and its functions for input, arrays, texts and
// whole numbers: ReadLine, ReadFile, ArgCount, Count, Keys, Split, Join, Replace, Floor,
// Ceil and Sqrt. The others live by subject: Round and Format, which write numbers as
// decimal text, in toolkit_format.cpp; the arguments, standard error, the environment
// and writing files in toolkit_system.cpp; Fields, SameText and the UTF-8 functions in
// toolkit_texts.cpp; Sort and Order in toolkit_sort.cpp; the maps in toolkit_map.cpp.
//
// Every handler checks its arguments in a fixed order and returns the first failing
// code before it creates anything; on success it stores one new value in *result.
// Texts are bytes, zero bytes included; a result made from text is read as a number
// when it is one, as every text the engine makes. What a script could make as large as
// it likes (a line, a file, a joined or replaced text, the pieces of a split) is held to
// the limits of velq_toolkit.h, and nothing is allocated beyond what the result needs
// and a constant. Memory comes from the engine's allocation path (runtime/memory.h), so
// it counts toward a run's memory budget; memory refused is error 29.
#include "toolkit_functions.h"

#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/memory.h"
#include "runtime/run_limits.h"
#include "values/value_internals.h"
#include "velq_array.h"
#include "velq_program.h"
#include "velq_value.h"

const VELQ_ToolkitFunction VELQ_ToolkitFunctions[VELQ_TOOLKIT_COUNT] = {
    {{"ReadLine", velqReadLine, 0},
     "ReadLine()",
     "the next line of standard input without its line end (LF or CR LF); null at the end"},
    {{"ReadFile", velqReadFile, 1},
     "ReadFile(path)",
     "the whole file as one text; null when it cannot be opened"},
    {{"ArgCount", velqArgCount, 0}, "ArgCount()", "the number of arguments the run was given"},
    {{"Arg", velqArg, 1},
     "Arg(k)",
     "argument k (from 1) as the run was given it, whatever became of $k; null beyond"},
    {{"Args", velqArgs, 0}, "Args()", "a new array of the run's arguments at 0, 1, 2, ..."},
    {{"PrintError", velqPrintError, 1},
     "PrintError(text)",
     "writes the text and a line feed to standard error"},
    {{"GetEnv", velqGetEnv, 1},
     "GetEnv(name)",
     "the value of the environment variable; null when it is not set"},
    {{"WriteFile", velqWriteFile, 2},
     "WriteFile(path, text)",
     "replaces the file's content by the text: 1, or 0 when it cannot be written"},
    {{"AppendFile", velqAppendFile, 2},
     "AppendFile(path, text)",
     "adds the text at the end of the file: 1, or 0 when it cannot be written"},
    {{"Count", velqCount, 1}, "Count(array or map)", "the number of elements of the array or map"},
    {{"Keys", velqKeys, 1},
     "Keys(array)",
     "a new array holding the array's indices in ascending order at 0, 1, 2, ..."},
    {{"Split", velqSplit, 2},
     "Split(text, separator)",
     "a new array of the pieces of text between separators at 0, 1, 2, ..."},
    {{"Join", velqJoin, 2},
     "Join(array, separator)",
     "the texts of the array's elements in index order, separator between them"},
    {{"Replace", velqReplace, 3},
     "Replace(text, old, new)",
     "text with every occurrence of old, from left to right, replaced by new"},
    {{"Fields", velqFields, 1},
     "Fields(text)",
     "a new array of the pieces of text between runs of blanks at 0, 1, 2, ..."},
    {{"SameText", velqSameText, 2},
     "SameText(a, b)",
     "1 when a and b are the same bytes (\"007\" and \"7\" are not), else 0"},
    {{"Sort", velqSort, -1},
     "Sort(array [, how])",
     "a new array of the values in order: texts, or numbers with \"n\"; \"r\" reverses"},
    {{"Order", velqOrder, -1},
     "Order(array [, how])",
     "a new array of the indices that put the values in Sort's order"},
    {{"Map", velqMap, 0}, "Map()", "a new empty map from texts to values"},
    {{"MapSet", velqMapSet, 3}, "MapSet(map, key, value)", "sets the key's value and gives it"},
    {{"MapGet", velqMapGet, -1},
     "MapGet(map, key [, default])",
     "the key's value; without one the default, or null"},
    {{"MapHas", velqMapHas, 2}, "MapHas(map, key)", "1 when the map has the key, else 0"},
    {{"MapAdd", velqMapAdd, 3},
     "MapAdd(map, key, n)",
     "adds n to the key's value (none counts as 0) and gives the sum"},
    {{"MapRemove", velqMapRemove, 2},
     "MapRemove(map, key)",
     "takes the key out: 1, or 0 when the map did not have it"},
    {{"MapKeys", velqMapKeys, 1},
     "MapKeys(map)",
     "a new array of the keys in byte order at 0, 1, 2, ..."},
    {{"MapValues", velqMapValues, 1},
     "MapValues(map)",
     "a new array of the values in the order of MapKeys"},
    {{"Utf8Length", velqUtf8Length, 1}, "Utf8Length(text)", "the number of UTF-8 characters"},
    {{"Utf8Substr", velqUtf8Substr, -1},
     "Utf8Substr(text, start [, count])",
     "as substr, counting UTF-8 characters"},
    {{"Utf8Upper", velqUtf8Upper, 1},
     "Utf8Upper(text)",
     "the text with Latin, Greek and Cyrillic small letters made capital"},
    {{"Utf8Lower", velqUtf8Lower, 1},
     "Utf8Lower(text)",
     "the text with Latin, Greek and Cyrillic capital letters made small"},
    {{"Floor", velqFloor, 1}, "Floor(x)", "the greatest whole number not above x"},
    {{"Ceil", velqCeil, 1}, "Ceil(x)", "the least whole number not below x"},
    {{"Round", velqRound, -1},
     "Round(x [, digits])",
     "x rounded half away from zero: a whole number, or a real with exactly digits decimals"},
    {{"Sqrt", velqSqrt, 1}, "Sqrt(x)", "the square root of x, a real"},
    {{"Format", velqFormat, -1},
     "Format(format, ...)",
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
  STREAM_START_SIZE = 65536,  // bytes ReadFile reads at first from a stream of unknown size
};

// A byte buffer that grows by doubling up to a limit, for input of unknown length. Its
// bytes are copied into the result; the buffer releases them when it goes.
struct GrowingBuffer {
  char *data = nullptr;
  size_t length = 0;
  size_t capacity = 0;

  ~GrowingBuffer() { velqRelease(data); }

  // Makes room for at least one more byte: 0, or the code for a buffer that would pass
  // limit bytes or that cannot be had.
  int32_t reserveMore(size_t limit, size_t startSize) {
    if (length < capacity) return 0;
    if (capacity >= limit) return VELQ_ERR_MEMORY_LIMIT;
    size_t grown = capacity == 0 ? startSize : capacity * 2;
    if (grown > limit) grown = limit;
    char *block = static_cast<char *>(velqReallocate(data, grown));
    if (!block) return VELQ_ERR_OUT_OF_MEMORY;
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

// The first occurrence of the needle (needleLength > 0) from start on, or null. A
// one-byte needle, the common separator, is found with memchr, which looks no further
// than the byte it finds.
const char *findNext(const char *start, const char *end, const char *needle,
                     uint32_t needleLength) {
  if (needleLength == 1) return static_cast<const char *>(memchr(start, needle[0], end - start));
  return static_cast<const char *>(memmem(start, end - start, needle, needleLength));
}

// The number of pieces Split makes of a text of textLength bytes.
uint64_t countPieces(const char *text, uint32_t textLength, const char *separator,
                     uint32_t separatorLength) {
  if (textLength == 0) return 0;
  if (separatorLength == 0) return textLength;
  uint64_t pieces = 1;
  const char *end = text + textLength;
  for (const char *at = text; at < end;) {
    const char *hit = findNext(at, end, separator, separatorLength);
    if (!hit) break;
    pieces++;
    at = hit + separatorLength;
  }
  return pieces;
}

// Floor and Ceil: integers as they are, a real through toWhole.
int32_t wholeOf(VELQ_Value *x, double (*toWhole)(double), VELQ_Value **result) {
  if (!x->isNumeric()) return VELQ_ERR_BAD_ARITHMETIC;
  return velqResult(result, x->isReal() ? velqToolkitWholeNumber(toWhole(x->getValueAsReal()))
                                        : new VELQ_Value(x));
}

// ReadFile of a regular file: its size bytes read straight into the result's text, the
// size taken when the file was opened. A file that turns out shorter gives what it holds.
int32_t readSizedFile(int fd, off_t size, VELQ_Value **result) {
  if ((uint64_t)size > VELQ_TOOLKIT_TEXT_LIMIT) return VELQ_ERR_MEMORY_LIMIT;
  VELQ_Value *value = VELQ_ValueInternals::newText((uint32_t)size);
  if (!value) return VELQ_ERR_OUT_OF_MEMORY;
  char *text = VELQ_ValueInternals::textToWrite(value);
  size_t done = 0;
  while (done < (size_t)size) {
    ssize_t got = read(fd, text + done, (size_t)size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      delete value;
      return velqResult(result, new VELQ_Value());
    }
    if (got == 0) break;
    done += (size_t)got;
  }
  if (done < (size_t)size) {
    VELQ_Value *shorter = velqToolkitText(text, done);
    delete value;
    return velqResult(result, shorter);
  }
  VELQ_ValueInternals::textWritten(value);
  *result = value;
  return 0;
}

// ReadFile of a pipe or a device: read in growing blocks until its end.
int32_t readStream(int fd, VELQ_Value **result) {
  // One byte beyond the limit tells a stream that is too long from one that just fits.
  const size_t limit = (size_t)VELQ_TOOLKIT_TEXT_LIMIT + 1;
  GrowingBuffer text;
  for (;;) {
    int32_t code = text.reserveMore(limit, STREAM_START_SIZE);
    if (code != 0) return code;
    ssize_t got = read(fd, text.data + text.length, text.capacity - text.length);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return velqResult(result, new VELQ_Value());
    if (got == 0) break;
    text.length += (size_t)got;
  }
  if (text.length >= limit) return VELQ_ERR_MEMORY_LIMIT;
  return velqResult(result, velqToolkitText(text.data, text.length));
}

}  // namespace

const char *velqToolkitTextOf(VELQ_Value *value, uint32_t *length) {
  const char *text = value ? VELQ_ValueInternals::textView(value, length) : nullptr;
  if (!text) {
    *length = 0;
    return "";
  }
  return text;
}

bool velqToolkitStore(VELQ_Array *array, int32_t index, VELQ_Value *value) {
  if (value && VELQ_ValueInternals::store(array, index, value)) return true;
  delete value;
  return false;
}

int32_t velqToolkitArrayResult(VELQ_Array *array, VELQ_Value **result) {
  VELQ_Value *value = new VELQ_Value(array);
  if (!value) {
    delete array;
    return VELQ_ERR_OUT_OF_MEMORY;
  }
  *result = value;
  return 0;
}

VELQ_Value *velqToolkitText(const char *text, size_t length) {
  VELQ_Value *value = VELQ_ValueInternals::newText((uint32_t)length);
  if (!value) return nullptr;
  if (length > 0) memcpy(VELQ_ValueInternals::textToWrite(value), text, length);
  VELQ_ValueInternals::textWritten(value);
  return value;
}

VELQ_Value *velqToolkitWholeNumber(double d) {
  // The bounds are those of text read as a number: int32 from -2147483647 on.
  if (d >= -2147483647.0 && d <= 2147483647.0) return new VELQ_Value((int32_t)d);
  if (d >= -9223372036854775808.0 && d < 9223372036854775808.0) return new VELQ_Value((int64_t)d);
  return new VELQ_Value(d);
}

// Reads bytes up to the next line feed, which is dropped with a carriage return before
// it (a CR LF line end); a last line without one is a line too. At the end of the input, or without
// an input stream, the result is null. A read that a signal interrupts (Ctrl-C in the velq tool,
// which cancels the run) ends the line where it stands.
VELQ_HANDLER(velqReadLine) {
  FILE *input = inputOf(program);
  if (!input) return velqResult(result, new VELQ_Value());
  GrowingBuffer line;
  bool any = false;
  int32_t code = 0;
  flockfile(input);
  for (int c; (c = getc_unlocked(input)) != EOF;) {
    any = true;
    if (c == '\n') {
      if (line.length > 0 && line.data[line.length - 1] == '\r') line.length--;
      break;
    }
    code = line.reserveMore(VELQ_TOOLKIT_TEXT_LIMIT, LINE_START_SIZE);
    if (code != 0) break;
    line.data[line.length++] = (char)c;
  }
  if (ferror(input) && errno == EINTR) clearerr(input);  // the input goes on after it
  funlockfile(input);
  if (code != 0) return code;
  return velqResult(result, any ? velqToolkitText(line.data, line.length) : new VELQ_Value());
}

// Reads a whole file of known size straight into the result's text; a file of unknown
// size (a pipe, a device) in growing blocks. A path that cannot be opened, or names a
// folder, gives null; so does a read that fails on the way.
VELQ_HANDLER(velqReadFile) {
  if (!argv[0]->isString()) return VELQ_ERR_NOT_STRING;
  uint32_t pathLength = 0;
  const char *path = argv[0]->getValueAsString(&pathLength);  // zero-terminated
  if (!path) return VELQ_ERR_OUT_OF_MEMORY;
  if (strlen(path) != pathLength)
    return velqResult(result, new VELQ_Value());  // no file name holds a zero byte
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  struct stat info;
  if (fd < 0 || fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    if (fd >= 0) close(fd);
    return velqResult(result, new VELQ_Value());
  }
  int32_t code =
      S_ISREG(info.st_mode) ? readSizedFile(fd, info.st_size, result) : readStream(fd, result);
  close(fd);
  return code;
}

VELQ_HANDLER(velqArgCount) {
  return velqResult(result, new VELQ_Value((int32_t)(program ? program->getArgumentCount() : 0)));
}

VELQ_HANDLER(velqCount) {
  bool isMap = false;
  uint32_t entries = velqToolkitMapCount(argv[0], &isMap);
  if (isMap) return velqResult(result, new VELQ_Value((int32_t)entries));
  VELQ_Array *array = argv[0]->getValueAsArray();
  if (!array) return VELQ_ERR_NOT_ARRAY;
  return velqResult(result, new VELQ_Value((int32_t)array->getSize()));
}

VELQ_HANDLER(velqKeys) {
  VELQ_Array *array = argv[0]->getValueAsArray();
  if (!array) return VELQ_ERR_NOT_ARRAY;
  VELQ_Array *keys = new VELQ_Array();
  if (!keys) return VELQ_ERR_OUT_OF_MEMORY;
  for (int32_t i = 0; i < array->getSize(); i++) {
    if (!velqToolkitStore(keys, i, new VELQ_Value(array->getElement(i)->index))) {
      delete keys;
      return VELQ_ERR_OUT_OF_MEMORY;
    }
  }
  return velqToolkitArrayResult(keys, result);
}

// The pieces between separators, each a value made from its text. An empty separator
// splits the text into single bytes; an empty text has no pieces.
VELQ_HANDLER(velqSplit) {
  if (!argv[0]->isString()) return VELQ_ERR_NOT_STRING;
  if (!argv[1]->isString()) return VELQ_ERR_NOT_STRING;
  uint32_t textLength, separatorLength;
  const char *text = velqToolkitTextOf(argv[0], &textLength);
  const char *separator = velqToolkitTextOf(argv[1], &separatorLength);
  if (countPieces(text, textLength, separator, separatorLength) > VELQ_TOOLKIT_ELEMENT_LIMIT)
    return VELQ_ERR_MEMORY_LIMIT;

  VELQ_Array *pieces = new VELQ_Array();
  if (!pieces) return VELQ_ERR_OUT_OF_MEMORY;
  int32_t index = 0;
  bool stored = true;
  if (separatorLength == 0) {
    for (uint32_t i = 0; i < textLength && stored; i++) {
      if (!velqChargeWork(VELQ_WORK_PER_VALUE)) break;  // the run stops with its limit
      stored = velqToolkitStore(pieces, index++, velqToolkitText(text + i, 1));
    }
  } else if (textLength > 0) {
    const char *end = text + textLength;
    const char *start = text;
    while (stored) {
      if (!velqChargeWork(VELQ_WORK_PER_VALUE)) break;
      const char *hit = findNext(start, end, separator, separatorLength);
      const char *stop = hit ? hit : end;
      stored = velqToolkitStore(pieces, index++, velqToolkitText(start, stop - start));
      if (!hit) break;
      start = hit + separatorLength;
    }
  }
  if (!stored) {
    delete pieces;
    return VELQ_ERR_OUT_OF_MEMORY;
  }
  return velqToolkitArrayResult(pieces, result);
}

// The elements' texts in index order; a null element adds the empty text, an object
// or an array element is refused (error 17), as it has no text.
VELQ_HANDLER(velqJoin) {
  VELQ_Array *array = argv[0]->getValueAsArray();
  if (!array) return VELQ_ERR_NOT_ARRAY;
  if (!argv[1]->isString()) return VELQ_ERR_NOT_STRING;
  uint32_t separatorLength;
  const char *separator = velqToolkitTextOf(argv[1], &separatorLength);
  int32_t count = array->getSize();
  uint64_t total = count > 0 ? (uint64_t)separatorLength * (uint64_t)(count - 1) : 0;
  for (int32_t i = 0; i < count; i++) {
    VELQ_Value *element = array->getElement(i)->value;
    if (!element || element->isNull()) continue;
    if (!element->isString()) return VELQ_ERR_NOT_STRING;
    uint32_t length;
    velqToolkitTextOf(element, &length);
    total += length;
  }
  if (total > VELQ_TOOLKIT_TEXT_LIMIT) return VELQ_ERR_MEMORY_LIMIT;

  VELQ_Value *value = VELQ_ValueInternals::newText((uint32_t)total);
  if (!value) return VELQ_ERR_OUT_OF_MEMORY;
  char *joined = VELQ_ValueInternals::textToWrite(value);
  size_t at = 0;
  for (int32_t i = 0; i < count; i++) {
    if (i > 0) {
      memcpy(joined + at, separator, separatorLength);
      at += separatorLength;
    }
    uint32_t length;
    const char *text = velqToolkitTextOf(array->getElement(i)->value, &length);
    memcpy(joined + at, text, length);
    at += length;
  }
  VELQ_ValueInternals::textWritten(value);
  velqChargeWork(total + (uint64_t)count * VELQ_WORK_PER_VALUE);
  *result = value;
  return 0;
}

// Replaces the occurrences of old found from left to right, each search going on after
// the previous occurrence. An empty old leaves the text as it is.
VELQ_HANDLER(velqReplace) {
  for (int i = 0; i < 3; i++)
    if (!argv[i]->isString()) return VELQ_ERR_NOT_STRING;
  uint32_t textLength, oldLength, newLength;
  const char *text = velqToolkitTextOf(argv[0], &textLength);
  const char *old = velqToolkitTextOf(argv[1], &oldLength);
  const char *replacement = velqToolkitTextOf(argv[2], &newLength);
  uint64_t occurrences = oldLength > 0 ? countPieces(text, textLength, old, oldLength) : 0;
  if (occurrences > 0) occurrences--;  // the pieces between occurrences are one more
  uint64_t total = textLength - occurrences * oldLength + occurrences * newLength;
  if (total > VELQ_TOOLKIT_TEXT_LIMIT) return VELQ_ERR_MEMORY_LIMIT;

  VELQ_Value *value = VELQ_ValueInternals::newText((uint32_t)total);
  if (!value) return VELQ_ERR_OUT_OF_MEMORY;
  char *replaced = VELQ_ValueInternals::textToWrite(value);
  size_t at = 0;
  const char *end = text + textLength;
  const char *start = text;
  while (occurrences > 0) {
    const char *hit = findNext(start, end, old, oldLength);
    memcpy(replaced + at, start, hit - start);
    at += hit - start;
    memcpy(replaced + at, replacement, newLength);
    at += newLength;
    start = hit + oldLength;
    occurrences--;
  }
  memcpy(replaced + at, start, end - start);
  VELQ_ValueInternals::textWritten(value);
  velqChargeWork((uint64_t)textLength + total);  // searched, then copied
  *result = value;
  return 0;
}

VELQ_HANDLER(velqFloor) { return wholeOf(argv[0], floor, result); }

VELQ_HANDLER(velqCeil) { return wholeOf(argv[0], ceil, result); }

VELQ_HANDLER(velqSqrt) {
  if (!argv[0]->isNumeric()) return VELQ_ERR_BAD_ARITHMETIC;
  return velqResult(result, new VELQ_Value(sqrt(argv[0]->getValueAsReal())));
}
