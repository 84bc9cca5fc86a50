// Locale-independent reading and rendering of numbers (see number_text.h).
#include "values/number_text.h"

#include <locale.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

namespace {

// The "C" locale, created once for the whole process. Conversions that take a
// locale argument, or that run with it as the calling thread's locale, then ignore
// whatever LC_NUMERIC the host has chosen.
locale_t cLocale() {
  static const locale_t c = newlocale(LC_ALL_MASK, "C", (locale_t)0);
  return c;
}

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDecimalDigit(char c) { return c >= '0' && c <= '9'; }

// The value of c as a digit of any base up to 16, or 16 when it is none.
unsigned digitValue(char c) {
  if (c >= '0' && c <= '9') return (unsigned)(c - '0');
  if (c >= 'a' && c <= 'f') return (unsigned)(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return (unsigned)(c - 'A' + 10);
  return 16;
}

// An integer text split into sign and magnitude, as the three integer parsers
// share it.
struct Magnitude {
  uint64_t value;
  bool negative;
  bool overflow;  // the magnitude does not fit in 64 bits
  const char *end;
};

// Reads the automatic-base integer syntax at text. With no digit at all the
// magnitude is 0 and end is text itself, as the C library's conversions report it.
Magnitude parseMagnitude(const char *text) {
  Magnitude m = {0, false, false, text};
  const char *p = text;
  while (isBlank(*p)) p++;
  if (*p == '+' || *p == '-') {
    m.negative = *p == '-';
    p++;
  }
  unsigned base = 10;
  if (p[0] == '0') {
    if ((p[1] == 'x' || p[1] == 'X') && digitValue(p[2]) < 16) {
      base = 16;
      p += 2;
    } else {
      base = 8;
    }
  }
  const char *digits = p;
  const uint64_t limit = UINT64_MAX / base;
  for (;; p++) {
    unsigned d = digitValue(*p);
    if (d >= base) break;
    if (m.value > limit || (m.value == limit && d > UINT64_MAX % base)) {
      m.overflow = true;
    } else {
      m.value = m.value * base + d;
    }
  }
  if (p == digits) {
    m.value = 0;
    m.negative = false;
    return m;  // no digit: nothing read
  }
  m.end = p;
  return m;
}

void storeEnd(const char **end, const char *position) {
  if (end) *end = position;
}

}  // namespace

int64_t VELQ_ParseInt64(const char *text, const char **end) {
  Magnitude m = parseMagnitude(text);
  storeEnd(end, m.end);
  const uint64_t largest = (uint64_t)INT64_MAX;
  if (m.negative) {
    if (m.overflow || m.value > largest + 1) return INT64_MIN;
    return (int64_t)(0 - m.value);  // wraps to the negative value, INT64_MIN included
  }
  if (m.overflow || m.value > largest) return INT64_MAX;
  return (int64_t)m.value;
}

uint32_t VELQ_ParseUInt32(const char *text, const char **end) {
  Magnitude m = parseMagnitude(text);
  storeEnd(end, m.end);
  if (m.overflow || m.value > UINT32_MAX) return UINT32_MAX;
  return m.negative ? (uint32_t)(0 - m.value) : (uint32_t)m.value;
}

uint64_t VELQ_ParseUInt64(const char *text, const char **end) {
  Magnitude m = parseMagnitude(text);
  storeEnd(end, m.end);
  if (m.overflow) return UINT64_MAX;
  return m.negative ? 0 - m.value : m.value;
}

size_t VELQ_ScanReal(const char *text) {
  const char *p = text;
  while (isBlank(*p)) p++;
  if (*p == '+' || *p == '-') p++;
  size_t digits = 0;
  while (isDecimalDigit(*p)) p++, digits++;
  if (*p == '.') {
    p++;
    while (isDecimalDigit(*p)) p++, digits++;
  }
  if (digits == 0) return 0;
  if (*p == 'e' || *p == 'E') {
    const char *q = p + 1;
    if (*q == '+' || *q == '-') q++;
    if (isDecimalDigit(*q)) {
      while (isDecimalDigit(*q)) q++;
      p = q;
    }
  }
  return (size_t)(p - text);
}

double VELQ_ParseReal(const char *text, const char **end) {
  size_t length = VELQ_ScanReal(text);
  if (length == 0) {
    storeEnd(end, text);
    return 0.0;
  }
  storeEnd(end, text + length);

  // The C library would read "0x..." as a hexadecimal real; here only its "0"
  // counts, which is zero with the text's sign.
  const char *mantissa = text;
  while (isBlank(*mantissa)) mantissa++;
  bool negative = *mantissa == '-';
  if (*mantissa == '+' || *mantissa == '-') mantissa++;
  if (mantissa[0] == '0' && (mantissa[1] == 'x' || mantissa[1] == 'X'))
    return negative ? -0.0 : 0.0;

  // With the hexadecimal and word forms excluded the C library reads exactly the
  // scanned characters; should it ever read more, convert a copy of just those.
  // (Should the "C" locale object be missing, which only happens when memory
  // runs out, the thread's locale has to do.)
  std::string copy;
  const char *digits = text;
  for (int attempt = 0; attempt < 2; attempt++) {
    char *stop = nullptr;
    double result = cLocale() ? strtod_l(digits, &stop, cLocale()) : strtod(digits, &stop);
    if (stop == digits + length) return result;
    copy.assign(text, length);
    digits = copy.c_str();
  }
  return 0.0;
}

size_t VELQ_FormatReal(double d, char *buffer, size_t size) {
  const char *word = nullptr;
  if (isnan(d)) {
    word = signbit(d) ? "-nan" : "nan";
  } else if (isinf(d)) {
    word = d < 0 ? "-inf" : "inf";
  }
  if (word) {
    size_t length = strlen(word);
    if (size > 0) {
      size_t n = length < size - 1 ? length : size - 1;
      memcpy(buffer, word, n);
      buffer[n] = '\0';
    }
    return length;
  }
  // The C library renders every digit exactly; the "C" locale, made the thread's
  // own for the duration of the call, keeps its decimal point a '.'.
  locale_t previous = uselocale(cLocale());
  int length = snprintf(size > 0 ? buffer : nullptr, size, "%f", d);
  uselocale(previous);
  return length < 0 ? 0 : (size_t)length;
}

size_t VELQ_FormatUInt64(uint64_t n, char *buffer) {
  char digits[VELQ_INTEGER_TEXT_SIZE];
  size_t count = 0;
  do {
    digits[count++] = (char)('0' + n % 10);
    n /= 10;
  } while (n != 0);
  for (size_t i = 0; i < count; i++) buffer[i] = digits[count - 1 - i];
  buffer[count] = '\0';
  return count;
}

size_t VELQ_FormatInt64(int64_t n, char *buffer) {
  if (n >= 0) return VELQ_FormatUInt64((uint64_t)n, buffer);
  buffer[0] = '-';
  return 1 + VELQ_FormatUInt64(0 - (uint64_t)n, buffer + 1);
}
