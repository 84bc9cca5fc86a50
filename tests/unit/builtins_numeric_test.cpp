// The numeric, type and control built-ins called directly: results, their types, and
// the error code of every refusal in the order the arguments are checked.
#include <math.h>
#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "test_access.h"
#include "builtin_call.h"
#include "builtins/time_class.h"

using namespace velq_test;

namespace {

VELQ_Class genericClass;

Const genericObject() {
  return {[] { return new VELQ_Value(new VELQ_Object(&genericClass, nullptr)); }};
}

Const timeObject() {
  return {[] {
    struct tm record = {};
    return VELQ_NewTimeValue(&record);
  }};
}

// An object value that holds no record at all, as only a faulty host could make.
Const emptyObject() {
  return {[] { return new VELQ_Value((VELQ_Object *)nullptr); }};
}

BuiltinCase exits(const char *label, std::vector<Const> args, int type, std::string text) {
  return {label, velqExit, std::move(args), -1, type, std::move(text)};
}

}  // namespace

TEST(BuiltinNumeric, AbsKeepsIntegerTypesAndWraps) {
  checkCases({
      gives("int32", velqAbs, {i32(-5)}, DTYPE_INT32, "5"),
      gives("positive int32", velqAbs, {i32(5)}, DTYPE_INT32, "5"),
      gives("real", velqAbs, {real(-2.5)}, DTYPE_REAL, "2.500000"),
      gives("negative zero", velqAbs, {real(-0.0)}, DTYPE_REAL, "0.000000"),
      gives("smallest int32 wraps", velqAbs, {i32(INT32_MIN)}, DTYPE_INT32, "-2147483648"),
      gives("int64", velqAbs, {i64(-5000000000)}, DTYPE_INT64, "5000000000"),
      gives("smallest int64 wraps", velqAbs, {i64(INT64_MIN)}, DTYPE_INT64, "-9223372036854775808"),
      gives("uint32 unchanged", velqAbs, {u32(4294967295u)}, DTYPE_UINT32, "4294967295"),
      gives("uint64 unchanged", velqAbs, {u64(UINT64_MAX)}, DTYPE_UINT64, "18446744073709551615"),
      // The text -7 is the number -7; the negated copy renders its new number.
      gives("numeric text", velqAbs, {str("-7")}, DTYPE_INT32, "7"),
      // A copy that is not negated keeps the text it was built from.
      gives("text kept when positive", velqAbs, {str("0x10")}, DTYPE_INT32, "0x10"),
      fails("text", velqAbs, {str("x")}, VELQ_ERR_BAD_ARITHMETIC),
      fails("null", velqAbs, {null()}, VELQ_ERR_BAD_ARITHMETIC),
      fails("array", velqAbs, {array()}, VELQ_ERR_BAD_ARITHMETIC),
      fails("object", velqAbs, {genericObject()}, VELQ_ERR_BAD_ARITHMETIC),
  });
}

TEST(BuiltinNumeric, MathFunctionsGiveReals) {
  checkCases({
      gives("exp 0", velqExp, {i32(0)}, DTYPE_REAL, "1.000000"),
      gives("exp of text number", velqExp, {str("1")}, DTYPE_REAL, "2.718282"),
      gives("log e", velqLog, {real(M_E)}, DTYPE_REAL, "1.000000"),
      gives("log10", velqLog10, {i32(1000)}, DTYPE_REAL, "3.000000"),
      gives("log10 of uint64", velqLog10, {u64(10000000000ull)}, DTYPE_REAL, "10.000000"),
      gives("pow", velqPow, {i32(2), i32(10)}, DTYPE_REAL, "1024.000000"),
      gives("pow of reals", velqPow, {real(4.0), real(0.5)}, DTYPE_REAL, "2.000000"),
      gives("pow negative exponent", velqPow, {i32(2), i32(-1)}, DTYPE_REAL, "0.500000"),
      fails("exp of text", velqExp, {str("abc")}, VELQ_ERR_BAD_ARITHMETIC),
      fails("log of null", velqLog, {null()}, VELQ_ERR_BAD_ARITHMETIC),
      fails("log10 of array", velqLog10, {array()}, VELQ_ERR_BAD_ARITHMETIC),
      fails("pow base", velqPow, {str("a"), i32(1)}, VELQ_ERR_BAD_ARITHMETIC),
      fails("pow exponent", velqPow, {i32(2), str("a")}, VELQ_ERR_BAD_ARITHMETIC),
      fails("pow null exponent", velqPow, {i32(2), null()}, VELQ_ERR_BAD_ARITHMETIC),
  });
}

// Domain faults are ordinary results, not errors.
TEST(BuiltinNumeric, MathFunctionsFollowIeeeArithmetic) {
  struct Row {
    const char *label;
    VELQ_ExtFunctionHandler handler;
    std::vector<Const> args;
    int classification;  // FP_INFINITE or FP_NAN
    bool negative;
  } rows[] = {
      {"log 0", velqLog, {i32(0)}, FP_INFINITE, true},
      {"log10 0", velqLog10, {real(0.0)}, FP_INFINITE, true},
      {"log -1", velqLog, {i32(-1)}, FP_NAN, false},
      {"exp overflow", velqExp, {i32(1000)}, FP_INFINITE, false},
      {"pow 0 -1", velqPow, {i32(0), i32(-1)}, FP_INFINITE, false},
  };
  for (Row &row : rows) {
    SCOPED_TRACE(row.label);
    std::vector<VELQ_Value *> argv;
    for (Const &c : row.args) argv.push_back(c.make());
    VELQ_Value *result = nullptr;
    ASSERT_EQ(row.handler((int32_t)argv.size(), argv.data(), &result, nullptr), 0);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->getDataType(), DTYPE_REAL);
    double d = result->getValueAsReal();
    EXPECT_EQ(fpclassify(d), row.classification);
    if (row.classification == FP_INFINITE) {
      EXPECT_EQ(signbit(d) != 0, row.negative);
    }
    delete result;
    for (VELQ_Value *v : argv) delete v;
  }
}

TEST(BuiltinNumeric, MinAndMaxCompareAsTheOperatorsDo) {
  checkCases({
      gives("min of three", velqMin, {i32(3), i32(1), i32(2)}, DTYPE_INT32, "1"),
      gives("min keeps the real", velqMin, {i32(2), real(1.5)}, DTYPE_REAL, "1.500000"),
      gives("max keeps the int", velqMax, {i32(2), real(1.5)}, DTYPE_INT32, "2"),
      gives("equal: earliest wins", velqMin, {i32(7), real(7.0)}, DTYPE_INT32, "7"),
      gives("equal: earliest wins in max", velqMax, {real(7.0), i32(7)}, DTYPE_REAL, "7.000000"),
      gives("one argument unchecked", velqMin, {str("abc")}, DTYPE_STRING, "abc"),
      gives("one null argument", velqMin, {null()}, DTYPE_NULL, "null"),
      gives("one number to max", velqMax, {i64(-3)}, DTYPE_INT64, "-3"),
      // The copy keeps the text the winner was built from.
      gives("text kept", velqMax, {i32(1), str("0x10"), i32(3)}, DTYPE_INT32, "0x10"),
      // uint32 against int32 counts as int32, so 4294967295 is -1 here, as for '<'.
      gives("uint32 as int32", velqMin, {i32(0), u32(4294967295u)}, DTYPE_UINT32, "4294967295"),
      gives("uint64 against int32", velqMin, {u64(1), i32(-1)}, DTYPE_INT32, "-1"),
      gives("two unsigned", velqMax, {u32(4294967295u), u64(1)}, DTYPE_UINT32, "4294967295"),
      gives("int64 beyond int32", velqMax, {i32(1), i64(5000000000)}, DTYPE_INT64, "5000000000"),
      gives("int64 low bits ignored", velqMin, {i64(4294967296), i32(1)}, DTYPE_INT32, "1"),
      gives("real against int64", velqMax, {real(0.5), i64(-1)}, DTYPE_REAL, "0.500000"),
      fails("min without arguments", velqMin, {}, VELQ_ERR_ARGUMENT_COUNT),
      fails("max without arguments", velqMax, {}, VELQ_ERR_ARGUMENT_COUNT),
      fails("max checks its first", velqMax, {str("abc")}, VELQ_ERR_BAD_ARITHMETIC),
      fails("max null first", velqMax, {null(), i32(1)}, VELQ_ERR_BAD_ARITHMETIC),
      fails("null running minimum", velqMin, {null(), i32(1)}, VELQ_ERR_NULL_OPERATION),
      fails("text running minimum", velqMin, {str("abc"), i32(1)}, VELQ_ERR_BAD_ARITHMETIC),
      fails("array running minimum", velqMin, {array(), i32(1)}, VELQ_ERR_BAD_ARITHMETIC),
      // The argument is checked before the running minimum.
      fails("null argument", velqMin, {null(), null()}, VELQ_ERR_BAD_ARITHMETIC),
      fails("text argument", velqMin, {i32(1), str("abc")}, VELQ_ERR_BAD_ARITHMETIC),
      fails("late bad argument", velqMax, {i32(1), i32(2), array()}, VELQ_ERR_BAD_ARITHMETIC),
      fails("real against uint64", velqMin, {real(1.5), u64(1)}, VELQ_ERR_TYPE_CAST),
      fails("uint64 against real", velqMax, {u64(5), real(1.5)}, VELQ_ERR_TYPE_CAST),
  });
}

// The arguments belong to the machine: comparing must not convert them in place.
TEST(BuiltinNumeric, MinAndMaxLeaveTheirArgumentsAlone) {
  VELQ_Value a((int32_t)2), b(1.5), c((uint32_t)7);
  VELQ_Value *argv[] = {&a, &b, &c};
  for (VELQ_ExtFunctionHandler handler : {velqMin, velqMax}) {
    VELQ_Value *result = nullptr;
    ASSERT_EQ(handler(3, argv, &result, nullptr), 0);
    delete result;
    EXPECT_EQ(a.getDataType(), DTYPE_INT32);
    EXPECT_EQ(b.getDataType(), DTYPE_REAL);
    EXPECT_EQ(c.getDataType(), DTYPE_UINT32);
    EXPECT_FALSE(velq_test::hasCachedText(a));
  }
}

TEST(BuiltinNumeric, TypeofNamesEveryType) {
  checkCases({
      gives("int32", velqTypeof, {i32(1)}, DTYPE_STRING, "int32"),
      gives("numeric text", velqTypeof, {str("1")}, DTYPE_STRING, "int32"),
      gives("text", velqTypeof, {str("one")}, DTYPE_STRING, "string"),
      gives("real", velqTypeof, {real(1.5)}, DTYPE_STRING, "real"),
      gives("int64", velqTypeof, {i64(1)}, DTYPE_STRING, "int64"),
      gives("uint32", velqTypeof, {u32(1)}, DTYPE_STRING, "uint32"),
      gives("uint64", velqTypeof, {u64(1)}, DTYPE_STRING, "uint64"),
      gives("null", velqTypeof, {null()}, DTYPE_STRING, "null"),
      gives("object", velqTypeof, {timeObject()}, DTYPE_STRING, "object"),
      gives("array", velqTypeof, {array()}, DTYPE_STRING, VELQ_TypeName(DTYPE_ARRAY)),
  });
}

TEST(BuiltinNumeric, ClassofNamesTheObjectsClass) {
  checkCases({
      gives("time object", velqClassof, {timeObject()}, DTYPE_STRING, "TIME"),
      gives("unnamed class", velqClassof, {genericObject()}, DTYPE_STRING, "generic"),
      fails("number", velqClassof, {i32(1)}, VELQ_ERR_NOT_OBJECT),
      fails("null", velqClassof, {null()}, VELQ_ERR_NOT_OBJECT),
      fails("text", velqClassof, {str("TIME")}, VELQ_ERR_NOT_OBJECT),
      fails("array", velqClassof, {array()}, VELQ_ERR_NOT_OBJECT),
      fails("object value without a record", velqClassof, {emptyObject()}, VELQ_ERR_INTERNAL),
  });
}

TEST(BuiltinNumeric, ExitStopsWithItsValue) {
  checkCases({
      exits("no argument", {}, DTYPE_INT32, "0"),
      exits("text", {str("done")}, DTYPE_STRING, "done"),
      exits("null", {null()}, DTYPE_NULL, "null"),
      exits("real", {real(1.5)}, DTYPE_REAL, "1.500000"),
      exits("array", {array()}, DTYPE_ARRAY, VELQ_TypeName(DTYPE_ARRAY)),
      fails("two arguments", velqExit, {i32(1), i32(2)}, VELQ_ERR_ARGUMENT_COUNT),
  });
}

TEST(BuiltinNumeric, TraceChecksLevelThenMessage) {
  checkCases({
      gives("number message", velqTrace, {i32(2), i32(42)}, DTYPE_NULL, "null"),
      gives("unsigned level", velqTrace, {u64(3), str("x")}, DTYPE_NULL, "null"),
      fails("real level", velqTrace, {real(1.5), str("x")}, VELQ_ERR_NOT_WHOLE),
      fails("text level", velqTrace, {str("x"), str("x")}, VELQ_ERR_NOT_WHOLE),
      fails("null level first", velqTrace, {null(), array()}, VELQ_ERR_NOT_WHOLE),
      fails("array message", velqTrace, {i32(1), array()}, VELQ_ERR_NOT_STRING),
      fails("null message", velqTrace, {i32(1), null()}, VELQ_ERR_NOT_STRING),
  });
}

namespace {

struct TraceLine {
  int level;
  std::string text;
};

// An environment that records what reaches the host's trace hook.
class RecordingEnvironment : public VELQ_Environment {
 public:
  explicit RecordingEnvironment(std::vector<TraceLine> *lines) : lines(lines) {}
  void trace(int level, const char *text) override { lines->push_back({level, text}); }

 private:
  std::vector<TraceLine> *lines;
};

}  // namespace

// trace hands the level read as int32 and the message's text form to the host.
TEST(BuiltinNumeric, TraceReachesTheHost) {
  std::vector<TraceLine> lines;
  RunOptions options;
  options.environment = new RecordingEnvironment(&lines);
  RunOutcome out = run({{OP_PUSH_CONST, 2},
                        {OP_PUSH_CONST, 42},
                        {OP_CALL_EXT, "trace", 2},
                        {OP_POP, 1},
                        {OP_PUSH_CONST, int64_t(4294967295LL + 5)},
                        {OP_PUSH_CONST, 1.5},
                        {OP_CALL_EXT, "trace", 2},
                        {OP_RET}},
                       options);
  EXPECT_EQ(out.rc, 0) << out.error;
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].level, 2);
  EXPECT_EQ(lines[0].text, "42");
  EXPECT_EQ(lines[1].level, 4);  // the low 32 bits
  EXPECT_EQ(lines[1].text, "1.500000");
  EXPECT_EQ(out.resultType, DTYPE_NULL);
}
