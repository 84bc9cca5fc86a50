// Programs kept loaded and called by name; host functions with data of their own; host
// exceptions kept inside the run; errors as data; compile errors with source and column.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "velq.h"

namespace {

using ProgramPtr = std::unique_ptr<VELQ_Program>;

ProgramPtr compile(const char *source) {
  VELQ_CompileError error;
  ProgramPtr program(VELQCompileSource(source, strlen(source), "test.velq", &error));
  EXPECT_TRUE(program) << error.text;
  return program;
}

std::string text(VELQ_Value *value) {
  const char *t = value ? value->getValueAsCString() : nullptr;
  return t ? t : "(none)";
}

// Calls function with the arguments (the caller keeps them) and gives the result's text,
// or the error text.
std::string call(VELQ_Program *program, const char *function, std::vector<VELQ_Value *> args = {}) {
  int rc = program->call(function, args.size(), args.data());
  for (VELQ_Value *arg : args) delete arg;
  return rc == 0 ? text(program->getResult()) : program->getErrorText();
}

const char *const counterScript =
    "sub bump(by) { count = count + by; return count; }\n"
    "sub greet(name) { return \"hi \" . name; }\n"
    "sub main() { return bump(100); }\n";

TEST(LoadedProgram, CallsFunctionsByNameAndKeepsGlobalsBetweenCalls) {
  ProgramPtr program = compile(counterScript);
  program->setGlobalVariable("count", new VELQ_Value((int32_t)0));
  ASSERT_EQ(program->load(nullptr, nullptr), 0) << program->getErrorText();
  EXPECT_TRUE(program->isLoaded());
  EXPECT_EQ(call(program.get(), "bump", {new VELQ_Value((int32_t)2)}), "2");
  EXPECT_EQ(call(program.get(), "bump", {new VELQ_Value("3")}), "5");
  EXPECT_EQ(call(program.get(), "greet", {new VELQ_Value("Ada")}), "hi Ada");
  EXPECT_EQ(call(program.get(), "main"), "105");
  EXPECT_EQ(text(program->findGlobalVariable("count")->getValue()), "105");
}

TEST(LoadedProgram, CopiesOfOneProgramAreIndependent) {
  ProgramPtr compiled = compile(counterScript);
  compiled->setGlobalVariable("count", new VELQ_Value((int32_t)10));
  ProgramPtr first(new VELQ_Program(compiled.get()));
  ProgramPtr second(new VELQ_Program(compiled.get()));
  EXPECT_EQ(call(first.get(), "bump", {new VELQ_Value((int32_t)1)}), "11");
  EXPECT_EQ(call(first.get(), "bump", {new VELQ_Value((int32_t)1)}), "12");
  EXPECT_EQ(call(second.get(), "bump", {new VELQ_Value((int32_t)5)}), "15");
  // The compiled program is untouched, and a run of it restores its globals as designed.
  EXPECT_EQ(text(compiled->findGlobalVariable("count")->getValue()), "10");
  EXPECT_EQ(compiled->run(nullptr, 0, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(text(compiled->getResult()), "110");
  EXPECT_EQ(text(compiled->findGlobalVariable("count")->getValue()), "10");
}

TEST(LoadedProgram, ArgumentsAreCopiesTheCallerKeeps) {
  ProgramPtr program = compile("sub poke(a) { a[1] = 5; return a[1]; }");
  VELQ_Array *array = new VELQ_Array();
  array->set(1, new VELQ_Value((int32_t)1));
  VELQ_Value argument(array);
  VELQ_Value *argv[] = {&argument};
  ASSERT_EQ(program->call("poke", 1, argv), 0) << program->getErrorText();
  EXPECT_EQ(text(program->getResult()), "5");
  EXPECT_EQ(text(array->get(1)), "1");
}

TEST(LoadedProgram, ResultTakenBelongsToTheCaller) {
  ProgramPtr program = compile("sub f() { return \"kept\"; }");
  ASSERT_EQ(program->call("f", 0, nullptr), 0);
  std::unique_ptr<VELQ_Value> result(program->takeResult());
  EXPECT_EQ(program->getResult(), nullptr);
  ASSERT_EQ(program->call("f", 0, nullptr), 0);
  EXPECT_EQ(text(result.get()), "kept");
}

TEST(LoadedProgram, AFunctionThatIsMissingIsNamed) {
  ProgramPtr program = compile(counterScript);
  EXPECT_EQ(call(program.get(), "nosuch"), "Error 11 in line 0: Function not found");
  EXPECT_EQ(program->getErrorCode(), 11);
  EXPECT_STREQ(program->getErrorSubject(), "nosuch");
  // The next call works as before.
  EXPECT_EQ(call(program.get(), "greet", {new VELQ_Value("x")}), "hi x");
  EXPECT_EQ(program->getErrorCode(), 0);
  EXPECT_STREQ(program->getErrorSubject(), "");
}

TEST(LoadedProgram, BudgetsApplyToEachCall) {
  ProgramPtr program = compile("sub spin() { while (1); }\nsub ok() { return 1; }");
  program->setStepLimit(10000);
  EXPECT_EQ(call(program.get(), "spin"), "Error 26 in line 1: Step limit exceeded");
  EXPECT_EQ(call(program.get(), "ok"), "1");
}

// A module file in a directory of its own, merged once when the program is loaded.
class LoadedProgramModules : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/velq-loaded-XXXXXX";
    ASSERT_TRUE(mkdtemp(pattern));
    directory = pattern;
    std::ofstream(directory + "/shapes.velq") << "sub area(w, h) { return w * h; }\n";
  }
  void TearDown() override {
    unlink((directory + "/shapes.velq").c_str());
    rmdir(directory.c_str());
  }
  VELQ_Environment *environment() {
    VELQ_Environment *environment = new VELQ_Environment();
    environment->addModuleDirectory(directory.c_str());
    return environment;
  }
  std::string directory;
};

TEST_F(LoadedProgramModules, ModulesAreMergedOnceForAllCalls) {
  ProgramPtr program = compile("use shapes;\nsub twice(w) { return 2 * area(w, 3); }");
  ASSERT_EQ(program->load(environment(), nullptr), 0) << program->getErrorText();
  EXPECT_EQ(call(program.get(), "twice", {new VELQ_Value((int32_t)4)}), "24");
  EXPECT_EQ(call(program.get(), "area", {new VELQ_Value((int32_t)2), new VELQ_Value((int32_t)5)}),
            "10");
  unsigned long loadedSize = program->getCodeSize();
  program->unload();
  EXPECT_LT(program->getCodeSize(), loadedSize);
}

TEST_F(LoadedProgramModules, AModuleThatCannotBeFoundFailsTheLoadAndIsNamed) {
  ProgramPtr program = compile("use missing;\nsub f() { return 1; }");
  EXPECT_EQ(program->load(environment(), nullptr), -1);
  EXPECT_FALSE(program->isLoaded());
  EXPECT_EQ(program->getErrorCode(), 16);
  EXPECT_STREQ(program->getErrorSubject(), "missing");
}

// ---- Host functions with data, and host exceptions ----

int32_t addOffset(int32_t argc, VELQ_Value **argv, VELQ_Value **result, VELQ_Program *,
                  void *userData) {
  *result = new VELQ_Value(argv[0]->getValueAsInt32() + *static_cast<int32_t *>(userData));
  return 0;
}

int32_t throwing(int32_t, VELQ_Value **argv, VELQ_Value **, VELQ_Program *, void *) {
  if (argv[0]->getValueAsInt32() == 1) throw std::runtime_error("disk on fire");
  if (argv[0]->getValueAsInt32() == 2) throw 42;
  return 0;
}

int32_t raising(int32_t, VELQ_Value **, VELQ_Value **, VELQ_Program *program, void *) {
  program->setErrorDetail("quota of 3 calls used up");
  return VELQ_ERR_HOST_EXCEPTION;
}

VELQ_Environment *hostEnvironment(int32_t *offset) {
  VELQ_Environment *environment = new VELQ_Environment();
  environment->registerFunction("addOffset", addOffset, offset, 1);
  environment->registerFunction("throwing", throwing, nullptr, 1);
  environment->registerFunction("raising", raising, nullptr, 0);
  return environment;
}

TEST(HostFunctions, GetTheirOwnDataAndCopiesOfTheEnvironmentKeepIt) {
  int32_t offset = 1000;
  VELQ_Environment *environment = hostEnvironment(&offset);
  ProgramPtr program = compile("sub main(n) { return addOffset(n); }");
  VELQ_Value *argv[] = {new VELQ_Value((int32_t)7)};
  ASSERT_EQ(program->run(environment->copy(), 1, argv, nullptr, nullptr, nullptr), 0)
      << program->getErrorText();
  EXPECT_EQ(text(program->getResult()), "1007");
  offset = 5;
  argv[0] = new VELQ_Value((int32_t)7);
  ASSERT_EQ(program->run(environment, 1, argv, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(text(program->getResult()), "12");
}

struct ErrorCase {
  const char *script;
  const char *text;
  int code;
  const char *subject;
  const char *detail;
};

const char *const tail = "\nsub fine() { return \"ok\"; }";

class ErrorData : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ErrorData, NamesItsSubject) {
  const ErrorCase &c = GetParam();
  int32_t offset = 0;
  ProgramPtr program = compile((std::string(c.script) + tail).c_str());
  VELQ_VariableSystem constants(true);
  constants.create("PI", new VELQ_Value(3.14));
  ASSERT_EQ(program->load(hostEnvironment(&offset), &constants), 0);
  EXPECT_EQ(call(program.get(), "main"), c.text);
  EXPECT_EQ(program->getErrorCode(), c.code);
  EXPECT_EQ(program->getErrorLine(), 2);
  EXPECT_STREQ(program->getErrorSubject(), c.subject);
  EXPECT_STREQ(program->getErrorDetail(), c.detail);
  // The program runs normally after it.
  EXPECT_EQ(call(program.get(), "fine"), "ok");
}

INSTANTIATE_TEST_SUITE_P(
    Errors, ErrorData,
    ::testing::Values(
        ErrorCase{"sub main() {\n return nothere(1); }", "Error 11 in line 2: Function not found",
                  11, "nothere", ""},
        ErrorCase{"sub main() {\n return addOffset(1, 2); }",
                  "Error 12 in line 2: Invalid number of function's arguments", 12, "addOffset",
                  "expects 1 argument, got 2"},
        ErrorCase{"sub main() {\n return throwing(1); }", "Error 31 in line 2: Host exception", 31,
                  "throwing", "disk on fire"},
        ErrorCase{"sub main() {\n return throwing(2); }", "Error 31 in line 2: Host exception", 31,
                  "throwing", "an exception that is not a std::exception"},
        ErrorCase{"sub main() {\n return raising(); }", "Error 31 in line 2: Host exception", 31,
                  "raising", "quota of 3 calls used up"},
        ErrorCase{"sub main() {\n return length(1, 2); }",
                  "Error 12 in line 2: Invalid number of function's arguments", 12, "length",
                  "expects 1 argument, got 2"},
        ErrorCase{"sub main() {\n t = gmtime(0); return t->nosuch; }",
                  "Error 15 in line 2: Unknown object's attribute", 15, "nosuch", ""},
        ErrorCase{"sub main() {\n x = 1; array x; }", "Error 22 in line 2: Variable already exist",
                  22, "x", ""},
        ErrorCase{"sub main() {\n PI = 3; }",
                  "Error 25 in line 2: Cannot assign to a variable that is constant", 25, "PI",
                  ""}),
    [](const ::testing::TestParamInfo<ErrorCase> &info) {
      return "case" + std::to_string(info.index);
    });

// A class whose handlers throw: reading an attribute, and forgetting an object.
class ThrowingClass : public VELQ_Class {
 public:
  ThrowingClass() { setName("THROWER"); }
  VELQ_Value *getAttr(VELQ_Object *, const char *name) override {
    throw std::runtime_error(std::string("no ") + name);
  }
  void onObjectDelete(VELQ_Object *) override { throw std::logic_error("delete failed"); }
};

ThrowingClass throwingClass;
int objectData;

int32_t makeThrower(int32_t, VELQ_Value **, VELQ_Value **result, VELQ_Program *, void *) {
  *result = new VELQ_Value(new VELQ_Object(&throwingClass, &objectData));
  return 0;
}

TEST(HostExceptions, FromAClassEndTheRunWithError31AndTheProgramRunsAgain) {
  VELQ_Environment *environment = new VELQ_Environment();
  environment->registerFunction("Thrower", makeThrower, nullptr, 0);
  ProgramPtr program = compile(
      "sub read() { t = Thrower(); return t->size; }\n"
      "sub drop() { t = Thrower(); t = 0; while (1) { } }\n"
      "sub fine() { return 1; }");
  ASSERT_EQ(program->load(environment, nullptr), 0);
  EXPECT_EQ(call(program.get(), "read"), "Error 31 in line 1: Host exception");
  EXPECT_STREQ(program->getErrorSubject(), "size");
  EXPECT_STREQ(program->getErrorDetail(), "no size");
  EXPECT_EQ(call(program.get(), "drop"), "Error 31 in line 2: Host exception");
  EXPECT_STREQ(program->getErrorDetail(), "delete failed");
  EXPECT_EQ(call(program.get(), "fine"), "1");
}

// ---- Compile errors as data ----

TEST(CompileErrors, CarryTheSourceNameLineAndColumn) {
  struct Case {
    const char *source;
    const char *text;
    const char *message;
    int line, column;
  } cases[] = {
      {"sub main() {\n  x = ;\n}", "Error in line 2: syntax error, unexpected ';'",
       "syntax error, unexpected ';'", 2, 7},
      {"sub f() { }\nsub f() { }", nullptr, nullptr, 2, 0},
      {"sub main() { return 1 }", nullptr, nullptr, 1, 23},
  };
  for (const Case &c : cases) {
    VELQ_CompileError error;
    ProgramPtr program(VELQCompileSource(c.source, strlen(c.source), "job.velq", &error));
    ASSERT_FALSE(program) << c.source;
    char plain[VELQ_COMPILE_ERROR_SIZE];
    EXPECT_EQ(VELQCompile(c.source, plain, sizeof plain), nullptr);
    EXPECT_STREQ(error.text, plain) << "the text is VELQCompile's";
    if (c.text) {
      EXPECT_STREQ(error.text, c.text);
    }
    if (c.message) {
      EXPECT_STREQ(error.message, c.message);
    }
    EXPECT_STREQ(error.source, "job.velq");
    EXPECT_EQ(error.line, c.line) << c.source;
    if (c.column) {
      EXPECT_EQ(error.column, c.column) << c.source;
    }
    EXPECT_GE(error.column, 1);
  }
}

TEST(CompileErrors, ACountedSourceMayHoldZeroBytes) {
  const char source[] = "sub main() {\0return 5; }";
  VELQ_CompileError error;
  ProgramPtr program(VELQCompileSource(source, sizeof source - 1, nullptr, &error));
  ASSERT_TRUE(program) << error.text;
  ASSERT_EQ(program->run(nullptr, 0, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(text(program->getResult()), "5");
}

}  // namespace
