// velq::Value: what each C++ type becomes, what reads back, and the conversions that
// must refuse.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "velq.hpp"

namespace {

using velq::Type;
using velq::Value;

// The constructors that could be ambiguous pick the meaning a host expects.
static_assert(std::is_constructible_v<Value, long long>);
static_assert(std::is_constructible_v<Value, std::nullptr_t>);
static_assert(std::is_constructible_v<Value, char>);
static_assert(std::is_constructible_v<Value, unsigned char>);
static_assert(std::is_constructible_v<Value, std::vector<std::vector<int>>>);
static_assert(!std::is_constructible_v<Value, void *>);
static_assert(!std::is_constructible_v<Value, std::vector<void *>>);

struct Made {
  const char *what;
  Value value;
  Type type;
  std::string text;
};

TEST(CppValue, EachConstructorMakesItsType) {
  const std::string withZero("a\0b", 3);
  const Made cases[] = {
      {"nullptr", Value(nullptr), Type::Null, "null"},
      {"default", Value(), Type::Null, "null"},
      {"null const char *", Value(static_cast<const char *>(nullptr)), Type::Null, "null"},
      {"0 is a number", Value(0), Type::Int32, "0"},
      {"1LL", Value(1LL), Type::Int32, "1"},
      {"int64", Value(int64_t(5000000000)), Type::Int64, "5000000000"},
      {"int64 min", Value(std::numeric_limits<int64_t>::min()), Type::Int64,
       "-9223372036854775808"},
      {"uint32", Value(4000000000u), Type::UInt32, "4000000000"},
      {"uint64 max", Value(std::numeric_limits<uint64_t>::max()), Type::UInt64,
       "18446744073709551615"},
      {"signed char is a number", Value(static_cast<signed char>(-3)), Type::Int32, "-3"},
      {"true", Value(true), Type::Int32, "1"},
      {"false", Value(false), Type::Int32, "0"},
      {"double", Value(2.5), Type::Real, "2.500000"},
      {"float", Value(0.25f), Type::Real, "0.250000"},
      {"char is text", Value('c'), Type::String, "c"},
      {"char digit reads as a number", Value('7'), Type::Int32, "7"},
      {"const char *", Value("text"), Type::String, "text"},
      {"std::string with a zero byte", Value(withZero), Type::String, withZero},
      {"string_view", Value(std::string_view("view")), Type::String, "view"},
      {"vector", Value(std::vector<int>{1, 2, 3}), Type::Array, "[1, 2, 3]"},
      {"empty vector", Value(std::vector<int>{}), Type::Array, "[]"},
      {"map", Value(std::map<int32_t, std::string>{{-5, "a"}, {7, "b"}}), Type::Array,
       "{-5: a, 7: b}"},
      {"nested", Value(std::vector<std::vector<int>>{{1}, {2, 3}}), Type::Array, "[[1], [2, 3]]"},
      {"empty optional", Value(std::optional<int>()), Type::Null, "null"},
      {"optional", Value(std::optional<int>(4)), Type::Int32, "4"},
  };
  for (const Made &c : cases) {
    EXPECT_EQ(c.value.type(), c.type) << c.what;
    EXPECT_EQ(c.value.to_string(), c.text) << c.what;
  }
}

// Text reads as a number when the whole text is one, as scripts read it.
TEST(CppValue, TextsThatReadAsNumbers) {
  const struct {
    const char *text;
    Type type;
  } cases[] = {
      {"12", Type::Int32},          {" 12", Type::Int32},  {"12 ", Type::String},
      {"1e3", Type::Real},          {"0x10", Type::Int32}, {"abc", Type::String},
      {"-2147483648", Type::Int64}, {"2.5", Type::Real},
  };
  for (const auto &c : cases) EXPECT_EQ(Value(c.text).type(), c.type) << c.text;
  Value hex("0x10");
  EXPECT_EQ(hex.as<int>(), 16);
  EXPECT_EQ(hex.as<std::string>(), "0x10");  // a number made from text keeps its text
  EXPECT_EQ(Value("1e3").as<double>(), 1000.0);
}

TEST(CppValue, RoundTrips) {
  EXPECT_EQ(Value(-7).as<int>(), -7);
  EXPECT_EQ(Value(int64_t(-5000000000)).as<int64_t>(), -5000000000);
  EXPECT_EQ(Value(std::numeric_limits<uint64_t>::max()).as<uint64_t>(),
            std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(Value(std::numeric_limits<int64_t>::min()).as<int64_t>(),
            std::numeric_limits<int64_t>::min());
  EXPECT_EQ(Value(uint8_t(255)).as<uint8_t>(), 255);
  EXPECT_EQ(Value(0.1).as<double>(), 0.1);
  EXPECT_EQ(Value(3.0).as<int>(), 3);  // a whole real is an integer
  EXPECT_EQ(Value(7).as<double>(), 7.0);
  EXPECT_EQ(Value(std::numeric_limits<uint64_t>::max()).as<double>(), 18446744073709551615.0);
  EXPECT_TRUE(Value(true).as<bool>());
  EXPECT_FALSE(Value(0.0).as<bool>());
  EXPECT_EQ(Value('x').as<char>(), 'x');
  EXPECT_EQ(Value(42).as<std::string>(), "42");
  const std::string withZero("x\0y", 3);
  EXPECT_EQ(Value(withZero).as<std::string>(), withZero);
  Value text("view");
  EXPECT_EQ(text.as<std::string_view>(), "view");
  EXPECT_EQ(Value(std::vector<std::string>{"a", "b"}).as<std::vector<std::string>>(),
            (std::vector<std::string>{"a", "b"}));
  const std::map<int32_t, double> sparse{{-2147483647 - 1, 1.5}, {0, 2.5}, {2147483647, 3.5}};
  EXPECT_EQ((Value(sparse).as<std::map<int32_t, double>>()), sparse);
  const std::vector<std::vector<int>> nested{{1, 2}, {}, {3}};
  EXPECT_EQ(Value(nested).as<std::vector<std::vector<int>>>(), nested);
  EXPECT_EQ(Value(nullptr).as<std::optional<int>>(), std::nullopt);
  EXPECT_EQ(Value(5).as<std::optional<int>>(), 5);
  EXPECT_EQ((Value(std::vector<std::optional<int>>{1, std::nullopt, 3})
                 .as<std::vector<std::optional<int>>>()),
            (std::vector<std::optional<int>>{1, std::nullopt, 3}));
  EXPECT_EQ(Value(9).as<Value>().as<int>(), 9);
}

// Each refusal throws velq::Error with a message that says what was wanted and got;
// get gives nothing and is says false for the same cases.
TEST(CppValue, ConversionsThatRefuse) {
  Value array = Value(std::vector<Value>{Value(1), Value("two")});
  const struct {
    const char *what;
    std::function<void()> convert;
    std::function<bool()> is;
    const char *message;
  } cases[] = {
      {"text to int", [] { Value("abc").as<int>(); }, [] { return Value("abc").is<int>(); },
       "expected a number, got string"},
      {"null to double", [] { Value().as<double>(); }, [] { return Value().is<double>(); },
       "expected a number, got null"},
      {"fraction to int", [] { Value(2.5).as<int>(); }, [] { return Value(2.5).is<int>(); },
       "expected a whole number from -2147483648 to 2147483647, got 2.500000"},
      {"too big for uint8_t", [] { Value(300).as<uint8_t>(); },
       [] { return Value(300).is<uint8_t>(); }, "expected a whole number from 0 to 255, got 300"},
      {"negative to unsigned", [] { Value(-1).as<unsigned>(); },
       [] { return Value(-1).is<unsigned>(); },
       "expected a whole number from 0 to 4294967295, got -1"},
      {"uint64 max to int64", [] { Value(std::numeric_limits<uint64_t>::max()).as<int64_t>(); },
       [] { return Value(std::numeric_limits<uint64_t>::max()).is<int64_t>(); },
       "expected a whole number from -9223372036854775808 to 9223372036854775807, got "
       "18446744073709551615"},
      {"huge real to int64", [] { Value(1e19).as<int64_t>(); },
       [] { return Value(1e19).is<int64_t>(); },
       "expected a whole number from -9223372036854775808 to 9223372036854775807, got "
       "10000000000000000000.000000"},
      {"array to text", [&] { array.as<std::string>(); }, [&] { return array.is<std::string>(); },
       "expected a text, got array"},
      {"null to text", [] { Value().as<std::string>(); }, [] { return Value().is<std::string>(); },
       "expected a text, got null"},
      {"element of the wrong type", [&] { array.as<std::vector<int>>(); },
       [&] { return array.is<std::vector<int>>(); }, "element 1: expected a number, got string"},
      {"number to array", [] { Value(1).as<std::vector<int>>(); },
       [] { return Value(1).is<std::vector<int>>(); }, "expected an array, got int32"},
      {"long text to char", [] { Value("ab").as<char>(); }, [] { return Value("ab").is<char>(); },
       "expected a single character, got string"},
  };
  for (const auto &c : cases) {
    EXPECT_FALSE(c.is()) << c.what;
    try {
      c.convert();
      ADD_FAILURE() << c.what << ": no error";
    } catch (const velq::Error &error) {
      EXPECT_EQ(error.code(), velq::Error::Invalid) << c.what;
      EXPECT_EQ(error.message(), c.message) << c.what;
      EXPECT_STREQ(error.what(), c.message) << c.what;
    }
  }
  EXPECT_EQ(Value(2.5).get<int>(), std::nullopt);
  EXPECT_EQ(Value(2).get<int>(), 2);
}

TEST(CppValue, Arrays) {
  Value array = Value::array();
  EXPECT_EQ(array.size(), 0u);
  array.set(5, "five").set(-1, 1.5).set(0, std::vector<int>{7});
  EXPECT_EQ(array.size(), 3u);
  EXPECT_EQ(array[5].as<std::string>(), "five");
  EXPECT_TRUE(array[4].is_null());  // no element there
  EXPECT_EQ(array[0][0].as<int>(), 7);

  // Iteration goes in ascending index order, negative indices first.
  std::vector<int32_t> indices;
  std::vector<std::string> texts;
  for (const auto &[index, element] : array) {
    indices.push_back(index);
    texts.push_back(element.to_string());
  }
  EXPECT_EQ(indices, (std::vector<int32_t>{-1, 0, 5}));
  EXPECT_EQ(texts, (std::vector<std::string>{"1.500000", "[7]", "five"}));

  // A copy is independent of the original, nested arrays included.
  Value copy = array;
  copy.set(5, "changed");
  EXPECT_EQ(array[5].as<std::string>(), "five");
  Value inner = array[0];
  inner.set(0, 8);
  EXPECT_EQ(array[0][0].as<int>(), 7);

  // A moved-from value is null and may be assigned again.
  Value moved = std::move(copy);
  EXPECT_TRUE(copy.is_null());  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(moved[5].as<std::string>(), "changed");
  copy = moved;
  EXPECT_EQ(copy.size(), 3u);
}

TEST(CppValue, ArrayOperationsOnOtherValuesThrow) {
  Value number(3), null;
  for (Value *value : {&number, &null}) {
    EXPECT_THROW(value->size(), velq::Error);
    EXPECT_THROW((*value)[0], velq::Error);
    EXPECT_THROW(value->set(0, 1), velq::Error);
    EXPECT_THROW(value->begin(), velq::Error);
  }
  EXPECT_THROW(number.end(), velq::Error);
}

TEST(CppValue, HandlesAreTakenAndGivenBack) {
  velq_value *raw = nullptr;
  ASSERT_EQ(velq_value_int(12, &raw), VELQ_OK);
  Value taken = Value::take(raw);  // frees it
  EXPECT_EQ(taken.as<int>(), 12);
  velq_value *released = taken.release();
  EXPECT_TRUE(taken.is_null());
  velq_value_free(released);
}

}  // namespace
