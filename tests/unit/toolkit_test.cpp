// The toolkit functions called directly: their results and the types those take, the
// error of every refusal in the order the arguments are checked, each limit at its
// edge, and the functions that read input through a running program's environment.
#include <fcntl.h>
#include <locale.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "builtin_call.h"
#include "builtins/toolkit_functions.h"
#include "decimal_comma_locale.h"

using namespace velq_test;

using std::string;

namespace {

// An array value filled with the given values at the given indices.
Const arrayOf(const std::vector<std::pair<int32_t, Const>> &elements) {
  return array([elements](VELQ_Array *a) {
    for (const auto &element : elements) a->set(element.first, element.second.make());
  });
}

// The elements of an array value as "INDEX=TEXT:TYPE" joined by blanks.
string describeArray(VELQ_Value *value) {
  VELQ_Array *a = value ? value->getValueAsArray() : nullptr;
  if (!a) return "<not an array>";
  string out;
  for (int32_t i = 0; i < a->getSize(); i++) {
    const VELQ_ArrayElement *e = a->getElement(i);
    if (!out.empty()) out += " ";
    out += std::to_string(e->index) + "=" + valueText(e->value) + ":" +
           VELQ_TypeName(e->value->getDataType());
  }
  return out;
}

// Calls a handler whose result is an array and describes that array.
string arrayResult(VELQ_ExtFunctionHandler handler, const std::vector<Const> &args) {
  std::vector<VELQ_Value *> argv;
  for (const Const &c : args) argv.push_back(c.make());
  VELQ_Value *result = nullptr;
  int rc = handler((int32_t)argv.size(), argv.data(), &result, nullptr);
  string text = rc == 0 ? describeArray(result) : "error " + std::to_string(rc);
  delete result;
  for (VELQ_Value *v : argv) delete v;
  return text;
}

const int LIMIT = VELQ_ERR_MEMORY_LIMIT;

TEST(Toolkit, TableNamesEveryHandlerOnceAndRegistersAfterTheBuiltins) {
  VELQ_Environment environment;
  uint32_t builtins = environment.getFunctionCount();
  VELQRegisterToolkit(&environment);
  ASSERT_EQ(environment.getFunctionCount(), builtins + VELQ_TOOLKIT_COUNT);
  for (int i = 0; i < VELQ_TOOLKIT_COUNT; i++) {
    const VELQ_ToolkitFunction &f = VELQ_ToolkitFunctions[i];
    SCOPED_TRACE(f.record.name);
    EXPECT_EQ(environment.findFunction(f.record.name)->handler, f.record.handler);
    // The synopsis starts with the name, so the listing and the docs agree with the table.
    EXPECT_EQ(string(f.synopsis).rfind(string(f.record.name) + "(", 0), 0u);
    EXPECT_GT(strlen(f.description), 0u);
    for (int j = 0; j < i; j++) EXPECT_STRNE(VELQ_ToolkitFunctions[j].record.name, f.record.name);
  }
}

TEST(Toolkit, CountAndKeysReadSparseArrays) {
  Const sparse = arrayOf({{-5, str("a")}, {1, str("b")}, {2147483647, null()}});
  checkCases({
      gives("count", velqCount, {sparse}, DTYPE_INT32, "3"),
      gives("empty", velqCount, {array()}, DTYPE_INT32, "0"),
      fails("count of text", velqCount, {str("abc")}, VELQ_ERR_NOT_ARRAY),
      fails("count of null", velqCount, {null()}, VELQ_ERR_NOT_ARRAY),
      fails("keys of a number", velqKeys, {i32(3)}, VELQ_ERR_NOT_ARRAY),
  });
  EXPECT_EQ(arrayResult(velqKeys, {sparse}), "0=-5:int32 1=1:int32 2=2147483647:int32");
  EXPECT_EQ(arrayResult(velqKeys, {array()}), "");
}

TEST(Toolkit, SplitMakesNumberedPiecesReadAsNumbers) {
  struct Case {
    const char *label;
    std::vector<Const> args;
    string pieces;
  } cases[] = {
      {"fields", {str("a,12,,1.5"), str(",")}, "0=a:string 1=12:int32 2=:int32 3=1.5:real"},
      {"separator at the ends", {str(",a,"), str(",")}, "0=:int32 1=a:string 2=:int32"},
      {"longer separator", {str("a::b:c"), str("::")}, "0=a:string 1=b:c:string"},
      {"no separator in text", {str("abc"), str(",")}, "0=abc:string"},
      {"empty separator gives bytes", {str("ab7"), str("")}, "0=a:string 1=b:string 2=7:int32"},
      {"empty text has no pieces", {str(""), str(",")}, ""},
      {"number split by its text", {real(1.5), str(".")}, "0=1:int32 1=500000:int32"},
      {"zero bytes kept",
       {bytes(string("a\0b|c", 5)), str("|")},
       string("0=a\0b:string 1=c:string", 23)},
      {"text is not text", {array(), str(",")}, "error 17"},
      {"separator is not text", {str("a"), null()}, "error 17"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(arrayResult(velqSplit, c.args), c.pieces);
  }
}

TEST(Toolkit, SplitRefusesMorePiecesThanTheLimitBeforeMakingAny) {
  string bytesOverLimit(VELQ_TOOLKIT_ELEMENT_LIMIT + 1, 'x');
  checkCases({fails("one piece too many", velqSplit, {bytes(bytesOverLimit), str("")}, LIMIT),
              fails("one separator too many", velqSplit,
                    {bytes(string(VELQ_TOOLKIT_ELEMENT_LIMIT, ',')), str(",")}, LIMIT)});
}

TEST(Toolkit, JoinWritesElementsInIndexOrder) {
  Const mixed = arrayOf({{3, real(0.5)}, {-1, str("a")}, {0, null()}, {7, i32(2)}});
  checkCases({
      gives("index order, null as empty", velqJoin, {mixed, str("|")}, DTYPE_STRING,
            "a||0.500000|2"),
      gives("result read as number", velqJoin, {arrayOf({{0, i32(1)}, {1, i32(5)}}), str(".")},
            DTYPE_REAL, "1.5"),
      gives("empty array", velqJoin, {array(), str(",")}, DTYPE_INT32, ""),
      gives("one element, no separator", velqJoin, {arrayOf({{9, str("x")}}), str(",")},
            DTYPE_STRING, "x"),
      fails("not an array", velqJoin, {str("abc"), str(",")}, VELQ_ERR_NOT_ARRAY),
      fails("separator not text", velqJoin, {array(), array()}, VELQ_ERR_NOT_STRING),
      fails("array element", velqJoin, {arrayOf({{0, str("a")}, {1, array()}}), str(",")},
            VELQ_ERR_NOT_STRING),
  });
}

TEST(Toolkit, ReplaceGoesFromLeftToRightWithoutOverlaps) {
  checkCases({
      gives("every occurrence", velqReplace, {str("a-b-c"), str("-"), str("--")}, DTYPE_STRING,
            "a--b--c"),
      gives("no overlaps", velqReplace, {str("aaa"), str("aa"), str("b")}, DTYPE_STRING, "ba"),
      gives("removal", velqReplace, {str("a b c"), str(" "), str("")}, DTYPE_STRING, "abc"),
      gives("empty old leaves the text", velqReplace, {str("abc"), str(""), str("x")}, DTYPE_STRING,
            "abc"),
      gives("result read as number", velqReplace, {str("1,5"), str(","), str(".")}, DTYPE_REAL,
            "1.5"),
      gives("zero bytes", velqReplace, {bytes(string("a\0b", 3)), bytes(string("\0", 1)), str("-")},
            DTYPE_STRING, "a-b"),
      fails("text", velqReplace, {null(), str("a"), str("b")}, VELQ_ERR_NOT_STRING),
      fails("old", velqReplace, {str("a"), array(), str("b")}, VELQ_ERR_NOT_STRING),
      fails("new", velqReplace, {str("a"), str("a"), array()}, VELQ_ERR_NOT_STRING),
  });
  // 1 MiB of "a", each made 256 bytes, is the text limit; one more byte passes it. The
  // result is refused before anything as large is made.
  string overLimit = string(1u << 20, 'a') + "b";
  checkCases({fails("result over the limit", velqReplace,
                    {bytes(overLimit), str("a"), bytes(string(256, 'b'))}, LIMIT)});
}

TEST(Toolkit, FloorCeilAndSqrt) {
  checkCases({
      gives("floor real", velqFloor, {real(2.7)}, DTYPE_INT32, "2"),
      gives("floor negative", velqFloor, {real(-2.5)}, DTYPE_INT32, "-3"),
      gives("ceil negative", velqCeil, {real(-2.5)}, DTYPE_INT32, "-2"),
      gives("ceil to zero has no sign", velqCeil, {real(-0.5)}, DTYPE_INT32, "0"),
      gives("beyond int32", velqFloor, {real(3e9)}, DTYPE_INT64, "3000000000"),
      gives("int32 edge is int64", velqCeil, {real(-2147483648.0)}, DTYPE_INT64, "-2147483648"),
      gives("beyond int64 stays real", velqFloor, {real(1e19)}, DTYPE_REAL,
            "10000000000000000000.000000"),
      gives("integer kept", velqFloor, {u32(5)}, DTYPE_UINT32, "5"),
      gives("text that is a number", velqCeil, {str("1.5")}, DTYPE_INT32, "2"),
      gives("sqrt", velqSqrt, {i32(4)}, DTYPE_REAL, "2.000000"),
      fails("floor of text", velqFloor, {str("x")}, VELQ_ERR_BAD_ARITHMETIC),
      fails("ceil of null", velqCeil, {null()}, VELQ_ERR_BAD_ARITHMETIC),
      fails("sqrt of array", velqSqrt, {array()}, VELQ_ERR_BAD_ARITHMETIC),
  });
  BuiltinOutcome nan = callBuiltin(velqSqrt, {i32(-1)});
  EXPECT_EQ(nan.type, DTYPE_REAL);
  EXPECT_NE(nan.text.find("nan"), string::npos);
}

TEST(Toolkit, RoundGoesHalfAwayFromZeroAndKeepsItsDecimals) {
  checkCases({
      gives("half up", velqRound, {real(2.5)}, DTYPE_INT32, "3"),
      gives("half down", velqRound, {real(-2.5)}, DTYPE_INT32, "-3"),
      gives("below half", velqRound, {real(0.49)}, DTYPE_INT32, "0"),
      gives("no negative zero", velqRound, {real(-0.4)}, DTYPE_INT32, "0"),
      gives("digits 0 as absent", velqRound, {real(123.456), i32(0)}, DTYPE_INT32, "123"),
      gives("past int32", velqRound, {real(2147483647.5)}, DTYPE_INT64, "2147483648"),
      // 2.675 and 1.005 lie just below their halves as reals; the decimals they were
      // written as decide.
      gives("decimal half", velqRound, {real(2.675), i32(2)}, DTYPE_REAL, "2.68"),
      gives("decimal half 2", velqRound, {real(1.005), i32(2)}, DTYPE_REAL, "1.01"),
      gives("decimals padded", velqRound, {real(3.1), i32(2)}, DTYPE_REAL, "3.10"),
      gives("carry", velqRound, {real(9.96), i32(1)}, DTYPE_REAL, "10.0"),
      gives("small to zero", velqRound, {real(-0.001), i32(2)}, DTYPE_REAL, "0.00"),
      gives("tiny", velqRound, {real(1.25e-20), i32(21)}, DTYPE_REAL, "0.000000000000000000013"),
      gives("tens", velqRound, {real(1234.5), i32(-2)}, DTYPE_INT32, "1200"),
      gives("integer tens", velqRound, {i32(1250), i32(-2)}, DTYPE_INT32, "1300"),
      gives("negative integer tens", velqRound, {i32(-1250), i32(-2)}, DTYPE_INT32, "-1300"),
      gives("above the first digit", velqRound, {i32(49), i32(-3)}, DTYPE_INT32, "0"),
      gives("integer with decimals", velqRound, {i32(3), i32(2)}, DTYPE_REAL, "3.00"),
      gives("integer kept", velqRound, {u64(18446744073709551615ull)}, DTYPE_UINT64,
            "18446744073709551615"),
      gives("int64 kept", velqRound, {i64(7)}, DTYPE_INT64, "7"),
      gives("beyond int64 stays real", velqRound, {real(1e19)}, DTYPE_REAL,
            "10000000000000000000.000000"),
      gives("infinity", velqRound, {real(INFINITY), i32(2)}, DTYPE_REAL, "inf"),
      gives("digits as text", velqRound, {real(1.26), str("1")}, DTYPE_REAL, "1.3"),
      fails("no argument", velqRound, {}, VELQ_ERR_ARGUMENT_COUNT),
      fails("three arguments", velqRound, {i32(1), i32(1), i32(1)}, VELQ_ERR_ARGUMENT_COUNT),
      fails("x not a number", velqRound, {str("a"), real(1.5)}, VELQ_ERR_BAD_ARITHMETIC),
      fails("digits not whole", velqRound, {real(1.5), real(1.5)}, VELQ_ERR_NOT_WHOLE),
      fails("digits over the limit", velqRound, {real(1.5), i32(VELQ_TOOLKIT_FIELD_LIMIT + 1)},
            LIMIT),
      fails("digits under the limit", velqRound, {real(1.5), i32(-VELQ_TOOLKIT_FIELD_LIMIT - 1)},
            LIMIT),
      fails("huge unsigned digits", velqRound, {real(1.5), u64(18446744073709551615ull)}, LIMIT),
  });
  BuiltinOutcome edge = callBuiltin(velqRound, {real(0.1), i32(VELQ_TOOLKIT_FIELD_LIMIT)});
  EXPECT_EQ(edge.type, DTYPE_REAL);
  EXPECT_EQ(edge.text, "0.1" + string(VELQ_TOOLKIT_FIELD_LIMIT - 1, '0'));
}

TEST(Toolkit, FormatWritesEachConversion) {
  checkCases({
      gives("integer", velqFormat, {str("%d"), i32(42)}, DTYPE_INT32, "42"),
      gives("real fixed", velqFormat, {str("%.2f"), real(3.14159)}, DTYPE_REAL, "3.14"),
      gives("width and padding", velqFormat,
            {str("[%5.1f|%-4d|%04d]"), real(2.25), i32(7), i32(-7)}, DTYPE_STRING,
            "[  2.2|7   |-007]"),
      gives("signs", velqFormat, {str("%+d % d %+.1f"), i32(5), i32(5), real(-0.25)}, DTYPE_STRING,
            "+5  5 -0.2"),
      gives("hex of int32", velqFormat, {str("%x %X %#x"), i32(-1), i32(255), i32(255)},
            DTYPE_STRING, "ffffffff FF 0xff"),
      gives("hex of int64", velqFormat, {str("%x"), i64(-1)}, DTYPE_STRING, "ffffffffffffffff"),
      gives("octal and unsigned", velqFormat, {str("%o %u"), i32(8), i32(-1)}, DTYPE_STRING,
            "10 4294967295"),
      gives("uint64 as %d", velqFormat, {str("%d"), u64(18446744073709551615ull)}, DTYPE_INT64,
            "18446744073709551615"),
      gives("exponent and general", velqFormat,
            {str("%e %g %G"), real(12345.678), real(0.0001), real(1e20)}, DTYPE_STRING,
            "1.234568e+04 0.0001 1E+20"),
      gives("text", velqFormat,
            {str("<%s|%5s|%-5s|%.2s>"), str("abc"), str("ab"), str("ab"), str("xyz")}, DTYPE_STRING,
            "<abc|   ab|ab   |xy>"),
      gives("number as text", velqFormat, {str("%s!"), real(1.5)}, DTYPE_STRING, "1.500000!"),
      gives("text with zero bytes", velqFormat, {str("[%s]"), bytes(string("a\0b", 3))},
            DTYPE_STRING, string("[a\0b]", 5)),
      gives("byte", velqFormat, {str("%c%c%3c"), i32(65), i32(256 + 66), i32(67)}, DTYPE_STRING,
            "AB  C"),
      gives("zero byte", velqFormat, {str("%c"), i32(0)}, DTYPE_STRING, string("\0", 1)),
      gives("percent", velqFormat, {str("100%%")}, DTYPE_STRING, "100%"),
      gives("no conversion", velqFormat, {str("plain")}, DTYPE_STRING, "plain"),
      gives("format from a number", velqFormat, {i32(12)}, DTYPE_INT32, "12"),
      gives("text reading as a number", velqFormat, {str("%d"), str("0x10")}, DTYPE_INT32, "16"),
  });
  BuiltinOutcome edge = callBuiltin(velqFormat, {str("%-400d|"), i32(1)});
  EXPECT_EQ(edge.text, "1" + string(399, ' ') + "|");
}

TEST(Toolkit, FormatRefusesWhatItCannotWriteInFormatOrder) {
  checkCases({
      fails("no format", velqFormat, {}, VELQ_ERR_ARGUMENT_COUNT),
      fails("format not text", velqFormat, {array()}, VELQ_ERR_NOT_STRING),
      fails("missing argument", velqFormat, {str("%d %d"), i32(1)}, VELQ_ERR_ARGUMENT_COUNT),
      fails("argument left over", velqFormat, {str("%d"), i32(1), i32(2)}, VELQ_ERR_ARGUMENT_COUNT),
      fails("argument without conversion", velqFormat, {str("x"), i32(1)}, VELQ_ERR_ARGUMENT_COUNT),
      fails("real to %d", velqFormat, {str("%d"), real(1.5)}, VELQ_ERR_NOT_WHOLE),
      fails("text to %x", velqFormat, {str("%x"), str("abc")}, VELQ_ERR_NOT_WHOLE),
      fails("real to %c", velqFormat, {str("%c"), real(65.0)}, VELQ_ERR_NOT_WHOLE),
      fails("text to %f", velqFormat, {str("%f"), str("abc")}, VELQ_ERR_BAD_ARITHMETIC),
      fails("null to %f", velqFormat, {str("%f"), null()}, VELQ_ERR_BAD_ARITHMETIC),
      fails("null to %s", velqFormat, {str("%s"), null()}, VELQ_ERR_NOT_STRING),
      fails("array to %s", velqFormat, {str("%s"), array()}, VELQ_ERR_NOT_STRING),
      fails("unknown letter", velqFormat, {str("%q"), i32(1)}, VELQ_ERR_NOT_STRING),
      fails("star width", velqFormat, {str("%*d"), i32(1), i32(2)}, VELQ_ERR_NOT_STRING),
      fails("n", velqFormat, {str("%n"), i32(1)}, VELQ_ERR_NOT_STRING),
      fails("length letter", velqFormat, {str("%ld"), i32(1)}, VELQ_ERR_NOT_STRING),
      fails("percent at the end", velqFormat, {str("50%")}, VELQ_ERR_NOT_STRING),
      fails("zero byte as letter", velqFormat, {bytes(string("%\0", 2)), i32(1)},
            VELQ_ERR_NOT_STRING),
      fails("width over the limit", velqFormat, {str("%401d"), i32(1)}, LIMIT),
      fails("precision over the limit", velqFormat, {str("%.401f"), real(1)}, LIMIT),
      fails("long width", velqFormat, {str("%99999999999999999999d"), i32(1)}, LIMIT),
      // The format is checked before the count, and conversions from left to right.
      fails("bad letter before count", velqFormat, {str("%q")}, VELQ_ERR_NOT_STRING),
      fails("first problem first", velqFormat, {str("%d %q"), str("x"), i32(1)},
            VELQ_ERR_NOT_WHOLE),
  });
  BuiltinOutcome wide = callBuiltin(velqFormat, {str("%400.400f"), real(-1.7976931348623157e308)});
  EXPECT_EQ(wide.rc, 0);
  EXPECT_EQ(wide.text.size(), 1u + 309 + 1 + 400);
}

// Format and Round write a '.' whatever locale the host chose.
TEST(Toolkit, NumbersIgnoreTheHostLocale) {
  DecimalCommaLocale locale;
  if (!locale.active()) GTEST_SKIP() << "no locale with a decimal comma is installed";
  BuiltinOutcome formatted = callBuiltin(velqFormat, {str("%.2f %e"), real(1.5), real(2.5)});
  BuiltinOutcome rounded = callBuiltin(velqRound, {real(1.25), i32(1)});
  locale.restore();
  EXPECT_EQ(formatted.text, "1.50 2.500000e+00");
  EXPECT_EQ(rounded.text, "1.3");
  EXPECT_EQ(rounded.type, DTYPE_REAL);
}

// A temporary file with the given bytes, removed when the fixture goes.
class ToolkitFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/velq_toolkit_XXXXXX";
    int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    close(fd);
    path = name;
  }
  void TearDown() override { unlink(path.c_str()); }
  void write(const string &bytes) {
    FILE *f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
  }
  string path;
};

TEST_F(ToolkitFile, ReadFileGivesTheWholeFileOrNull) {
  string content("line 1\nline 2\0with zero\n", 24);
  write(content);
  checkCases({
      gives("whole file", velqReadFile, {str(path.c_str())}, DTYPE_STRING, content),
      gives("missing file", velqReadFile, {str("/nonexistent/velq")}, DTYPE_NULL, "null"),
      gives("folder", velqReadFile, {str("/tmp")}, DTYPE_NULL, "null"),
      gives("zero byte in name", velqReadFile, {bytes(path + string("\0x", 2))}, DTYPE_NULL,
            "null"),
      fails("name not text", velqReadFile, {null()}, VELQ_ERR_NOT_STRING),
  });
  write("42");
  checkCases({gives("read as number", velqReadFile, {str(path.c_str())}, DTYPE_INT32, "42")});
  write("");
  checkCases({gives("empty file", velqReadFile, {str(path.c_str())}, DTYPE_INT32, "")});
}

TEST_F(ToolkitFile, ReadFileRefusesAFileOverTheLimitWithoutReadingIt) {
  // A sparse file takes no disk space; its size alone decides.
  ASSERT_EQ(truncate(path.c_str(), (off_t)VELQ_TOOLKIT_TEXT_LIMIT + 1), 0);
  checkCases({fails("over the limit", velqReadFile, {str(path.c_str())}, LIMIT)});
}

// Runs ReadLine calls through a compiled script whose environment reads input.
RunOutcome runWithInput(const char *script, FILE *input) {
  char error[VELQ_COMPILE_ERROR_SIZE];
  ProgramPtr program(VELQCompile(script, error, sizeof error));
  EXPECT_NE(program, nullptr) << error;
  if (!program) return RunOutcome();
  RunOptions options;
  options.environment = new VELQ_Environment();
  VELQRegisterToolkit(options.environment);
  options.environment->setIO(input, nullptr);
  return runProgram(program.get(), options);
}

const char *const READ_ALL_LINES =
    "sub main() { while ((line = ReadLine()) != null) println \"[\" . line . \"]\" . typeof(line); "
    "}";

TEST(ToolkitInput, ReadLineDropsTheLineEndAndEndsWithNull) {
  struct Case {
    const char *label;
    string input;
    string output;
  } cases[] = {
      {"lines", "a\n12\n", "[a]string\n[12]int32\n"},
      {"last line without line feed", "a\nb", "[a]string\n[b]string\n"},
      {"empty lines", "\n\n", "[]int32\n[]int32\n"},
      {"CR LF is a line end", "a\r\nb\r\n", "[a]string\n[b]string\n"},
      {"lone carriage return kept", "a\rb\nc\r", "[a\rb]string\n[c\r]string\n"},
      {"zero byte kept", string("a\0b\n", 4), string("[a\0b]string\n", 12)},
      {"no input", "", ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.label);
    FILE *input = c.input.empty() ? fopen("/dev/null", "r")
                                  : fmemopen((void *)c.input.data(), c.input.size(), "r");
    ASSERT_NE(input, nullptr);
    RunOutcome out = runWithInput(READ_ALL_LINES, input);
    fclose(input);
    EXPECT_EQ(out.error, "");
    EXPECT_EQ(out.output, c.output);
  }
  // Without an input stream there is nothing to read.
  RunOutcome none = runWithInput("ReadLine()", nullptr);
  EXPECT_EQ(none.resultType, DTYPE_NULL);
}

TEST(ToolkitInput, ReadLineRefusesALineLongerThanTheLimit) {
  // /dev/zero is one endless line: ReadLine must stop at the limit, not use up memory.
  FILE *zeros = fopen("/dev/zero", "r");
  ASSERT_NE(zeros, nullptr);
  RunOutcome out = runWithInput("ReadLine()", zeros);
  fclose(zeros);
  EXPECT_EQ(out.rc, -1);
  EXPECT_EQ(out.error, "Error 28 in line 1: " + string(VELQ_ErrorMessage(28)));
}

TEST(Toolkit, FieldsSplitsOnRunsOfBlanks) {
  struct Case {
    const char *label;
    Const text;
    string pieces;
  } cases[] = {
      {"runs and ends", str("  a \t b\r\n"), "0=a:string 1=b:string"},
      {"every blank", str("a\vb\fc\nd"), "0=a:string 1=b:string 2=c:string 3=d:string"},
      {"numbers read as numbers", str("12 1.5"), "0=12:int32 1=1.5:real"},
      {"only blanks", str(" \t "), ""},
      {"empty", str(""), ""},
      {"zero byte is no blank", bytes(string("a\0b c", 5)), string("0=a\0b:string 1=c:string", 23)},
      {"null refused", null(), "error 17"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(arrayResult(velqFields, {c.text}), c.pieces);
  }
}

TEST(Toolkit, SameTextComparesBytesWhereEqualsComparesNumbers) {
  checkCases({
      gives("leading zeros differ", velqSameText, {str("007"), str("7")}, DTYPE_INT32, "0"),
      gives("zero and empty differ", velqSameText, {str("0"), str("")}, DTYPE_INT32, "0"),
      gives("same bytes", velqSameText, {str("id-7"), str("id-7")}, DTYPE_INT32, "1"),
      gives("number by its text", velqSameText, {i32(7), str("7")}, DTYPE_INT32, "1"),
      gives("real by its text", velqSameText, {real(7), str("7")}, DTYPE_INT32, "0"),
      gives("null is empty", velqSameText, {null(), str("")}, DTYPE_INT32, "1"),
      gives("zero bytes count", velqSameText, {bytes(string("a\0b", 3)), str("a")}, DTYPE_INT32,
            "0"),
      fails("array", velqSameText, {array(), str("")}, VELQ_ERR_NOT_STRING),
      fails("second array", velqSameText, {str(""), array()}, VELQ_ERR_NOT_STRING),
  });
}

TEST(Toolkit, SortAndOrderAreStableInEveryOrder) {
  Const values =
      arrayOf({{-3, str("10")}, {0, str("9")}, {4, str("b")}, {8, str("10")}, {9, str("A")}});
  struct Case {
    const char *label;
    VELQ_ExtFunctionHandler handler;
    std::vector<Const> args;
    string sorted;
  } cases[] = {
      {"texts", velqSort, {values}, "0=10:int32 1=10:int32 2=9:int32 3=A:string 4=b:string"},
      {"numbers, texts as 0",
       velqSort,
       {values, str("n")},
       "0=b:string 1=A:string 2=9:int32 3=10:int32 4=10:int32"},
      {"order of texts", velqOrder, {values}, "0=-3:int32 1=8:int32 2=0:int32 3=9:int32 4=4:int32"},
      // Equal values keep their index order when reversed too.
      {"order of numbers reversed",
       velqOrder,
       {values, str("nr")},
       "0=-3:int32 1=8:int32 2=0:int32 3=4:int32 4=9:int32"},
      {"texts reversed",
       velqSort,
       {values, str("r")},
       "0=b:string 1=A:string 2=9:int32 3=10:int32 4=10:int32"},
      {"negative and real",
       velqSort,
       {arrayOf({{0, real(-0.5)}, {1, i32(-7)}, {2, i64(1)}}), str("n")},
       "0=-7:int32 1=-0.500000:real 2=1:int64"},
      {"empty", velqSort, {array()}, ""},
      {"null as empty text",
       velqSort,
       {arrayOf({{0, str("a")}, {1, null()}})},
       "0=null:null 1=a:string"},
      {"unknown letter", velqSort, {values, str("x")}, "error 17"},
      {"not an array", velqOrder, {str("a")}, "error 24"},
      {"array element", velqSort, {arrayOf({{0, array()}})}, "error 17"},
      {"too many arguments", velqSort, {values, str("n"), str("r")}, "error 12"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(arrayResult(c.handler, c.args), c.sorted);
  }
}

TEST(Toolkit, Utf8FunctionsCountCharactersAndKeepBrokenBytes) {
  checkCases({
      gives("length", velqUtf8Length, {str("h\xC3\xA9llo \xE2\x82\xAC\xF0\x9F\x98\x80")},
            DTYPE_UINT32, "8"),
      gives("broken bytes count one each", velqUtf8Length, {str("\xC3(\xE2\x82\xFF")}, DTYPE_UINT32,
            "5"),
      gives("overlong form is bytes", velqUtf8Length, {str("\xC0\xAF")}, DTYPE_UINT32, "2"),
      gives("substr", velqUtf8Substr, {str("h\xC3\xA9llo"), i32(2), i32(3)}, DTYPE_STRING,
            "\xC3\xA9ll"),
      gives("substr rest", velqUtf8Substr,
            {str("\xE2\x82\xAC"
                 "ab"),
             i32(2)},
            DTYPE_STRING, "ab"),
      gives("substr null start", velqUtf8Substr, {str("\xC3\xA9x"), null(), i32(1)}, DTYPE_STRING,
            "\xC3\xA9"),
      gives("substr past the end", velqUtf8Substr, {str("ab"), i32(5)}, DTYPE_INT32, ""),
      gives("substr non-positive count", velqUtf8Substr, {str("ab"), i32(1), i32(-1)}, DTYPE_INT32,
            ""),
      gives("upper", velqUtf8Upper,
            {str("a\xC3\xA9\xC3\xBF \xC4\x81 \xCE\xB1\xCF\x82 \xD0\xB6\xD1\x91 \xC3\x9F")},
            DTYPE_STRING, "A\xC3\x89\xC5\xB8 \xC4\x80 \xCE\x91\xCE\xA3 \xD0\x96\xD0\x81 \xC3\x9F"),
      gives("lower", velqUtf8Lower,
            {str("A\xC3\x89\xC5\xB8 \xC4\x80 \xCE\x91\xCE\x86 \xD0\x96\xD0\x81 \xC4\xB0")},
            DTYPE_STRING, "a\xC3\xA9\xC3\xBF \xC4\x81 \xCE\xB1\xCE\xAC \xD0\xB6\xD1\x91 \xC4\xB0"),
      gives("broken bytes kept", velqUtf8Upper, {str("a\xC3")}, DTYPE_STRING, "A\xC3"),
      fails("length of null", velqUtf8Length, {null()}, VELQ_ERR_NOT_STRING),
      fails("substr start", velqUtf8Substr, {str("a"), str("x")}, VELQ_ERR_NOT_WHOLE),
      fails("substr count", velqUtf8Substr, {str("a"), i32(1), real(1.5)}, VELQ_ERR_NOT_WHOLE),
      fails("substr arguments", velqUtf8Substr, {str("a")}, VELQ_ERR_ARGUMENT_COUNT),
      fails("upper of array", velqUtf8Upper, {array()}, VELQ_ERR_NOT_STRING),
  });
}

TEST(Toolkit, GetEnvReadsTheEnvironment) {
  setenv("VELQ_TOOLKIT_TEST", "42", 1);
  unsetenv("VELQ_TOOLKIT_UNSET");
  checkCases({
      gives("set", velqGetEnv, {str("VELQ_TOOLKIT_TEST")}, DTYPE_INT32, "42"),
      gives("unset", velqGetEnv, {str("VELQ_TOOLKIT_UNSET")}, DTYPE_NULL, "null"),
      gives("zero byte in name", velqGetEnv, {bytes(string("VELQ_TOOLKIT_TEST\0", 18))}, DTYPE_NULL,
            "null"),
      fails("name not text", velqGetEnv, {null()}, VELQ_ERR_NOT_STRING),
  });
}

TEST_F(ToolkitFile, WriteFileReplacesAndAppendFileAdds) {
  checkCases({
      gives("write", velqWriteFile, {str(path.c_str()), bytes(string("a\0b\n", 4))}, DTYPE_INT32,
            "1"),
      gives("append a number", velqAppendFile, {str(path.c_str()), i32(7)}, DTYPE_INT32, "1"),
      gives("append null", velqAppendFile, {str(path.c_str()), null()}, DTYPE_INT32, "1"),
  });
  checkCases(
      {gives("read back", velqReadFile, {str(path.c_str())}, DTYPE_STRING, string("a\0b\n7", 5))});
  checkCases({
      gives("write replaces", velqWriteFile, {str(path.c_str()), str("x")}, DTYPE_INT32, "1"),
      gives("no such folder", velqWriteFile, {str("/nonexistent/velq"), str("x")}, DTYPE_INT32,
            "0"),
      gives("a folder", velqAppendFile, {str("/tmp"), str("x")}, DTYPE_INT32, "0"),
      gives("zero byte in name", velqWriteFile, {bytes(path + string("\0x", 2)), str("x")},
            DTYPE_INT32, "0"),
      fails("path not text", velqWriteFile, {null(), str("x")}, VELQ_ERR_NOT_STRING),
      fails("array as text", velqAppendFile, {str(path.c_str()), array()}, VELQ_ERR_NOT_STRING),
  });
  checkCases({gives("replaced", velqReadFile, {str(path.c_str())}, DTYPE_STRING, "x")});
}

// Runs a script with the toolkit and the given arguments.
RunOutcome runWithToolkit(const char *script, const std::vector<Const> &args = {}) {
  char error[VELQ_COMPILE_ERROR_SIZE];
  ProgramPtr program(VELQCompile(script, error, sizeof error));
  EXPECT_NE(program, nullptr) << error;
  if (!program) return RunOutcome();
  RunOptions options;
  options.environment = new VELQ_Environment();
  VELQRegisterToolkit(options.environment);
  options.args = args;
  return runProgram(program.get(), options);
}

TEST(ToolkitRun, ArgGivesTheRunsArgumentsWhateverBecameOfDollarNames) {
  // A match stores its groups as $1, $2, ...; an assignment changes $2; Arg still gives
  // what the run was given, from a called function too.
  RunOutcome out = runWithToolkit(
      "sub second() { return Arg(2); }\n"
      "sub main() {\n"
      "  if (\"xy\" match \"(x)(y)\") $2 = \"changed\";\n"
      "  println $1 . $2 . \" \" . Arg(1) . \" \" . second() . \" \" . typeof(Arg(3)) . "
      "typeof(Arg(0));\n"
      "  println Join(Args(), \"+\") . \" \" . typeof(Arg(-1)) . \" \" . typeof(Args()[1]);\n"
      "}",
      {str("first"), i32(2)});
  EXPECT_EQ(out.error, "");
  EXPECT_EQ(out.output, "xchanged first 2 nullnull\nfirst+2 null int32\n");
  RunOutcome none = runWithToolkit("sub main() { println Count(Args()) . typeof(Arg(1)); }");
  EXPECT_EQ(none.output, "0null\n");
  RunOutcome bad = runWithToolkit("sub main() { Arg(\"x\"); }", {str("a")});
  EXPECT_EQ(bad.error, "Error 19 in line 1: " + string(VELQ_ErrorMessage(19)));
}

TEST(ToolkitRun, MapsCountAndListByKey) {
  RunOutcome out = runWithToolkit(
      "sub main() {\n"
      "  m = Map();\n"
      "  words = Fields(\"b a c a b a 10 9 \");\n"
      "  i = 0;\n"
      "  while (i < Count(words)) MapAdd(m, words[i++], 1);\n"
      "  println Join(MapKeys(m), \",\") . \" \" . Join(MapValues(m), \",\") . \" \" . Count(m);\n"
      "  shared = m;\n"  // a copy refers to the same map
      "  MapSet(shared, \"z\", \"text\");\n"
      "  println MapGet(m, \"z\") . \" \" . MapHas(m, \"a\") . MapHas(m, \"q\") . \" \" . "
      "typeof(MapGet(m, \"q\")) . \" \" . MapGet(m, \"q\", 0) . \" \" . classof(m);\n"
      "  println MapRemove(m, \"a\") . MapRemove(m, \"a\") . \" \" . Join(MapKeys(m), \",\");\n"
      "  println MapAdd(m, 7, 2.5) . \" \" . MapAdd(m, \"7\", 1) . \" \" . typeof(MapSet(m, \"n\", "
      "null)) . MapHas(m, \"n\");\n"
      "}");
  EXPECT_EQ(out.error, "");
  EXPECT_EQ(out.output,
            "10,9,a,b,c 1,1,3,2,1 5\n"
            "text 10 null 0 map\n"
            "10 10,9,b,c,z\n"
            "2.500000 3.500000 null1\n");
}

TEST(ToolkitRun, MapsRefuseWhatTheyCannotHold) {
  struct Case {
    const char *label;
    const char *script;
    int code;
  } cases[] = {
      {"not a map", "sub main() { MapGet(gmtime(0), \"a\"); }", VELQ_ERR_NOT_OBJECT},
      {"array is no map", "sub main() { array a; MapKeys(a); }", VELQ_ERR_NOT_OBJECT},
      {"key not text", "sub main() { array a; MapSet(Map(), a, 1); }", VELQ_ERR_NOT_STRING},
      {"array value", "sub main() { array a; MapSet(Map(), \"k\", a); }", VELQ_ERR_NOT_STRING},
      {"map in a map", "sub main() { m = Map(); MapSet(m, \"k\", m); }", VELQ_ERR_NOT_STRING},
      {"add to text", "sub main() { m = Map(); MapSet(m, \"k\", \"x\"); MapAdd(m, \"k\", 1); }",
       VELQ_ERR_BAD_ARITHMETIC},
      {"add text", "sub main() { MapAdd(Map(), \"k\", \"x\"); }", VELQ_ERR_BAD_ARITHMETIC},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.label);
    RunOutcome out = runWithToolkit(c.script);
    EXPECT_EQ(out.error, "Error " + std::to_string(c.code) +
                             " in line 1: " + string(VELQ_ErrorMessage(c.code)));
  }
}

TEST(ToolkitRun, AMapGrowsAndShrinksThroughManyKeys) {
  // Enough keys to rehash several times, then every other one removed: what is left is
  // found, what was removed is not, and the keys list in byte order.
  RunOutcome out = runWithToolkit(
      "sub main() {\n"
      "  m = Map(); i = 0;\n"
      "  while (i < 5000) { MapSet(m, \"k\" . i, i); i++; }\n"
      "  i = 0; while (i < 5000) { MapRemove(m, \"k\" . i); i = i + 2; }\n"
      "  bad = 0; i = 0;\n"
      "  while (i < 5000) { if (MapHas(m, \"k\" . i) != i % 2) bad++; i++; }\n"
      "  keys = MapKeys(m);\n"
      "  println Count(m) . \" \" . bad . \" \" . keys[0] . \" \" . keys[2499] . \" \" . MapGet(m, "
      "\"k4999\");\n"
      "}");
  EXPECT_EQ(out.error, "");
  EXPECT_EQ(out.output, "2500 0 k1 k999 4999\n");
}

}  // namespace
