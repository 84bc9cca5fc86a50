// Built-in string functions: length, upper, lower, trim, ltrim, rtrim, left, right,
// substr, index, rindex and d2x.
//
// Texts are bytes: lengths and positions count bytes, comparisons are byte for byte,
// and zero bytes inside a text are kept. Positions seen by scripts count from 1. A
// result built from text goes through the counted text constructor, so a result that
// reads as a number is that number, with its text kept.
#include <ctype.h>
#include <string.h>

#include "builtins.h"
#include "runtime/memory.h"
#include "runtime/run_limits.h"
#include "values/value_internals.h"
#include "velq_program.h"
#include "velq_value.h"

enum {
  D2X_TEXT_LIMIT = 127,    // d2x keeps at most this many characters of its text
  SHORT_NEEDLE_TABLE = 64  // rindex needles up to this length use a table on the stack
};

namespace {

// The text form of a value with a text form; the empty text when it has none.
const char *textOf(VELQ_Value *value, uint32_t *length) {
  const char *text = VELQ_ValueInternals::textView(value, length);
  if (!text) {
    *length = 0;
    return "";
  }
  return text;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// The result of the trimming functions: the text without leading and/or trailing blanks.
int32_t trimmed(VELQ_Value *argument, bool leading, bool trailing, VELQ_Value **result) {
  uint32_t length;
  const char *text = textOf(argument, &length);
  uint32_t begin = 0, end = length;
  if (leading)
    while (begin < end && isBlank(text[begin])) begin++;
  if (trailing)
    while (end > begin && isBlank(text[end - 1])) end--;
  return velqResult(result, new VELQ_Value(text + begin, end - begin));
}

// upper and lower: a copy of the argument whose text alone is changed in place, so that
// the copy keeps its type and number (the upper-case of the text 0x1f is still the
// int32 31).
int32_t changedCase(VELQ_Value *argument, int (*change)(int), VELQ_Value **result) {
  VELQ_Value *copy = new VELQ_Value(argument);
  if (copy && !VELQ_ValueInternals::changeText(copy, change)) {
    delete copy;
    copy = nullptr;
  }
  uint32_t length;
  textOf(argument, &length);
  velqChargeWork(length);
  return velqResult(result, copy);
}

// left and right: exactly n bytes, the text's first (left) or last (right) bytes and
// pad characters to make up the length, after the text (left) or before it (right).
int32_t padded(int32_t argc, VELQ_Value **argv, bool fromLeft, VELQ_Value **result) {
  if (argc != 2 && argc != 3) return VELQ_ERR_ARGUMENT_COUNT;
  if (!argv[1]->isInteger()) return VELQ_ERR_NOT_WHOLE;
  if (!argv[0]->isString()) return VELQ_ERR_NOT_STRING;
  if (argc == 3 && !argv[2]->isString()) return VELQ_ERR_NOT_STRING;

  char pad = ' ';
  if (argc == 3) {
    uint32_t padLength;
    const char *padText = textOf(argv[2], &padLength);
    if (padLength > 0 && padText[0] != '\0') pad = padText[0];
  }
  int32_t wanted = argv[1]->getValueAsInt32();
  uint32_t n = wanted < 0 ? 0 : (uint32_t)wanted;

  uint32_t length;
  const char *text = textOf(argv[0], &length);
  if (n <= length) {  // a piece of the text, no padding
    return velqResult(result, new VELQ_Value(fromLeft ? text : text + (length - n), n));
  }
  // The padded text is written straight into the result's own text.
  VELQ_Value *padded = VELQ_ValueInternals::newText(n);
  if (!padded) return VELQ_ERR_OUT_OF_MEMORY;
  char *buffer = VELQ_ValueInternals::textToWrite(padded);
  uint32_t padCount = n - length;
  if (fromLeft) {
    memcpy(buffer, text, length);
    memset(buffer + length, pad, padCount);
  } else {
    memset(buffer, pad, padCount);
    memcpy(buffer + padCount, text, length);
  }
  VELQ_ValueInternals::textWritten(padded);
  velqChargeWork(n);
  *result = padded;
  return 0;
}

// The last position p <= last at which the needle (2 bytes or more) occurs in the
// haystack, or -1. Matches are found with a failure table over the reversed needle,
// scanning the haystack backwards, so the search is linear in both lengths whatever
// the texts hold. Falls back to trying every position if the table cannot be had.
int64_t findLast(const char *haystack, const char *needle, uint32_t needleLength,
                        uint32_t last) {
  uint32_t shortTable[SHORT_NEEDLE_TABLE];
  uint32_t *failure = shortTable;
  if (needleLength > SHORT_NEEDLE_TABLE) {
    failure = static_cast<uint32_t *>(velqAllocate(sizeof(uint32_t) * (size_t)needleLength));
    if (!failure) {
      for (int64_t p = last; p >= 0; p--)
        if (memcmp(haystack + p, needle, needleLength) == 0) return p;
      return -1;
    }
  }
  // Byte i of the reversed needle is needle[needleLength - 1 - i].
  auto reversedNeedle = [needle, needleLength](uint32_t i) { return needle[needleLength - 1 - i]; };
  failure[0] = 0;
  for (uint32_t i = 1, k = 0; i < needleLength; i++) {
    while (k > 0 && reversedNeedle(i) != reversedNeedle(k)) k = failure[k - 1];
    if (reversedNeedle(i) == reversedNeedle(k)) k++;
    failure[i] = k;
  }
  // The reversed haystack ends where a match starting at `last` would end.
  uint64_t end = (uint64_t)last + needleLength;
  int64_t found = -1;
  uint32_t matched = 0;
  for (uint64_t q = 0; q < end; q++) {
    char c = haystack[end - 1 - q];
    while (matched > 0 && c != reversedNeedle(matched)) matched = failure[matched - 1];
    if (c == reversedNeedle(matched)) matched++;
    if (matched == needleLength) {
      found = (int64_t)(end - 1 - q);  // the first byte of the match in the haystack
      break;
    }
  }
  if (failure != shortTable) velqRelease(failure);
  return found;
}

// The first occurrence of the needle (needleLength > 0) in length bytes, or null. The text
// is searched a window of about VELQ_WORK_BETWEEN_CHECKS bytes at a time, the windows
// overlapping by needleLength - 1 bytes so that no occurrence is missed, and each window
// pays for itself: a search of a long text stops with the run's limits (null: the run
// ends before the answer can be seen).
const char *findFirst(const char *text, size_t length, const char *needle, uint32_t needleLength) {
  size_t at = 0;
  while (length - at >= needleLength) {
    size_t span = length - at;
    if (span > (size_t)VELQ_WORK_BETWEEN_CHECKS + needleLength - 1)
      span = (size_t)VELQ_WORK_BETWEEN_CHECKS + needleLength - 1;
    const void *hit = memmem(text + at, span, needle, needleLength);
    if (hit) return static_cast<const char *>(hit);
    if (!velqChargeWork(span)) return nullptr;
    at += span - (needleLength - 1);
  }
  return nullptr;
}

// index and rindex: the 1-based position of the first (forward) or last (backward)
// occurrence of the needle, searching from an optional 1-based start; 0 when none.
int32_t search(int32_t argc, VELQ_Value **argv, bool forward, VELQ_Value **result) {
  if (argc != 2 && argc != 3) return VELQ_ERR_ARGUMENT_COUNT;
  if (!argv[0]->isString()) return VELQ_ERR_NOT_STRING;
  if (!argv[1]->isString()) return VELQ_ERR_NOT_STRING;
  if (argc == 3 && !argv[2]->isInteger()) return VELQ_ERR_NOT_WHOLE;

  uint32_t haystackLength, needleLength;
  const char *haystack = textOf(argv[0], &haystackLength);
  const char *needle = textOf(argv[1], &needleLength);
  int32_t position = 0;
  if (needleLength >= haystackLength) {
    // Only the whole text can match; the start plays no part.
    position = needleLength == haystackLength && needleLength != 0 &&
               memcmp(haystack, needle, needleLength) == 0;
  } else if (needleLength > 0) {
    uint32_t last = haystackLength - needleLength;
    int32_t start = argc == 3 ? argv[2]->getValueAsInt32() : 0;
    uint32_t from = start > 0 ? (uint32_t)start - 1 : (forward ? 0 : last);
    if (forward) {
      if (from <= last) {
        const char *hit = findFirst(haystack + from, haystackLength - from, needle, needleLength);
        if (hit) position = (int32_t)(hit - haystack) + 1;
      }
    } else {
      if (from > last) from = last;
      // Charged as if the whole text were searched: a backward search is not cut short.
      velqChargeWork((unsigned long long)from + needleLength);
      int64_t hit = -1;
      if (needleLength == 1) {
        const void *byte = memrchr(haystack, needle[0], (size_t)from + 1);
        if (byte) hit = (const char *)byte - haystack;
      } else {
        hit = findLast(haystack, needle, needleLength, from);
      }
      if (hit >= 0) position = (int32_t)hit + 1;
    }
  }
  return velqResult(result, new VELQ_Value(position));
}

}  // namespace

VELQ_HANDLER(velqLength) {
  if (!argv[0]->isString()) return VELQ_ERR_NOT_STRING;
  uint32_t length;
  textOf(argv[0], &length);
  return velqResult(result, new VELQ_Value(length));
}

VELQ_HANDLER(velqUpper) {
  if (!argv[0]->isString()) return VELQ_ERR_NOT_STRING;
  return changedCase(argv[0], toupper, result);
}

VELQ_HANDLER(velqLower) {
  if (!argv[0]->isString()) return VELQ_ERR_NOT_STRING;
  return changedCase(argv[0], tolower, result);
}

VELQ_HANDLER(velqTrim) {
  if (!argv[0]->isString()) return VELQ_ERR_NOT_STRING;
  return trimmed(argv[0], true, true, result);
}

VELQ_HANDLER(velqLtrim) {
  if (!argv[0]->isString()) return VELQ_ERR_NOT_STRING;
  return trimmed(argv[0], true, false, result);
}

VELQ_HANDLER(velqRtrim) {
  if (!argv[0]->isString()) return VELQ_ERR_NOT_STRING;
  return trimmed(argv[0], false, true, result);
}

VELQ_HANDLER(velqLeft) { return padded(argc, argv, true, result); }

VELQ_HANDLER(velqRight) { return padded(argc, argv, false, result); }

VELQ_HANDLER(velqSubstr) {
  if (argc != 2 && argc != 3) return VELQ_ERR_ARGUMENT_COUNT;
  if (!argv[0]->isString()) return VELQ_ERR_NOT_STRING;
  uint32_t from = 0;  // 0-based first byte
  if (!argv[1]->isNull()) {
    if (!argv[1]->isInteger()) return VELQ_ERR_NOT_WHOLE;
    int32_t start = argv[1]->getValueAsInt32();
    if (start > 0) from = (uint32_t)start - 1;
  }
  int32_t count = -1;  // -1: the rest of the text
  if (argc == 3) {
    if (!argv[2]->isInteger()) return VELQ_ERR_NOT_WHOLE;
    count = argv[2]->getValueAsInt32();
    if (count < 0) count = 0;
  }
  uint32_t length;
  const char *text = textOf(argv[0], &length);
  uint32_t taken = 0;
  if (from < length) {
    taken = length - from;
    if (count >= 0 && (uint32_t)count < taken) taken = (uint32_t)count;
  } else {
    from = 0;
  }
  return velqResult(result, new VELQ_Value(text + from, taken));
}

VELQ_HANDLER(velqIndex) { return search(argc, argv, true, result); }

VELQ_HANDLER(velqRindex) { return search(argc, argv, false, result); }

// d2x formats as printf's "%X", or "%0<width>X" with a width: upper-case digits,
// zero-padded on the left to the width, or, for a negative width, space-padded on the
// right to its magnitude; the text is cut to its first 127 characters. The padding is
// written here rather than by printf, so that no width, however large, costs more
// than the 127 characters kept.
VELQ_HANDLER(velqD2x) {
  if (argc != 1 && argc != 2) return VELQ_ERR_ARGUMENT_COUNT;
  if (!argv[0]->isInteger()) return VELQ_ERR_NOT_WHOLE;
  if (argc == 2 && !argv[1]->isInteger()) return VELQ_ERR_NOT_WHOLE;

  static const char hexDigits[] = "0123456789ABCDEF";
  char digits[8];
  uint32_t digitCount = 0;
  uint32_t v = argv[0]->getValueAsUInt32();
  do {
    digits[7 - digitCount++] = hexDigits[v & 15];
    v >>= 4;
  } while (v != 0);
  const char *firstDigit = digits + 8 - digitCount;

  int64_t width = argc == 2 ? argv[1]->getValueAsInt32() : 0;
  bool leftAligned = width < 0;
  uint64_t magnitude = leftAligned ? (uint64_t)(-width) : (uint64_t)width;
  uint64_t padCount = magnitude > digitCount ? magnitude - digitCount : 0;

  char text[D2X_TEXT_LIMIT];
  uint32_t length = 0;
  auto put = [&text, &length](char c) {
    if (length < D2X_TEXT_LIMIT) text[length++] = c;
  };
  if (!leftAligned)
    for (uint64_t i = 0; i < padCount && length < D2X_TEXT_LIMIT; i++) put('0');
  for (uint32_t i = 0; i < digitCount; i++) put(firstDigit[i]);
  if (leftAligned)
    for (uint64_t i = 0; i < padCount && length < D2X_TEXT_LIMIT; i++) put(' ');
  return velqResult(result, new VELQ_Value(text, length));
}
