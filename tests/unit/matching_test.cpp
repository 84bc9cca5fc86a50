// Wildcard and regular-expression matching, the capture variables, and CASE.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "program_builder.h"
#include "velq.h"

using namespace velq_test;

namespace {

std::string errorText(int code, const char *message, int line = 1) {
  return "Error " + std::to_string(code) + " in line " + std::to_string(line) + ": " + message;
}

RunOutcome binary(Const text, Const pattern, int opCode, const RunOptions &options = RunOptions()) {
  return run({{OP_PUSH_CONST, text}, {OP_PUSH_CONST, pattern}, {opCode}, {OP_RET}}, options);
}

TEST(PatternTest, Results) {
  const struct {
    const char *what;
    Const text;
    Const pattern;
    int opCode;
    const char *result;
  } cases[] = {
      {"'abc' like 'a*'", str("abc"), str("a*"), OP_LIKE, "1"},
      {"'ABC' like 'a*'", str("ABC"), str("a*"), OP_LIKE, "0"},
      {"'ABC' ilike 'a*'", str("ABC"), str("a*"), OP_ILIKE, "1"},
      {"the pattern is the right operand", str("a*"), str("abc"), OP_LIKE, "0"},
      {"a number by its text", i32(123), str("1*"), OP_LIKE, "1"},
      {"a real by its text", real(1.5), str("1.5000??"), OP_LIKE, "1"},
      {"12 ilike 12", i32(12), i32(12), OP_ILIKE, "1"},
      {"12 match 12", i32(12), i32(12), OP_MATCH, "1"},
      {"0x1F keeps its text", str("0x1F"), str("^0x"), OP_MATCH, "1"},
      {"'abc' match 'B'", str("abc"), str("B"), OP_MATCH, "0"},
      {"'abc' imatch 'B'", str("abc"), str("B"), OP_IMATCH, "1"},
      {"extended syntax", str("aaa"), str("^a{3}$"), OP_MATCH, "1"},
      {"'abc' match 'x'", str("abc"), str("x"), OP_MATCH, "0"},
      // A zero byte ends what the matchers see of a text.
      {"match stops at a zero byte", text("ab\0cd", 5), str("cd"), OP_MATCH, "0"},
      {"like stops at a zero byte", text("ab\0cd", 5), str("ab"), OP_LIKE, "1"},
  };
  for (const auto &c : cases) {
    RunOutcome out = binary(c.text, c.pattern, c.opCode);
    EXPECT_EQ(out.error, "") << c.what;
    EXPECT_EQ(out.result, c.result) << c.what;
    EXPECT_EQ(out.resultType, DTYPE_INT32) << c.what;
  }
}

TEST(PatternTest, Errors) {
  const char *const kNull = "Invalid operation with NULL value";
  const char *const kNotString = "Argument is not of string type and cannot be converted to string";
  VELQ_Class generic;
  Const object{[&] { return new VELQ_Value(new VELQ_Object(&generic, nullptr)); }};
  const struct {
    const char *what;
    Const text;
    Const pattern;
    int opCode;
    std::string error;
  } cases[] = {
      {"null text", null(), str("a"), OP_LIKE, errorText(5, kNull)},
      {"null pattern", str("a"), null(), OP_MATCH, errorText(5, kNull)},
      {"null before array", null(), array(), OP_ILIKE, errorText(5, kNull)},
      {"array text", array(), str("a"), OP_LIKE, errorText(17, kNotString)},
      {"object pattern", str("a"), object, OP_IMATCH, errorText(17, kNotString)},
      {"array pattern", str("a"), array(), OP_MATCH, errorText(17, kNotString)},
      {"invalid expression", str("abc"), str("("), OP_MATCH,
       errorText(18, "Invalid regular expression")},
      {"invalid expression ignoring case", str("abc"), str("a{2"), OP_IMATCH,
       errorText(18, "Invalid regular expression")},
  };
  for (const auto &c : cases) {
    RunOutcome out = binary(c.text, c.pattern, c.opCode);
    EXPECT_EQ(out.rc, -1) << c.what;
    EXPECT_EQ(out.error, c.error) << c.what;
  }
  RunOutcome missing = run({{OP_PUSH_CONST, "a"}, atLine(3, {OP_MATCH}), {OP_RET}});
  EXPECT_EQ(missing.error, errorText(1, "Data stack underflow", 3));
}

// Runs `text match pattern` and prints its result, then each variable named followed by ':'
// ("1key:42:"), or returns the error; the run's arguments become $1, $2, ...
std::string capturesAfter(const char *text, const char *pattern, std::vector<const char *> names,
                          std::vector<Const> args = {}, int opCode = OP_MATCH) {
  std::vector<Op> code = {{OP_PUSH_CONST, text}, {OP_PUSH_CONST, pattern}, {opCode}, {OP_PRINT}};
  for (const char *name : names) {
    code.push_back({OP_PUSH_VAR, name});
    code.push_back({OP_PRINT});
    code.push_back({OP_PUSH_CONST, ":"});
    code.push_back({OP_PRINT});
  }
  code.push_back({OP_NRET});
  RunOptions options;
  options.args = std::move(args);
  RunOutcome out = run(code, options);
  return out.error.empty() ? out.output : out.error;
}

// Type of one capture: PRINT of the variable cannot tell the string "42" from the number.
int captureType(const char *text, const char *pattern, const char *name) {
  RunOutcome out = run({{OP_PUSH_CONST, text},
                        {OP_PUSH_CONST, pattern},
                        {OP_MATCH},
                        {OP_POP, 1},
                        {OP_PUSH_VAR, name},
                        {OP_RET}});
  return out.resultType;
}

TEST(CaptureTest, GroupsBecomeLocals) {
  EXPECT_EQ(capturesAfter("abc", "b(c)", {"$1"}), "1c:");
  EXPECT_EQ(capturesAfter("key=42", "([a-z]+)=([0-9]+)", {"$1", "$2"}), "1key:42:");
  EXPECT_EQ(captureType("key=42", "([a-z]+)=([0-9]+)", "$1"), DTYPE_STRING);
  EXPECT_EQ(captureType("key=42", "([a-z]+)=([0-9]+)", "$2"), DTYPE_INT32);
  EXPECT_EQ(captureType("x=1.5", "=(.*)", "$1"), DTYPE_REAL);
  // Case is ignored in matching, not in what is captured.
  EXPECT_EQ(capturesAfter("KEY", "(k)(e)y", {"$1", "$2"}, {}, OP_IMATCH), "1K:E:");
  // A group that matched the empty text captures the empty text.
  EXPECT_EQ(capturesAfter("ab", "a(x*)b", {"$1"}), "1:");
}

TEST(CaptureTest, WhatAMatchLeavesAlone) {
  // No match: the argument $1 keeps its value.
  EXPECT_EQ(capturesAfter("abc", "(x)", {"$1"}, {str("arg")}), "0arg:");
  // A match overwrites the argument.
  EXPECT_EQ(capturesAfter("abc", "(b)", {"$1", "$2"}, {str("arg"), str("two")}), "1b:two:");
  // Group 1 took no part, so nothing is assigned, not even the group 2 that matched.
  EXPECT_EQ(capturesAfter("b", "(a)|(b)", {"$1", "$2"}, {str("p"), str("q")}), "1p:q:");
  // Sub-match 0, the whole match, is not stored anywhere.
  EXPECT_EQ(capturesAfter("abc", "b", {"$0"}), "1(null):");
}

TEST(CaptureTest, LaterGroupsKeepAnEarlierMatch) {
  RunOutcome out = run({{OP_PUSH_CONST, "ab"},
                        {OP_PUSH_CONST, "(a)(b)"},
                        {OP_MATCH},
                        {OP_PUSH_CONST, "c"},
                        {OP_PUSH_CONST, "(c)"},
                        {OP_MATCH},
                        {OP_POP, 2},
                        {OP_PUSH_VAR, "$1"},
                        {OP_PUSH_VAR, "$2"},
                        {OP_CONCAT},
                        {OP_RET}});
  EXPECT_EQ(out.result, "cb");
}

// The captures go into the locals even when a global of that name shadows them.
TEST(CaptureTest, GlobalsAreNotTouched) {
  ProgramPtr program = buildProgram({{OP_PUSH_CONST, "abc"},
                                     {OP_PUSH_CONST, "(b)"},
                                     {OP_MATCH},
                                     {OP_POP, 1},
                                     {OP_PUSH_VAR, "$1"},
                                     {OP_RET}});
  program->setGlobalVariable("$1", new VELQ_Value("global"));
  VELQ_VariableSystem *globalsOut = nullptr;
  RunOptions options;
  options.globalsOut = &globalsOut;
  RunOutcome out = runProgram(program.get(), options);
  EXPECT_EQ(out.result, "global");
  EXPECT_EQ(variableText(globalsOut, "$1"), "global");
  delete globalsOut;
}

// 256 groups: $1 to $255 are set from groups 1 to 255; group 256 has no variable.
TEST(CaptureTest, AtMost255Captures) {
  std::string pattern = "x", text = "x";
  for (int i = 1; i <= 256; i++) {
    pattern += "(" + std::to_string(i % 10) + ")";
    text += std::to_string(i % 10);
  }
  VELQ_VariableSystem *locals = new VELQ_VariableSystem();
  locals->create("$256", new VELQ_Value("kept"));
  RunOptions options;
  options.locals = locals;
  RunOutcome out = run({{OP_PUSH_CONST, text.c_str()},
                        {OP_PUSH_CONST, pattern.c_str()},
                        {OP_MATCH},
                        {OP_PRINT},
                        {OP_PUSH_VAR, "$255"},
                        {OP_PRINT},
                        {OP_PUSH_VAR, "$256"},
                        {OP_RET}},
                       options);
  ASSERT_EQ(out.error, "");
  EXPECT_EQ(out.output, "15");
  EXPECT_EQ(out.result, "kept");
}

// CASE compares its constant with the value under test, which stays on the stack, below
// the result, converted to the common type when both are numbers.
TEST(CaseTest, Comparisons) {
  VELQ_Class generic;
  Const object{[&] { return new VELQ_Value(new VELQ_Object(&generic, nullptr)); }};
  const struct {
    const char *what;
    Const tested;
    Const constant;
    const char *result;
    int testedType;  // afterwards
  } cases[] = {
      {"2 against 2", i32(2), i32(2), "1", DTYPE_INT32},
      {"2 against 2.0", i32(2), real(2.0), "1", DTYPE_REAL},
      {"2 against 3", i32(2), i32(3), "0", DTYPE_INT32},
      {"uint32 max against -1, both as int32", u32(4294967295u), i32(-1), "1", DTYPE_INT32},
      {"uint32 1 against uint64 1", u32(1), u64(1), "1", DTYPE_UINT64},
      {"'x' against 'x'", str("x"), str("x"), "1", DTYPE_STRING},
      {"'x' against 'X'", str("x"), str("X"), "0", DTYPE_STRING},
      {"'x' against null", str("x"), null(), "0", DTYPE_STRING},
      {"null against null", null(), null(), "1", DTYPE_NULL},
      {"null against 0", null(), i32(0), "0", DTYPE_NULL},
      {"an array against ''", array(), text("", 0), "1", DTYPE_ARRAY},
      {"an object against an array", object, array(), "1", DTYPE_OBJECT},
      {"a text against a number by text", str("5x"), i32(5), "0", DTYPE_STRING},
  };
  for (const auto &c : cases) {
    RunOutcome out = run({{OP_PUSH_CONST, c.tested}, {OP_CASE, c.constant}, {OP_PRINT}, {OP_RET}});
    EXPECT_EQ(out.error, "") << c.what;
    EXPECT_EQ(out.output, c.result) << c.what;
    EXPECT_EQ(out.resultType, c.testedType) << c.what;
  }
}

// switch on 2 with the cases 1, 2.0 and 3: the value under test becomes the real 2.0 at the
// second case and stays so; the constant 1 stays an int32, the constant 3 becomes 3.0.
TEST(CaseTest, ConversionsStick) {
  ProgramPtr program = buildProgram({{OP_PUSH_CONST, 2},
                                     {OP_CASE, 1},
                                     {OP_PRINT},
                                     {OP_CASE, 2.0},
                                     {OP_PRINT},
                                     {OP_CASE, 3},
                                     {OP_PRINT},
                                     {OP_RET}});
  RunOutcome out = runProgram(program.get());
  EXPECT_EQ(out.output, "010");
  EXPECT_EQ(out.result, "2.000000");
  EXPECT_EQ(out.resultType, DTYPE_REAL);
  EXPECT_EQ(program->getInstruction(1)->operand.value->getDataType(), DTYPE_INT32);
  EXPECT_EQ(program->getInstruction(5)->operand.value->getDataType(), DTYPE_REAL);

  // The next run starts again from an int32 2, but the constant 3 stays converted.
  EXPECT_EQ(runProgram(program.get()).output, "010");
  EXPECT_EQ(program->getInstruction(5)->operand.value->getDataType(), DTYPE_REAL);
}

// A CASE built without a constant compares as the null constant: PUSH_CONST pushes null for
// a missing constant and the listing shows it as <null>, so CASE must not read it as a
// missing operand.
TEST(CaseTest, AMissingConstantIsNull) {
  const struct {
    Const tested;
    const char *result;
  } cases[] = {{null(), "1"}, {i32(0), "0"}, {str("x"), "0"}};
  for (const auto &c : cases) {
    ProgramPtr program = buildProgram({{OP_PUSH_CONST, c.tested}});
    program->addInstruction(new VELQ_Instruction(1, OP_CASE, static_cast<VELQ_Value *>(nullptr)));
    appendCode(program.get(), {{OP_PRINT}, {OP_RET}});
    RunOutcome out = runProgram(program.get());
    EXPECT_EQ(out.error, "") << c.result;
    EXPECT_EQ(out.output, c.result);
  }
}

TEST(CaseTest, Errors) {
  RunOutcome empty = run({atLine(2, {OP_CASE, 1}), {OP_RET}});
  EXPECT_EQ(empty.error, errorText(1, "Data stack underflow", 2));
  RunOutcome noCommonType = run({{OP_PUSH_CONST, u64(5)}, {OP_CASE, 1.5}, {OP_RET}});
  EXPECT_EQ(noCommonType.error, errorText(13, "Cannot do automatic type cast"));
}

}  // namespace
