// The value: reading texts as numbers, rendering, readers, conversion, copies,
// concatenation and the text cache.
#include <gtest/gtest.h>
#include <locale.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <memory>
#include <string>

#include "test_access.h"
#include "counting_class.h"
#include "values/number_text.h"
#include "velq_array.h"
#include "velq_object.h"
#include "velq_value.h"

namespace {

using ValuePtr = std::unique_ptr<VELQ_Value>;

// The value's whole text, embedded zero bytes included; "<none>" for a value
// without a text form.
std::string textOf(VELQ_Value *v) {
  uint32_t length = 12345;
  const char *text = v->getValueAsString(&length);
  if (!text) {
    EXPECT_EQ(length, 0u);
    return "<none>";
  }
  EXPECT_EQ(text[length], '\0') << "text not terminated";
  return std::string(text, length);
}

struct TextCase {
  const char *text;
  size_t length;  // bytes of text, or npos for a zero-terminated one
  int type;
  int64_t integer;  // the number for integer types
  double real;      // the number for reals
};

const size_t Z = std::string::npos;

TEST(ValueText, TextsReadAsNumbersOnlyWhenTheWholeTextIsOne) {
  const TextCase cases[] = {
      {"", Z, DTYPE_INT32, 0, 0},
      {"0x1F", Z, DTYPE_INT32, 31, 0},
      {"0X10", Z, DTYPE_INT32, 16, 0},
      {"1.50", Z, DTYPE_REAL, 0, 1.5},
      {"010", Z, DTYPE_INT32, 8, 0},
      {"09", Z, DTYPE_REAL, 0, 9.0},
      {" 12", Z, DTYPE_INT32, 12, 0},
      {"\t7", Z, DTYPE_INT32, 7, 0},
      {"12 ", Z, DTYPE_STRING, 0, 0},
      {"1e3", Z, DTYPE_REAL, 0, 1000.0},
      {"+5", Z, DTYPE_INT32, 5, 0},
      {"-0", Z, DTYPE_INT32, 0, 0},
      {".5", Z, DTYPE_REAL, 0, 0.5},
      {"5.", Z, DTYPE_REAL, 0, 5.0},
      {"-2.5e-3", Z, DTYPE_REAL, 0, -2.5e-3},
      {"2147483647", Z, DTYPE_INT32, 2147483647, 0},
      {"2147483648", Z, DTYPE_INT64, 2147483648, 0},
      {"-2147483647", Z, DTYPE_INT32, -2147483647, 0},
      {"-2147483648", Z, DTYPE_INT64, -2147483647 - 1, 0},
      {"-5000000000", Z, DTYPE_INT64, -5000000000, 0},
      {"0xFFFFFFFF", Z, DTYPE_INT64, 4294967295, 0},
      {"99999999999999999999", Z, DTYPE_INT64, INT64_MAX, 0},
      {"-99999999999999999999", Z, DTYPE_INT64, INT64_MIN, 0},
      {"abc", Z, DTYPE_STRING, 0, 0},
      {"   ", Z, DTYPE_STRING, 0, 0},
      {"-", Z, DTYPE_STRING, 0, 0},
      {"0x", Z, DTYPE_STRING, 0, 0},
      {"1e", Z, DTYPE_STRING, 0, 0},
      {"1,5", Z, DTYPE_STRING, 0, 0},
      {"12U", Z, DTYPE_STRING, 0, 0},
      {"inf", Z, DTYPE_STRING, 0, 0},
      {"nan", Z, DTYPE_STRING, 0, 0},
      {"0x1p3", Z, DTYPE_STRING, 0, 0},
      {"12\0ab", 5, DTYPE_STRING, 0, 0},  // a zero byte inside stops both parses
      {"12\0", 3, DTYPE_STRING, 0, 0},
      {"1.5\0", 4, DTYPE_STRING, 0, 0},
      {"\0", 1, DTYPE_STRING, 0, 0},
      {"12345", 2, DTYPE_INT32, 12, 0},  // only the counted bytes count
  };
  for (const TextCase &c : cases) {
    std::string text = c.length == Z ? std::string(c.text) : std::string(c.text, c.length);
    ValuePtr v(c.length == Z ? new VELQ_Value(c.text) : new VELQ_Value(c.text, (uint32_t)c.length));
    SCOPED_TRACE("text \"" + text + "\"");
    EXPECT_EQ(v->getDataType(), c.type);
    if (c.type == DTYPE_REAL) {
      EXPECT_EQ(v->getValueAsReal(), c.real);
    } else {
      EXPECT_EQ(v->getValueAsInt64(), c.integer);
    }
    EXPECT_TRUE(velq_test::hasCachedText(v));
    EXPECT_EQ(textOf(v.get()), text);  // the text it was built from stays its text
  }
}

TEST(ValueText, NullTextPointers) {
  ValuePtr zeroTerminated(new VELQ_Value(static_cast<const char *>(nullptr)));
  EXPECT_EQ(zeroTerminated->getDataType(), DTYPE_INT32);
  EXPECT_EQ(zeroTerminated->getValueAsInt32(), 0);
  EXPECT_EQ(textOf(zeroTerminated.get()), "");

  ValuePtr counted(new VELQ_Value(nullptr, 3));
  EXPECT_EQ(counted->getDataType(), DTYPE_STRING);
  EXPECT_EQ(textOf(counted.get()), std::string(3, '\0'));
}

struct RenderCase {
  const char *what;
  VELQ_Value *(*make)();
  const char *expected;
};

TEST(ValueText, NumbersRenderOnFirstRequestAndKeepTheText) {
  const RenderCase cases[] = {
      {"real 1.5", [] { return new VELQ_Value(1.5); }, "1.500000"},
      {"real -0.25", [] { return new VELQ_Value(-0.25); }, "-0.250000"},
      {"real 1e20", [] { return new VELQ_Value(1e20); }, "100000000000000000000.000000"},
      // 2^200 is exact as a double and renders far beyond any fixed small buffer.
      {"real -2^200", [] { return new VELQ_Value(-ldexp(1.0, 200)); },
       "-1606938044258990275541962092341162602522202993782792835301376.000000"},
      {"real nan", [] { return new VELQ_Value((double)NAN); }, "nan"},
      {"real -inf", [] { return new VELQ_Value(-HUGE_VAL); }, "-inf"},
      {"int32 min", [] { return new VELQ_Value((int32_t)INT32_MIN); }, "-2147483648"},
      {"int64 -1", [] { return new VELQ_Value((int64_t)-1); }, "-1"},
      {"int64 min", [] { return new VELQ_Value((int64_t)INT64_MIN); }, "-9223372036854775808"},
      {"uint32 max", [] { return new VELQ_Value((uint32_t)UINT32_MAX); }, "4294967295"},
      {"uint64 max", [] { return new VELQ_Value((uint64_t)UINT64_MAX); }, "18446744073709551615"},
      {"null", [] { return new VELQ_Value(); }, "<none>"},
      {"array", [] { return new VELQ_Value(new VELQ_Array()); }, "<none>"},
  };
  for (const RenderCase &c : cases) {
    SCOPED_TRACE(c.what);
    ValuePtr v(c.make());
    EXPECT_FALSE(velq_test::hasCachedText(v));
    EXPECT_EQ(textOf(v.get()), c.expected);
    EXPECT_EQ(velq_test::hasCachedText(v), v->isString());
    const char *cached = v->getValueAsCString();
    EXPECT_EQ(v->getValueAsCString(), cached);  // rendered once, then cached
  }
}

struct ReaderCase {
  const char *what;
  VELQ_Value *(*make)();
  int32_t int32;
  uint32_t uint32;
  int64_t int64;
  uint64_t uint64;
  double real;
};

TEST(ValueReaders, EveryTypeReadsAsEveryNumber) {
  const ReaderCase cases[] = {
      {"null", [] { return new VELQ_Value(); }, 0, 0, 0, 0, 0.0},
      {"string", [] { return new VELQ_Value("abc"); }, 0, 0, 0, 0, 0.0},
      {"object", [] { return new VELQ_Value(new VELQ_Object(nullptr, nullptr)); }, 0, 0, 0, 0, 0.0},
      {"int32 -1", [] { return new VELQ_Value((int32_t)-1); }, -1, 4294967295u, -1,
       18446744073709551615u, -1.0},
      {"uint32 max", [] { return new VELQ_Value((uint32_t)4294967295u); }, -1, 4294967295u,
       4294967295, 4294967295u, 4294967295.0},
      {"int64 2^32+5", [] { return new VELQ_Value((int64_t)4294967301); }, 5, 5, 4294967301,
       4294967301u, 4294967301.0},
      {"int64 min", [] { return new VELQ_Value((int64_t)INT64_MIN); }, 0, 0, INT64_MIN,
       9223372036854775808u, -9223372036854775808.0},
      {"uint64 2^63", [] { return new VELQ_Value((uint64_t)9223372036854775808u); }, 0, 0,
       INT64_MIN, 9223372036854775808u, 9223372036854775808.0},
      {"uint64 max", [] { return new VELQ_Value((uint64_t)UINT64_MAX); }, -1, 4294967295u, -1,
       UINT64_MAX, 18446744073709551616.0},
      {"real 3e9", [] { return new VELQ_Value(3e9); }, -1294967296, 3000000000u, 3000000000,
       3000000000u, 3e9},
      {"real -2.7", [] { return new VELQ_Value(-2.7); }, -2, 4294967294u, -2, 18446744073709551614u,
       -2.7},
      // No integer for these: they all read as -2^63, whose low 32 bits are 0.
      {"real nan", [] { return new VELQ_Value((double)NAN); }, 0, 0, INT64_MIN,
       9223372036854775808u, NAN},
      {"real 1e19", [] { return new VELQ_Value(1e19); }, 0, 0, INT64_MIN, 9223372036854775808u,
       1e19},
      {"real -inf", [] { return new VELQ_Value(-HUGE_VAL); }, 0, 0, INT64_MIN, 9223372036854775808u,
       -HUGE_VAL},
      {"text 0x10", [] { return new VELQ_Value("0x10"); }, 16, 16, 16, 16, 16.0},
  };
  for (const ReaderCase &c : cases) {
    SCOPED_TRACE(c.what);
    ValuePtr v(c.make());
    bool hadText = velq_test::hasCachedText(v);
    EXPECT_EQ(v->getValueAsInt32(), c.int32);
    EXPECT_EQ(v->getValueAsUInt32(), c.uint32);
    EXPECT_EQ(v->getValueAsInt64(), c.int64);
    EXPECT_EQ(v->getValueAsUInt64(), c.uint64);
    if (isnan(c.real)) {
      EXPECT_TRUE(isnan(v->getValueAsReal()));
    } else {
      EXPECT_EQ(v->getValueAsReal(), c.real);
    }
    EXPECT_EQ(velq_test::hasCachedText(v), hadText);  // readers never render
  }
}

TEST(ValueReaders, TypeQueriesFollowTheCodeRanges) {
  // null, object, array, string, real, int32, int64, uint32, uint64
  ValuePtr values[] = {
      ValuePtr(new VELQ_Value()),
      ValuePtr(new VELQ_Value(new VELQ_Object(nullptr, nullptr))),
      ValuePtr(new VELQ_Value(new VELQ_Array())),
      ValuePtr(new VELQ_Value("x")),
      ValuePtr(new VELQ_Value(1.0)),
      ValuePtr(new VELQ_Value((int32_t)1)),
      ValuePtr(new VELQ_Value((int64_t)1)),
      ValuePtr(new VELQ_Value((uint32_t)1)),
      ValuePtr(new VELQ_Value((uint64_t)1)),
  };
  for (int type = 0; type < VELQ_TYPE_COUNT; type++) {
    VELQ_Value *v = values[type].get();
    SCOPED_TRACE(VELQ_TypeName(type));
    EXPECT_EQ(v->getDataType(), type);
    EXPECT_EQ(v->isNull(), type == 0);
    EXPECT_EQ(v->isObject(), type == 1);
    EXPECT_EQ(v->isArray(), type == 2);
    EXPECT_EQ(v->isString(), type >= 3);
    EXPECT_EQ(v->isNumeric(), type >= 4);
    EXPECT_EQ(v->isReal(), type == 4);
    EXPECT_EQ(v->isInteger(), type >= 5);
    EXPECT_EQ(v->isUnsigned(), type >= 7);
    EXPECT_EQ(v->getValueAsObject() != nullptr, type == 1);
    EXPECT_EQ(v->getValueAsArray() != nullptr, type == 2);
  }
}

TEST(ValueReaders, ZeroTestsAnswerOnlyForNumbers) {
  const struct {
    const char *what;
    VELQ_Value *(*make)();
    bool zero;
    bool nonZero;
  } cases[] = {
      {"null", [] { return new VELQ_Value(); }, false, false},
      {"string", [] { return new VELQ_Value("abc"); }, false, false},
      {"object", [] { return new VELQ_Value(new VELQ_Object(nullptr, nullptr)); }, false, false},
      {"real 0", [] { return new VELQ_Value(0.0); }, true, false},
      {"real -0", [] { return new VELQ_Value(-0.0); }, true, false},
      {"real tiny", [] { return new VELQ_Value(4.9e-324); }, false, true},
      {"real nan", [] { return new VELQ_Value((double)NAN); }, false, true},
      {"int32 0", [] { return new VELQ_Value((int32_t)0); }, true, false},
      {"int32 min", [] { return new VELQ_Value((int32_t)INT32_MIN); }, false, true},
      {"uint32 0", [] { return new VELQ_Value((uint32_t)0); }, true, false},
      {"int64 2^32", [] { return new VELQ_Value((int64_t)4294967296); }, false, true},
      {"uint64 2^63", [] { return new VELQ_Value((uint64_t)9223372036854775808u); }, false, true},
      {"uint64 0", [] { return new VELQ_Value((uint64_t)0); }, true, false},
      {"text 0", [] { return new VELQ_Value("0"); }, true, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    ValuePtr v(c.make());
    EXPECT_EQ(v->isZero(), c.zero);
    EXPECT_EQ(v->isNonZero(), c.nonZero);
  }
}

struct ConvertCase {
  const char *what;
  VELQ_Value *(*make)();
  int target;
  bool result;
  int type;          // the type afterwards
  const char *text;  // the text afterwards
};

TEST(ValueConvert, ConvertsByTheTableAndDropsTheTextOnAChange) {
  const ConvertCase cases[] = {
      // Already of the type, or of a text form for a string target: nothing changes.
      {"int32 to string", [] { return new VELQ_Value((int32_t)5); }, DTYPE_STRING, true,
       DTYPE_INT32, "5"},
      {"text 1.50 to string", [] { return new VELQ_Value("1.50"); }, DTYPE_STRING, true, DTYPE_REAL,
       "1.50"},
      {"text 0x1F to int32", [] { return new VELQ_Value("0x1F"); }, DTYPE_INT32, true, DTYPE_INT32,
       "0x1F"},
      {"null to null", [] { return new VELQ_Value(); }, DTYPE_NULL, true, DTYPE_NULL, "<none>"},
      // Targets outside string..uint64 fail, unless already of the type.
      {"int32 to null", [] { return new VELQ_Value("7"); }, DTYPE_NULL, false, DTYPE_INT32, "7"},
      {"int32 to object", [] { return new VELQ_Value("7"); }, DTYPE_OBJECT, false, DTYPE_INT32,
       "7"},
      {"int32 to array", [] { return new VELQ_Value("7"); }, DTYPE_ARRAY, false, DTYPE_INT32, "7"},
      {"int32 to 9", [] { return new VELQ_Value("7"); }, 9, false, DTYPE_INT32, "7"},
      {"int32 to -1", [] { return new VELQ_Value("7"); }, -1, false, DTYPE_INT32, "7"},
      {"string to null", [] { return new VELQ_Value("x"); }, DTYPE_NULL, false, DTYPE_STRING, "x"},
      // Unsigned 64-bit never becomes a real.
      {"uint64 to real", [] { return new VELQ_Value((uint64_t)5); }, DTYPE_REAL, false,
       DTYPE_UINT64, "5"},
      {"null to string", [] { return new VELQ_Value(); }, DTYPE_STRING, true, DTYPE_STRING, ""},
      {"null to real", [] { return new VELQ_Value(); }, DTYPE_REAL, true, DTYPE_REAL, "0.000000"},
      {"null to uint64", [] { return new VELQ_Value(); }, DTYPE_UINT64, true, DTYPE_UINT64, "0"},
      {"string abc to int32", [] { return new VELQ_Value("abc"); }, DTYPE_INT32, true, DTYPE_INT32,
       "0"},
      {"string abc to real", [] { return new VELQ_Value("abc"); }, DTYPE_REAL, true, DTYPE_REAL,
       "0.000000"},
      {"text 1.50 to int32", [] { return new VELQ_Value("1.50"); }, DTYPE_INT32, true, DTYPE_INT32,
       "1"},
      {"real -2.7 to int32", [] { return new VELQ_Value(-2.7); }, DTYPE_INT32, true, DTYPE_INT32,
       "-2"},
      {"real 3e9 to int32", [] { return new VELQ_Value(3e9); }, DTYPE_INT32, true, DTYPE_INT32,
       "-1294967296"},
      {"real 3e9 to uint32", [] { return new VELQ_Value(3e9); }, DTYPE_UINT32, true, DTYPE_UINT32,
       "3000000000"},
      {"real -1 to uint64", [] { return new VELQ_Value(-1.0); }, DTYPE_UINT64, true, DTYPE_UINT64,
       "18446744073709551615"},
      {"real nan to int64", [] { return new VELQ_Value((double)NAN); }, DTYPE_INT64, true,
       DTYPE_INT64, "-9223372036854775808"},
      {"real nan to int32", [] { return new VELQ_Value((double)NAN); }, DTYPE_INT32, true,
       DTYPE_INT32, "0"},
      {"real 1e30 to uint64", [] { return new VELQ_Value(1e30); }, DTYPE_UINT64, true, DTYPE_UINT64,
       "9223372036854775808"},
      {"real -inf to int64", [] { return new VELQ_Value(-HUGE_VAL); }, DTYPE_INT64, true,
       DTYPE_INT64, "-9223372036854775808"},
      {"int32 -1 to uint32", [] { return new VELQ_Value((int32_t)-1); }, DTYPE_UINT32, true,
       DTYPE_UINT32, "4294967295"},
      {"int32 -1 to uint64", [] { return new VELQ_Value((int32_t)-1); }, DTYPE_UINT64, true,
       DTYPE_UINT64, "18446744073709551615"},
      {"int32 -3 to real", [] { return new VELQ_Value("-3"); }, DTYPE_REAL, true, DTYPE_REAL,
       "-3.000000"},
      {"int64 2^32+3 to int32", [] { return new VELQ_Value((int64_t)4294967299); }, DTYPE_INT32,
       true, DTYPE_INT32, "3"},
      {"int64 -1 to uint32", [] { return new VELQ_Value((int64_t)-1); }, DTYPE_UINT32, true,
       DTYPE_UINT32, "4294967295"},
      {"int64 2^53+1 to real", [] { return new VELQ_Value((int64_t)9007199254740993); }, DTYPE_REAL,
       true, DTYPE_REAL, "9007199254740992.000000"},
      {"uint32 max to int64", [] { return new VELQ_Value((uint32_t)4294967295u); }, DTYPE_INT64,
       true, DTYPE_INT64, "4294967295"},
      {"uint32 max to int32", [] { return new VELQ_Value((uint32_t)4294967295u); }, DTYPE_INT32,
       true, DTYPE_INT32, "-1"},
      {"uint32 max to real", [] { return new VELQ_Value((uint32_t)4294967295u); }, DTYPE_REAL, true,
       DTYPE_REAL, "4294967295.000000"},
      {"uint64 max to int32", [] { return new VELQ_Value((uint64_t)UINT64_MAX); }, DTYPE_INT32,
       true, DTYPE_INT32, "-1"},
      {"uint64 max to int64", [] { return new VELQ_Value((uint64_t)UINT64_MAX); }, DTYPE_INT64,
       true, DTYPE_INT64, "-1"},
  };
  for (const ConvertCase &c : cases) {
    SCOPED_TRACE(c.what);
    ValuePtr v(c.make());
    EXPECT_EQ(v->convert(c.target), c.result);
    EXPECT_EQ(v->getDataType(), c.type);
    EXPECT_EQ(textOf(v.get()), c.text);
  }
}

TEST(ValueConvert, UnsignedSixtyFourBitRefusesRealAndStaysUntouched) {
  ValuePtr v(new VELQ_Value((uint64_t)9223372036854775808u));
  v->getValueAsCString();  // give it a cached text that must survive
  EXPECT_FALSE(v->convert(DTYPE_REAL));
  EXPECT_EQ(v->getDataType(), DTYPE_UINT64);
  EXPECT_EQ(v->getValueAsUInt64(), 9223372036854775808u);
  EXPECT_TRUE(velq_test::hasCachedText(v));
  EXPECT_EQ(v->getValueAsReal(), 9223372036854775808.0);
}

TEST(ValueConvert, ObjectsAndArraysCountAsStringsAndBecomeZeroNumbers) {
  CountingClass klass;
  int tag;
  ValuePtr object(newProbe(&klass, &tag));
  VELQ_Object *record = object->getValueAsObject();
  EXPECT_TRUE(object->convert(DTYPE_STRING));
  EXPECT_EQ(object->getValueAsObject(), record);
  EXPECT_EQ(object->getValueAsCString(), nullptr);
  EXPECT_TRUE(object->convert(DTYPE_INT32));  // the record goes with the change
  EXPECT_EQ(klass.deletionsOf(&tag), 1);
  EXPECT_EQ(textOf(object.get()), "0");

  VELQ_Array *array = new VELQ_Array();
  ValuePtr holder(new VELQ_Value(array));
  ValuePtr arrayValue(new VELQ_Value(array));
  EXPECT_TRUE(arrayValue->convert(DTYPE_STRING));
  EXPECT_EQ(arrayValue->getValueAsArray(), array);
  EXPECT_EQ(velq_test::refCountOf(array), 2);
  EXPECT_TRUE(arrayValue->convert(DTYPE_REAL));
  EXPECT_EQ(velq_test::refCountOf(array), 1);
  EXPECT_EQ(arrayValue->getValueAsReal(), 0.0);
}

TEST(ValueConvert, NullConvertedToStringReadsAsTheEmptyText) {
  ValuePtr v(new VELQ_Value());
  ASSERT_TRUE(v->convert(DTYPE_STRING));
  ASSERT_NE(v->getValueAsCString(), nullptr);
  EXPECT_STREQ(v->getValueAsCString(), "");
  ValuePtr copy(new VELQ_Value(v.get()));
  EXPECT_EQ(copy->getDataType(), DTYPE_STRING);
  EXPECT_EQ(textOf(copy.get()), "");
  EXPECT_FALSE(copy->isZero());
}

TEST(ValueCopy, CopiesNumbersAndTextsIndependently) {
  ValuePtr fromNull(new VELQ_Value(static_cast<const VELQ_Value *>(nullptr)));
  EXPECT_TRUE(fromNull->isNull());
  EXPECT_FALSE(velq_test::hasCachedText(fromNull));

  const char bytes[] = {'a', '\0', 'b', '\0', 'c'};
  ValuePtr text(new VELQ_Value(bytes, sizeof bytes));
  ValuePtr textCopy(new VELQ_Value(text.get()));
  EXPECT_EQ(textOf(textCopy.get()), std::string(bytes, sizeof bytes));
  EXPECT_NE(textCopy->getValueAsCString(), text->getValueAsCString());

  ValuePtr number(new VELQ_Value("0x10"));
  ValuePtr numberCopy(new VELQ_Value(number.get()));
  EXPECT_EQ(numberCopy->getDataType(), DTYPE_INT32);
  EXPECT_EQ(textOf(numberCopy.get()), "0x10");
  number->increment();
  EXPECT_EQ(textOf(number.get()), "17");
  EXPECT_EQ(textOf(numberCopy.get()), "0x10");

  ValuePtr rendered(new VELQ_Value(2.5));
  ValuePtr renderedCopy(new VELQ_Value(rendered.get()));
  EXPECT_FALSE(velq_test::hasCachedText(renderedCopy));  // nothing cached, nothing copied
  EXPECT_EQ(renderedCopy->getValueAsReal(), 2.5);
}

TEST(ValueCopy, ObjectCopiesGetTheirOwnRecordSharingClassAndData) {
  CountingClass klass;
  int data;
  VELQ_Value *first = newProbe(&klass, &data);
  VELQ_Value *second = new VELQ_Value(first);
  ASSERT_NE(second->getValueAsObject(), first->getValueAsObject());
  EXPECT_EQ(second->getValueAsObject()->getClass(), &klass);
  EXPECT_EQ(second->getValueAsObject()->getData(), &data);
  delete first;
  EXPECT_EQ(second->getValueAsObject()->getClass(), &klass);
  EXPECT_EQ(second->getValueAsObject()->getData(), &data);
  EXPECT_EQ(klass.deletions, 0);
  delete second;
  EXPECT_EQ(klass.deletionsOf(&data), 1);

  ValuePtr nullObject(new VELQ_Value(static_cast<VELQ_Object *>(nullptr)));
  ValuePtr nullObjectCopy(new VELQ_Value(nullObject.get()));
  EXPECT_TRUE(nullObjectCopy->isObject());
  EXPECT_EQ(nullObjectCopy->getValueAsObject(), nullptr);
}

TEST(ValueCopy, ArrayCopiesShareTheArrayByReference) {
  CountingClass klass;
  int element;
  VELQ_Array *array = new VELQ_Array();
  array->set(1, newProbe(&klass, &element));
  VELQ_Value *first = new VELQ_Value(array);
  EXPECT_EQ(velq_test::refCountOf(array), 1);
  VELQ_Value *second = new VELQ_Value(first);
  EXPECT_EQ(second->getValueAsArray(), array);
  EXPECT_EQ(velq_test::refCountOf(array), 2);
  delete first;
  EXPECT_EQ(velq_test::refCountOf(array), 1);
  EXPECT_EQ(klass.deletions, 0);
  delete second;  // the last reference deletes the array and its elements
  EXPECT_EQ(klass.deletionsOf(&element), 1);
}

struct ConcatenateCase {
  const char *what;
  VELQ_Value *(*make)();
  std::string appended;
  int type;
  std::string text;
};

TEST(ValueConcatenate, JoinsTheTextAndReadsItAgain) {
  const ConcatenateCase cases[] = {
      {"int32 12 . 34", [] { return new VELQ_Value((int32_t)12); }, "34", DTYPE_INT32, "1234"},
      {"ab . 1", [] { return new VELQ_Value("ab"); }, "1", DTYPE_STRING, "ab1"},
      {"real 1.5 . x", [] { return new VELQ_Value(1.5); }, "x", DTYPE_STRING, "1.500000x"},
      {"int32 5 . abc", [] { return new VELQ_Value((int32_t)5); }, "abc", DTYPE_STRING, "5abc"},
      {"text 1 . e3", [] { return new VELQ_Value("1"); }, "e3", DTYPE_REAL, "1e3"},
      {"text 0x . 1F", [] { return new VELQ_Value("0x"); }, "1F", DTYPE_INT32, "0x1F"},
      {"text 1.50 . 0", [] { return new VELQ_Value("1.50"); }, "0", DTYPE_REAL, "1.500"},
      {"text 2147483647 . 0", [] { return new VELQ_Value("2147483647"); }, "0", DTYPE_INT64,
       "21474836470"},
      {"null . 7", [] { return new VELQ_Value(); }, "7", DTYPE_INT32, "7"},
      {"null . nothing", [] { return new VELQ_Value(); }, "", DTYPE_INT32, ""},
      {"array . x", [] { return new VELQ_Value(new VELQ_Array()); }, "x", DTYPE_STRING, "x"},
      {"a . zero byte b", [] { return new VELQ_Value("a"); }, std::string("\0b", 2), DTYPE_STRING,
       std::string("a\0b", 3)},
      {"1 . zero byte", [] { return new VELQ_Value("1"); }, std::string("\0", 1), DTYPE_STRING,
       std::string("1\0", 2)},
  };
  for (const ConcatenateCase &c : cases) {
    SCOPED_TRACE(c.what);
    ValuePtr v(c.make());
    v->concatenate(c.appended.data(), (uint32_t)c.appended.size());
    EXPECT_EQ(v->getDataType(), c.type);
    EXPECT_EQ(textOf(v.get()), c.text);
  }
  ValuePtr v(new VELQ_Value("12"));
  v->concatenate("34", 2);
  EXPECT_EQ(v->getValueAsInt32(), 1234);
  v->concatenate(nullptr, 2);  // a null text appends zero bytes
  EXPECT_EQ(v->getDataType(), DTYPE_STRING);
  EXPECT_EQ(textOf(v.get()), std::string("1234\0\0", 6));
}

TEST(ValueConcatenate, ReleasesTheObjectItHeld) {
  CountingClass klass;
  int data;
  ValuePtr v(newProbe(&klass, &data));
  v->concatenate("5", 1);
  EXPECT_EQ(klass.deletionsOf(&data), 1);
  EXPECT_EQ(v->getDataType(), DTYPE_INT32);
  EXPECT_EQ(v->getValueAsObject(), nullptr);
}

TEST(ValueConcatenate, AppendsPartsOfItsOwnText) {
  ValuePtr v(new VELQ_Value("abcdef"));
  v->concatenate(v->getValueAsCString() + 2, 4);
  EXPECT_EQ(textOf(v.get()), "abcdefcdef");
  // Doubling repeatedly makes the block move while its own bytes are the source.
  for (int i = 0; i < 6; i++) {
    uint32_t length = 0;
    const char *text = v->getValueAsString(&length);
    v->concatenate(text, length);
  }
  std::string expected = "abcdefcdef";
  for (int i = 0; i < 6; i++) expected += expected;
  EXPECT_EQ(textOf(v.get()), expected);
}

TEST(ValueSet, SetReplacesAnyContentWithAnInt32) {
  CountingClass klass;
  int data;
  VELQ_Array *array = new VELQ_Array();
  array->set(0, newProbe(&klass, &data));
  VELQ_Value *(*makers[])() = {
      [] { return new VELQ_Value(); }, [] { return new VELQ_Value("text"); },
      [] { return new VELQ_Value("1.50"); }, [] { return new VELQ_Value((uint64_t)7); }};
  for (auto make : makers) {
    ValuePtr v(make());
    v->set(-9);
    EXPECT_EQ(v->getDataType(), DTYPE_INT32);
    EXPECT_EQ(textOf(v.get()), "-9");
  }
  ValuePtr arrayValue(new VELQ_Value(array));
  arrayValue->set(3);
  EXPECT_EQ(klass.deletionsOf(&data), 1);  // the array went with its last reference
  EXPECT_EQ(arrayValue->getValueAsInt32(), 3);
}

TEST(ValueTypeNames, OneNamePerCode) {
  const char *const expected[] = {"null",  "object", "array",  "string", "real",
                                  "int32", "int64",  "uint32", "uint64"};
  for (int type = 0; type < VELQ_TYPE_COUNT; type++) {
    EXPECT_STREQ(VELQ_TypeNames[type], expected[type]);
    EXPECT_STREQ(VELQ_TypeName(type), expected[type]);
  }
  for (int type : {-1, (int)VELQ_TYPE_COUNT, 255, INT32_MIN})
    EXPECT_STREQ(VELQ_TypeName(type), "unknown");
}

// A host that switches to a locale with a decimal comma must still get '.' in
// texts read and rendered by values.
TEST(ValueLocale, ReadingAndRenderingIgnoreTheHostLocale) {
  const char *candidates[] = {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "fr_FR"};
  std::string previous = setlocale(LC_NUMERIC, nullptr);
  const char *chosen = nullptr;
  for (const char *name : candidates) {
    if (setlocale(LC_NUMERIC, name)) {
      chosen = name;
      break;
    }
  }
  if (!chosen) GTEST_SKIP() << "no locale with a decimal comma is installed";
  char probe[32];
  snprintf(probe, sizeof probe, "%f", 1.5);
  if (strcmp(probe, "1,500000") != 0) {
    setlocale(LC_NUMERIC, previous.c_str());
    GTEST_SKIP() << chosen << " does not use a decimal comma";
  }

  ValuePtr read(new VELQ_Value("1.5"));
  ValuePtr comma(new VELQ_Value("1,5"));
  ValuePtr rendered(new VELQ_Value(1.5));
  ValuePtr large(new VELQ_Value(1234567.25));
  std::string renderedText = textOf(rendered.get());
  std::string largeText = textOf(large.get());
  const char *end = nullptr;
  double parsed = VELQ_ParseReal("2.25", &end);
  setlocale(LC_NUMERIC, previous.c_str());

  EXPECT_EQ(read->getDataType(), DTYPE_REAL);
  EXPECT_EQ(read->getValueAsReal(), 1.5);
  EXPECT_EQ(comma->getDataType(), DTYPE_STRING);
  EXPECT_EQ(renderedText, "1.500000");
  EXPECT_EQ(largeText, "1234567.250000");
  EXPECT_EQ(parsed, 2.25);
}

}  // namespace
