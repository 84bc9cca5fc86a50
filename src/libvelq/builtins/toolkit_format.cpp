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

#include <string>

#include "toolkit_functions.h"
#include "values/number_text.h"
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
  ROUND_SIGNIFICANT_DIGITS = 15
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
    return VELQ_TOOLKIT_ERR_LIMIT;
  if (*at < length && format[*at] == '.') {
    (*at)++;
    if (!readField(format, length, at, &c->precision)) return VELQ_TOOLKIT_ERR_LIMIT;
  }
  if (*at >= length || format[*at] == '\0' || !strchr(CONVERSION_LETTERS, format[*at]))
    return VELQ_ERR_NOT_STRING;
  c->letter = format[(*at)++];
  return 0;
}

// The C format of a checked numeric conversion with the given length letters and
// letter. Only the flags that C defines for that letter are kept: '+' and ' ' for
// signed conversions, '#' for the octal, hexadecimal and real ones.
void buildSpec(const Conversion &c, const char *lengthLetters, char letter, char (&spec)[SPEC_SIZE]) {
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
      const char *text = value->getValueAsString(&textLength);
      size_t shown = c.precision >= 0 && (uint32_t)c.precision < textLength ? c.precision : textLength;
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
  std::string digits;  // without leading zeros; "0" for zero
  int exponent = 0;
  bool negative = false;
};

Decimal decimalOfMagnitude(uint64_t magnitude, bool negative) {
  char text[VELQ_INTEGER_TEXT_SIZE];
  size_t length = VELQ_FormatUInt64(magnitude, text);
  Decimal d;
  d.digits.assign(text, length);
  d.exponent = (int)length - 1;
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
  d.digits.push_back(text[0]);
  const char *p = text + 2;
  while (*p != 'e') d.digits.push_back(*p++);
  d.exponent = atoi(p + 1);
  return d;
}

// Adds one to a decimal numeral; the empty numeral counts as 0.
void incrementNumeral(std::string &numeral) {
  for (size_t i = numeral.size(); i-- > 0;) {
    if (numeral[i] != '9') {
      numeral[i]++;
      return;
    }
    numeral[i] = '0';
  }
  numeral.insert(numeral.begin(), '1');
}

// The number rounded half away from zero to digits decimals (to tens, hundreds, ...
// for negative digits), written with exactly that many decimals, or as a whole number
// when digits is 0 or less. Zero never gets a sign.
std::string roundedText(const Decimal &number, int digits) {
  // The digits kept: those of place 10^-digits and above.
  long kept = (long)number.exponent + digits + 1;
  long available = (long)number.digits.size();
  std::string numeral;
  if (kept >= available) {
    numeral = number.digits + std::string((size_t)(kept - available), '0');
  } else if (kept >= 0) {
    numeral = number.digits.substr(0, (size_t)kept);
    if (number.digits[(size_t)kept] >= '5') incrementNumeral(numeral);
  }
  size_t first = numeral.find_first_not_of('0');
  numeral = first == std::string::npos ? "0" : numeral.substr(first);
  bool zero = numeral == "0";

  std::string text = number.negative && !zero ? "-" : "";
  if (digits <= 0) {
    text += numeral;
    if (!zero) text.append((size_t)-digits, '0');
    return text;
  }
  if (numeral.size() <= (size_t)digits) numeral.insert(0, (size_t)digits + 1 - numeral.size(), '0');
  size_t point = numeral.size() - (size_t)digits;
  return text + numeral.substr(0, point) + "." + numeral.substr(point);
}

// Whether a whole-number text (an optional '-' and digits without leading zeros)
// lies in the int64 range.
bool fitsInt64(const std::string &text) {
  bool negative = !text.empty() && text[0] == '-';
  std::string magnitude = negative ? text.substr(1) : text;
  const std::string bound = negative ? "9223372036854775808" : "9223372036854775807";
  return magnitude.size() < bound.size() || (magnitude.size() == bound.size() && magnitude <= bound);
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
    if (!argv[1]->isInteger()) return VELQ_ERR_NOT_WHOLE;
    int64_t wanted = argv[1]->getValueAsInt64();
    if (argv[1]->isUnsigned() && argv[1]->getValueAsUInt64() > VELQ_TOOLKIT_FIELD_LIMIT)
      return VELQ_TOOLKIT_ERR_LIMIT;
    if (wanted > VELQ_TOOLKIT_FIELD_LIMIT || wanted < -(int64_t)VELQ_TOOLKIT_FIELD_LIMIT)
      return VELQ_TOOLKIT_ERR_LIMIT;
    digits = (int)wanted;
  }
  bool real = x->isReal();
  double d = real ? x->getValueAsReal() : 0;
  if ((!real && digits == 0) || (real && !isfinite(d))) {
    *result = new VELQ_Value(x);
    return 0;
  }
  std::string text = roundedText(real ? decimalOfReal(d) : decimalOfInteger(x), digits);
  if (digits <= 0 && !fitsInt64(text))
    *result = new VELQ_Value(VELQ_ParseReal(text.c_str(), nullptr));
  else
    *result = new VELQ_Value(text.data(), (uint32_t)text.size());
  return 0;
}

// Format(format, ...): the format's bytes with each conversion replaced by its argument.
// The format is walked twice: once to check it and measure the text, once to write the
// text into a buffer of exactly that size.
VELQ_HANDLER(velqFormat) {
  if (argc < 1) return VELQ_ERR_ARGUMENT_COUNT;
  if (!argv[0]->isString()) return VELQ_ERR_NOT_STRING;
  uint32_t length = 0;
  const char *format = argv[0]->getValueAsString(&length);
  Output measure;
  int32_t code = formatInto(format, length, argc - 1, argv + 1, &measure);
  if (code != 0) return code;
  if (measure.length > VELQ_TOOLKIT_TEXT_LIMIT) return VELQ_TOOLKIT_ERR_LIMIT;
  char *text = static_cast<char *>(malloc(measure.length > 0 ? (size_t)measure.length : 1));
  if (!text) return VELQ_TOOLKIT_ERR_NO_MEMORY;
  Output write;
  write.data = text;
  formatInto(format, length, argc - 1, argv + 1, &write);
  *result = new VELQ_Value(text, (uint32_t)measure.length);
  free(text);
  return 0;
}
