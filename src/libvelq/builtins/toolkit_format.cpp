// Round and Format: numbers written as decimal text.
//
// Both write numbers in the "C" locale whatever locale the host set, as every number the
// engine writes. Format never hands a script's format to the C library: it reads each
// conversion, checks it against the subset it supports and against its argument, and
// builds that one conversion's C format from the checked pieces.
#include <locale.h>
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "runtime/run_limits.h"
#include "toolkit_functions.h"
#include "values/number_text.h"
#include "values/value_internals.h"
#include "velq_program.h"
#include "velq_value.h"

namespace {

enum {
  // Room for the text of one numeric conversion: a real has at most 309 digits before
  // its point; the precision adds at most the field limit after it, and the width pads
  // to at most the field limit.
  CONVERSION_SIZE = VELQ_REAL_TEXT_SIZE + 2 * VELQ_TOOLKIT_FIELD_LIMIT,
  // Room for the C format of one conversion: '%', five flags, two fields of three
  // digits, '.', two length letters, the conversion letter and the zero byte.
  SPEC_SIZE = 32,
  // The significant digits of a real that Round takes as the decimal it stands for:
  // enough for every decimal of up to 15 digits to come back as written, so that 2.675,
  // which as a real lies just below 2.675, rounds to 2.68.
  ROUND_SIGNIFICANT_DIGITS = 15,
  // Room for a rounded number's text: 309 digits before the point of the largest real
  // and at most the field limit of digits after it (or of zeros for negative digits),
  // its sign, its point and a carry.
  ROUND_TEXT_SIZE = VELQ_REAL_TEXT_SIZE + 2 * VELQ_TOOLKIT_FIELD_LIMIT
};

// snprintf in the "C" locale, so that the decimal point is always '.'.
int formatInCLocale(char *buffer, size_t size, const char *spec, ...) {
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", (locale_t)0);
  locale_t previous = cLocale ? uselocale(cLocale) : (locale_t)0;
  va_list arguments;
  va_start(arguments, spec);
  int length = vsnprintf(buffer, size, spec, arguments);
  va_end(arguments);
  if (cLocale) uselocale(previous);
  return length;
}

// ---------------------------------------------------------------------------
// Format

// Where Format's text goes: counted only (data null), or written as well.
struct Output {
  char *data = nullptr;
  uint64_t length = 0;

  void append(const char *bytes, size_t count) {
    if (data) memcpy(data + length, bytes, count);
    length += count;
  }
  void fill(char byte, size_t count) {
    if (data) memset(data + length, byte, count);
    length += count;
  }
};

// One conversion as the format gives it. A width or precision of -1 is not given.
struct Conversion {
  bool left = false, plus = false, space = false, alternate = false, zero = false;
  int width = -1;
  int precision = -1;
  char letter = 0;
};

const char CONVERSION_LETTERS[] = "diuxXofeEgGsc";

// Reads decimal digits at format[*at] into *field; false for a field above the limit.
bool readField(const char *format, uint32_t length, uint32_t *at, int *field) {
  int value = 0;
  for (; *at < length && format[*at] >= '0' && format[*at] <= '9'; (*at)++) {
    value = value * 10 + (format[*at] - '0');
    if (value > (int)VELQ_TOOLKIT_FIELD_LIMIT) return false;
  }
  *field = value;
  return true;
}

// Reads the conversion that follows a '%' (flags, width, '.' and precision, letter)
// and moves *at past it. Returns 0; error 17 for a conversion outside the subset (a
// '*', a length letter such as 'l', an unknown letter, or the end of the format); the
// limit code for a width or precision above VELQ_TOOLKIT_FIELD_LIMIT.
int32_t readConversion(const char *format, uint32_t length, uint32_t *at, Conversion *c) {
  for (; *at < length; (*at)++) {
    char flag = format[*at];
    if (flag == '-') {
      c->left = true;
    } else if (flag == '+') {
      c->plus = true;
    } else if (flag == ' ') {
      c->space = true;
    } else if (flag == '#') {
      c->alternate = true;
    } else if (flag == '0') {
      c->zero = true;
    } else {
      break;
    }
  }
  if (*at < length && format[*at] >= '1' && format[*at] <= '9' &&
      !readField(format, length, at, &c->width))
    return VELQ_ERR_MEMORY_LIMIT;
  if (*at < length && format[*at] == '.') {
    (*at)++;
    if (!readField(format, length, at, &c->precision)) return VELQ_ERR_MEMORY_LIMIT;
  }
  if (*at >= length || format[*at] == '\0' || !strchr(CONVERSION_LETTERS, format[*at]))
    return VELQ_ERR_NOT_STRING;
  c->letter = format[(*at)++];
  return 0;
}

// The C format of a checked numeric conversion with the given length letters and
// letter. Only the flags that C defines for that letter are kept: '+' and ' ' for
// signed conversions, '#' for the octal, hexadecimal and real ones.
void buildSpec(const Conversion &c, const char *lengthLetters, char letter,
               char (&spec)[SPEC_SIZE]) {
  bool isSigned = strchr("dieEfgG", letter) != nullptr;
  bool hasAlternate = strchr("oxXeEfgG", letter) != nullptr;
  char *p = spec;
  *p++ = '%';
  if (c.left) *p++ = '-';
  if (c.plus && isSigned) *p++ = '+';
  if (c.space && isSigned) *p++ = ' ';
  if (c.alternate && hasAlternate) *p++ = '#';
  if (c.zero) *p++ = '0';
  if (c.width >= 0) p += snprintf(p, spec + SPEC_SIZE - p, "%d", c.width);
  if (c.precision >= 0) p += snprintf(p, spec + SPEC_SIZE - p, ".%d", c.precision);
  snprintf(p, spec + SPEC_SIZE - p, "%s%c", lengthLetters, letter);
}

// Writes count bytes padded with spaces to the conversion's width (%s and %c, which
// C would stop at a zero byte).
void appendPadded(const Conversion &c, const char *bytes, size_t count, Output *out) {
  size_t padding = c.width > 0 && (size_t)c.width > count ? (size_t)c.width - count : 0;
  if (!c.left) out->fill(' ', padding);
  out->append(bytes, count);
  if (c.left) out->fill(' ', padding);
}

// Writes one conversion of value. Returns 0, or the code for an argument the
// conversion cannot take: 17 for %s without a text, 19 for the whole-number
// conversions without an integer, 4 for the real ones without a number.
int32_t appendConversion(const Conversion &c, VELQ_Value *value, Output *out) {
  char spec[SPEC_SIZE];
  char buffer[CONVERSION_SIZE];
  int length;
  int type = value->getDataType();
  bool wide = type == DTYPE_INT64 || type == DTYPE_UINT64;
  switch (c.letter) {
    case 's': {
      if (!value->isString()) return VELQ_ERR_NOT_STRING;
      uint32_t textLength = 0;
      const char *text = VELQ_ValueInternals::textView(value, &textLength);
      if (!text) return VELQ_ERR_OUT_OF_MEMORY;
      size_t shown =
          c.precision >= 0 && (uint32_t)c.precision < textLength ? c.precision : textLength;
      appendPadded(c, text, shown, out);
      return 0;
    }
    case 'c': {
      if (!value->isInteger()) return VELQ_ERR_NOT_WHOLE;
      char byte = (char)(value->getValueAsUInt64() & 0xFF);
      appendPadded(c, &byte, 1, out);
      return 0;
    }
    case 'f':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
      if (!value->isNumeric()) return VELQ_ERR_BAD_ARITHMETIC;
      buildSpec(c, "", c.letter, spec);
      length = formatInCLocale(buffer, sizeof buffer, spec, value->getValueAsReal());
      break;
    case 'd':
    case 'i':
      if (!value->isInteger()) return VELQ_ERR_NOT_WHOLE;
      if (type == DTYPE_UINT64) {  // beyond the signed range: written as unsigned
        buildSpec(c, "ll", 'u', spec);
        length = formatInCLocale(buffer, sizeof buffer, spec,
                                 (unsigned long long)value->getValueAsUInt64());
      } else {
        buildSpec(c, "ll", c.letter, spec);
        length = formatInCLocale(buffer, sizeof buffer, spec, (long long)value->getValueAsInt64());
      }
      break;
    default:  // u, x, X, o: the bits of the value in its own width
      if (!value->isInteger()) return VELQ_ERR_NOT_WHOLE;
      buildSpec(c, "ll", c.letter, spec);
      length = formatInCLocale(buffer, sizeof buffer, spec,
                               wide ? (unsigned long long)value->getValueAsUInt64()
                                    : (unsigned long long)value->getValueAsUInt32());
      break;
  }
  if (length < 0 || (size_t)length >= sizeof buffer) return VELQ_ERR_INTERNAL;
  out->append(buffer, (size_t)length);
  return 0;
}

// Walks the format: its bytes go to out as they are, "%%" as one '%', and each
// conversion takes the next argument. Returns 0, or the code of the first problem in
// the order of the format; a conversion without an argument, or arguments left over,
// are error 12.
int32_t formatInto(const char *format, uint32_t length, int32_t argc, VELQ_Value **argv,
                   Output *out) {
  int32_t next = 0;
  uint32_t at = 0;
  while (at < length) {
    const char *percent = static_cast<const char *>(memchr(format + at, '%', length - at));
    uint32_t stop = percent ? (uint32_t)(percent - format) : length;
    out->append(format + at, stop - at);
    if (!percent) break;
    at = stop + 1;
    if (at < length && format[at] == '%') {
      out->append("%", 1);
      at++;
      continue;
    }
    Conversion c;
    int32_t code = readConversion(format, length, &at, &c);
    if (code != 0) return code;
    if (next >= argc) return VELQ_ERR_ARGUMENT_COUNT;
    code = appendConversion(c, argv[next++], out);
    if (code != 0) return code;
  }
  return next == argc ? 0 : VELQ_ERR_ARGUMENT_COUNT;
}

// ---------------------------------------------------------------------------
// Round

// A number as decimal digits: its value is 0.DIGITS times ten to (exponent + 1), so
// exponent is the power of ten of the first digit.
struct Decimal {
  char digits[VELQ_INTEGER_TEXT_SIZE];  // without leading zeros; "0" for zero
  int count = 0;
  int exponent = 0;
  bool negative = false;
};

Decimal decimalOfMagnitude(uint64_t magnitude, bool negative) {
  Decimal d;
  d.count = (int)VELQ_FormatUInt64(magnitude, d.digits);
  d.exponent = d.count - 1;
  d.negative = negative;
  return d;
}

// The exact digits of an integer value.
Decimal decimalOfInteger(VELQ_Value *x) {
  if (x->isUnsigned()) return decimalOfMagnitude(x->getValueAsUInt64(), false);
  int64_t n = x->getValueAsInt64();
  return decimalOfMagnitude(n < 0 ? 0 - (uint64_t)n : (uint64_t)n, n < 0);
}

// The decimal a finite real stands for: its first ROUND_SIGNIFICANT_DIGITS digits.
Decimal decimalOfReal(double x) {
  char text[64];  // "d.", the other digits, "e", the sign and three exponent digits
  formatInCLocale(text, sizeof text, "%.*e", ROUND_SIGNIFICANT_DIGITS - 1, fabs(x));
  Decimal d;
  d.negative = signbit(x);
  d.digits[d.count++] = text[0];
  const char *p = text + 2;
  while (*p != 'e') d.digits[d.count++] = *p++;
  d.exponent = atoi(p + 1);
  return d;
}

// Adds one to the decimal numeral of count digits at numeral (the empty numeral counts
// as 0); returns its new count, which a carry out of the first digit makes one more.
int incrementNumeral(char *numeral, int count) {
  for (int i = count; i-- > 0;) {
    if (numeral[i] != '9') {
      numeral[i]++;
      return count;
    }
    numeral[i] = '0';
  }
  memmove(numeral + 1, numeral, (size_t)count);
  numeral[0] = '1';
  return count + 1;
}

// Writes the number rounded half away from zero to digits decimals (to tens, hundreds,
// ... for negative digits), with exactly that many decimals, or as a whole number when
// digits is 0 or less; zero gets no sign. Returns the length written into text, which
// holds ROUND_TEXT_SIZE bytes.
size_t roundedText(const Decimal &number, int digits, char *text) {
  char numeral[ROUND_TEXT_SIZE];
  int count = 0;
  // The digits kept: those of place 10^-digits and above.
  int kept = number.exponent + digits + 1;
  if (kept >= number.count) {
    memcpy(numeral, number.digits, (size_t)number.count);
    memset(numeral + number.count, '0', (size_t)(kept - number.count));
    count = kept;
  } else if (kept >= 0) {
    memcpy(numeral, number.digits, (size_t)kept);
    count = kept;
    if (number.digits[kept] >= '5') count = incrementNumeral(numeral, count);
  }
  int first = 0;
  while (first < count && numeral[first] == '0') first++;
  bool zero = first == count;

  size_t length = 0;
  if (number.negative && !zero) text[length++] = '-';
  if (digits <= 0) {
    if (zero) {
      text[length++] = '0';
    } else {
      memcpy(text + length, numeral + first, (size_t)(count - first));
      length += (size_t)(count - first);
      memset(text + length, '0', (size_t)-digits);
      length += (size_t)-digits;
    }
    return length;
  }
  // At least one digit before the point: leading zeros make up a short numeral.
  int significant = count - first;
  int whole = significant > digits ? significant - digits : 0;
  if (whole == 0) {
    text[length++] = '0';
  } else {
    memcpy(text + length, numeral + first, (size_t)whole);
    length += (size_t)whole;
  }
  text[length++] = '.';
  int zeros = significant < digits ? digits - significant : 0;
  memset(text + length, '0', (size_t)zeros);
  length += (size_t)zeros;
  memcpy(text + length, numeral + first + whole, (size_t)(significant - whole));
  return length + (size_t)(significant - whole);
}

// Whether a whole-number text (an optional '-' and digits without leading zeros)
// lies in the int64 range.
bool fitsInt64(const char *text, size_t length) {
  bool negative = length > 0 && text[0] == '-';
  const char *digits = negative ? text + 1 : text;
  size_t count = negative ? length - 1 : length;
  const char *bound = negative ? "9223372036854775808" : "9223372036854775807";
  const size_t boundLength = 19;
  return count < boundLength || (count == boundLength && memcmp(digits, bound, boundLength) <= 0);
}

}  // namespace

// Round(x [, digits]) rounds half away from zero. With digits of 1 or more the result
// is made from its text with exactly that many decimals, so it is a real that prints
// as written ("3.10"); otherwise a whole number, as text with no point makes it (a
// result beyond the int64 range stays a real). An integer rounded to 0 decimals comes
// back as it is, and so does a real that is not finite.
VELQ_HANDLER(velqRound) {
  if (argc != 1 && argc != 2) return VELQ_ERR_ARGUMENT_COUNT;
  VELQ_Value *x = argv[0];
  if (!x->isNumeric()) return VELQ_ERR_BAD_ARITHMETIC;
  int digits = 0;
  if (argc == 2) {
    VELQ_Value *wanted = argv[1];
    if (!wanted->isInteger()) return VELQ_ERR_NOT_WHOLE;
    bool tooLarge = wanted->isUnsigned() ? wanted->getValueAsUInt64() > VELQ_TOOLKIT_FIELD_LIMIT
                                         : wanted->getValueAsInt64() > VELQ_TOOLKIT_FIELD_LIMIT;
    if (tooLarge ||
        (!wanted->isUnsigned() && wanted->getValueAsInt64() < -(int64_t)VELQ_TOOLKIT_FIELD_LIMIT))
      return VELQ_ERR_MEMORY_LIMIT;
    digits = (int)wanted->getValueAsInt64();
  }
  bool real = x->isReal();
  double d = real ? x->getValueAsReal() : 0;
  if ((!real && digits == 0) || (real && !isfinite(d)))
    return velqResult(result, new VELQ_Value(x));
  char text[ROUND_TEXT_SIZE];
  size_t length = roundedText(real ? decimalOfReal(d) : decimalOfInteger(x), digits, text);
  text[length] = '\0';
  if (digits <= 0 && !fitsInt64(text, length))
    return velqResult(result, new VELQ_Value(VELQ_ParseReal(text, nullptr)));
  return velqResult(result, velqToolkitText(text, length));
}

// Format(format, ...): the format's bytes with each conversion replaced by its argument.
// The format is walked twice: once to check it and measure the text, once to write the
// text into a buffer of exactly that size.
VELQ_HANDLER(velqFormat) {
  if (argc < 1) return VELQ_ERR_ARGUMENT_COUNT;
  if (!argv[0]->isString()) return VELQ_ERR_NOT_STRING;
  uint32_t length = 0;
  const char *format = VELQ_ValueInternals::textView(argv[0], &length);
  if (!format) return VELQ_ERR_OUT_OF_MEMORY;
  Output measure;
  int32_t code = formatInto(format, length, argc - 1, argv + 1, &measure);
  if (code != 0) return code;
  if (measure.length > VELQ_TOOLKIT_TEXT_LIMIT) return VELQ_ERR_MEMORY_LIMIT;
  VELQ_Value *value = VELQ_ValueInternals::newText((uint32_t)measure.length);
  if (!value) return VELQ_ERR_OUT_OF_MEMORY;
  Output write;
  write.data = VELQ_ValueInternals::textToWrite(value);
  formatInto(format, length, argc - 1, argv + 1, &write);
  VELQ_ValueInternals::textWritten(value);
  velqChargeWork(2 * (uint64_t)length + measure.length);  // two walks, one text written
  *result = value;
  return 0;
}
