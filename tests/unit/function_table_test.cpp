// The function table answers lookups as a scan in table order would: the first record
// of a name wins, names are significant up to 63 bytes, and what a run merged and then
// dropped is never found again.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "velq.h"

namespace {

struct ProgramDeleter {
  void operator()(VELQ_Program *program) const { delete program; }
};
using ProgramPtr = std::unique_ptr<VELQ_Program, ProgramDeleter>;

ProgramPtr compile(const char *source) {
  char message[256] = "";
  VELQ_Program *program = VELQCompile(source, message, sizeof message);
  EXPECT_NE(program, nullptr) << message;
  return ProgramPtr(program);
}

std::string runResult(VELQ_Program *program, VELQ_Library *library) {
  VELQ_Environment *environment = new VELQ_Environment();
  environment->setLibrary(library);
  if (program->run(environment, 0, nullptr, nullptr, nullptr, nullptr) != 0)
    return program->getErrorText();
  VELQ_Value *result = program->getResult();
  const char *text = result ? result->getValueAsCString() : nullptr;
  return text ? text : "(none)";
}

TEST(FunctionTable, DuplicatesAreFoundAmongManyFunctions) {
  VELQ_Program program;
  char message[128];
  for (int i = 0; i < 5000; i++)
    ASSERT_EQ(program.addFunction(("f" + std::to_string(i)).c_str(), 0, message), 1);
  EXPECT_EQ(program.addFunction("f0", 0, message), 0);
  EXPECT_STREQ(message, "Duplicate function name: \"f0\"");
  EXPECT_EQ(program.addFunction("f4999", 0, message), 0);
  EXPECT_EQ(program.addFunction("F0", 0, message), 1);  // names are case-sensitive
  EXPECT_EQ(program.getFunctionCount(), 5001u);
}

TEST(FunctionTable, NamesLongerThanTheRecordAreStoredCutAndNeverMatch) {
  VELQ_Program program;
  char message[256];
  std::string longName(70, 'n');
  ASSERT_EQ(program.addFunction(longName.c_str(), 0, message), 1);
  // The stored name is cut to 63 bytes, so the whole name never equals it.
  EXPECT_EQ(program.addFunction(longName.c_str(), 0, message), 1);
  EXPECT_EQ(program.addFunction(std::string(63, 'n').c_str(), 0, message), 0);
  EXPECT_STREQ(program.getFunction(0)->name, std::string(63, 'n').c_str());
}

TEST(FunctionTable, FunctionsOfAModuleDroppedAfterARunAreNotFoundInTheNext) {
  VELQ_Library library;
  ASSERT_EQ(library.addScript(1, "m", compile("sub one() { return 1; }").release()), 1);
  ProgramPtr callsOne = compile("use m; sub main() { return one(); }");
  ProgramPtr callsTwo = compile("use m; sub main() { return two(); }");

  EXPECT_EQ(runResult(callsOne.get(), &library), "1");
  EXPECT_EQ(runResult(callsTwo.get(), &library), "Error 11 in line 1: Function not found");

  // The module changes between runs; its one function takes the same table position.
  library.deleteScript("m");
  ASSERT_EQ(library.addScript(1, "m", compile("sub two() { return 2; }").release()), 1);
  EXPECT_EQ(runResult(callsOne.get(), &library), "Error 11 in line 1: Function not found");
  EXPECT_EQ(runResult(callsTwo.get(), &library), "2");
  EXPECT_EQ(callsTwo->getFunctionCount(), 1u);
}

TEST(FunctionTable, TheProgramsOwnFunctionWinsOverAModulesOfTheSameName) {
  VELQ_Library library;
  ASSERT_EQ(library.addScript(1, "m", compile("sub f() { return \"module\"; }").release()), 1);
  ProgramPtr program = compile("use m; sub f() { return \"own\"; } sub main() { return g(); }"
                               " sub g() { return f(); }");
  EXPECT_EQ(runResult(program.get(), &library), "own");
}

}  // namespace
