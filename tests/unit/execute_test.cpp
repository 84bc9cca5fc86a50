// The execution step: constants and variables on the data stack, jumps, EXIT, PRINT,
// unknown opcodes and the error text of a failing instruction.
#include <gtest/gtest.h>

#include "program_builder.h"

using namespace velq_test;

namespace {

// Host function: the number of variables in the running frame's locals.
int32_t localCount(int32_t, VELQ_Value **, VELQ_Value **result, VELQ_Program *program) {
  *result = new VELQ_Value((int32_t)program->getLocals()->getCount());
  return 0;
}

// Host function: 1 when the local x and the global src hold different arrays, else 0.
int32_t arraysApart(int32_t, VELQ_Value **, VELQ_Value **result, VELQ_Program *program) {
  VELQ_Variable *x = program->getLocals()->find("x");
  VELQ_Variable *src = program->findGlobalVariable("src");
  VELQ_Array *a = x ? x->getValue()->getValueAsArray() : nullptr;
  VELQ_Array *b = src ? src->getValue()->getValueAsArray() : nullptr;
  *result = new VELQ_Value((int32_t)(a && b && a != b));
  return 0;
}

}  // namespace

TEST(Execute, PushConstLeavesACopyOfEveryTypeOfConstant) {
  struct Case {
    Op push;
    int type;
    std::string text;
  } cases[] = {
      {{OP_PUSH_CONST, 7}, DTYPE_INT32, "7"},
      {{OP_PUSH_CONST, 7u}, DTYPE_UINT32, "7"},
      {{OP_PUSH_CONST, int64_t(-3)}, DTYPE_INT64, "-3"},
      {{OP_PUSH_CONST, uint64_t(18446744073709551615ull)}, DTYPE_UINT64, "18446744073709551615"},
      {{OP_PUSH_CONST, 1.5}, DTYPE_REAL, "1.500000"},
      {{OP_PUSH_CONST, "abc"}, DTYPE_STRING, "abc"},
      {{OP_PUSH_CONST, null()}, DTYPE_NULL, "null"},
      {{OP_PUSH_CONST, array()}, DTYPE_ARRAY, "array"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    ProgramPtr program = buildProgram({c.push, {OP_RET}});
    // Twice: the first run must not have used up or changed the constant.
    for (int i = 0; i < 2; i++) {
      RunOutcome out = runProgram(program.get());
      EXPECT_EQ(out.rc, 0);
      EXPECT_EQ(out.resultType, c.type);
      EXPECT_EQ(out.result, c.text);
    }
  }
}

TEST(Execute, PushVarOfAnUnknownNamePushesNullAndCreatesOneLocal) {
  RunOutcome out = run({{OP_PUSH_VAR, "y"},
                        {OP_PRINT},
                        {OP_PUSH_VAR, "y"},
                        {OP_PRINT},
                        {OP_CALL_EXT, "locals", 0},
                        {OP_RET}},
                       [] {
                         RunOptions o;
                         o.functions = {hostFunction("locals", localCount, 0)};
                         return o;
                       }());
  EXPECT_EQ(out.rc, 0) << out.error;
  EXPECT_EQ(out.output, "(null)(null)");
  EXPECT_EQ(out.result, "1");
}

// Instructions a host built without a name all name one variable, the empty name, instead
// of each use creating a variable of its own.
TEST(Execute, AMissingVariableNameIsTheEmptyName) {
  ProgramPtr program = buildProgram({{OP_PUSH_CONST, 5}});
  for (int opCode : {OP_SET, OP_INC, OP_BIND, OP_PUSH_VAR})
    program->addInstruction(new VELQ_Instruction(1, opCode));
  appendCode(program.get(), {{OP_PRINT}, {OP_PRINT}, {OP_PUSH_VAR, ""}, {OP_PRINT}});
  appendCode(program.get(), {{OP_CALL_EXT, "locals", 0}, {OP_RET}});
  RunOptions options;
  options.functions = {hostFunction("locals", localCount, 0)};
  options.args = {str("arg")};
  RunOutcome out = runProgram(program.get(), options);
  EXPECT_EQ(out.error, "");
  // SET stored 5 under the empty name, INC pushed that 5, BIND replaced it by $1's value.
  EXPECT_EQ(out.output, "arg5arg");
  EXPECT_EQ(out.result, "2");  // $1 and the empty name
}

TEST(Execute, VariablesAreFoundInConstantsThenGlobalsThenLocals) {
  ProgramPtr program = buildProgram({{OP_PUSH_VAR, "v"}, {OP_PRINT}, {OP_PUSH_VAR, "w"}, {OP_RET}});
  program->getConstants()->create("v", new VELQ_Value("const"));
  program->setGlobalVariable("v", new VELQ_Value("global"));
  program->setGlobalVariable("w", new VELQ_Value("global"));
  RunOptions options;
  options.locals = new VELQ_VariableSystem();
  options.locals->create("v", new VELQ_Value("local"));
  options.locals->create("w", new VELQ_Value("local"));
  RunOutcome out = runProgram(program.get(), options);
  EXPECT_EQ(out.output, "const");
  EXPECT_EQ(out.result, "global");
}

TEST(Execute, PopDestroysAtMostWhatTheStackHolds) {
  struct Case {
    int count;
    std::string result;  // "" when the stack ends empty
  } cases[] = {{0, "c"}, {-2, "c"}, {1, "b"}, {2, "a"}, {3, ""}, {1000000, ""}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.count);
    RunOutcome out = run({{OP_PUSH_CONST, "a"},
                          {OP_PUSH_CONST, "b"},
                          {OP_PUSH_CONST, "c"},
                          {OP_POP, c.count},
                          {OP_RET}});
    EXPECT_EQ(out.rc, 0);
    EXPECT_EQ(out.result, c.result);
    EXPECT_EQ(out.resultType, c.result.empty() ? -1 : DTYPE_STRING);
  }
}

TEST(Execute, SetCopiesTheTopValueAndLeavesItOnTheStack) {
  RunOutcome out = run({{OP_PUSH_CONST, 5},
                        {OP_SET, "x"},
                        {OP_PUSH_CONST, 6},
                        {OP_SET, "x"},
                        {OP_POP, 1},
                        {OP_PUSH_VAR, "x"},
                        {OP_PRINT},
                        {OP_RET}});
  EXPECT_EQ(out.rc, 0) << out.error;
  EXPECT_EQ(out.output, "6");
  EXPECT_EQ(out.result, "5");  // the first SET left its value below
}

TEST(Execute, SetOfAnArrayStoresAnArrayOfItsOwn) {
  ProgramPtr program = buildProgram(
      {{OP_PUSH_VAR, "src"}, {OP_SET, "x"}, {OP_POP, 1}, {OP_CALL_EXT, "apart", 0}, {OP_RET}});
  program->setGlobalVariable("src",
                             array([](VELQ_Array *a) { a->set(1, new VELQ_Value(1)); }).make());
  RunOptions options;
  options.functions = {hostFunction("apart", arraysApart, 0)};
  RunOutcome out = runProgram(program.get(), options);
  EXPECT_EQ(out.result, "1") << out.error;
}

TEST(Execute, SetRefusesConstantsAndAnEmptyStack) {
  ProgramPtr program =
      buildProgram({{OP_PUSH_CONST, 9}, atLine(3, {OP_SET, "k"}), {OP_PUSH_VAR, "k"}, {OP_RET}});
  program->getConstants()->create("k", new VELQ_Value(1));
  RunOutcome out = runProgram(program.get());
  EXPECT_EQ(out.rc, -1);
  EXPECT_EQ(out.error, "Error 25 in line 3: Cannot assign to a variable that is constant");
  EXPECT_EQ(out.resultType, -1);
  EXPECT_EQ(variableText(program->getConstants(), "k"), "1");

  out = run({atLine(2, {OP_SET, "x"}), {OP_RET}});
  EXPECT_EQ(out.error, "Error 1 in line 2: Data stack underflow");
}

TEST(Execute, ConditionalJumpsTestNumbersAndRefuseEverythingElse) {
  struct Case {
    int jump;
    Const condition;
    std::string expected;  // output, or the error text
  } cases[] = {
      {OP_JZ, i32(0), "taken"},
      {OP_JZ, real(0.0), "taken"},
      {OP_JZ, u64(0), "taken"},
      {OP_JZ, i64(5), "not taken"},
      {OP_JZ, real(-0.5), "not taken"},
      {OP_JNZ, i32(5), "taken"},
      {OP_JNZ, u32(0), "not taken"},
      {OP_JZ, str("x"), "Error 3 in line 7: Condition value is not a number"},
      {OP_JNZ, str(""), "not taken"},  // the empty text reads as the int32 0
      {OP_JZ, null(), "Error 3 in line 7: Condition value is not a number"},
      {OP_JNZ, array(), "Error 3 in line 7: Condition value is not a number"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.expected);
    RunOutcome out = run({{OP_PUSH_CONST, c.condition},
                          atLine(7, {c.jump, 4}),
                          {OP_PUSH_CONST, "not taken"},
                          {OP_JMP, 5},
                          {OP_PUSH_CONST, "taken"},
                          {OP_PRINT},
                          {OP_NRET}});
    EXPECT_EQ(out.rc == 0 ? out.output : out.error, c.expected);
  }
  RunOutcome out = run({atLine(2, {OP_JNZ, 0}), {OP_RET}});
  EXPECT_EQ(out.error, "Error 1 in line 2: Data stack underflow");
}

TEST(Execute, JumpToAnUnresolvedAddressStopsTheRunWithoutAnErrorText) {
  RunOutcome out = run({{OP_PUSH_CONST, 1}, {OP_JMP, -1}, {OP_RET}});
  EXPECT_EQ(out.rc, -1);
  EXPECT_EQ(out.resultType, -1);
  EXPECT_EQ(out.error, "");
}

TEST(Execute, ARunEndsBehindTheCodeWithTheTopValueAsResult) {
  RunOutcome out = run({{OP_PUSH_CONST, 1}, {OP_PUSH_CONST, 2}, {OP_JMP, 40}, {OP_PRINT}});
  EXPECT_EQ(out.rc, 0);
  EXPECT_EQ(out.result, "2");
  out = run({{OP_PUSH_CONST, 1}, {OP_POP, 1}});
  EXPECT_EQ(out.rc, 0);
  EXPECT_EQ(out.resultType, -1);
}

TEST(Execute, ExitEndsTheRunWithTheTopValue) {
  RunOutcome out = run({{OP_PUSH_CONST, "skipped"},
                        {OP_PUSH_CONST, 4},
                        {OP_EXIT},
                        {OP_PRINT},
                        {OP_PUSH_CONST, 5},
                        {OP_RET}});
  EXPECT_EQ(out.rc, 0);
  EXPECT_EQ(out.output, "");
  EXPECT_EQ(out.result, "4");

  out = run({{OP_NOP}, atLine(9, {OP_EXIT})});
  EXPECT_EQ(out.rc, -1);
  EXPECT_EQ(out.error, "Error 1 in line 9: Data stack underflow");
}

TEST(Execute, PrintWritesTheExactTextOrNull) {
  struct Case {
    Const value;
    std::string output;
  } cases[] = {
      {i32(12), "12"},       {real(-0.25), "-0.250000"},
      {str("0x1F"), "0x1F"}, {text("a\0b\n", 4), std::string("a\0b\n", 4)},
      {str(""), ""},         {null(), "(null)"},
      {array(), "(null)"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.output);
    RunOutcome out = run({{OP_PUSH_CONST, c.value}, {OP_PRINT}, {OP_NRET}});
    EXPECT_EQ(out.rc, 0);
    EXPECT_EQ(out.output, c.output);
    EXPECT_EQ(out.resultType, DTYPE_NULL);  // PRINT took its value off the stack
  }
}

TEST(Execute, PrintWithoutAnOutputStreamWritesNothingAndRaisesNothing) {
  RunOptions options;
  options.noOutput = true;
  RunOutcome out = run({{OP_PUSH_CONST, 12}, {OP_PRINT}, {OP_PUSH_CONST, 1}, {OP_RET}}, options);
  EXPECT_EQ(out.rc, 0);
  EXPECT_EQ(out.result, "1");

  out = run({atLine(5, {OP_PRINT})});
  EXPECT_EQ(out.error, "Error 1 in line 5: Data stack underflow");
}

TEST(Execute, OpcodesOutsideTheSetDoNothing) {
  RunOutcome out =
      run({{OP_PUSH_CONST, 3}, {99}, {-1}, {VELQ_OPCODE_COUNT}, {INT32_MIN}, {OP_RET}});
  EXPECT_EQ(out.rc, 0);
  EXPECT_EQ(out.result, "3");
}

TEST(Execute, AnErrorStopsTheRunAtOnce) {
  // The PRINT after the failing SET never runs, and nothing is taken as a result.
  ProgramPtr program = buildProgram({{OP_PUSH_CONST, "before"},
                                     {OP_PRINT},
                                     {OP_PUSH_CONST, 1},
                                     atLine(12, {OP_SET, "k"}),
                                     {OP_PUSH_CONST, "after"},
                                     {OP_PRINT},
                                     {OP_RET}});
  program->getConstants()->create("k", new VELQ_Value(1));
  RunOutcome out = runProgram(program.get());
  EXPECT_EQ(out.rc, -1);
  EXPECT_EQ(out.output, "before");
  EXPECT_EQ(out.resultType, -1);
  EXPECT_EQ(out.error, "Error 25 in line 12: Cannot assign to a variable that is constant");
}
