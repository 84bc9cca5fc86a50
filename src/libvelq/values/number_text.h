// Reading and rendering numbers, independent of the host's locale.
//
// The values and the compiler's scanner read numbers from text and render them
// back. The C library's conversions follow LC_NUMERIC, which a host may change
// (a German locale reads and writes "1,5"); these functions always use the
// plain "C" rules: '.' is the decimal point, no digit grouping, white space is
// the six characters ' ', '\t', '\n', '\v', '\f' and '\r'.
//
// The parsers read zero-terminated text; a zero byte ends the number like any
// other character that does not fit. Each stores the position of the first
// character it did not use in *end (when end is not null); when no number was
// found at all, *end is the start of the text and the result is 0.
#ifndef VELQ_NUMBER_TEXT_H
#define VELQ_NUMBER_TEXT_H

#include <stddef.h>
#include <stdint.h>

// Reads a signed integer in automatic base, as strtoll(text, end, 0) does:
// optional white space, an optional '+' or '-', then "0x"/"0X" and hexadecimal
// digits, or '0' and octal digits, or decimal digits. "0x" without a hexadecimal
// digit after it reads as 0, with *end after the '0'. A magnitude beyond the
// signed 64-bit range gives INT64_MAX or INT64_MIN.
int64_t VELQ_ParseInt64(const char *text, const char **end);

// Whether an integer read from text (a value's text or a number in a script) is an
// int32 rather than an int64: from -2147483647 to 2147483647. The most negative int32
// is not among them, so '-2147483648' reads as an int64.
inline bool VELQ_IsTextInt32(int64_t n) { return n >= -2147483647 && n <= 2147483647; }

// Reads an unsigned 32-bit integer as strtoul does where unsigned long has 32
// bits: the syntax of VELQ_ParseInt64; a magnitude above 4294967295 gives
// 4294967295 whatever the sign; otherwise a '-' sign negates modulo 2^32.
uint32_t VELQ_ParseUInt32(const char *text, const char **end);

// Reads an unsigned 64-bit integer as strtoull(text, end, 0) does: the syntax of
// VELQ_ParseInt64; a magnitude above 18446744073709551615 gives that maximum
// whatever the sign; otherwise a '-' sign negates modulo 2^64.
uint64_t VELQ_ParseUInt64(const char *text, const char **end);

// Reads a decimal real as strtod does, restricted to decimal syntax: optional
// white space, an optional sign, digits with an optional '.' (at least one digit
// before or after it), then optionally 'e' or 'E', an optional sign and digits
// (used only when a digit follows). The words "inf" and "nan" and hexadecimal
// reals are not numbers here: "inf" reads nothing, "0x1p3" reads the "0". The
// result is the correctly rounded double; magnitudes beyond the double range give
// an infinity, tiny ones zero or a subnormal.
double VELQ_ParseReal(const char *text, const char **end);

// The number of characters at the start of text that VELQ_ParseReal would use,
// found without converting anything (0 when no real starts there). Lets a caller
// decide whether a whole text is a real before paying for the conversion.
size_t VELQ_ScanReal(const char *text);

// Rounds d toward zero to a signed 64-bit integer, as the C cast does. NaN and
// reals outside the signed 64-bit range have no such integer and give INT64_MIN
// (whose low 32 bits are all clear), with no undefined behaviour.
int64_t VELQ_TruncateReal(double d);

// Room for any rendering of VELQ_FormatReal, terminating zero included: the
// largest double has 309 digits before the point, plus sign, point and six digits.
enum { VELQ_REAL_TEXT_SIZE = 320 };

// Room for any rendering of VELQ_FormatInt64/VELQ_FormatUInt64, terminating zero
// included ("-9223372036854775808" and "18446744073709551615" are 20 characters).
enum { VELQ_INTEGER_TEXT_SIZE = 24 };

// Renders d as printf's "%f" does in the "C" locale: every digit before the
// point, exactly six after it, correctly rounded (1e20 gives
// "100000000000000000000.000000"). Non-finite values render as "inf", "-inf",
// "nan" or "-nan" (by the sign bit). Writes at most size bytes including a
// terminating zero (nothing when size is 0) and returns the length of the full
// rendering, like snprintf; a buffer of VELQ_REAL_TEXT_SIZE bytes always suffices.
size_t VELQ_FormatReal(double d, char *buffer, size_t size);

// Render integers in decimal, a '-' for negatives, no leading zeros or blanks.
// buffer must hold VELQ_INTEGER_TEXT_SIZE bytes; returns the length written
// (a terminating zero follows it).
size_t VELQ_FormatInt64(int64_t n, char *buffer);
size_t VELQ_FormatUInt64(uint64_t n, char *buffer);

#endif
