// Steps, comparisons, arithmetic, bitwise operations and shifts of values.
#include <gtest/gtest.h>
#include <math.h>

#include <memory>
#include <string>

#include "test_access.h"
#include "velq_value.h"

namespace {

using ValuePtr = std::unique_ptr<VELQ_Value>;

// A value of an integer type holding the given number's bits of that width.
VELQ_Value *integer(int type, int64_t n) {
  switch (type) {
    case DTYPE_INT32:
      return new VELQ_Value((int32_t)n);
    case DTYPE_UINT32:
      return new VELQ_Value((uint32_t)n);
    case DTYPE_INT64:
      return new VELQ_Value((int64_t)n);
    default:
      return new VELQ_Value((uint64_t)n);
  }
}

enum Op { ADD, SUB, MUL, DIV, REM, AND, OR, XOR, LSHIFT, RSHIFT, INC, DEC, NEG, NOT };
const char *const opNames[] = {"add",       "sub",       "mul",    "div",    "rem",
                               "and",       "or",        "xor",    "lshift", "rshift",
                               "increment", "decrement", "negate", "bitNot"};

// Applies op to v; other is the right operand (its number is the shift count for
// the shifts, and it is unused by the steps).
void apply(Op op, VELQ_Value *v, const VELQ_Value *other) {
  switch (op) {
    case ADD:
      v->add(other);
      break;
    case SUB:
      v->sub(other);
      break;
    case MUL:
      v->mul(other);
      break;
    case DIV:
      v->div(other);
      break;
    case REM:
      v->rem(other);
      break;
    case AND:
      v->bitAnd(other);
      break;
    case OR:
      v->bitOr(other);
      break;
    case XOR:
      v->bitXor(other);
      break;
    case LSHIFT:
      v->lshift(other->getValueAsInt32());
      break;
    case RSHIFT:
      v->rshift(other->getValueAsInt32());
      break;
    case INC:
      v->increment();
      break;
    case DEC:
      v->decrement();
      break;
    case NEG:
      v->negate();
      break;
    case NOT:
      v->bitNot();
      break;
  }
}

struct IntegerCase {
  Op op;
  int type;
  int64_t left;
  int64_t right;  // same type as left; a shift count for the shifts
  int resultType;
  int64_t result;  // taken as a number of resultType
};

const int64_t I32_MIN = INT32_MIN, I32_MAX = INT32_MAX;
const int64_t I64_MIN = INT64_MIN, I64_MAX = INT64_MAX;
const int I32 = DTYPE_INT32, U32 = DTYPE_UINT32, I64 = DTYPE_INT64, U64 = DTYPE_UINT64;

TEST(ValueArith, IntegerOperationsWrapOnTheirWidth) {
  const IntegerCase cases[] = {
      // Steps.
      {INC, I32, I32_MAX, 0, I32, I32_MIN},
      {INC, U32, 4294967295, 0, U32, 0},
      {INC, I64, I64_MAX, 0, I64, I64_MIN},
      {INC, U64, -1, 0, U64, 0},
      {DEC, I32, I32_MIN, 0, I32, I32_MAX},
      {DEC, U32, 0, 0, U32, 4294967295},
      {DEC, I64, 0, 0, I64, -1},
      {DEC, U64, 0, 0, U64, -1},
      {NEG, I32, 5, 0, I32, -5},
      {NEG, I32, I32_MIN, 0, I32, I32_MIN},
      {NEG, I64, I64_MIN, 0, I64, I64_MIN},
      {NEG, I64, -7, 0, I64, 7},
      {NEG, U32, 5, 0, I32, -5},  // unsigned types become signed
      {NEG, U32, 3000000000, 0, I32, 1294967296},
      {NEG, U32, 0, 0, I32, 0},
      {NEG, U64, 1, 0, I64, -1},
      {NEG, U64, I64_MIN, 0, I64, I64_MIN},
      {NOT, I32, 0, 0, I32, -1},
      {NOT, U32, 0, 0, U32, 4294967295},
      {NOT, I64, 0, 0, I64, -1},
      {NOT, U64, 0xF0, 0, U64, ~(int64_t)0xF0},
      // Sum, difference and product keep the low bits.
      {ADD, I32, I32_MAX, 1, I32, I32_MIN},
      {ADD, U32, 4294967295, 2, U32, 1},
      {ADD, I64, I64_MAX, 1, I64, I64_MIN},
      {ADD, U64, -1, 1, U64, 0},
      {SUB, I32, I32_MIN, 1, I32, I32_MAX},
      {SUB, U32, 0, 1, U32, 4294967295},
      {SUB, I64, I64_MIN, 1, I64, I64_MAX},
      {SUB, U64, 3, 5, U64, -2},
      {MUL, I32, 65536, 65536, I32, 0},
      {MUL, I32, -3, 7, I32, -21},
      {MUL, U32, 4294967295, 4294967295, U32, 1},
      {MUL, I64, 4294967296, 4294967296, I64, 0},
      {MUL, I64, I64_MIN, -1, I64, I64_MIN},
      {MUL, U64, -1, -1, U64, 1},
      // Division truncates toward zero; remainders take the left operand's sign.
      {DIV, I32, -7, 2, I32, -3},
      {REM, I32, -7, 2, I32, -1},
      {DIV, I32, 7, -2, I32, -3},
      {REM, I32, 7, -2, I32, 1},
      {DIV, U32, 4294967295, 2, U32, 2147483647},
      {REM, U32, 4294967295, 10, U32, 5},
      {DIV, I64, -9000000000, 2, I64, -4500000000},
      {REM, I64, -9000000001, 2, I64, -1},
      {DIV, U64, -1, 16, U64, 0x0FFFFFFFFFFFFFFF},
      {REM, U64, -1, 16, U64, 15},
      // The most negative number by -1, and any division by zero.
      {DIV, I32, I32_MIN, -1, I32, I32_MIN},
      {REM, I32, I32_MIN, -1, I32, 0},
      {DIV, I32, 9, -1, I32, -9},
      {REM, I32, 9, -1, I32, 0},
      {DIV, I64, I64_MIN, -1, I64, I64_MIN},
      {REM, I64, I64_MIN, -1, I64, 0},
      {DIV, U32, 4294967295, 4294967295, U32, 1},  // -1 only matters for signed types
      {REM, U64, -1, -1, U64, 0},
      {DIV, I32, 9, 0, I32, 9},
      {REM, I32, 9, 0, I32, 9},
      {DIV, U32, 9, 0, U32, 9},
      {REM, U32, 9, 0, U32, 9},
      {DIV, I64, I64_MIN, 0, I64, I64_MIN},
      {REM, I64, -9, 0, I64, -9},
      {DIV, U64, 9, 0, U64, 9},
      {REM, U64, 9, 0, U64, 9},
      // Bits.
      {AND, I32, -1, 0x0F0F, I32, 0x0F0F},
      {OR, U32, 0xF0000000, 0x0F, U32, 0xF000000F},
      {XOR, I64, -1, 1, I64, -2},
      {AND, U64, -1, I64_MIN, U64, I64_MIN},
      {XOR, U64, 0x00FF00FF00FF00FF, -1, U64, (int64_t)0xFF00FF00FF00FF00},
      // 32-bit shifts use the low 5 bits of the count.
      {LSHIFT, I32, 1, 31, I32, I32_MIN},
      {LSHIFT, I32, 1, 32, I32, 1},
      {LSHIFT, I32, 1, 33, I32, 2},
      {LSHIFT, I32, -1, 4, I32, -16},
      {LSHIFT, U32, 3, -1, U32, 2147483648},
      {RSHIFT, I32, -8, 1, I32, -4},
      {RSHIFT, I32, I32_MIN, 31, I32, -1},
      {RSHIFT, I32, I32_MIN, 32, I32, I32_MIN},
      {RSHIFT, U32, 4294967295, 28, U32, 15},
      {RSHIFT, U32, 2147483648, 63, U32, 1},
      // 64-bit shifts use the low 8 bits; 64 places and more shift everything out.
      {LSHIFT, I64, 1, 63, I64, I64_MIN},
      {LSHIFT, I64, 1, 64, I64, 0},
      {LSHIFT, I64, 1, 255, I64, 0},
      {LSHIFT, I64, 1, 256, I64, 1},
      {LSHIFT, U64, 1, 257, U64, 2},
      {LSHIFT, I64, 1, -1, I64, 0},
      {RSHIFT, I64, -8, 1, I64, -4},
      {RSHIFT, I64, -8, 100, I64, -1},
      {RSHIFT, I64, -8, -1, I64, -1},
      {RSHIFT, I64, 8, 100, I64, 0},
      {RSHIFT, I64, I64_MIN, 63, I64, -1},
      {RSHIFT, I64, I64_MAX, 256, I64, I64_MAX},
      {RSHIFT, U64, I64_MIN, 63, U64, 1},
      {RSHIFT, U64, -1, 64, U64, 0},
      {RSHIFT, U64, -1, 260, U64, 0x0FFFFFFFFFFFFFFF},  // low 8 bits of 260: 4
  };
  for (const IntegerCase &c : cases) {
    std::string what = std::string(opNames[c.op]) + " " + VELQ_TypeName(c.type) + " " +
                       std::to_string(c.left) + ", " + std::to_string(c.right);
    SCOPED_TRACE(what);
    ValuePtr v(integer(c.type, c.left));
    ValuePtr other(c.op == LSHIFT || c.op == RSHIFT ? integer(I32, c.right)
                                                    : integer(c.type, c.right));
    apply(c.op, v.get(), other.get());
    ValuePtr expected(integer(c.resultType, c.result));
    EXPECT_EQ(v->getDataType(), c.resultType);
    EXPECT_EQ(v->getValueAsUInt64(), expected->getValueAsUInt64());
  }
}

struct RealCase {
  Op op;
  double left;
  double right;
  double result;
};

TEST(ValueArith, RealOperationsFollowIeeeAndIgnoreTheIntegerOnlyOnes) {
  const RealCase cases[] = {
      {INC, 0.5, 0, 1.5},        {DEC, 0.5, 0, -0.5},
      {NEG, 2.5, 0, -2.5},       {NEG, 0.0, 0, -0.0},
      {NOT, 2.5, 0, 2.5},        {ADD, 0.1, 0.2, 0.1 + 0.2},
      {SUB, 1.0, 3.0, -2.0},     {MUL, 1e200, 1e200, HUGE_VAL},
      {DIV, 1.0, 0.0, HUGE_VAL}, {DIV, -1.0, 0.0, -HUGE_VAL},
      {DIV, 0.0, 0.0, NAN},      {DIV, 7.0, 2.0, 3.5},
      {REM, 7.5, 2.0, 7.5},      {AND, 7.5, 2.0, 7.5},
      {OR, 7.5, 2.0, 7.5},       {XOR, 7.5, 2.0, 7.5},
      {LSHIFT, 7.5, 2.0, 7.5},   {RSHIFT, 7.5, 2.0, 7.5},
  };
  for (const RealCase &c : cases) {
    SCOPED_TRACE(std::string(opNames[c.op]) + " " + std::to_string(c.left));
    ValuePtr v(new VELQ_Value(c.left));
    ValuePtr other(new VELQ_Value(c.right));
    apply(c.op, v.get(), other.get());
    EXPECT_EQ(v->getDataType(), DTYPE_REAL);
    double result = v->getValueAsReal();
    if (isnan(c.result)) {
      EXPECT_TRUE(isnan(result));
    } else {
      EXPECT_EQ(result, c.result);
      EXPECT_EQ(signbit(result), signbit(c.result));
    }
  }
}

// Every operation but the comparisons drops a number's cached text, even one
// that keeps the number; a non-numeric receiver is left alone, text and all.
TEST(ValueArith, OperationsDropTheCachedTextOfNumbersOnly) {
  const Op ops[] = {ADD, SUB, MUL, DIV, REM, AND, OR, XOR, LSHIFT, RSHIFT, INC, DEC, NEG, NOT};
  const char *const numbers[] = {"1.50", "0x10", "18446744073709551615"};
  for (Op op : ops) {
    SCOPED_TRACE(opNames[op]);
    for (const char *number : numbers) {
      ValuePtr v(new VELQ_Value(number));
      ValuePtr other(new VELQ_Value(v.get()));
      ASSERT_TRUE(velq_test::hasCachedText(v));
      apply(op, v.get(), other.get());
      EXPECT_FALSE(velq_test::hasCachedText(v)) << number;
    }
    for (const char *text : {"abc", "12 "}) {
      ValuePtr v(new VELQ_Value(text));
      ValuePtr other(new VELQ_Value((int32_t)1));
      apply(op, v.get(), other.get());
      EXPECT_EQ(v->getDataType(), DTYPE_STRING);
      EXPECT_STREQ(v->getValueAsCString(), text);
    }
    ValuePtr null(new VELQ_Value());
    ValuePtr one(new VELQ_Value((int32_t)1));
    apply(op, null.get(), one.get());
    EXPECT_TRUE(null->isNull());
    EXPECT_FALSE(velq_test::hasCachedText(null));
  }

  ValuePtr real(new VELQ_Value("1.50"));
  ValuePtr two(new VELQ_Value(2.0));
  real->rem(two.get());
  EXPECT_STREQ(real->getValueAsCString(), "1.500000");
  ValuePtr hex(new VELQ_Value("0x10"));
  hex->increment();
  EXPECT_STREQ(hex->getValueAsCString(), "17");
}

struct CompareCase {
  int type;
  int64_t left;
  int64_t right;
  const char *results;  // EQ LT LE GT GE, each '1' or '0'
};

TEST(ValueCompare, IntegersCompareSignedOrUnsignedByType) {
  const CompareCase cases[] = {
      {U32, 4294967295, 1, "00011"},    {I32, -1, 1, "01100"},
      {I32, I32_MIN, I32_MAX, "01100"}, {U32, 7, 7, "10101"},
      {U64, I64_MIN, 1, "00011"},                                       // 2^63 as unsigned
      {I64, I64_MIN, 1, "01100"},       {I64, 4294967296, 0, "00011"},  // the upper bits count
      {U64, -1, -1, "10101"},
  };
  for (const CompareCase &c : cases) {
    SCOPED_TRACE(std::string(VELQ_TypeName(c.type)) + " " + std::to_string(c.left) + " vs " +
                 std::to_string(c.right));
    ValuePtr l(integer(c.type, c.left));
    ValuePtr r(integer(c.type, c.right));
    std::string got = {char('0' + l->EQ(r.get())), char('0' + l->LT(r.get())),
                       char('0' + l->LE(r.get())), char('0' + l->GT(r.get())),
                       char('0' + l->GE(r.get()))};
    EXPECT_EQ(got, c.results);
  }
}

TEST(ValueCompare, RealsCompareByIeeeRulesAndOtherTypesNever) {
  const struct {
    VELQ_Value *(*left)();
    VELQ_Value *(*right)();
    const char *results;
    const char *what;
  } cases[] = {
      {[] { return new VELQ_Value(1.5); }, [] { return new VELQ_Value(2.5); }, "01100", "1.5 2.5"},
      {[] { return new VELQ_Value(0.0); }, [] { return new VELQ_Value(-0.0); }, "10101", "0 -0"},
      {[] { return new VELQ_Value((double)NAN); }, [] { return new VELQ_Value((double)NAN); },
       "00000", "nan nan"},
      {[] { return new VELQ_Value(1.0); }, [] { return new VELQ_Value((double)NAN); }, "00000",
       "1 nan"},
      {[] { return new VELQ_Value("abc"); }, [] { return new VELQ_Value("abc"); }, "00000",
       "strings"},
      {[] { return new VELQ_Value(); }, [] { return new VELQ_Value(); }, "00000", "nulls"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    ValuePtr l(c.left());
    ValuePtr r(c.right());
    std::string got = {char('0' + l->EQ(r.get())), char('0' + l->LT(r.get())),
                       char('0' + l->LE(r.get())), char('0' + l->GT(r.get())),
                       char('0' + l->GE(r.get()))};
    EXPECT_EQ(got, c.results);
  }
}

}  // namespace
