// What a host gets for running scripts it does not trust: step, time and memory budgets,
// cancellation from another thread, where an error happened, and which module files a
// run may load.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "velq.h"

namespace {

// Scripts compiled from source for these tests.
struct Compiled {
  explicit Compiled(const char *source) {
    char error[VELQ_COMPILE_ERROR_SIZE] = "";
    program = VELQCompile(source, error, sizeof error);
    if (!program) ADD_FAILURE() << error << "\n" << source;
  }
  ~Compiled() { delete program; }
  VELQ_Program *operator->() const { return program; }
  VELQ_Program *program;
};

struct Outcome {
  int status;
  std::string error;
  std::string result;  // "<none>" without a result
};

// Runs the program once with a fresh environment (and the toolkit); environment, when
// given, sets that environment up first.
Outcome runOnce(VELQ_Program *program, void (*prepare)(VELQ_Environment *) = nullptr) {
  VELQ_Environment *environment = new VELQ_Environment();
  VELQRegisterToolkit(environment);
  if (prepare) prepare(environment);
  int status = program->run(environment, 0, nullptr, nullptr, nullptr, nullptr);
  VELQ_Value *result = program->getResult();
  const char *text = result ? result->getValueAsCString() : nullptr;
  return {status, program->getErrorText(), result ? (text ? text : "<no text>") : "<none>"};
}

// A text of 2^20 bytes "a", and a pattern that takes about a second to fail on it.
const char *const slowLike = R"velq(
sub rep(s, n) { r = ""; while (n > 0) { if (n % 2) r = r . s; s = s . s; n = Floor(n / 2); } return r; }
sub main() {
  t = rep("a", 1048576);
  p = "*" . rep("a", 999) . "b*";
  return t like p;
}
)velq";

TEST(Budgets, AreOffByDefaultAndLeaveAnOrdinaryRunAlone) {
  Compiled program("sub main() { s = 0; i = 0; while (i < 10000) { s = s + i; i++; } return s; }");
  Outcome out = runOnce(program.program);
  EXPECT_EQ(out.status, 0) << out.error;
  EXPECT_EQ(out.result, "49995000");
}

TEST(Budgets, TheStepLimitIsExact) {
  Compiled program("sub main() { i = 0; while (i < 10) i++; return i; }");
  // The fewest steps the run needs: it fails with one step less.
  unsigned long long needed = 0;
  for (unsigned long long steps = 1; steps < 1000 && !needed; steps++) {
    program->setStepLimit(steps);
    if (runOnce(program.program).status == 0) needed = steps;
  }
  ASSERT_GT(needed, 10u);
  program->setStepLimit(needed - 1);
  Outcome out = runOnce(program.program);
  EXPECT_EQ(out.status, -1);
  EXPECT_EQ(out.error, "Error 26 in line 1: Step limit exceeded");
  EXPECT_EQ(out.result, "<none>");
  // The program can run again: with the limit it needs, and with none.
  program->setStepLimit(needed);
  EXPECT_EQ(runOnce(program.program).result, "10");
  program->setStepLimit(0);
  EXPECT_EQ(runOnce(program.program).result, "10");
}

TEST(Budgets, EachStopsARunawayScriptWithItsOwnError) {
  struct Case {
    const char *name;
    const char *source;
    unsigned long long steps;
    unsigned long milliseconds;
    unsigned long long bytes;
    const char *error;
  } cases[] = {
      {"steps in an endless loop", "sub main() {\n  while (1);\n}", 100000, 0, 0,
       "Error 26 in line 2: Step limit exceeded"},
      {"time in an endless loop", "sub main() {\n  while (1);\n}", 0, 50, 0,
       "Error 27 in line 2: Time limit exceeded"},
      {"time in endless calls", "sub f(n) { return n + 1; } sub main() { while (1) f(0); }", 0,
       50, 0, "Error 27 in line 1: Time limit exceeded"},
      {"time inside one wildcard match", slowLike, 0, 50, 0,
       "Error 27 in line 6: Time limit exceeded"},
      {"memory of a doubling text", "sub main() {\n  s = \"x\";\n  while (1) s = s . s;\n}", 0, 0,
       1 << 24, "Error 28 in line 3: Memory limit exceeded"},
      {"memory of one padded text", "sub main() { return length(left(\"x\", 600000000)); }", 0, 0,
       1 << 24, "Error 28 in line 1: Memory limit exceeded"},
      {"memory of a growing array",
       "sub main() {\n  array a;\n  i = 0;\n  while (1) { a[i] = i; i++; }\n}", 0, 0, 1 << 20,
       "Error 28 in line 4: Memory limit exceeded"},
      {"memory of deep recursion", "sub f(n, a, b, c) { return f(n + 1, a, b, c); }\nsub main() { return f(0, 1, 2, 3); }",
       0, 0, 1 << 20, "Error 28 in line 1: Memory limit exceeded"},
      {"memory of a regular expression", "sub main() { return \"x\" match \"((a{1000}){1000}){10}\"; }",
       0, 0, 1 << 26, "Error 28 in line 1: Memory limit exceeded"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Compiled program(c.source);
    program->setStepLimit(c.steps);
    program->setTimeLimit(c.milliseconds);
    program->setMemoryLimit(c.bytes);
    for (int round = 0; round < 2; round++) {  // the same again: nothing was left behind
      Outcome out = runOnce(program.program);
      EXPECT_EQ(out.status, -1);
      EXPECT_EQ(out.error, c.error);
      EXPECT_EQ(out.result, "<none>");
      EXPECT_GT(program->getErrorFrameCount(), 0u);  // reported even without memory left
    }
  }
}

TEST(Budgets, AMemoryLimitLeavesRoomForWhatFits) {
  // A regular expression within the budget is compiled; a text within it is made.
  Compiled program(
      "sub main() { t = left(\"x\", 100000); return (\"aab\" match \"(a{1,3})b\") . length(t); }");
  program->setMemoryLimit(1 << 24);
  Outcome out = runOnce(program.program);
  EXPECT_EQ(out.status, 0) << out.error;
  EXPECT_EQ(out.result, "1100000");
}

TEST(Cancel, StopsARunFromAnotherThread) {
  for (const char *source : {"sub main() {\n  while (1);\n}", slowLike}) {
    Compiled program(source);
    std::atomic<bool> done{false};
    std::thread canceller([&] {
      // Cancels until the run has ended: a cancel before the run started is dropped.
      while (!done.load()) {
        program->cancel();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    });
    Outcome out = runOnce(program.program);
    done = true;
    canceller.join();
    EXPECT_EQ(out.status, -1);
    EXPECT_NE(out.error.find("Error 30 in line"), std::string::npos) << out.error;
    EXPECT_NE(out.error.find("Run cancelled"), std::string::npos) << out.error;
  }
}

TEST(Cancel, OutsideARunChangesNothing) {
  Compiled program("sub main() { return 5; }");
  program->cancel();
  EXPECT_EQ(runOnce(program.program).result, "5");
}

TEST(ErrorFrames, NameTheCallsThatLedToTheError) {
  Compiled program(
      "sub inner(x) {\n  return x % 0;\n}\n"
      "sub outer(x) {\n  return inner(x) + 1;\n}\n"
      "sub main() {\n  return outer(2);\n}\n");
  Outcome out = runOnce(program.program);
  EXPECT_EQ(out.error, "Error 9 in line 2: Divide by zero");
  ASSERT_EQ(program->getErrorFrameCount(), 3u);
  EXPECT_EQ(program->getErrorCallDepth(), 3u);
  const char *names[] = {"inner", "outer", "main"};
  int lines[] = {2, 5, 8};
  for (uint32_t i = 0; i < 3; i++) {
    const VELQ_ErrorFrame *frame = program->getErrorFrame(i);
    ASSERT_NE(frame, nullptr);
    EXPECT_STREQ(frame->function, names[i]);
    EXPECT_EQ(frame->line, lines[i]);
  }
  EXPECT_EQ(program->getErrorFrame(3), nullptr);
}

TEST(ErrorFrames, KeepTheInnermostAndOutermostOfADeepChain) {
  Compiled program("sub f(n) {\n  if (n == 0) return 1 % 0;\n  return f(n - 1);\n}\nsub main() { return f(500); }");
  Outcome out = runOnce(program.program);
  EXPECT_EQ(out.error, "Error 9 in line 2: Divide by zero");
  EXPECT_EQ(program->getErrorCallDepth(), 502u);
  uint32_t count = program->getErrorFrameCount();
  ASSERT_GT(count, 2u);
  ASSERT_LT(count, 502u);
  EXPECT_EQ(program->getErrorFrame(0)->line, 2);
  EXPECT_STREQ(program->getErrorFrame(count - 1)->function, "main");
}

TEST(RunFacts, ExitAndArgumentCountAreReported) {
  Compiled exits("sub main() { exit 3; }");
  EXPECT_EQ(runOnce(exits.program).result, "3");
  EXPECT_TRUE(exits->endedByExit());
  Compiled returns("sub main() { return 3; }");
  EXPECT_EQ(runOnce(returns.program).result, "3");
  EXPECT_FALSE(returns->endedByExit());

  // During the run, for host functions (here the toolkit's ArgCount).
  Compiled counts("sub main() { return ArgCount(); }");
  VELQ_Environment *environment = new VELQ_Environment();
  VELQRegisterToolkit(environment);
  VELQ_Value *argv[] = {new VELQ_Value("a"), new VELQ_Value((int32_t)2)};
  ASSERT_EQ(counts->run(environment, 2, argv, nullptr, nullptr, nullptr), 0);
  EXPECT_STREQ(counts->getResult()->getValueAsCString(), "2");
  EXPECT_EQ(counts->getArgumentCount(), 0u);
}

// A directory with module files, removed at the end.
class ModuleFiles : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/velq-modules-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    directory = pattern;
    write("shapes.velq", "sub area(w, h) { return w * h; }\n");
    write("broken.velq", "sub area(w, h) { return w * ; }\n");
  }
  void TearDown() override {
    for (const char *name : {"shapes.velq", "broken.velq"}) unlink((directory + "/" + name).c_str());
    rmdir(directory.c_str());
  }
  void write(const char *name, const char *text) {
    FILE *file = fopen((directory + "/" + name).c_str(), "w");
    ASSERT_NE(file, nullptr);
    fputs(text, file);
    fclose(file);
  }
  static std::string directory;
};
std::string ModuleFiles::directory;

TEST_F(ModuleFiles, ComeFromTheDirectoriesTheHostGives) {
  Compiled program("use shapes;\nsub main() { return area(3, 4); }");
  Outcome out = runOnce(program.program, [](VELQ_Environment *environment) {
    environment->addModuleDirectory("/nonexistent-velq-directory");
    environment->addModuleDirectory(directory.c_str());
  });
  EXPECT_EQ(out.status, 0) << out.error;
  EXPECT_EQ(out.result, "12");
}

TEST_F(ModuleFiles, CanBeTurnedOff) {
  Compiled program("use shapes;\nsub main() { return area(3, 4); }");
  Outcome out = runOnce(program.program, [](VELQ_Environment *environment) {
    environment->addModuleDirectory(directory.c_str());
    environment->setModuleFiles(false);
  });
  EXPECT_EQ(out.error, "Error 16 in line 0: Requested module not found or cannot be loaded");
}

TEST_F(ModuleFiles, AFailureSaysWhereItLookedOrWhatWentWrong) {
  Compiled missing("use nowhere;\nsub main() { return 1; }");
  runOnce(missing.program,
          [](VELQ_Environment *environment) { environment->addModuleDirectory(directory.c_str()); });
  EXPECT_EQ(std::string(missing->getModuleFailure()),
            "module \"nowhere\" not found (looked in: " + directory + ")");

  Compiled broken("use broken;\nsub main() { return 1; }");
  runOnce(broken.program,
          [](VELQ_Environment *environment) { environment->addModuleDirectory(directory.c_str()); });
  std::string failure = broken->getModuleFailure();
  EXPECT_EQ(failure.rfind("module \"broken\" (" + directory + "/broken.velq): Error in line 1:", 0),
            0u)
      << failure;
}

}  // namespace
