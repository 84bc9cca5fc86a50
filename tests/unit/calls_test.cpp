// Calls of script and external functions: frames, arguments, BIND, returns, the frame
// limit and the handler contract as the machine carries it out.
#include <gtest/gtest.h>

#include "program_builder.h"

using namespace velq_test;

namespace {

RunOptions withFunctions(std::vector<VELQ_ExtFunction> functions) {
  RunOptions options;
  options.functions = std::move(functions);
  return options;
}

// Host functions with a fixed behaviour, for the handler contract.
int32_t returnsSeven(int32_t, VELQ_Value **, VELQ_Value **result, VELQ_Program *) {
  *result = new VELQ_Value((int32_t)7);
  return 0;
}
int32_t storesNothing(int32_t, VELQ_Value **, VELQ_Value **, VELQ_Program *) { return 0; }
int32_t endsTheRun(int32_t, VELQ_Value **, VELQ_Value **result, VELQ_Program *) {
  *result = new VELQ_Value("ended");
  return -1;
}
int32_t endsTheRunStoringNothing(int32_t, VELQ_Value **, VELQ_Value **, VELQ_Program *) {
  return -1;
}
int32_t failsWith13(int32_t, VELQ_Value **, VELQ_Value **, VELQ_Program *) { return 13; }
int32_t failsWith77(int32_t, VELQ_Value **, VELQ_Value **, VELQ_Program *) { return 77; }
// Breaks the contract: stores a result and fails. The machine must not leak it.
int32_t failsAfterStoring(int32_t, VELQ_Value **, VELQ_Value **result, VELQ_Program *) {
  *result = new VELQ_Value("dropped");
  return 4;
}
// Break the contract: store the argument itself as the result, which the stack still owns.
int32_t returnsItsArgument(int32_t, VELQ_Value **argv, VELQ_Value **result, VELQ_Program *) {
  *result = argv[0];
  return 0;
}
int32_t endsTheRunWithItsArgument(int32_t, VELQ_Value **argv, VELQ_Value **result, VELQ_Program *) {
  *result = argv[0];
  return -1;
}
int32_t failsAfterStoringItsArgument(int32_t, VELQ_Value **argv, VELQ_Value **result,
                                     VELQ_Program *) {
  *result = argv[0];
  return 13;
}
// Joins its arguments' texts in order, with the argument count in front: "3:abc".
int32_t joinArguments(int32_t argc, VELQ_Value **argv, VELQ_Value **result, VELQ_Program *) {
  std::string joined = std::to_string(argc) + ":";
  for (int32_t i = 0; i < argc; i++) joined += valueText(argv[i]);
  *result = new VELQ_Value(joined.c_str());
  return 0;
}

// Host function: nonzero for the first `depthAllowed` calls, then 0.
int depthAllowed = 0;
int32_t goDeeper(int32_t, VELQ_Value **, VELQ_Value **result, VELQ_Program *) {
  *result = new VELQ_Value((int32_t)(depthAllowed-- > 0));
  return 0;
}

// Host function: makes the global s, holding "global".
int32_t makesGlobalS(int32_t, VELQ_Value **, VELQ_Value **, VELQ_Program *program) {
  program->setGlobalVariable("s", new VELQ_Value("global"));
  return 0;
}

}  // namespace

// main calls f(arguments...), f binds a and b and prints a, b, $1, $2, $3.
std::vector<Op> callWithArguments(std::vector<Op> arguments) {
  std::vector<Op> code = arguments;
  code.push_back({OP_CALL, (int)arguments.size() + 3, (int)arguments.size()});
  code.push_back({OP_POP, 1});
  code.push_back({OP_NRET});
  // f, at arguments.size() + 3
  const char *printed[] = {"a", "b", "$1", "$2", "$3"};
  code.push_back({OP_BIND, "a"});
  code.push_back({OP_BIND, "b"});
  for (const char *name : printed) {
    code.push_back({OP_PUSH_VAR, name});
    code.push_back({OP_PRINT});
    code.push_back({OP_PUSH_CONST, ","});
    code.push_back({OP_PRINT});
  }
  code.push_back({OP_NRET});
  return code;
}

TEST(Calls, ArgumentsBecomeDollarLocalsAndBindToParameters) {
  struct Case {
    std::vector<Op> arguments;
    std::string output;
  } cases[] = {
      {{{OP_PUSH_CONST, 1}, {OP_PUSH_CONST, 2}}, "1,2,1,2,(null),"},
      {{{OP_PUSH_CONST, 1}}, "1,(null),1,(null),(null),"},
      {{{OP_PUSH_CONST, 1}, {OP_PUSH_CONST, 2}, {OP_PUSH_CONST, 3}}, "1,2,1,2,3,"},
      {{}, "(null),(null),(null),(null),(null),"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.output);
    RunOutcome out = run(callWithArguments(c.arguments));
    EXPECT_EQ(out.rc, 0) << out.error;
    EXPECT_EQ(out.output, c.output);
  }
}

TEST(Calls, TheCalleeHasLocalsOfItsOwnAndTheCallerGetsItsOwnBack) {
  RunOutcome out = run({{OP_PUSH_CONST, "main's"},
                        {OP_SET, "x"},
                        {OP_POP, 1},
                        {OP_CALL, 9, 0},
                        {OP_PRINT},  // f's return value
                        {OP_PUSH_VAR, "x"},
                        {OP_PRINT},
                        {OP_PUSH_VAR, "y"},
                        {OP_RET},
                        // f: x is unknown here; y is set and returned
                        {OP_PUSH_VAR, "x"},
                        {OP_PRINT},
                        {OP_PUSH_CONST, "f's"},
                        {OP_SET, "y"},
                        {OP_RET}});
  EXPECT_EQ(out.rc, 0) << out.error;
  EXPECT_EQ(out.output, "(null)f'smain's");
  EXPECT_EQ(out.resultType, DTYPE_NULL);  // main's y was never set
}

TEST(Calls, BindOverwritesAParameterThatIsAlreadyALocal) {
  // BIND of the name $2 takes $1's value into $2.
  RunOutcome out = run({{OP_PUSH_CONST, "one"},
                        {OP_PUSH_CONST, "two"},
                        {OP_CALL, 4, 2},
                        {OP_RET},
                        {OP_BIND, "$2"},
                        {OP_PUSH_VAR, "$2"},
                        {OP_RET}});
  EXPECT_EQ(out.result, "one");
}

// A frame's new local is looked up among the frame's locals alone while the constants
// and globals stay as they were; once a host gives the globals that name, the global is
// the one assigned.
TEST(Calls, ANewLocalOfAFrameGivesWayToAGlobalMadeBetweenCalls) {
  RunOutcome out = run({{OP_CALL, 10, 0},
                        {OP_POP, 1},
                        {OP_CALL, 10, 0},
                        {OP_POP, 1},
                        {OP_CALL_EXT, "makeS", 0},
                        {OP_POP, 1},
                        {OP_CALL, 10, 0},
                        {OP_POP, 1},
                        {OP_PUSH_VAR, "s"},
                        {OP_RET},
                        // f: s = 5, a local of its own until a global s exists
                        {OP_PUSH_CONST, 5},
                        {OP_SET, "s"},
                        {OP_POP, 1},
                        {OP_NRET}},
                       withFunctions({hostFunction("makeS", makesGlobalS, 0)}));
  EXPECT_EQ(out.rc, 0) << out.error;
  EXPECT_EQ(out.result, "5");
}

TEST(Calls, RunArgumentsBindToTheParametersOfMain) {
  RunOptions options;
  options.args = {str("first"), i32(2)};
  RunOutcome out = run({{OP_BIND, "p"},
                        {OP_BIND, "q"},
                        {OP_BIND, "r"},
                        {OP_PUSH_VAR, "p"},
                        {OP_PRINT},
                        {OP_PUSH_VAR, "q"},
                        {OP_PRINT},
                        {OP_PUSH_VAR, "r"},
                        {OP_RET}},
                       options);
  EXPECT_EQ(out.output, "first2");
  EXPECT_EQ(out.resultType, DTYPE_NULL);
}

TEST(Calls, ReturnGoesBackBehindTheCallWithTheValueOnTop) {
  RunOutcome out = run({{OP_PUSH_CONST, "below"},
                        {OP_CALL, 6, 0},
                        {OP_PRINT},
                        {OP_CALL, 8, 0},
                        {OP_PRINT},
                        {OP_RET},
                        {OP_PUSH_CONST, "returned"},  // 6
                        {OP_RET},
                        {OP_NRET}});  // 8: runs off its end
  EXPECT_EQ(out.rc, 0) << out.error;
  EXPECT_EQ(out.output, "returned(null)");
  EXPECT_EQ(out.result, "below");
}

TEST(Calls, TheFrameLimitIsExactly32768) {
  // f: if goDeeper() f(); return. main calls f once, so f runs in frames 1, 2, ...
  struct Case {
    int deeperCalls;
    int rc;
    std::string error;
  } cases[] = {
      {VELQ_MAX_FRAMES - 1, 0, ""},
      {VELQ_MAX_FRAMES, -1, "Error 8 in line 6: Control stack overflow"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.deeperCalls);
    depthAllowed = c.deeperCalls;
    RunOutcome out = run({{OP_CALL, 2, 0},
                          {OP_RET},
                          {OP_CALL_EXT, "deeper", 0},  // f
                          {OP_JZ, 6},
                          atLine(6, {OP_CALL, 2, 0}),
                          {OP_POP, 1},
                          {OP_NRET}},
                         withFunctions({hostFunction("deeper", goDeeper, 0)}));
    EXPECT_EQ(out.rc, c.rc);
    EXPECT_EQ(out.error, c.error);
  }
}

TEST(Calls, TooFewValuesForTheArgumentsIsAnUnderflow) {
  RunOutcome out = run({{OP_PUSH_CONST, 1}, atLine(4, {OP_CALL, 3, 2}), {OP_RET}, {OP_NRET}});
  EXPECT_EQ(out.rc, -1);
  EXPECT_EQ(out.error, "Error 1 in line 4: Data stack underflow");

  out = run({{OP_PUSH_CONST, 1}, atLine(5, {OP_CALL_EXT, "join", 2}), {OP_RET}},
            withFunctions({hostFunction("join", joinArguments, -1)}));
  EXPECT_EQ(out.error, "Error 1 in line 5: Data stack underflow");
}

TEST(Calls, ExternalFunctionsGetTheirArgumentsInOrder) {
  RunOutcome out = run({{OP_PUSH_CONST, "left"},
                        {OP_PUSH_CONST, "a"},
                        {OP_PUSH_CONST, "b"},
                        {OP_PUSH_CONST, "c"},
                        {OP_CALL_EXT, "join", 3},
                        {OP_PRINT},
                        {OP_CALL_EXT, "join", 0},
                        {OP_PRINT},
                        {OP_RET}},
                       withFunctions({hostFunction("join", joinArguments, -1)}));
  EXPECT_EQ(out.rc, 0) << out.error;
  EXPECT_EQ(out.output, "3:abc0:");
  EXPECT_EQ(out.result, "left");  // the arguments are gone, what was below them is not
}

TEST(Calls, ExternalFunctionArgumentCountsAreChecked) {
  struct Case {
    int32_t declared;
    int passed;
    std::string expected;  // result or error
  } cases[] = {
      {2, 2, "2:23"},  // the two top values
      {2, 3, "Error 12 in line 8: Invalid number of function's arguments"},
      {2, 1, "Error 12 in line 8: Invalid number of function's arguments"},
      {-1, 3, "3:123"},
      {-1, -1, "Error 12 in line 8: Invalid number of function's arguments"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.expected);
    RunOutcome out = run({{OP_PUSH_CONST, 1},
                          {OP_PUSH_CONST, 2},
                          {OP_PUSH_CONST, 3},
                          atLine(8, {OP_CALL_EXT, "f", c.passed}),
                          {OP_RET}},
                         withFunctions({hostFunction("f", joinArguments, c.declared)}));
    EXPECT_EQ(out.rc == 0 ? out.result : out.error, c.expected);
  }
}

TEST(Calls, HandlerReturnCodesDecideHowTheCallEnds) {
  // After the call, main prints the call's value and returns "later".
  struct Case {
    VELQ_ExtFunctionHandler handler;
    int rc;
    std::string output;
    std::string result;  // "" for no result
    std::string error;
  } cases[] = {
      {returnsSeven, 0, "7", "later", ""},
      {storesNothing, 0, "(null)", "later", ""},
      {endsTheRun, 0, "", "ended", ""},
      {endsTheRunStoringNothing, 0, "", "null", ""},
      {failsWith13, -1, "", "", "Error 13 in line 2: Cannot do automatic type cast"},
      {failsWith77, -1, "", "", "Error 77 in line 2: Unknown error code"},
      {failsAfterStoring, -1, "", "", "Error 4 in line 2: Bad arithmetic conversion"},
      // The argument stored as the result is neither destroyed with the arguments nor
      // left on the stack twice.
      {returnsItsArgument, 0, "arg", "later", ""},
      {endsTheRunWithItsArgument, 0, "", "arg", ""},
      {failsAfterStoringItsArgument, -1, "", "",
       "Error 13 in line 2: Cannot do automatic type cast"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.result + c.error);
    RunOutcome out = run({{OP_PUSH_CONST, "arg"},
                          atLine(2, {OP_CALL_EXT, "h", 1}),
                          {OP_PRINT},
                          {OP_PUSH_CONST, "later"},
                          {OP_RET}},
                         withFunctions({hostFunction("h", c.handler, 1)}));
    EXPECT_EQ(out.rc, c.rc);
    EXPECT_EQ(out.output, c.output);
    EXPECT_EQ(out.result, c.result);
    EXPECT_EQ(out.error, c.error);
  }
}

TEST(Calls, AnExternalFunctionEndingTheRunInsideAFunctionClosesEveryFrame) {
  RunOutcome out = run({{OP_CALL, 2, 0},
                        {OP_RET},
                        {OP_PUSH_CONST, "local"},  // f
                        {OP_SET, "x"},
                        {OP_CALL, 6, 0},
                        {OP_NRET},
                        {OP_PUSH_CONST, 5},  // g
                        {OP_CALL_EXT, "_stop", 1},
                        {OP_NRET}},
                       withFunctions({hostFunction("_stop", endsTheRun, 1)}));
  EXPECT_EQ(out.rc, 0) << out.error;
  EXPECT_EQ(out.result, "ended");
}

TEST(Calls, CallByNameTriesExternalFunctionsThenScriptFunctions) {
  // "twin" is both a host function and a script function; "own" is only a script function.
  ProgramPtr program = buildProgram({{OP_CALL_EXT, "twin", 0},
                                     {OP_PRINT},
                                     {OP_CALL_EXT, "own", 0},
                                     {OP_PRINT},
                                     atLine(5, {OP_CALL_EXT, "missing", 0}),
                                     {OP_RET},
                                     {OP_PUSH_CONST, "script twin"},
                                     {OP_RET},
                                     {OP_PUSH_CONST, "script own"},
                                     {OP_RET}},
                                    {{"main", 0}, {"twin", 6}, {"own", 8}});
  RunOutcome out =
      runProgram(program.get(), withFunctions({hostFunction("twin", returnsSeven, 0)}));
  EXPECT_EQ(out.output, "7script own");
  EXPECT_EQ(out.rc, -1);
  EXPECT_EQ(out.error, "Error 11 in line 5: Function not found");
}

TEST(Calls, FunctionNamesAreSignificantUpTo63Bytes) {
  std::string name63(63, 'n');
  std::string name64 = name63 + "x";
  ProgramPtr program = buildProgram({{OP_CALL_EXT, name63.c_str(), 0},
                                     {OP_PRINT},
                                     atLine(3, {OP_CALL_EXT, name64.c_str(), 0}),
                                     {OP_RET},
                                     {OP_PUSH_CONST, "reached"},
                                     {OP_RET}},
                                    {{"main", 0}, {name64.c_str(), 4}});
  // The record holds the first 63 bytes, which a call of the 63-byte name finds, while
  // the whole 64-byte name matches nothing.
  ASSERT_EQ(program->getFunctionCount(), 2u);
  EXPECT_EQ(std::string(program->getFunction(1)->name), name63);
  RunOutcome out = runProgram(program.get());
  EXPECT_EQ(out.output, "reached");
  EXPECT_EQ(out.error, "Error 11 in line 3: Function not found");
}

namespace {

struct TracingEnvironment : VELQ_Environment {
  std::string *log;
  explicit TracingEnvironment(std::string *into) : log(into) {}
  void trace(int level, const char *text) override {
    *log += "[" + std::to_string(level) + "]" + text;
  }
};

// Host function: traces its two arguments through the program it was handed.
int32_t traceThroughProgram(int32_t, VELQ_Value **argv, VELQ_Value **result,
                            VELQ_Program *program) {
  program->trace(argv[0]->getValueAsInt32(), argv[1]->getValueAsCString());
  *result = new VELQ_Value();
  return 0;
}

}  // namespace

TEST(Calls, HandlersGetTheRunningProgramAndReachTheTraceHook) {
  std::string log;
  RunOptions options;
  options.environment = new TracingEnvironment(&log);
  options.functions = {hostFunction("tr", traceThroughProgram, 2)};
  RunOutcome out = run(
      {{OP_PUSH_CONST, 3}, {OP_PUSH_CONST, "hello"}, {OP_CALL_EXT, "tr", 2}, {OP_RET}}, options);
  EXPECT_EQ(out.rc, 0) << out.error;
  EXPECT_EQ(log, "[3]hello");
}
