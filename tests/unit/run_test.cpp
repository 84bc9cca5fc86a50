// A run of a program: arguments, the three variable systems across runs, modules,
// ownership of what the host hands over, error texts, and runs in parallel threads.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "test_access.h"
#include "program_builder.h"

using namespace velq_test;

TEST(Run, AProgramWithoutMainFailsWithLineZero) {
  ProgramPtr program = buildProgram({{OP_PUSH_CONST, 1}, {OP_RET}}, {{"Main", 0}, {"mainly", 0}});
  RunOutcome out = runProgram(program.get());
  EXPECT_EQ(out.rc, -1);
  EXPECT_EQ(out.error, "Error 7 in line 0: main() function not presented");
  EXPECT_EQ(out.resultType, -1);
}

TEST(Run, MainIsTheFirstFunctionOfThatName) {
  ProgramPtr program =
      buildProgram({{OP_PUSH_CONST, "not main"}, {OP_RET}, {OP_PUSH_CONST, "main"}, {OP_RET}},
                   {{"other", 0}, {"main", 2}});
  EXPECT_EQ(runProgram(program.get()).result, "main");
}

TEST(Run, ArgumentsAreTheLocalsDollarOneOnwards) {
  RunOptions options;
  options.args = {str("first"), i32(2)};
  RunOutcome out = run({{OP_PUSH_VAR, "$1"},
                        {OP_PRINT},
                        {OP_PUSH_VAR, "$2"},
                        {OP_PRINT},
                        {OP_PUSH_VAR, "$3"},
                        {OP_RET}},
                       options);
  EXPECT_EQ(out.rc, 0) << out.error;
  EXPECT_EQ(out.output, "first2");
  EXPECT_EQ(out.resultType, DTYPE_NULL);
}

TEST(Run, UserLocalsAreTheLocalsOfMainAndGetTheArguments) {
  RunOptions options;
  options.locals = new VELQ_VariableSystem();
  options.locals->create("u", new VELQ_Value("given"));
  options.args = {i32(9)};
  RunOutcome out = run({{OP_PUSH_VAR, "u"}, {OP_PRINT}, {OP_PUSH_VAR, "$1"}, {OP_RET}}, options);
  EXPECT_EQ(out.output, "given");
  EXPECT_EQ(out.result, "9");
}

TEST(Run, GlobalsChangedByARunAreRestoredAndHandedOutOnRequest) {
  // main: print g; g = $1; return g
  ProgramPtr program =
      buildProgram({{OP_PUSH_VAR, "g"}, {OP_PRINT}, {OP_PUSH_VAR, "$1"}, {OP_SET, "g"}, {OP_RET}});
  program->setGlobalVariable("g", new VELQ_Value("old"));

  RunOptions options;
  options.args = {str("new")};
  RunOutcome out = runProgram(program.get(), options);
  EXPECT_EQ(out.output, "old");
  EXPECT_EQ(out.result, "new");
  EXPECT_EQ(variableText(program->getGlobals(), "g"), "old");

  VELQ_VariableSystem *globalsOut = nullptr;
  options.args = {str("newer")};
  options.globalsOut = &globalsOut;
  out = runProgram(program.get(), options);
  EXPECT_EQ(out.output, "old");
  ASSERT_NE(globalsOut, nullptr);
  EXPECT_NE(globalsOut, program->getGlobals());
  EXPECT_EQ(variableText(globalsOut, "g"), "newer");
  EXPECT_EQ(variableText(program->getGlobals(), "g"), "old");
  delete globalsOut;
}

namespace {

// Code that stores "changed" into element 0 of the array variable name.
std::vector<Op> storeChanged(const char *name) {
  return {
      {OP_PUSH_VAR, name}, {OP_PUSH_CONST, 0}, {OP_PUSH_CONST, "changed"}, {OP_ESET}, {OP_POP, 1}};
}

// The text of element 0 of the array a variable holds.
std::string firstElement(VELQ_VariableSystem *system, const char *name) {
  VELQ_Variable *variable = system ? system->find(name) : nullptr;
  VELQ_Array *array = variable ? variable->getValue()->getValueAsArray() : nullptr;
  return array && array->get(0) ? valueText(array->get(0)) : "<none>";
}

Const arrayOf(const char *first) {
  std::string text(first);
  return array([text](VELQ_Array *a) { a->set(0, new VELQ_Value(text.c_str())); });
}

}  // namespace

// A copy of a variable shares its array, so elements stored into a global's or a constant's
// array would outlive a run that restores the globals and constants, and would reach the
// caller's constants and, through globalsOut, tie the host's system to the program's.
TEST(Run, ElementsStoredIntoGlobalAndConstantArraysDoNotOutliveTheRun) {
  std::vector<Op> code = storeChanged("g");
  for (const char *name : {"c", "k"}) {
    std::vector<Op> more = storeChanged(name);
    code.insert(code.end(), more.begin(), more.end());
  }
  code.push_back({OP_PUSH_VAR, "g"});
  code.push_back({OP_PUSH_CONST, 0});
  code.push_back({OP_EGET});
  code.push_back({OP_RET});
  ProgramPtr program = buildProgram(code);
  program->setGlobalVariable("g", arrayOf("global").make());
  program->getConstants()->create("c", arrayOf("own constant").make());
  VELQ_VariableSystem given(false);
  given.create("k", arrayOf("given constant").make());

  VELQ_VariableSystem *globalsOut = nullptr;
  RunOptions options;
  options.constants = &given;
  options.globalsOut = &globalsOut;
  RunOutcome out = runProgram(program.get(), options);
  EXPECT_EQ(out.error, "");
  EXPECT_EQ(out.result, "changed");
  EXPECT_EQ(firstElement(globalsOut, "g"), "changed");
  EXPECT_EQ(firstElement(program->getGlobals(), "g"), "global");
  EXPECT_EQ(firstElement(program->getConstants(), "c"), "own constant");
  EXPECT_EQ(firstElement(&given, "k"), "given constant");

  // The host's globalsOut and the program share no array either.
  globalsOut->find("g")->getValue()->getValueAsArray()->set(0, new VELQ_Value("host's"));
  EXPECT_EQ(firstElement(program->getGlobals(), "g"), "global");
  delete globalsOut;

  options.globalsOut = nullptr;
  out = runProgram(program.get(), options);  // the next run starts from the same globals
  EXPECT_EQ(out.result, "changed");
  EXPECT_EQ(firstElement(program->getGlobals(), "g"), "global");
  EXPECT_EQ(firstElement(&given, "k"), "given constant");
}

TEST(Run, SetAndFindGlobalVariable) {
  ProgramPtr program = buildProgram({{OP_PUSH_VAR, "g"}, {OP_RET}});
  EXPECT_EQ(program->findGlobalVariable("g"), nullptr);
  program->setGlobalVariable("g", new VELQ_Value(1));
  VELQ_Variable *first = program->findGlobalVariable("g");
  program->setGlobalVariable("g", new VELQ_Value(2));
  EXPECT_EQ(program->findGlobalVariable("g"), first);  // replaced in place, not added
  EXPECT_EQ(program->getGlobals()->getCount(), 1u);
  EXPECT_EQ(runProgram(program.get()).result, "2");

  program->getConstants()->create("c", new VELQ_Value(3));
  EXPECT_EQ(program->findGlobalVariable("c"), nullptr);  // constants are not globals
}

// A value the program holds already (the latest result, a global's or a constant's value)
// handed to setGlobalVariable stays where it is; the global gets a copy. Handing a global its
// own value changes nothing.
TEST(Run, SetGlobalVariableCopiesAValueTheProgramHoldsAlready) {
  ProgramPtr program = buildProgram({{OP_PUSH_CONST, "result"}, {OP_RET}});
  program->getConstants()->create("k", new VELQ_Value("constant"));
  program->setGlobalVariable("g", new VELQ_Value("global"));
  ASSERT_EQ(runProgram(program.get()).result, "result");

  program->setGlobalVariable("fromResult", program->getResult());
  program->setGlobalVariable("fromGlobal", program->findGlobalVariable("g")->getValue());
  program->setGlobalVariable("fromConstant", program->getConstants()->find("k")->getValue());
  program->setGlobalVariable("g", program->findGlobalVariable("g")->getValue());
  program->setGlobalVariable(nullptr, program->getResult());  // no name: nothing is destroyed
  EXPECT_NE(program->findGlobalVariable("fromResult")->getValue(), program->getResult());
  EXPECT_EQ(variableText(program->getGlobals(), "fromResult"), "result");
  EXPECT_EQ(variableText(program->getGlobals(), "fromGlobal"), "global");
  EXPECT_EQ(variableText(program->getGlobals(), "fromConstant"), "constant");
  EXPECT_EQ(variableText(program->getGlobals(), "g"), "global");
  EXPECT_EQ(valueText(program->getResult()), "result");
  EXPECT_EQ(runProgram(program.get()).result, "result");  // the old result goes alone
  EXPECT_EQ(variableText(program->getGlobals(), "fromResult"), "result");
}

TEST(Run, GivenConstantsAreMergedForOneRunOnly) {
  // main: print c; print d; d = 0 (refused: merged names are constant)
  ProgramPtr program = buildProgram({{OP_PUSH_VAR, "c"},
                                     {OP_PRINT},
                                     {OP_PUSH_VAR, "d"},
                                     {OP_PRINT},
                                     {OP_PUSH_CONST, 0},
                                     atLine(6, {OP_SET, "d"}),
                                     {OP_RET}});
  program->getConstants()->create("c", new VELQ_Value("own"));
  VELQ_VariableSystem given(false);
  given.create("c", new VELQ_Value("given c"));
  given.create("d", new VELQ_Value("given d"));

  RunOptions options;
  options.constants = &given;
  RunOutcome out = runProgram(program.get(), options);
  EXPECT_EQ(out.output, "owngiven d");
  EXPECT_EQ(out.error, "Error 25 in line 6: Cannot assign to a variable that is constant");
  EXPECT_EQ(program->getConstants()->getCount(), 1u);
  EXPECT_EQ(program->getConstants()->find("d"), nullptr);
  EXPECT_EQ(given.getCount(), 2u);
  EXPECT_EQ(variableText(&given, "c"), "given c");
  EXPECT_FALSE(given.find("d")->isConstant());

  out = runProgram(program.get());
  EXPECT_EQ(out.output, "own(null)");  // d is an unknown local now
}

TEST(Run, ConstantsChangedInPlaceAreRestoredOnlyWhenConstantsWereGiven) {
  ProgramPtr program = buildProgram({{OP_INC, "c"}, {OP_RET}});
  program->getConstants()->create("c", new VELQ_Value(10));
  VELQ_VariableSystem given(false);
  RunOptions options;
  options.constants = &given;
  RunOutcome out = runProgram(program.get(), options);
  EXPECT_EQ(out.result, "10") << out.error;
  EXPECT_EQ(variableText(program->getConstants(), "c"), "10");

  out = runProgram(program.get());
  EXPECT_EQ(out.result, "10");
  EXPECT_EQ(variableText(program->getConstants(), "c"), "11");
}

TEST(Run, TheErrorTextOutlivesALaterSuccessfulRun) {
  // main: if ($1) ... — a string condition is error 3.
  ProgramPtr program = buildProgram(
      {{OP_PUSH_VAR, "$1"}, atLine(4, {OP_JZ, 3}), {OP_PUSH_CONST, "taken"}, {OP_RET}});
  EXPECT_STREQ(program->getErrorText(), "");
  EXPECT_EQ(program->getResult(), nullptr);

  RunOptions options;
  options.args = {i32(1)};
  EXPECT_EQ(runProgram(program.get(), options).result, "taken");
  options.args = {str("text")};
  RunOutcome failed = runProgram(program.get(), options);
  EXPECT_EQ(failed.rc, -1);
  EXPECT_EQ(program->getResult(), nullptr);
  options.args = {i32(1)};
  RunOutcome later = runProgram(program.get(), options);
  EXPECT_EQ(later.rc, 0);
  EXPECT_EQ(later.result, "taken");
  EXPECT_EQ(later.error, "Error 3 in line 4: Condition value is not a number");
}

TEST(Run, AModuleThatCannotBeLoadedStopsTheRunBeforeMain) {
  ProgramPtr program = buildProgram({{OP_PUSH_CONST, "main ran"}, {OP_PRINT}, {OP_NRET}});
  program->addPreload(strdup("velq_unit_test_module_that_does_not_exist"));
  RunOutcome out = runProgram(program.get());
  EXPECT_EQ(out.rc, -1);
  EXPECT_EQ(out.output, "");
  EXPECT_EQ(out.error, "Error 16 in line 0: Requested module not found or cannot be loaded");
  EXPECT_EQ(program->getCodeSize(), 3u);
}

TEST(Run, MergedModulesAreDroppedAtTheEndOfEveryRun) {
  VELQ_Library library;
  library.addScript(1, "helpers",
                    buildProgram({{OP_NOP}, {OP_PUSH_CONST, "from the module"}, {OP_RET}},
                                 {{"helper", 1}, {"main", 0}})
                        .release());
  ProgramPtr program = buildProgram({{OP_CALL_EXT, "helper", 0}, {OP_RET}});
  program->addPreload(strdup("helpers"));
  program->addPreload(strdup("HELPERS"));  // the same module: merged once
  for (int i = 0; i < 2; i++) {
    SCOPED_TRACE(i);
    RunOptions options;
    options.environment = new VELQ_Environment();
    options.environment->setLibrary(&library);
    RunOutcome out = runProgram(program.get(), options);
    EXPECT_EQ(out.rc, 0) << out.error;
    EXPECT_EQ(out.result, "from the module");
    EXPECT_EQ(program->getCodeSize(), 2u);
    EXPECT_EQ(program->getFunctionCount(), 1u);
    EXPECT_EQ(velq_test::moduleCountOf(program), 0u);
  }
}

namespace {

struct WatchedEnvironment : VELQ_Environment {
  bool *destroyed;
  explicit WatchedEnvironment(bool *flag) : destroyed(flag) {}
  ~WatchedEnvironment() override { *destroyed = true; }
};

}  // namespace

TEST(Run, TheProgramDestroysTheEnvironmentItWasGiven) {
  ProgramPtr program = buildProgram({{OP_PUSH_CONST, 1}, {OP_RET}});
  bool destroyed = false;
  EXPECT_EQ(program->run(new WatchedEnvironment(&destroyed), 0, nullptr, nullptr, nullptr, nullptr),
            0);
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(program->getEnvironment(), nullptr);
  EXPECT_EQ(program->getLocals(), nullptr);

  // Without an environment the run makes its own; PRINT then has no stream.
  program = buildProgram({{OP_PUSH_CONST, 1}, {OP_PRINT}, {OP_PUSH_CONST, 2}, {OP_RET}});
  EXPECT_EQ(program->run(nullptr, 0, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(valueText(program->getResult()), "2");
}

TEST(Run, TraceOutsideARunDoesNothing) {
  ProgramPtr program = buildProgram({{OP_NRET}});
  program->trace(1, "nobody listens");
}

TEST(Run, FramesAndValuesLeftByAFailedRunAreReleased) {
  // main calls f(1, 2); f calls g("x"), which fails with values on the stack and three
  // frames open. The sanitizer's leak check is the assertion here.
  ProgramPtr program = buildProgram({{OP_PUSH_CONST, 1},
                                     {OP_PUSH_CONST, 2},
                                     {OP_CALL, 4, 2},
                                     {OP_RET},
                                     {OP_BIND, "a"},  // f
                                     {OP_PUSH_CONST, "x"},
                                     {OP_CALL, 8, 1},
                                     {OP_RET},
                                     {OP_PUSH_CONST, "left over"},  // g
                                     {OP_PUSH_VAR, "$1"},
                                     atLine(11, {OP_JZ, 0}),
                                     {OP_NRET}});
  RunOutcome out = runProgram(program.get());
  EXPECT_EQ(out.error, "Error 3 in line 11: Condition value is not a number");
  out = runProgram(program.get());  // and the program runs again as before
  EXPECT_EQ(out.error, "Error 3 in line 11: Condition value is not a number");
}

namespace {

// Host function: runs the program that called it, from inside its own run.
int32_t runAgain(int32_t, VELQ_Value **, VELQ_Value **result, VELQ_Program *program) {
  VELQ_Value *argument = new VELQ_Value("arg");
  int rc = program->run(new VELQ_Environment(), 1, &argument, new VELQ_VariableSystem(), nullptr,
                        nullptr);
  *result = new VELQ_Value((int32_t)rc);
  return 0;
}

// Host function: runs the calling program again, handing over what the running program
// itself holds: its environment, locals, globals or constants, and the call's own arguments.
int32_t runAgainWithItsOwn(int32_t argc, VELQ_Value **argv, VELQ_Value **result,
                           VELQ_Program *program) {
  int rc = program->run(program->getEnvironment(), (unsigned long)argc, argv, program->getLocals(),
                        nullptr, nullptr);
  rc += program->run(nullptr, 0, nullptr, program->getGlobals(), nullptr, nullptr);
  rc += program->run(nullptr, 0, nullptr, program->getConstants(), nullptr, nullptr);
  *result = new VELQ_Value((int32_t)rc);
  return 0;
}

}  // namespace

TEST(Run, ARunFromInsideItsOwnRunIsRefused) {
  RunOptions options;
  options.functions = {hostFunction("again", runAgain, 0)};
  RunOutcome out =
      run({{OP_PUSH_CONST, "outer"}, {OP_CALL_EXT, "again", 0}, {OP_PRINT}, {OP_RET}}, options);
  EXPECT_EQ(out.rc, 0) << out.error;
  EXPECT_EQ(out.output, "-1");
  EXPECT_EQ(out.result, "outer");

  // Refused with what the running program holds, nothing of it is destroyed: the run goes
  // on with its environment, locals and arguments.
  options.functions = {hostFunction("again", runAgainWithItsOwn, 2)};
  out = run({{OP_PUSH_CONST, "x"},
             {OP_SET, "local"},
             {OP_PUSH_CONST, "first"},
             {OP_PUSH_CONST, "second"},
             {OP_CALL_EXT, "again", 2},
             {OP_PRINT},
             {OP_PUSH_VAR, "local"},
             {OP_RET}},
            options);
  EXPECT_EQ(out.rc, 0) << out.error;
  EXPECT_EQ(out.output, "-3");
  EXPECT_EQ(out.result, "x");
}

// The program's own globals or constants handed over as the locals of a run are not taken:
// the run makes locals of its own, and the systems stay the program's.
TEST(Run, TheProgramsOwnSystemsAreNotTakenAsLocals) {
  ProgramPtr program = buildProgram({{OP_PUSH_VAR, "g"}, {OP_RET}});
  program->setGlobalVariable("g", new VELQ_Value("global"));
  for (int which = 0; which < 2; which++) {
    VELQ_VariableSystem *own = which == 0 ? program->getGlobals() : program->getConstants();
    EXPECT_EQ(program->run(nullptr, 0, nullptr, own, nullptr, nullptr), 0);
    EXPECT_EQ(valueText(program->getResult()), "global");
  }
  EXPECT_EQ(variableText(program->getGlobals(), "g"), "global");
}

TEST(Run, TwoProgramsRunInTwoThreadsAtOnce) {
  // main: print $1; x = g; return x. Each thread checks its own output and result.
  auto makeProgram = [](const char *global) {
    ProgramPtr program = buildProgram(
        {{OP_PUSH_VAR, "$1"}, {OP_PRINT}, {OP_PUSH_VAR, "g"}, {OP_SET, "x"}, {OP_RET}});
    program->setGlobalVariable("g", new VELQ_Value(global));
    return program;
  };
  ProgramPtr programs[2] = {makeProgram("A"), makeProgram("B")};
  std::atomic<int> failures{0};
  auto work = [&](int which) {
    for (int i = 0; i < 300; i++) {
      RunOptions options;
      options.args = {i32(i * 2 + which)};
      RunOutcome out = runProgram(programs[which].get(), options);
      if (out.rc != 0 || out.output != std::to_string(i * 2 + which) ||
          out.result != (which ? "B" : "A"))
        failures++;
    }
  };
  std::thread first(work, 0), second(work, 1);
  first.join();
  second.join();
  EXPECT_EQ(failures.load(), 0);
}
