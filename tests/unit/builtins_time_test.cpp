// The time built-ins and the TIME class called directly: broken-down fields through
// the attributes, the 32-bit reading of times, strftime's limits, and the release of
// the records that TIME objects carry.
#include <stdint.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "builtin_call.h"
#include "builtins/time_class.h"

using namespace velq_test;

using std::string;

namespace {

// Calls localtime or gmtime and hands back the TIME value it made (the caller deletes
// it), or null after a failure, whose code goes to *rc.
VELQ_Value *makeTime(VELQ_ExtFunctionHandler handler, const std::vector<Const> &args,
                     int *rc = nullptr) {
  std::vector<VELQ_Value *> argv;
  for (const Const &c : args) argv.push_back(c.make());
  VELQ_Value *result = nullptr;
  int code = handler((int32_t)argv.size(), argv.empty() ? nullptr : argv.data(), &result, nullptr);
  if (rc) *rc = code;
  for (VELQ_Value *v : argv) delete v;
  return result;
}

// The int32 an attribute reads as, or a note that it gave no value.
string attribute(VELQ_Value *timeValue, const char *name) {
  VELQ_Object *object = timeValue->getValueAsObject();
  VELQ_Value *v = object->getClass()->getAttr(object, name);
  if (!v) return "<no value>";
  string text =
      VELQ_TypeName(v->getDataType()) + string(" ") + std::to_string(v->getValueAsInt32());
  delete v;
  return text;
}

struct Field {
  const char *name;
  int expected;
};

void expectFields(VELQ_Value *timeValue, const std::vector<Field> &fields) {
  for (const Field &f : fields) {
    SCOPED_TRACE(f.name);
    EXPECT_EQ(attribute(timeValue, f.name), "int32 " + std::to_string(f.expected));
  }
}

}  // namespace

TEST(BuiltinTime, GmtimeOfZeroReadsThroughEveryAttributeName) {
  VELQ_Value *t = makeTime(velqGmtime, {i32(0)});
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(t->getDataType(), DTYPE_OBJECT);
  EXPECT_EQ(t->getValueAsObject()->getClass(), &VELQ_TimeClass);
  EXPECT_STREQ(t->getValueAsObject()->getClass()->getName(), "TIME");
  expectFields(t, {{"sec", 0},
                   {"tm_sec", 0},
                   {"min", 0},
                   {"tm_min", 0},
                   {"hour", 0},
                   {"tm_hour", 0},
                   {"mday", 1},
                   {"tm_mday", 1},
                   {"mon", 0},
                   {"tm_mon", 0},
                   {"year", 1970},
                   {"tm_year", 1970},
                   {"yday", 0},
                   {"tm_yday", 0},
                   {"wday", 4},
                   {"tm_wday", 4},
                   {"isdst", 0},
                   {"tm_isdst", 0}});
  delete t;
}

TEST(BuiltinTime, TimesAreReadAsUnsigned32Bits) {
  struct Row {
    const char *label;
    Const time;
    std::vector<Field> fields;
  } rows[] = {
      {"one day", i32(86400), {{"mday", 2}, {"yday", 1}, {"wday", 5}}},
      {"numeric text", str("86400"), {{"mday", 2}}},
      {"fields",
       i32(1000000000),
       {{"year", 2001}, {"mon", 8}, {"mday", 9}, {"hour", 1}, {"min", 46}, {"sec", 40}}},
      // -1 is 4294967295: 2106-02-07 06:28:15, a Sunday.
      {"all bits",
       i32(-1),
       {{"year", 2106},
        {"mon", 1},
        {"mday", 7},
        {"hour", 6},
        {"min", 28},
        {"sec", 15},
        {"wday", 0}}},
      {"uint32", u32(4294967295u), {{"year", 2106}, {"sec", 15}}},
      {"past 2038", u32(2147483648u), {{"year", 2038}, {"mon", 0}, {"mday", 19}, {"hour", 3}}},
      {"int64 low bits", i64(4294967296LL + 86400), {{"year", 1970}, {"mday", 2}}},
      {"uint64 low bits", u64(0xFFFFFFFF00000000ull), {{"year", 1970}, {"mday", 1}, {"hour", 0}}},
  };
  for (Row &row : rows) {
    SCOPED_TRACE(row.label);
    VELQ_Value *t = makeTime(velqGmtime, {row.time});
    ASSERT_NE(t, nullptr);
    expectFields(t, row.fields);
    delete t;
  }
}

TEST(BuiltinTime, LocaltimeFollowsThePlatformsLocalTime) {
  for (uint32_t seconds : {0u, 1000000000u, 1700000000u, 4294967295u}) {
    SCOPED_TRACE(seconds);
    time_t t = seconds;
    struct tm expected;
    ASSERT_NE(localtime_r(&t, &expected), nullptr);
    VELQ_Value *value = makeTime(velqLocaltime, {u32(seconds)});
    ASSERT_NE(value, nullptr);
    expectFields(value, {{"sec", expected.tm_sec},
                         {"min", expected.tm_min},
                         {"hour", expected.tm_hour},
                         {"mday", expected.tm_mday},
                         {"mon", expected.tm_mon},
                         {"year", expected.tm_year + 1900},
                         {"wday", expected.tm_wday},
                         {"yday", expected.tm_yday},
                         {"isdst", expected.tm_isdst}});
    delete value;
  }
}

// Without an argument both describe the current second.
TEST(BuiltinTime, NoArgumentMeansNow) {
  for (VELQ_ExtFunctionHandler handler : {velqGmtime, velqLocaltime}) {
    time_t before = time(nullptr);
    VELQ_Value *value = makeTime(handler, {});
    time_t after = time(nullptr);
    ASSERT_NE(value, nullptr);
    struct tm *record = (struct tm *)value->getValueAsObject()->getData();
    struct tm copy = *record;
    time_t seen = handler == velqGmtime ? timegm(&copy) : mktime(&copy);
    EXPECT_GE(seen, before);
    EXPECT_LE(seen, after);
    delete value;
  }
}

TEST(BuiltinTime, TimeIsTheCurrentUint32) {
  uint32_t before = (uint32_t)time(nullptr);
  BuiltinOutcome out = callBuiltin(velqTime, {});
  uint32_t after = (uint32_t)time(nullptr);
  ASSERT_EQ(out.rc, 0);
  EXPECT_EQ(out.type, DTYPE_UINT32);
  uint32_t now = (uint32_t)std::stoul(out.text);
  EXPECT_GE(now, before);
  EXPECT_LE(now, after);
}

TEST(BuiltinTime, LocaltimeAndGmtimeRefusals) {
  for (VELQ_ExtFunctionHandler handler : {velqGmtime, velqLocaltime}) {
    checkCases({
        fails("real", handler, {real(1.5)}, VELQ_ERR_NOT_WHOLE),
        fails("whole real", handler, {real(1.0)}, VELQ_ERR_NOT_WHOLE),
        fails("null", handler, {null()}, VELQ_ERR_NOT_WHOLE),
        fails("text", handler, {str("x")}, VELQ_ERR_NOT_WHOLE),
        fails("array", handler, {array()}, VELQ_ERR_NOT_WHOLE),
        fails("two arguments", handler, {i32(1), i32(2)}, VELQ_ERR_ARGUMENT_COUNT),
        fails("count before type", handler, {real(1.5), real(2.5)}, VELQ_ERR_ARGUMENT_COUNT),
    });
  }
}

TEST(BuiltinTime, UnknownAttributesGiveNoValueAndNoneCanBeSet) {
  VELQ_Value *t = makeTime(velqGmtime, {i32(0)});
  ASSERT_NE(t, nullptr);
  for (const char *name : {"day", "Year", "SEC", "tm_sec ", "", "tm_", "years", "gmtoff"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(attribute(t, name), "<no value>");
  }
  VELQ_Object *object = t->getValueAsObject();
  VELQ_Value five((int32_t)5);
  for (const char *name : {"sec", "year", "x"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(object->getClass()->setAttr(object, name, &five), 0);
  }
  EXPECT_EQ(attribute(t, "sec"), "int32 0");
  delete t;
}

TEST(BuiltinTime, StrftimeFormatsTheGivenTime) {
  checkCases({
      gives("date in UTC", velqStrftime, {str("%Y-%m-%d"), i32(0), i32(0)}, DTYPE_STRING,
            "1970-01-01"),
      gives("time in UTC", velqStrftime, {str("%H:%M"), i32(3600), i32(0)}, DTYPE_STRING, "01:00"),
      gives("plain text", velqStrftime, {str("x")}, DTYPE_STRING, "x"),
      gives("empty format", velqStrftime, {str(""), i32(0), i32(0)}, DTYPE_INT32, ""),
      gives("number result", velqStrftime, {str("%Y"), i32(0), i32(0)}, DTYPE_INT32, "1970"),
      gives("real time truncated", velqStrftime, {str("%S"), real(59.9), i32(0)}, DTYPE_INT32,
            "59"),
      gives("all bits", velqStrftime, {str("%Y"), i32(-1), i32(0)}, DTYPE_INT32, "2106"),
      gives("int64 low bits", velqStrftime, {str("%d"), i64(4294967296LL + 86400), i32(0)},
            DTYPE_INT32, "02"),
      gives("uint64 flag", velqStrftime, {str("%H"), i32(3600), u64(0)}, DTYPE_INT32, "01"),
      gives("text flag that is a number", velqStrftime, {str("%H"), i32(3600), str("0")},
            DTYPE_INT32, "01"),
      gives("format ends at a zero byte", velqStrftime,
            {bytes(string("%Y\0%m", 5)), i32(0), i32(0)}, DTYPE_INT32, "1970"),
      gives("format from a number", velqStrftime, {i32(42), i32(0), i32(0)}, DTYPE_INT32, "42"),
      fails("no argument", velqStrftime, {}, VELQ_ERR_ARGUMENT_COUNT),
      fails("four arguments", velqStrftime, {str("%d"), i32(0), i32(0), i32(0)},
            VELQ_ERR_ARGUMENT_COUNT),
      fails("array format", velqStrftime, {array(), str("x"), real(1.0)}, VELQ_ERR_NOT_STRING),
      fails("null format", velqStrftime, {null()}, VELQ_ERR_NOT_STRING),
      fails("text time", velqStrftime, {str("%d"), str("x")}, VELQ_ERR_BAD_ARITHMETIC),
      fails("array time", velqStrftime, {str("%d"), array(), real(1.0)}, VELQ_ERR_BAD_ARITHMETIC),
      fails("object time", velqStrftime,
            {str("%d"), Const{[] { return makeTime(velqGmtime, {i32(0)}); }}},
            VELQ_ERR_BAD_ARITHMETIC),
      fails("real flag", velqStrftime, {str("%d"), i32(0), real(1.0)},
            VELQ_ERR_CONDITION_NOT_NUMBER),
      fails("null flag", velqStrftime, {str("%d"), i32(0), null()}, VELQ_ERR_CONDITION_NOT_NUMBER),
      fails("text flag", velqStrftime, {str("%d"), i32(0), str("x")},
            VELQ_ERR_CONDITION_NOT_NUMBER),
  });
}

// With the flag set, or without a flag, the time is local.
TEST(BuiltinTime, StrftimeIsLocalUnlessTheFlagIsZero) {
  time_t t = 1000000000;
  struct tm local;
  ASSERT_NE(localtime_r(&t, &local), nullptr);
  char expected[64];
  strftime(expected, sizeof expected, "%Y-%m-%d %H:%M:%S", &local);
  for (std::vector<Const> args :
       {std::vector<Const>{str("%Y-%m-%d %H:%M:%S"), i32(1000000000)},
        std::vector<Const>{str("%Y-%m-%d %H:%M:%S"), i32(1000000000), i32(-7)}}) {
    BuiltinOutcome out = callBuiltin(velqStrftime, args);
    EXPECT_EQ(out.rc, 0);
    EXPECT_EQ(out.text, expected);
  }
  EXPECT_EQ(callBuiltin(velqStrftime, {str("%Y-%m-%d %H:%M:%S"), i32(1000000000), i32(0)}).text,
            "2001-09-09 01:46:40");
}

// A null time means now, in the two- and the three-argument form; so does no time.
TEST(BuiltinTime, StrftimeNullTimeMeansNow) {
  const char *format = "%Y-%m-%d %H:%M:%S";
  struct Row {
    std::vector<Const> args;
    bool local;
  } rows[] = {
      {{str(format)}, true},
      {{str(format), null()}, true},
      {{str(format), null(), i32(1)}, true},
      {{str(format), null(), i32(0)}, false},
  };
  for (Row &row : rows) {
    SCOPED_TRACE(row.args.size());
    time_t before = time(nullptr);
    BuiltinOutcome out = callBuiltin(velqStrftime, row.args);
    time_t after = time(nullptr);
    ASSERT_EQ(out.rc, 0);
    bool seen = false;
    for (time_t t = before; t <= after; t++) {
      struct tm record;
      row.local ? localtime_r(&t, &record) : gmtime_r(&t, &record);
      char expected[64];
      strftime(expected, sizeof expected, format, &record);
      seen = seen || out.text == expected;
    }
    EXPECT_TRUE(seen) << out.text;
  }
}

// The text holds at most 511 characters; one that does not fit gives the empty text.
TEST(BuiltinTime, StrftimeTextLimit) {
  string fits(511, 'x');
  BuiltinOutcome out = callBuiltin(velqStrftime, {str(fits.c_str()), i32(0), i32(0)});
  EXPECT_EQ(out.text, fits);
  string tooLong(512, 'x');
  out = callBuiltin(velqStrftime, {str(tooLong.c_str()), i32(0), i32(0)});
  EXPECT_EQ(out.rc, 0);
  EXPECT_EQ(out.text, "");
  // A short format whose expansion overflows the buffer.
  string expanding;
  for (int i = 0; i < 60; i++) expanding += "%c";
  out = callBuiltin(velqStrftime, {str(expanding.c_str()), i32(0), i32(0)});
  EXPECT_EQ(out.rc, 0);
  EXPECT_EQ(out.text, "");
  // 510 characters and one two-character expansion: 512, too long by one.
  out = callBuiltin(velqStrftime, {str((string(510, 'x') + "%m").c_str()), i32(0), i32(0)});
  EXPECT_EQ(out.text, "");
  out = callBuiltin(velqStrftime, {str((string(509, 'x') + "%m").c_str()), i32(0), i32(0)});
  EXPECT_EQ(out.text, string(509, 'x') + "01");
}

// Copies of a TIME value share one record; it must live until the last copy goes
// (the address sanitizer reports a read after release) and then be released (the leak
// checker reports the records of this loop at exit if it is not).
TEST(BuiltinTime, RecordsLiveAsLongAsTheirLastCopy) {
  for (int i = 0; i < 100000; i++) {
    VELQ_Value *t = makeTime(i % 2 ? velqGmtime : velqLocaltime, {i32(i)});
    ASSERT_NE(t, nullptr);
    VELQ_Value *copy = new VELQ_Value(t);
    EXPECT_EQ(copy->getValueAsObject()->getData(), t->getValueAsObject()->getData());
    delete t;
    if (i % 1000 == 0) {
      VELQ_Value *second = new VELQ_Value(copy);
      delete copy;
      copy = second;
      EXPECT_NE(attribute(copy, "year"), "<no value>");
    }
    delete copy;
  }
  VELQ_Value *t = makeTime(velqGmtime, {i32(59)});
  VELQ_Value *copy = new VELQ_Value(t);
  delete t;
  EXPECT_EQ(attribute(copy, "sec"), "int32 59");
  delete copy;
}
