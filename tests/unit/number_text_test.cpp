// Reading and rendering numbers without the C library's locale-dependent calls.
#include "values/number_text.h"

#include <float.h>
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <string>

namespace {

struct IntegerCase {
  const char *text;
  int64_t expected;
  size_t consumed;
};

TEST(NumberText, ParseInt64ReadsAutomaticBaseAndSaturates) {
  const IntegerCase cases[] = {
      {"0", 0, 1},
      {"42", 42, 2},
      {"  -12abc", -12, 5},
      {"+5", 5, 2},
      {"\t\n\v\f\r 7", 7, 7},
      {"0x1F", 31, 4},
      {"0X10", 16, 4},
      {"-0x10", -16, 5},
      {"0x", 0, 1},  // no hexadecimal digit: only the 0 is read
      {"0xg", 0, 1},
      {"0777", 511, 4},
      {"08", 0, 1},  // octal stops at the 8
      {"010", 8, 3},
      {"12U", 12, 2},  // a suffix is left unread
      {"", 0, 0},
      {"   ", 0, 0},  // nothing read: the end is the start of the text
      {"-", 0, 0},
      {"+x", 0, 0},
      {"abc", 0, 0},
      {"9223372036854775807", INT64_MAX, 19},
      {"9223372036854775808", INT64_MAX, 19},
      {"99999999999999999999", INT64_MAX, 20},
      {"-9223372036854775808", INT64_MIN, 20},
      {"-9223372036854775809", INT64_MIN, 20},
      {"0x7fffffffffffffff", INT64_MAX, 18},
      {"0xFFFFFFFFFFFFFFFFF", INT64_MAX, 19},
      {"-0x8000000000000000", INT64_MIN, 19},
  };
  for (const IntegerCase &c : cases) {
    const char *end = nullptr;
    EXPECT_EQ(VELQ_ParseInt64(c.text, &end), c.expected) << '"' << c.text << '"';
    EXPECT_EQ((size_t)(end - c.text), c.consumed) << '"' << c.text << '"';
  }
  EXPECT_EQ(VELQ_ParseInt64("17", nullptr), 17);  // the end pointer is optional
}

struct UnsignedCase {
  const char *text;
  uint64_t expected;
  size_t consumed;
};

TEST(NumberText, ParseUInt32SaturatesAt32BitsAndNegatesModulo) {
  const UnsignedCase cases[] = {
      {"4294967295U", 4294967295u, 10},
      {"4294967296", 4294967295u, 10},
      {"99999999999999999999999", 4294967295u, 23},
      {"-1", 4294967295u, 2},
      {"-4294967295", 1, 11},
      {"-4294967296", 4294967295u, 11},  // out of range whatever the sign
      {"0x1U", 1, 3},
      {"0xFFFFFFFF", 4294967295u, 10},
      {"017", 15, 3},
      {"x", 0, 0},
  };
  for (const UnsignedCase &c : cases) {
    const char *end = nullptr;
    EXPECT_EQ(VELQ_ParseUInt32(c.text, &end), (uint32_t)c.expected) << '"' << c.text << '"';
    EXPECT_EQ((size_t)(end - c.text), c.consumed) << '"' << c.text << '"';
  }
}

TEST(NumberText, ParseUInt64SaturatesAt64BitsAndNegatesModulo) {
  const UnsignedCase cases[] = {
      {"18446744073709551615", UINT64_MAX, 20},
      {"18446744073709551616", UINT64_MAX, 20},
      {"-1", UINT64_MAX, 2},
      {"-2UL", UINT64_MAX - 1, 2},
      {"-18446744073709551615", 1, 21},
      {"-18446744073709551616", UINT64_MAX, 21},
      {"0xffffffffffffffff", UINT64_MAX, 18},
      {"9223372036854775808", 9223372036854775808u, 19},
      {"", 0, 0},
  };
  for (const UnsignedCase &c : cases) {
    const char *end = nullptr;
    EXPECT_EQ(VELQ_ParseUInt64(c.text, &end), c.expected) << '"' << c.text << '"';
    EXPECT_EQ((size_t)(end - c.text), c.consumed) << '"' << c.text << '"';
  }
}

struct RealCase {
  const char *text;
  double expected;
  size_t consumed;
};

TEST(NumberText, ParseRealAcceptsDecimalSyntaxOnly) {
  const RealCase cases[] = {
      {"1.5", 1.5, 3},
      {"  -2.5e-3x", -2.5e-3, 9},
      {"1e3", 1000.0, 3},
      {"1E+2", 100.0, 4},
      {"1e", 1.0, 1},  // an exponent needs digits
      {"1e+", 1.0, 1},
      {"2.e1", 20.0, 4},
      {".5", 0.5, 2},
      {"5.", 5.0, 2},
      {"09", 9.0, 2},
      {"0.1", 0.1, 3},
      {"123456789012345678901234567890", 123456789012345678901234567890.0, 30},
      {"4.9406564584124654e-324", 4.9406564584124654e-324, 23},
      {"1e400", HUGE_VAL, 5},
      {"-1e400", -HUGE_VAL, 6},
      {"1e-400", 0.0, 6},
      {"1,5", 1.0, 1},  // the comma is never a decimal point
      {".", 0.0, 0},
      {"-.e1", 0.0, 0},
      {"", 0.0, 0},
      {"inf", 0.0, 0},
      {"-infinity", 0.0, 0},
      {"nan", 0.0, 0},
      {"NAN(1)", 0.0, 0},
      {"0x1p3", 0.0, 1},  // no hexadecimal reals: only the 0 is read
      {"0X1.8", 0.0, 1},
  };
  for (const RealCase &c : cases) {
    const char *end = nullptr;
    double d = VELQ_ParseReal(c.text, &end);
    EXPECT_EQ(d, c.expected) << '"' << c.text << '"';
    EXPECT_EQ((size_t)(end - c.text), c.consumed) << '"' << c.text << '"';
    EXPECT_EQ(VELQ_ScanReal(c.text), c.consumed) << '"' << c.text << '"';
  }
  // A hexadecimal text reads as zero with its sign.
  const char *text = "-0x10";
  const char *end = nullptr;
  double negativeZero = VELQ_ParseReal(text, &end);
  EXPECT_TRUE(negativeZero == 0.0 && signbit(negativeZero));
  EXPECT_EQ(end, text + 2);
}

struct RenderCase {
  double d;
  const char *expected;
};

TEST(NumberText, FormatRealRendersFixedPointInFull) {
  const RenderCase cases[] = {
      {1.5, "1.500000"},
      {-0.25, "-0.250000"},
      {0.0, "0.000000"},
      {-0.0, "-0.000000"},
      {1e20, "100000000000000000000.000000"},
      {0.9999999, "1.000000"},  // rounding carries into the integer part
      {-0.0000001, "-0.000000"},
      {123456.1234565, "123456.123457"},
      {1e56, "100000000000000009190283508143378238084034459715684532224.000000"},
      {HUGE_VAL, "inf"},
      {-HUGE_VAL, "-inf"},
      {NAN, "nan"},
      {-NAN, "-nan"},
  };
  for (const RenderCase &c : cases) {
    char buffer[VELQ_REAL_TEXT_SIZE];
    size_t length = VELQ_FormatReal(c.d, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, c.expected);
    EXPECT_EQ(length, strlen(c.expected));
  }
}

TEST(NumberText, FormatRealFitsTheLargestRealsAndTruncatesLikeSnprintf) {
  char buffer[VELQ_REAL_TEXT_SIZE];
  for (double d : {DBL_MAX, -DBL_MAX}) {
    size_t length = VELQ_FormatReal(d, buffer, sizeof buffer);
    std::string text(buffer);
    EXPECT_EQ(length, text.size());
    EXPECT_EQ(text.size(), (d < 0 ? 1u : 0u) + 309 + 7);
    EXPECT_EQ(text.substr(d < 0 ? 1 : 0, 17), "17976931348623157");
    EXPECT_EQ(text.substr(text.size() - 7), ".000000");
    EXPECT_LT(length, (size_t)VELQ_REAL_TEXT_SIZE);
  }

  char small[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(VELQ_FormatReal(1.5, small, sizeof small), 8u);
  EXPECT_STREQ(small, "1.5");
  EXPECT_EQ(VELQ_FormatReal(-NAN, small, 3), 4u);
  EXPECT_STREQ(small, "-n");
  EXPECT_EQ(VELQ_FormatReal(1.5, nullptr, 0), 8u);
}

TEST(NumberText, FormatIntegersAtTheirLimits) {
  struct {
    int64_t n;
    const char *expected;
  } signedCases[] = {{0, "0"},
                     {-1, "-1"},
                     {INT64_MAX, "9223372036854775807"},
                     {INT64_MIN, "-9223372036854775808"}};
  for (const auto &c : signedCases) {
    char buffer[VELQ_INTEGER_TEXT_SIZE];
    EXPECT_EQ(VELQ_FormatInt64(c.n, buffer), strlen(c.expected));
    EXPECT_STREQ(buffer, c.expected);
  }
  char buffer[VELQ_INTEGER_TEXT_SIZE];
  EXPECT_EQ(VELQ_FormatUInt64(UINT64_MAX, buffer), 20u);
  EXPECT_STREQ(buffer, "18446744073709551615");
  EXPECT_EQ(VELQ_FormatUInt64(0, buffer), 1u);
  EXPECT_STREQ(buffer, "0");
}

TEST(NumberText, TruncateRealIsDefinedForEveryDouble) {
  const struct {
    double d;
    int64_t expected;
  } cases[] = {
      {2.7, 2},
      {-2.7, -2},
      {-0.0, 0},
      {9223372036854774784.0, 9223372036854774784},  // the largest double below 2^63
      {-9223372036854775808.0, INT64_MIN},
      {9223372036854775808.0, INT64_MIN},
      {1e19, INT64_MIN},
      {-1e19, INT64_MIN},
      {HUGE_VAL, INT64_MIN},
      {-HUGE_VAL, INT64_MIN},
      {NAN, INT64_MIN},
  };
  for (const auto &c : cases) EXPECT_EQ(VELQ_TruncateReal(c.d), c.expected) << c.d;
}

}  // namespace
