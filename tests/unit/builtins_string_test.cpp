// The string built-ins called directly: byte-based results with zero bytes kept,
// results that read as numbers, sizes and positions at and beyond their limits, and the
// error code of every refusal in the order the arguments are checked.
#include <stdint.h>
#include <stdlib.h>

#include <random>
#include <string>
#include <vector>

#include "builtin_call.h"

using namespace velq_test;

using std::string;

TEST(BuiltinString, LengthCountsBytes) {
  checkCases({
      gives("empty", velqLength, {str("")}, DTYPE_UINT32, "0"),
      gives("text", velqLength, {str("abc")}, DTYPE_UINT32, "3"),
      gives("real text form", velqLength, {real(1.5)}, DTYPE_UINT32, "8"),
      gives("text kept by a number", velqLength, {str("0x10")}, DTYPE_UINT32, "4"),
      gives("two-byte character", velqLength, {str("\xc3\xa9")}, DTYPE_UINT32, "2"),
      gives("zero bytes", velqLength, {bytes(string("a\0b\0", 4))}, DTYPE_UINT32, "4"),
      fails("null", velqLength, {null()}, VELQ_ERR_NOT_STRING),
      fails("array", velqLength, {array()}, VELQ_ERR_NOT_STRING),
  });
}

TEST(BuiltinString, UpperAndLowerChangeOnlyTheText) {
  checkCases({
      gives("upper", velqUpper, {str("abc")}, DTYPE_STRING, "ABC"),
      gives("lower", velqLower, {str("AbC-1!")}, DTYPE_STRING, "abc-1!"),
      // The copy keeps its type and number; only its text changes.
      gives("hex text stays a number", velqUpper, {str("0x1f")}, DTYPE_INT32, "0X1F"),
      gives("real stays real", velqUpper, {real(1.5)}, DTYPE_REAL, "1.500000"),
      gives("uint32 stays uint32", velqLower, {u32(4294967295u)}, DTYPE_UINT32, "4294967295"),
      gives("zero bytes kept", velqUpper, {bytes(string("a\0b", 3))}, DTYPE_STRING,
            string("A\0B", 3)),
      gives("bytes above 127", velqUpper, {str("\xe9x")}, DTYPE_STRING, "\xe9X"),
      fails("upper of null", velqUpper, {null()}, VELQ_ERR_NOT_STRING),
      fails("lower of array", velqLower, {array()}, VELQ_ERR_NOT_STRING),
  });
  // The number of the upper-cased 0x1f is still 31, and the argument keeps its own text.
  VELQ_Value argument("0x1f");
  VELQ_Value *argv[] = {&argument};
  VELQ_Value *result = nullptr;
  ASSERT_EQ(velqUpper(1, argv, &result, nullptr), 0);
  EXPECT_EQ(result->getValueAsInt32(), 31);
  EXPECT_STREQ(argument.getValueAsCString(), "0x1f");
  delete result;
}

TEST(BuiltinString, TrimmingDropsSpacesAndTabsOnly) {
  checkCases({
      gives("trim", velqTrim, {str(" \t a b\t ")}, DTYPE_STRING, "a b"),
      gives("ltrim", velqLtrim, {str(" \t a b\t ")}, DTYPE_STRING, "a b\t "),
      gives("rtrim", velqRtrim, {str(" \t a b\t ")}, DTYPE_STRING, " \t a b"),
      gives("blanks only", velqTrim, {str("   ")}, DTYPE_INT32, ""),
      gives("ltrim blanks only", velqLtrim, {str(" \t")}, DTYPE_INT32, ""),
      gives("rtrim blanks only", velqRtrim, {str("\t ")}, DTYPE_INT32, ""),
      gives("empty", velqTrim, {str("")}, DTYPE_INT32, ""),
      gives("line feeds stay", velqTrim, {str("\n a \n")}, DTYPE_STRING, "\n a \n"),
      gives("zero byte is no blank", velqTrim, {bytes(string(" \0 ", 3))}, DTYPE_STRING,
            string("\0", 1)),
      // A trimmed text that reads as a number is that number.
      gives("number after trimming", velqRtrim, {str("12 ")}, DTYPE_INT32, "12"),
      fails("trim of null", velqTrim, {null()}, VELQ_ERR_NOT_STRING),
      fails("ltrim of array", velqLtrim, {array()}, VELQ_ERR_NOT_STRING),
      fails("rtrim of null", velqRtrim, {null()}, VELQ_ERR_NOT_STRING),
  });
}

TEST(BuiltinString, LeftAndRightPadToExactlyN) {
  checkCases({
      gives("left pads with spaces", velqLeft, {str("abc"), i32(5)}, DTYPE_STRING, "abc  "),
      gives("left pad character", velqLeft, {str("abc"), i32(5), str("*")}, DTYPE_STRING, "abc**"),
      gives("left cuts", velqLeft, {str("abcdef"), i32(2)}, DTYPE_STRING, "ab"),
      gives("left exact", velqLeft, {str("abc"), i32(3)}, DTYPE_STRING, "abc"),
      gives("left negative", velqLeft, {str("abc"), i32(-1)}, DTYPE_INT32, ""),
      gives("left zero", velqLeft, {str("abc"), i32(0)}, DTYPE_INT32, ""),
      gives("empty pad is a space", velqLeft, {str("a"), i32(3), str("")}, DTYPE_STRING, "a  "),
      gives("pad starting with zero byte", velqLeft, {str("a"), i32(3), bytes(string("\0x", 2))},
            DTYPE_STRING, "a  "),
      gives("pad is the first byte", velqRight, {str("a"), i32(3), str("xyz")}, DTYPE_STRING,
            "xxa"),
      gives("number pad", velqLeft, {str("a"), i32(3), i32(7)}, DTYPE_STRING, "a77"),
      gives("number text", velqLeft, {i32(12345), i32(3)}, DTYPE_INT32, "123"),
      gives("right pads before", velqRight, {str("abc"), i32(5), str("0")}, DTYPE_STRING, "00abc"),
      gives("right number", velqRight, {str("7"), i32(3), str("0")}, DTYPE_INT32, "007"),
      gives("right cuts", velqRight, {str("abcdef"), i32(2)}, DTYPE_STRING, "ef"),
      gives("right negative", velqRight, {str("abc"), i32(-5)}, DTYPE_INT32, ""),
      gives("unsigned length", velqLeft, {str("abc"), u64(2)}, DTYPE_STRING, "ab"),
      // The length is read as int32: the low 32 bits of 2^32 + 2 are 2.
      gives("length low bits", velqLeft, {str("abc"), i64(4294967298LL)}, DTYPE_STRING, "ab"),
      gives("zero bytes kept", velqLeft, {bytes(string("a\0bc", 4)), i32(3)}, DTYPE_STRING,
            string("a\0b", 3)),
      gives("zero bytes kept right", velqRight, {bytes(string("a\0b", 3)), i32(4), str(".")},
            DTYPE_STRING, string(".a\0b", 4)),
      fails("left one argument", velqLeft, {str("abc")}, VELQ_ERR_ARGUMENT_COUNT),
      fails("right four arguments", velqRight, {str("a"), i32(1), str("x"), str("y")},
            VELQ_ERR_ARGUMENT_COUNT),
      fails("real length", velqLeft, {str("abc"), real(2.0)}, VELQ_ERR_NOT_WHOLE),
      fails("null length", velqRight, {str("abc"), null()}, VELQ_ERR_NOT_WHOLE),
      fails("length before string", velqLeft, {array(), real(2.0)}, VELQ_ERR_NOT_WHOLE),
      fails("array string", velqLeft, {array(), i32(2)}, VELQ_ERR_NOT_STRING),
      fails("null string", velqRight, {null(), i32(2)}, VELQ_ERR_NOT_STRING),
      fails("array pad", velqLeft, {str("abc"), i32(5), array()}, VELQ_ERR_NOT_STRING),
      fails("null pad", velqRight, {str("abc"), i32(5), null()}, VELQ_ERR_NOT_STRING),
  });
}

TEST(BuiltinString, LeftAndRightBuildLongPadding) {
  const uint32_t n = 1000000;
  BuiltinOutcome l = callBuiltin(velqLeft, {str("ab"), i32((int32_t)n), str("-")});
  ASSERT_EQ(l.rc, 0);
  ASSERT_EQ(l.text.size(), n);
  EXPECT_EQ(l.text.substr(0, 3), "ab-");
  EXPECT_EQ(l.text.find_first_not_of('-', 2), string::npos);
  BuiltinOutcome r = callBuiltin(velqRight, {str("ab"), i32((int32_t)n)});
  ASSERT_EQ(r.rc, 0);
  ASSERT_EQ(r.text.size(), n);
  EXPECT_EQ(r.text.substr(n - 3), " ab");
  EXPECT_EQ(r.text.find_first_not_of(' '), n - 2);
}

TEST(BuiltinString, SubstrTakesBytesFromAStart) {
  checkCases({
      gives("from 2", velqSubstr, {str("abcdef"), i32(2)}, DTYPE_STRING, "bcdef"),
      gives("from 2 count 3", velqSubstr, {str("abcdef"), i32(2), i32(3)}, DTYPE_STRING, "bcd"),
      gives("start 0", velqSubstr, {str("abcdef"), i32(0), i32(2)}, DTYPE_STRING, "ab"),
      gives("negative start", velqSubstr, {str("abcdef"), i32(-3), i32(2)}, DTYPE_STRING, "ab"),
      gives("null start", velqSubstr, {str("abcdef"), null(), i32(2)}, DTYPE_STRING, "ab"),
      gives("null start, rest", velqSubstr, {str("abcdef"), null()}, DTYPE_STRING, "abcdef"),
      gives("last byte", velqSubstr, {str("abcdef"), i32(6)}, DTYPE_STRING, "f"),
      gives("just beyond", velqSubstr, {str("abcdef"), i32(7)}, DTYPE_INT32, ""),
      gives("far beyond", velqSubstr, {str("abcdef"), i32(10)}, DTYPE_INT32, ""),
      gives("largest start", velqSubstr, {str("abc"), i32(INT32_MAX), i32(INT32_MAX)}, DTYPE_INT32,
            ""),
      gives("count beyond the end", velqSubstr, {str("abcdef"), i32(5), i32(10)}, DTYPE_STRING,
            "ef"),
      gives("largest count", velqSubstr, {str("abc"), i32(1), i32(INT32_MAX)}, DTYPE_STRING, "abc"),
      gives("negative count", velqSubstr, {str("abc"), i32(2), i32(-1)}, DTYPE_INT32, ""),
      gives("zero count", velqSubstr, {str("abc"), i32(2), i32(0)}, DTYPE_INT32, ""),
      gives("number result", velqSubstr, {i32(12345), i32(2), i32(2)}, DTYPE_INT32, "23"),
      gives("zero bytes kept", velqSubstr, {bytes(string("ab\0cd", 5)), i32(3), i32(2)},
            DTYPE_STRING, string("\0c", 2)),
      fails("one argument", velqSubstr, {str("abc")}, VELQ_ERR_ARGUMENT_COUNT),
      fails("four arguments", velqSubstr, {str("abc"), i32(1), i32(1), i32(1)},
            VELQ_ERR_ARGUMENT_COUNT),
      fails("string first", velqSubstr, {array(), real(1.5)}, VELQ_ERR_NOT_STRING),
      fails("null string", velqSubstr, {null(), i32(1)}, VELQ_ERR_NOT_STRING),
      fails("real start", velqSubstr, {str("abc"), real(1.0)}, VELQ_ERR_NOT_WHOLE),
      fails("text start", velqSubstr, {str("abc"), str("x")}, VELQ_ERR_NOT_WHOLE),
      fails("start before count", velqSubstr, {str("abc"), real(1.5), null()}, VELQ_ERR_NOT_WHOLE),
      fails("null count", velqSubstr, {str("abc"), i32(1), null()}, VELQ_ERR_NOT_WHOLE),
      fails("real count", velqSubstr, {str("abc"), i32(1), real(2.0)}, VELQ_ERR_NOT_WHOLE),
  });
}

TEST(BuiltinString, IndexAndRindexFindBytes) {
  checkCases({
      gives("index", velqIndex, {str("abcabc"), str("bc")}, DTYPE_INT32, "2"),
      gives("index at the end", velqIndex, {str("abc"), str("c")}, DTYPE_INT32, "3"),
      gives("index from 3", velqIndex, {str("abcabc"), str("bc"), i32(3)}, DTYPE_INT32, "5"),
      gives("index from its match", velqIndex, {str("abcabc"), str("bc"), i32(5)}, DTYPE_INT32,
            "5"),
      gives("index from 0", velqIndex, {str("abc"), str("b"), i32(0)}, DTYPE_INT32, "2"),
      gives("index negative start", velqIndex, {str("abcabc"), str("bc"), i32(-5)}, DTYPE_INT32,
            "2"),
      gives("index start beyond", velqIndex, {str("abcabc"), str("bc"), i32(6)}, DTYPE_INT32, "0"),
      gives("index start far beyond", velqIndex, {str("abc"), str("b"), i32(INT32_MAX)},
            DTYPE_INT32, "0"),
      gives("index overlapping", velqIndex, {str("aaa"), str("aa"), i32(2)}, DTYPE_INT32, "2"),
      gives("index missing", velqIndex, {str("abc"), str("x")}, DTYPE_INT32, "0"),
      gives("index case-sensitive", velqIndex, {str("abc"), str("B")}, DTYPE_INT32, "0"),
      gives("index empty needle", velqIndex, {str("abc"), str("")}, DTYPE_INT32, "0"),
      gives("index both empty", velqIndex, {str(""), str("")}, DTYPE_INT32, "0"),
      gives("equal lengths ignore start", velqIndex, {str("abc"), str("abc"), i32(3)}, DTYPE_INT32,
            "1"),
      gives("equal lengths differ", velqIndex, {str("abc"), str("abd")}, DTYPE_INT32, "0"),
      gives("needle longer", velqIndex, {str("ab"), str("abc")}, DTYPE_INT32, "0"),
      gives("numbers by text", velqIndex, {i32(12345), i32(34)}, DTYPE_INT32, "3"),
      gives("index zero bytes", velqIndex, {bytes(string("a\0b\0c", 5)), bytes(string("\0c", 2))},
            DTYPE_INT32, "4"),
      gives("rindex", velqRindex, {str("abcabc"), str("bc")}, DTYPE_INT32, "5"),
      gives("rindex from 4", velqRindex, {str("abcabc"), str("bc"), i32(4)}, DTYPE_INT32, "2"),
      gives("rindex from its match", velqRindex, {str("abcabc"), str("bc"), i32(5)}, DTYPE_INT32,
            "5"),
      gives("rindex start beyond", velqRindex, {str("abcabc"), str("bc"), i32(100)}, DTYPE_INT32,
            "5"),
      gives("rindex from 0", velqRindex, {str("abcabc"), str("bc"), i32(0)}, DTYPE_INT32, "5"),
      gives("rindex negative start", velqRindex, {str("abcabc"), str("bc"), i32(-1)}, DTYPE_INT32,
            "5"),
      gives("rindex from 1", velqRindex, {str("abcabc"), str("bc"), i32(1)}, DTYPE_INT32, "0"),
      gives("rindex one byte", velqRindex, {str("abcabc"), str("a"), i32(3)}, DTYPE_INT32, "1"),
      gives("rindex one byte at start", velqRindex, {str("abcabc"), str("a"), i32(4)}, DTYPE_INT32,
            "4"),
      gives("rindex overlapping", velqRindex, {str("aaaa"), str("aa")}, DTYPE_INT32, "3"),
      gives("rindex missing", velqRindex, {str("abc"), str("x")}, DTYPE_INT32, "0"),
      gives("rindex empty needle", velqRindex, {str("abc"), str("")}, DTYPE_INT32, "0"),
      gives("rindex equal", velqRindex, {str("abc"), str("abc"), i32(1)}, DTYPE_INT32, "1"),
      gives("rindex zero bytes", velqRindex, {bytes(string("\0a\0a", 4)), bytes(string("\0a", 2))},
            DTYPE_INT32, "3"),
      fails("index one argument", velqIndex, {str("abc")}, VELQ_ERR_ARGUMENT_COUNT),
      fails("rindex four arguments", velqRindex, {str("a"), str("a"), i32(1), i32(1)},
            VELQ_ERR_ARGUMENT_COUNT),
      fails("haystack first", velqIndex, {array(), null(), real(1.5)}, VELQ_ERR_NOT_STRING),
      fails("null needle", velqIndex, {str("abc"), null()}, VELQ_ERR_NOT_STRING),
      fails("needle before start", velqRindex, {str("abc"), array(), real(1.5)},
            VELQ_ERR_NOT_STRING),
      fails("real start", velqIndex, {str("abc"), str("b"), real(1.0)}, VELQ_ERR_NOT_WHOLE),
      fails("null start", velqRindex, {str("abc"), str("b"), null()}, VELQ_ERR_NOT_WHOLE),
  });
}

namespace {

// The positions as a plain search over every start finds them.
int referenceSearch(const string &h, const string &n, bool forward, bool hasStart, int32_t start) {
  if (n.size() >= h.size()) return n.size() == h.size() && !n.empty() && h == n;
  if (n.empty()) return 0;
  int64_t last = (int64_t)(h.size() - n.size());
  if (forward) {
    for (int64_t p = hasStart && start > 0 ? start - 1 : 0; p <= last; p++)
      if (h.compare((size_t)p, n.size(), n) == 0) return (int)p + 1;
  } else {
    int64_t from = hasStart && start > 0 ? std::min<int64_t>(start - 1, last) : last;
    for (int64_t p = from; p >= 0; p--)
      if (h.compare((size_t)p, n.size(), n) == 0) return (int)p + 1;
  }
  return 0;
}

}  // namespace

// Random texts over a two-letter alphabet, with needles long enough to use the heap
// table of the backward search, against a plain search.
TEST(BuiltinString, IndexAndRindexAgreeWithAPlainSearch) {
  std::mt19937 random(12345);
  auto randomText = [&random](size_t length) {
    string s(length, 'a');
    for (char &c : s) c = "ab"[random() % 2];
    return s;
  };
  for (int round = 0; round < 400; round++) {
    size_t needleLength = round % 4 == 0 ? 60 + random() % 20 : 1 + random() % 6;
    string needle = randomText(needleLength);
    string haystack = randomText(random() % 200);
    // Plant the needle now and then so that long needles are found as well.
    if (haystack.size() > needle.size() && random() % 2)
      haystack.replace(random() % (haystack.size() - needle.size()), needle.size(), needle);
    int32_t start = (int32_t)(random() % 220) - 10;
    for (bool forward : {true, false}) {
      for (bool hasStart : {false, true}) {
        SCOPED_TRACE(haystack + " / " + needle + (forward ? " index " : " rindex ") +
                     (hasStart ? std::to_string(start) : "-"));
        std::vector<Const> args = {str(haystack.c_str()), str(needle.c_str())};
        if (hasStart) args.push_back(i32(start));
        BuiltinOutcome out = callBuiltin(forward ? velqIndex : velqRindex, args);
        ASSERT_EQ(out.rc, 0);
        EXPECT_EQ(out.text,
                  std::to_string(referenceSearch(haystack, needle, forward, hasStart, start)));
      }
    }
  }
}

// Long texts that a search trying every position would need on the order of 10^10
// byte comparisons for: both directions must stay linear.
TEST(BuiltinString, SearchesStayLinearOnRepetitiveTexts) {
  string haystack(200000, 'a');
  string needle = string(100000, 'a') + "b";
  for (VELQ_ExtFunctionHandler handler : {velqIndex, velqRindex}) {
    EXPECT_EQ(callBuiltin(handler, {bytes(haystack), bytes(needle)}).text, "0");
  }
  string reversed = "b" + string(100000, 'a');
  EXPECT_EQ(callBuiltin(velqRindex, {bytes(haystack), bytes(reversed)}).text, "0");
  string once = haystack;
  once[150000] = 'b';
  EXPECT_EQ(callBuiltin(velqRindex, {bytes(once), bytes(needle)}).text, "50001");
  EXPECT_EQ(callBuiltin(velqIndex, {bytes(once), bytes(needle)}).text, "50001");
  once = haystack;
  once[50000] = 'b';
  EXPECT_EQ(callBuiltin(velqRindex, {bytes(once), bytes(reversed)}).text, "50001");
  EXPECT_EQ(callBuiltin(velqIndex, {bytes(once), bytes(reversed)}).text, "50001");
}

TEST(BuiltinString, D2xFormatsUpperCaseHexadecimal) {
  string zeros127(127, '0');
  checkCases({
      gives("plain", velqD2x, {i32(255)}, DTYPE_STRING, "FF"),
      gives("zero", velqD2x, {i32(0)}, DTYPE_INT32, "0"),
      gives("width", velqD2x, {i32(255), i32(4)}, DTYPE_STRING, "00FF"),
      gives("width 0", velqD2x, {i32(255), i32(0)}, DTYPE_STRING, "FF"),
      gives("narrow width", velqD2x, {i32(255), i32(1)}, DTYPE_STRING, "FF"),
      gives("all bits", velqD2x, {i32(-1)}, DTYPE_STRING, "FFFFFFFF"),
      gives("int64 low bits", velqD2x, {i64(0x1000000ABLL)}, DTYPE_STRING, "AB"),
      gives("uint64 all bits", velqD2x, {u64(UINT64_MAX)}, DTYPE_STRING, "FFFFFFFF"),
      gives("numeric text", velqD2x, {str("255")}, DTYPE_STRING, "FF"),
      gives("left-aligned", velqD2x, {i32(255), i32(-4)}, DTYPE_STRING, "FF  "),
      gives("left-aligned narrow", velqD2x, {i32(255), i32(-1)}, DTYPE_STRING, "FF"),
      // Digits only: the text 10 is also the int32 10.
      gives("reads as a number", velqD2x, {i32(16)}, DTYPE_INT32, "10"),
      gives("zero-padded number", velqD2x, {i32(16), i32(4)}, DTYPE_INT32, "0010"),
      // At most 127 characters: the digits that do not fit are cut.
      gives("127 wide", velqD2x, {i32(1), i32(127)}, DTYPE_INT32, string(126, '0') + "1"),
      gives("128 wide", velqD2x, {i32(1), i32(128)}, DTYPE_INT32, zeros127),
      gives("200 wide", velqD2x, {i32(1), i32(200)}, DTYPE_INT32, zeros127),
      gives("widest", velqD2x, {i32(255), i32(INT32_MAX)}, DTYPE_INT32, zeros127),
      gives("128 wide left", velqD2x, {i32(255), i32(-128)}, DTYPE_STRING, "FF" + string(125, ' ')),
      gives("widest left", velqD2x, {i32(255), i32(INT32_MIN)}, DTYPE_STRING,
            "FF" + string(125, ' ')),
      gives("width low bits", velqD2x, {i32(255), i64(4294967300LL)}, DTYPE_STRING, "00FF"),
      fails("no argument", velqD2x, {}, VELQ_ERR_ARGUMENT_COUNT),
      fails("three arguments", velqD2x, {i32(1), i32(2), i32(3)}, VELQ_ERR_ARGUMENT_COUNT),
      fails("real", velqD2x, {real(2.5)}, VELQ_ERR_NOT_WHOLE),
      fails("text", velqD2x, {str("x")}, VELQ_ERR_NOT_WHOLE),
      fails("null", velqD2x, {null()}, VELQ_ERR_NOT_WHOLE),
      fails("real width", velqD2x, {i32(1), real(2.0)}, VELQ_ERR_NOT_WHOLE),
      fails("null width", velqD2x, {i32(1), null()}, VELQ_ERR_NOT_WHOLE),
  });
}
