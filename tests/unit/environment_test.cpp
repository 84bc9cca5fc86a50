// VELQ_Environment: the built-in table, host function sets, lookups, streams and the
// trace hook of derived environments.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "builtins/builtins.h"
#include "program_builder.h"
#include "velq.h"

namespace {

using velq_test::hostFunction;

int32_t hostSeven(int32_t, VELQ_Value **, VELQ_Value **result, VELQ_Program *) {
  *result = new VELQ_Value((int32_t)7);
  return 0;
}
int32_t hostEight(int32_t, VELQ_Value **, VELQ_Value **result, VELQ_Program *) {
  *result = new VELQ_Value((int32_t)8);
  return 0;
}

TEST(Environment, StartsWithItsOwnCopyOfThe30BuiltInsInTableOrder) {
  struct Builtin {
    const char *name;
    int32_t argCount;
  };
  const Builtin expected[] = {
      {"_exit", -1},      {"abs", 1},          {"classof", 1},
      {"d2x", -1},        {"exp", 1},          {"gmtime", -1},
      {"index", -1},      {"left", -1},        {"length", 1},
      {"localtime", -1},  {"log", 1},          {"log10", 1},
      {"lower", 1},       {"ltrim", 1},        {"max", -1},
      {"min", -1},        {"pow", 2},          {"right", -1},
      {"rindex", -1},     {"rtrim", 1},        {"strftime", -1},
      {"substr", -1},     {"time", 0},         {"trace", 2},
      {"trim", 1},        {"typeof", 1},       {"upper", 1},
      {"AddrInRange", 3}, {"AddrInSubnet", 3}, {"SecondsToUptime", 1},
  };
  VELQ_Environment env;
  ASSERT_EQ(env.getFunctionCount(), 30u);
  for (uint32_t i = 0; i < 30; i++) {
    const VELQ_ExtFunction *f = env.getFunction(i);
    EXPECT_STREQ(f->name, expected[i].name) << "record " << i;
    EXPECT_EQ(f->argCount, expected[i].argCount) << f->name;
    EXPECT_EQ(f->handler, VELQ_BuiltinFunctions[i].handler) << f->name;
    EXPECT_NE(f, &VELQ_BuiltinFunctions[i]);
  }
  EXPECT_EQ(env.getLibrary(), nullptr);
  EXPECT_EQ(env.getStdIn(), nullptr);
  EXPECT_EQ(env.getStdOut(), nullptr);

  VELQ_Environment other;
  EXPECT_NE(env.getFunction(0), other.getFunction(0));
}

TEST(Environment, FindFunctionComparesWholeNamesExactly) {
  VELQ_Environment env;
  ASSERT_NE(env.findFunction("abs"), nullptr);
  EXPECT_EQ(env.findFunction("abs")->handler, VELQ_BuiltinFunctions[1].handler);
  EXPECT_EQ(env.findFunction("SecondsToUptime"), env.getFunction(29));
  EXPECT_EQ(env.getFunction(30), nullptr);  // beyond the table
  const char *missing[] = {"ABS", "Abs", "ab", "absx", "", "secondstouptime"};
  for (const char *name : missing) EXPECT_EQ(env.findFunction(name), nullptr) << "'" << name << "'";
  EXPECT_EQ(env.findFunction(nullptr), nullptr);
}

TEST(Environment, RegisteredSetsFollowInOrderAndTheFirstEqualNameWins) {
  VELQ_Environment env;
  std::vector<VELQ_ExtFunction> first = {hostFunction("length", hostSeven, 0),
                                         hostFunction("seven", hostSeven, 0)};
  std::vector<VELQ_ExtFunction> second = {hostFunction("seven", hostEight, 3),
                                          hostFunction("eight", hostEight, -1)};
  env.registerFunctionSet(first.size(), first.data());
  env.registerFunctionSet(second.size(), second.data());
  env.registerFunctionSet(0, nullptr);
  ASSERT_EQ(env.getFunctionCount(), 34u);
  EXPECT_STREQ(env.getFunction(30)->name, "length");
  EXPECT_STREQ(env.getFunction(33)->name, "eight");

  EXPECT_EQ(env.findFunction("length")->handler, VELQ_BuiltinFunctions[8].handler);
  EXPECT_EQ(env.findFunction("seven")->handler, hostSeven);
  EXPECT_EQ(env.findFunction("seven")->argCount, 0);
  EXPECT_EQ(env.findFunction("eight")->argCount, -1);
}

TEST(Environment, RegisteredRecordsAreCopies) {
  VELQ_Environment env;
  VELQ_ExtFunction *records = new VELQ_ExtFunction[1];
  records[0] = hostFunction("temp", hostSeven, 1);
  env.registerFunctionSet(1, records);
  strcpy(records[0].name, "changed");
  records[0].argCount = 5;
  delete[] records;
  VELQ_ExtFunction *f = env.findFunction("temp");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->argCount, 1);
  EXPECT_EQ(env.findFunction("changed"), nullptr);
}

TEST(Environment, ANameFillingTheWholeFieldIsCutTo63Characters) {
  VELQ_Environment env;
  VELQ_ExtFunction record = hostFunction("", hostSeven, 0);
  memset(record.name, 'n', sizeof record.name);  // no terminating zero byte
  env.registerFunctionSet(1, &record);
  std::string longest(63, 'n');
  EXPECT_NE(env.findFunction(longest.c_str()), nullptr);
  EXPECT_EQ(env.findFunction(std::string(64, 'n').c_str()), nullptr);
}

// Records taken from the environment's own table are copied although registering moves
// the table; a count reaching past the table's end takes the records up to that end.
TEST(Environment, RecordsOfItsOwnTableCanBeRegisteredAgain) {
  const struct {
    uint32_t first;  // index of the first record handed back
    unsigned long count;
    uint32_t added;
  } cases[] = {{0, 31, 31}, {27, 3, 3}, {30, 1, 1}, {28, 1000, 3}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.first);
    VELQ_Environment env;
    std::vector<VELQ_ExtFunction> own = {hostFunction("seven", hostSeven, 0)};
    env.registerFunctionSet(own.size(), own.data());
    env.registerFunctionSet(c.count, env.getFunction(c.first));
    ASSERT_EQ(env.getFunctionCount(), 31 + c.added);
    for (uint32_t i = 0; i < c.added; i++) {
      EXPECT_STREQ(env.getFunction(31 + i)->name, env.getFunction(c.first + i)->name);
      EXPECT_EQ(env.getFunction(31 + i)->handler, env.getFunction(c.first + i)->handler);
      EXPECT_EQ(env.getFunction(31 + i)->argCount, env.getFunction(c.first + i)->argCount);
    }
  }
}

TEST(Environment, StreamsAndLibraryAreKeptNotOwned) {
  VELQ_Library library;
  FILE *in = tmpfile();
  FILE *out = tmpfile();
  {
    VELQ_Environment env;
    env.setIO(in, out);
    env.setLibrary(&library);
    EXPECT_EQ(env.getStdIn(), in);
    EXPECT_EQ(env.getStdOut(), out);
    EXPECT_EQ(env.getLibrary(), &library);
  }
  EXPECT_GE(fputs("still open", out), 0);  // the environment did not close it
  fclose(in);
  fclose(out);
  EXPECT_EQ(library.getCount(), 0u);
}

// A host environment: collects trace messages and notes its own destruction.
class TracingEnvironment : public VELQ_Environment {
 public:
  TracingEnvironment(std::vector<std::string> *lines, bool *destroyed)
      : lines(lines), destroyed(destroyed) {}
  ~TracingEnvironment() override { *destroyed = true; }
  void trace(int level, const char *text) override {
    lines->push_back(std::to_string(level) + ":" + text);
  }

 private:
  std::vector<std::string> *lines;
  bool *destroyed;
};

int32_t hostTrace(int32_t, VELQ_Value **, VELQ_Value **result, VELQ_Program *program) {
  program->trace(3, "from host");
  *result = new VELQ_Value();
  return 0;
}

TEST(Environment, TheBaseTraceIgnoresMessages) {
  VELQ_Environment env;
  env.trace(1, "nobody listens");
  env.trace(1, nullptr);
}

TEST(Environment, ADerivedEnvironmentGetsTraceAndIsDestroyedWholeByTheRun) {
  std::vector<std::string> lines;
  bool destroyed = false;
  velq_test::RunOptions options;
  options.environment = new TracingEnvironment(&lines, &destroyed);
  options.functions = {hostFunction("tr", hostTrace, 0)};
  velq_test::RunOutcome out =
      velq_test::run({{OP_CALL_EXT, "tr", 0}, {OP_POP, 1}, {OP_PUSH_CONST, 1}, {OP_RET}}, options);
  EXPECT_EQ(out.rc, 0) << out.error;
  EXPECT_EQ(out.result, "1");
  EXPECT_EQ(lines, std::vector<std::string>{"3:from host"});
  EXPECT_TRUE(destroyed) << "the run did not destroy the derived part";
}

}  // namespace
