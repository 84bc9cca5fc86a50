// Operator instructions: type promotion, the numeric and the text path of the two-operand
// operators, the one-operand operators, CAST and the variable steps.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "program_builder.h"
#include "test_access.h"
#include "velq.h"
#include "values/promotion.h"

using namespace velq_test;

namespace {

// Runs `left right op` and returns what the run gave.
RunOutcome binary(Const left, Const right, int opCode, int line = 1) {
  return run({{OP_PUSH_CONST, left}, {OP_PUSH_CONST, right}, atLine(line, {opCode}), {OP_RET}});
}

// The messages the operators raise, written out here so that a wrong message table shows.
const char *expectedMessage(int code) {
  switch (code) {
    case 1:
      return "Data stack underflow";
    case 4:
      return "Bad arithmetic conversion";
    case 5:
      return "Invalid operation with NULL value";
    case 6:
      return "Internal error";
    case 9:
      return "Divide by zero";
    case 10:
      return "Invalid operation with real numbers";
    case 13:
      return "Cannot do automatic type cast";
    case 20:
      return "Invalid operation on object";
  }
  return "(no message expected for this code)";
}

std::string errorText(int code, int line = 1) {
  return "Error " + std::to_string(code) + " in line " + std::to_string(line) + ": " +
         expectedMessage(code);
}

// A program whose handlers can be called directly on a stack of its own, for the opcodes
// that execute() never hands to them.
class HandlerProbe : public VELQ_Program {
 public:
  HandlerProbe() {
    VELQ_TestAccess::internals(*this).running = true;
    locals = new VELQ_VariableSystem();
  }
  ~HandlerProbe() {
    VELQ_ProgramInternals::popValues(*this, depth());
    delete locals;
    locals = nullptr;
    VELQ_TestAccess::internals(*this).running = false;
  }
  using VELQ_Program::doBinaryOperation;
  using VELQ_Program::doUnaryOperation;
  using VELQ_Program::findOrCreateVariable;

  void push(VELQ_Value *value) { VELQ_ProgramInternals::pushNew(*this, value); }
  VELQ_Value *top() { return VELQ_ProgramInternals::peekValue(*this); }
  int depth() { return (int)VELQ_TestAccess::internals(*this).machine.depth(); }
  VELQ_VariableSystem *localSystem() { return locals; }
};

TEST(PromotionTest, IntegerPairsFollowTheTable) {
  // Rows: left type, columns: right type, in the order int32, int64, uint32, uint64.
  const int types[4] = {DTYPE_INT32, DTYPE_INT64, DTYPE_UINT32, DTYPE_UINT64};
  const int expected[4][4] = {
      {DTYPE_INT32, DTYPE_INT64, DTYPE_INT32, DTYPE_INT64},
      {DTYPE_INT64, DTYPE_INT64, DTYPE_INT64, DTYPE_INT64},
      {DTYPE_INT32, DTYPE_INT64, DTYPE_UINT32, DTYPE_UINT64},
      {DTYPE_INT64, DTYPE_INT64, DTYPE_UINT64, DTYPE_UINT64},
  };
  for (VELQ_Promotion rule : {VELQ_PROMOTE_ANY, VELQ_PROMOTE_INTEGERS})
    for (int l = 0; l < 4; l++)
      for (int r = 0; r < 4; r++)
        EXPECT_EQ(VELQ_CommonType(types[l], types[r], rule), expected[l][r])
            << VELQ_TypeName(types[l]) << " " << VELQ_TypeName(types[r]) << " rule " << rule;
}

TEST(PromotionTest, RealsAndDivision) {
  const int numbers[] = {DTYPE_REAL, DTYPE_INT32, DTYPE_INT64, DTYPE_UINT32, DTYPE_UINT64};
  for (int l : numbers)
    for (int r : numbers) {
      EXPECT_EQ(VELQ_CommonType(l, r, VELQ_PROMOTE_TO_REAL), DTYPE_REAL) << l << " " << r;
      if (l != DTYPE_REAL && r != DTYPE_REAL) continue;
      EXPECT_EQ(VELQ_CommonType(l, r, VELQ_PROMOTE_INTEGERS), DTYPE_NULL) << l << " " << r;
      EXPECT_EQ(VELQ_CommonType(l, r, VELQ_PROMOTE_ANY), DTYPE_REAL) << l << " " << r;
    }
}

TEST(PromotionTest, NonNumbersHaveNoCommonType) {
  for (int other :
       {(int)DTYPE_NULL, (int)DTYPE_OBJECT, (int)DTYPE_ARRAY, (int)DTYPE_STRING, 9, -1}) {
    EXPECT_EQ(VELQ_CommonType(other, DTYPE_INT32, VELQ_PROMOTE_ANY), DTYPE_NULL) << other;
    EXPECT_EQ(VELQ_CommonType(DTYPE_REAL, other, VELQ_PROMOTE_TO_REAL), DTYPE_NULL) << other;
  }
}

struct BinaryCase {
  const char *what;
  Const left;
  Const right;
  int opCode;
  const char *result;
  int type;
};

TEST(BinaryOperationTest, Results) {
  const BinaryCase cases[] = {
      // Arithmetic keeps the operand order and the common type.
      {"10 - 4", i32(10), i32(4), OP_SUB, "6", DTYPE_INT32},
      {"6 * 7", i32(6), i32(7), OP_MUL, "42", DTYPE_INT32},
      {"7 / 2 in reals", i32(7), i32(2), OP_DIV, "3.500000", DTYPE_REAL},
      {"6 / 3 in reals", i32(6), i32(3), OP_DIV, "2.000000", DTYPE_REAL},
      {"7 % 2", i32(7), i32(2), OP_REM, "1", DTYPE_INT32},
      {"-7 % 2", i32(-7), i32(2), OP_REM, "-1", DTYPE_INT32},
      {"uint32 3 - 5 wraps", u32(3), u32(5), OP_SUB, "4294967294", DTYPE_UINT32},
      {"-1 + uint32 1", i32(-1), u32(1), OP_ADD, "0", DTYPE_INT32},
      {"uint32 1 + uint64 2", u32(1), u64(2), OP_ADD, "3", DTYPE_UINT64},
      {"uint64 1 + 1", u64(1), i32(1), OP_ADD, "2", DTYPE_INT64},
      {"int64 + real", i64(1), real(0.5), OP_ADD, "1.500000", DTYPE_REAL},
      {"numeric texts are numbers", str("12"), i32(1), OP_ADD, "13", DTYPE_INT32},
      {"0x10 + 1", str("0x10"), i32(1), OP_ADD, "17", DTYPE_INT32},
      // Bitwise operators and shifts.
      {"6 & 3", i32(6), i32(3), OP_BITAND, "2", DTYPE_INT32},
      {"6 | 3", i32(6), i32(3), OP_BITOR, "7", DTYPE_INT32},
      {"6 ^ 3", i32(6), i32(3), OP_BITXOR, "5", DTYPE_INT32},
      {"5 << 2", i32(5), i32(2), OP_LSHIFT, "20", DTYPE_INT32},
      {"-8 >> 1", i32(-8), i32(1), OP_RSHIFT, "-4", DTYPE_INT32},
      {"shift count promotes the shifted value", i32(1), i64(33), OP_LSHIFT, "8589934592",
       DTYPE_INT64},
      // Comparisons give int32 1 or 0 after promotion.
      {"1.5 < 2", real(1.5), i32(2), OP_LT, "1", DTYPE_INT32},
      {"2 <= 2", i32(2), i32(2), OP_LE, "1", DTYPE_INT32},
      {"2 > 2", i32(2), i32(2), OP_GT, "0", DTYPE_INT32},
      {"2 >= 2", i32(2), i32(2), OP_GE, "1", DTYPE_INT32},
      {"uint32 max counts as int32 -1", u32(4294967295u), i32(1), OP_GT, "0", DTYPE_INT32},
      {"uint32 max against uint32 1", u32(4294967295u), u32(1), OP_GT, "1", DTYPE_INT32},
      {"0x10 == 16 by number", str("0x10"), i32(16), OP_EQ, "1", DTYPE_INT32},
      {"1.0 == 1", str("1.0"), i32(1), OP_EQ, "1", DTYPE_INT32},
      {"3 != 3", i32(3), i32(3), OP_NE, "0", DTYPE_INT32},
      // Logic evaluates both sides as numbers.
      {"2 && 0.0", i32(2), real(0.0), OP_AND, "0", DTYPE_INT32},
      {"2 && 3", i32(2), i32(3), OP_AND, "1", DTYPE_INT32},
      {"0 || 3", i32(0), i32(3), OP_OR, "1", DTYPE_INT32},
      {"0 || 0.0", i32(0), real(0.0), OP_OR, "0", DTYPE_INT32},
      // Equality of anything that is not a number goes by null-ness and text.
      {"'abc' == 'abc'", str("abc"), str("abc"), OP_EQ, "1", DTYPE_INT32},
      {"'abc' == 'ABC'", str("abc"), str("ABC"), OP_EQ, "0", DTYPE_INT32},
      {"'abc' != 'abd'", str("abc"), str("abd"), OP_NE, "1", DTYPE_INT32},
      {"'ab' == 'abc'", str("ab"), str("abc"), OP_EQ, "0", DTYPE_INT32},
      {"texts compared past a zero byte", text("a\0b", 3), text("a\0c", 3), OP_EQ, "0",
       DTYPE_INT32},
      {"equal texts with a zero byte", text("a\0b", 3), text("a\0b", 3), OP_EQ, "1", DTYPE_INT32},
      {"number against text by text form", real(1.5), str("1.500000x"), OP_EQ, "0", DTYPE_INT32},
      {"null == null", null(), null(), OP_EQ, "1", DTYPE_INT32},
      {"null != 0", null(), i32(0), OP_NE, "1", DTYPE_INT32},
      {"null == 'x'", null(), str("x"), OP_EQ, "0", DTYPE_INT32},
      {"null == '' (the text is empty, the value is not null)", null(), text("", 0), OP_EQ, "0",
       DTYPE_INT32},
      {"array == ''", array(), text("", 0), OP_EQ, "1", DTYPE_INT32},
      {"array != 'x'", array(), str("x"), OP_NE, "1", DTYPE_INT32},
      {"null != array", null(), array(), OP_NE, "1", DTYPE_INT32},
      // Concatenation joins text forms and reads the result again.
      {"'5' . 'x'", str("5"), str("x"), OP_CONCAT, "5x", DTYPE_STRING},
      {"1 . 2 is the number 12", i32(1), i32(2), OP_CONCAT, "12", DTYPE_INT32},
      {"1 . 'e3' is a real", i32(1), str("e3"), OP_CONCAT, "1e3", DTYPE_REAL},
      {"real renders first", real(1.5), str("x"), OP_CONCAT, "1.500000x", DTYPE_STRING},
      {"array has no text", array(), str("x"), OP_CONCAT, "x", DTYPE_STRING},
      {"joined with an array", str("a"), array(), OP_CONCAT, "a", DTYPE_STRING},
  };
  for (const BinaryCase &c : cases) {
    RunOutcome out = binary(c.left, c.right, c.opCode);
    EXPECT_EQ(out.rc, 0) << c.what << ": " << out.error;
    EXPECT_EQ(out.result, c.result) << c.what;
    EXPECT_EQ(out.resultType, c.type) << c.what;
  }
}

TEST(BinaryOperationTest, ZeroBytesSurviveConcatenation) {
  RunOutcome out = binary(text("a\0", 2), str("b"), OP_CONCAT);
  EXPECT_EQ(out.result, std::string("a\0b", 3));
}

struct ErrorCase {
  const char *what;
  Const left;
  Const right;
  int opCode;
  int code;
};

TEST(BinaryOperationTest, Errors) {
  const ErrorCase cases[] = {
      {"null + 1", null(), i32(1), OP_ADD, VELQ_ERR_NULL_OPERATION},
      {"null before string: 5, not 4", null(), str("x"), OP_ADD, VELQ_ERR_NULL_OPERATION},
      {"'a' . null", str("a"), null(), OP_CONCAT, VELQ_ERR_NULL_OPERATION},
      {"null && 1", null(), i32(1), OP_AND, VELQ_ERR_NULL_OPERATION},
      {"null < null", null(), null(), OP_LT, VELQ_ERR_NULL_OPERATION},
      {"'abc' < 'abd'", str("abc"), str("abd"), OP_LT, VELQ_ERR_BAD_ARITHMETIC},
      {"'a' + 1", str("a"), i32(1), OP_ADD, VELQ_ERR_BAD_ARITHMETIC},
      {"1 - 'a'", i32(1), str("a"), OP_SUB, VELQ_ERR_BAD_ARITHMETIC},
      {"array * 2", array(), i32(2), OP_MUL, VELQ_ERR_BAD_ARITHMETIC},
      {"'a' || 1", str("a"), i32(1), OP_OR, VELQ_ERR_BAD_ARITHMETIC},
      {"'a' >> 1", str("a"), i32(1), OP_RSHIFT, VELQ_ERR_BAD_ARITHMETIC},
      {"7 % 2.0", i32(7), real(2.0), OP_REM, VELQ_ERR_REAL_OPERATION},
      {"1.5 & 1", real(1.5), i32(1), OP_BITAND, VELQ_ERR_REAL_OPERATION},
      {"1 | 1.0", i32(1), real(1.0), OP_BITOR, VELQ_ERR_REAL_OPERATION},
      {"1 ^ 1.0", i32(1), real(1.0), OP_BITXOR, VELQ_ERR_REAL_OPERATION},
      {"1 << 1.0", i32(1), real(1.0), OP_LSHIFT, VELQ_ERR_REAL_OPERATION},
      {"1.0 >> 1", real(1.0), i32(1), OP_RSHIFT, VELQ_ERR_REAL_OPERATION},
      {"uint64 + real", u64(5), real(1.5), OP_ADD, VELQ_ERR_TYPE_CAST},
      {"real < uint64", real(1.5), u64(5), OP_LT, VELQ_ERR_TYPE_CAST},
      {"uint64 / uint64 goes through reals", u64(6), u64(3), OP_DIV, VELQ_ERR_TYPE_CAST},
      {"5 % 0", i32(5), i32(0), OP_REM, VELQ_ERR_DIVIDE_BY_ZERO},
      {"int64 % 0", i64(5), i32(0), OP_REM, VELQ_ERR_DIVIDE_BY_ZERO},
      {"uint64 % 0", u64(5), u64(0), OP_REM, VELQ_ERR_DIVIDE_BY_ZERO},
      {"uint32 % text 0", u32(5), str("0"), OP_REM, VELQ_ERR_DIVIDE_BY_ZERO},
  };
  for (const ErrorCase &c : cases) {
    RunOutcome out = binary(c.left, c.right, c.opCode, 4);
    EXPECT_EQ(out.rc, -1) << c.what;
    EXPECT_EQ(out.error, errorText(c.code, 4)) << c.what;
    EXPECT_EQ(out.resultType, -1) << c.what;
  }
}

TEST(BinaryOperationTest, ObjectsCompareEqualAndRefuseConcatenation) {
  VELQ_Class shapes;
  int first = 1, second = 2;
  Const a{[&] { return new VELQ_Value(new VELQ_Object(&shapes, &first)); }};
  Const b{[&] { return new VELQ_Value(new VELQ_Object(&shapes, &second)); }};
  EXPECT_EQ(binary(a, b, OP_EQ).result, "1");
  EXPECT_EQ(binary(a, text("", 0), OP_NE).result, "0");
  EXPECT_EQ(binary(a, i32(1), OP_ADD).error, errorText(VELQ_ERR_BAD_ARITHMETIC));
  EXPECT_EQ(binary(a, str("x"), OP_CONCAT).error, errorText(VELQ_ERR_OBJECT_OPERATION));
  EXPECT_EQ(binary(str("x"), b, OP_CONCAT).error, errorText(VELQ_ERR_OBJECT_OPERATION));
  EXPECT_EQ(binary(array(), b, OP_CONCAT).error, errorText(VELQ_ERR_OBJECT_OPERATION));
}

TEST(BinaryOperationTest, MissingOperands) {
  for (int opCode : {OP_ADD, OP_EQ, OP_CONCAT, OP_LIKE, OP_MATCH}) {
    RunOutcome one = run({{OP_PUSH_CONST, 1}, atLine(3, {opCode}), {OP_RET}});
    EXPECT_EQ(one.error, errorText(VELQ_ERR_STACK_UNDERFLOW, 3)) << opCode;
    RunOutcome none = run({atLine(2, {opCode}), {OP_RET}});
    EXPECT_EQ(none.error, errorText(VELQ_ERR_STACK_UNDERFLOW, 2)) << opCode;
  }
}

// The result replaces both operands: what lies below them is untouched.
TEST(BinaryOperationTest, ConsumesExactlyTwoOperands) {
  RunOutcome out = run({{OP_PUSH_CONST, "below"},
                        {OP_PUSH_CONST, 3},
                        {OP_PUSH_CONST, 4},
                        {OP_MUL},
                        {OP_PRINT},
                        {OP_RET}});
  EXPECT_EQ(out.output, "12");
  EXPECT_EQ(out.result, "below");
}

TEST(BinaryOperationTest, OpcodesWithoutAnOperationAreInternalErrors) {
  for (bool numbers : {true, false}) {
    HandlerProbe probe;
    probe.push(numbers ? new VELQ_Value((int32_t)1) : new VELQ_Value("a"));
    probe.push(numbers ? new VELQ_Value((int32_t)2) : new VELQ_Value("b"));
    probe.doBinaryOperation(OP_NOP);
    EXPECT_STREQ(probe.getErrorText(), "Error 6 in line 0: Internal error") << numbers;
    EXPECT_EQ(probe.depth(), 0) << "operands are destroyed, not pushed back";
  }
}

struct UnaryCase {
  const char *what;
  Const operand;
  int opCode;
  const char *result;
  int type;
};

TEST(UnaryOperationTest, Results) {
  const UnaryCase cases[] = {
      {"-5", i32(5), OP_NEG, "-5", DTYPE_INT32},
      {"-uint32 5 is signed", u32(5), OP_NEG, "-5", DTYPE_INT32},
      {"-1.5", real(1.5), OP_NEG, "-1.500000", DTYPE_REAL},
      {"-'7' (a number)", str("7"), OP_NEG, "-7", DTYPE_INT32},
      {"!5", i32(5), OP_NOT, "0", DTYPE_INT32},
      {"!0", i32(0), OP_NOT, "1", DTYPE_INT32},
      {"!uint64 0", u64(0), OP_NOT, "1", DTYPE_INT32},
      {"!int64 2^32", i64(4294967296LL), OP_NOT, "0", DTYPE_INT32},
      {"~0", i32(0), OP_BITNOT, "-1", DTYPE_INT32},
      {"~uint32 0", u32(0), OP_BITNOT, "4294967295", DTYPE_UINT32},
  };
  for (const UnaryCase &c : cases) {
    RunOutcome out = run({{OP_PUSH_CONST, c.operand}, {c.opCode}, {OP_RET}});
    EXPECT_EQ(out.rc, 0) << c.what << ": " << out.error;
    EXPECT_EQ(out.result, c.result) << c.what;
    EXPECT_EQ(out.resultType, c.type) << c.what;
  }
}

TEST(UnaryOperationTest, Errors) {
  const struct {
    Const operand;
    int opCode;
    int code;
  } cases[] = {
      {real(1.5), OP_NOT, VELQ_ERR_REAL_OPERATION},
      {real(0.0), OP_BITNOT, VELQ_ERR_REAL_OPERATION},
      {str("abc"), OP_NEG, VELQ_ERR_BAD_ARITHMETIC},
      {null(), OP_NEG, VELQ_ERR_BAD_ARITHMETIC},  // not 5: one-operand operators have no null rule
      {null(), OP_NOT, VELQ_ERR_BAD_ARITHMETIC},
      {array(), OP_BITNOT, VELQ_ERR_BAD_ARITHMETIC},
  };
  for (const auto &c : cases) {
    RunOutcome out = run({{OP_PUSH_CONST, c.operand}, atLine(5, {c.opCode}), {OP_RET}});
    EXPECT_EQ(out.error, errorText(c.code, 5)) << c.opCode;
  }
  for (int opCode : {OP_NEG, OP_NOT, OP_BITNOT})
    EXPECT_EQ(run({{opCode}, {OP_RET}}).error, errorText(VELQ_ERR_STACK_UNDERFLOW)) << opCode;

  HandlerProbe probe;
  probe.push(new VELQ_Value((int32_t)1));
  probe.doUnaryOperation(OP_ADD);
  EXPECT_STREQ(probe.getErrorText(), "Error 6 in line 0: Internal error");
}

TEST(CastTest, ConvertsTheTopValueInPlace) {
  const struct {
    Const operand;
    int type;
    const char *result;
    int resultType;
  } cases[] = {
      {real(3.7), DTYPE_INT32, "3", DTYPE_INT32},
      {real(-2.7), DTYPE_INT64, "-2", DTYPE_INT64},
      {i32(5), DTYPE_REAL, "5.000000", DTYPE_REAL},
      {i32(-1), DTYPE_UINT32, "4294967295", DTYPE_UINT32},
      {i32(5), DTYPE_STRING, "5", DTYPE_INT32},  // a number already has a text form
      {str("abc"), DTYPE_INT32, "0", DTYPE_INT32},
      {null(), DTYPE_STRING, "", DTYPE_STRING},
      {str("1.50"), DTYPE_REAL, "1.50", DTYPE_REAL},  // same type: the text stays
  };
  for (const auto &c : cases) {
    RunOutcome out = run({{OP_PUSH_CONST, c.operand}, {OP_CAST, c.type}, {OP_RET}});
    EXPECT_EQ(out.rc, 0) << out.error;
    EXPECT_EQ(out.result, c.result);
    EXPECT_EQ(out.resultType, c.resultType) << c.result;
  }
}

TEST(CastTest, Errors) {
  EXPECT_EQ(run({{OP_PUSH_CONST, u64(1)}, atLine(2, {OP_CAST, DTYPE_REAL}), {OP_RET}}).error,
            errorText(VELQ_ERR_TYPE_CAST, 2));
  EXPECT_EQ(run({{OP_PUSH_CONST, 1}, {OP_CAST, DTYPE_NULL}, {OP_RET}}).error,
            errorText(VELQ_ERR_TYPE_CAST));
  EXPECT_EQ(run({{OP_CAST, DTYPE_INT32}, {OP_RET}}).error, errorText(VELQ_ERR_STACK_UNDERFLOW));
}

// x++, x--, ++x and --x on x = 5: PRINT shows the pushed value, the result the variable.
TEST(VariableStepTest, PushedValueAndVariable) {
  const struct {
    int opCode;
    const char *pushed;
    const char *after;
  } cases[] = {
      {OP_INC, "5", "6"},
      {OP_INCP, "6", "6"},
      {OP_DEC, "5", "4"},
      {OP_DECP, "4", "4"},
  };
  for (const auto &c : cases) {
    RunOutcome out = run({{OP_PUSH_CONST, 5},
                          {OP_SET, "x"},
                          {OP_POP, 1},
                          {c.opCode, "x"},
                          {OP_PRINT},
                          {OP_PUSH_VAR, "x"},
                          {OP_RET}});
    EXPECT_EQ(out.output, c.pushed) << c.opCode;
    EXPECT_EQ(out.result, c.after) << c.opCode;
  }
}

// The pushed value is a copy: changing it leaves the variable alone.
TEST(VariableStepTest, PushesACopy) {
  RunOutcome out = run({{OP_PUSH_CONST, 0.5},
                        {OP_SET, "x"},
                        {OP_POP, 1},
                        {OP_INCP, "x"},
                        {OP_NEG},
                        {OP_PRINT},
                        {OP_PUSH_VAR, "x"},
                        {OP_RET}});
  EXPECT_EQ(out.output, "-1.500000");
  EXPECT_EQ(out.result, "1.500000");
}

TEST(VariableStepTest, NonNumbersAreRefused) {
  for (Const value : {str("abc"), array(), null()}) {
    RunOutcome out = run(
        {{OP_PUSH_CONST, value}, {OP_SET, "x"}, {OP_POP, 1}, atLine(7, {OP_DECP, "x"}), {OP_RET}});
    EXPECT_EQ(out.error, errorText(VELQ_ERR_BAD_ARITHMETIC, 7));
  }
}

TEST(VariableStepTest, AnUnknownNameIsCreatedAsANullLocal) {
  HandlerProbe probe;
  VELQ_ProgramInternals::doVariableStep(probe, OP_INC, probe.findOrCreateVariable("y"));
  EXPECT_STREQ(probe.getErrorText(), "Error 4 in line 0: Bad arithmetic conversion");
  EXPECT_EQ(probe.depth(), 0);
  VELQ_Variable *y = probe.localSystem()->find("y");
  ASSERT_NE(y, nullptr);
  EXPECT_TRUE(y->getValue()->isNull());
}

// The steps ignore the constant flag; without constants merged by the run the change stays.
TEST(VariableStepTest, ChangesAConstant) {
  ProgramPtr program = buildProgram({{OP_INC, "k"}, {OP_POP, 1}, {OP_PUSH_VAR, "k"}, {OP_RET}});
  program->getConstants()->create("k", new VELQ_Value((int32_t)5));
  RunOutcome out = runProgram(program.get());
  EXPECT_EQ(out.result, "6");
  EXPECT_EQ(variableText(program->getConstants(), "k"), "6");
}

}  // namespace
