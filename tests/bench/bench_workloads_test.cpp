// Runs every benchmark workload's velq version at the small size recorded beside it and
// compares its output with the recorded result, which the Lua and Python versions print
// at that size too. This keeps the benchmark scripts working as the engine changes,
// without needing Lua or Python here.
//
// NAME.small holds one line, "N RESULT": the size passed as $1 and the one line the
// script prints. "generate N RESULT" marks a workload whose output is itself a script
// (the compile benchmark): that script is compiled and run, and its output is compared.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "velq.h"
#include "velq_toolkit.h"

namespace {

namespace fs = std::filesystem;

const char *const kWorkloadDir = VELQ_BENCH_WORKLOADS;

struct Expectation {
  bool generates = false;
  std::string size;
  std::string output;  // the printed line, without its line feed
};

struct Outcome {
  bool ok = false;
  std::string output;
  std::string error;
};

std::vector<std::string> workloadNames() {
  std::vector<std::string> names;
  for (const auto &entry : fs::directory_iterator(kWorkloadDir)) {
    if (entry.path().extension() == ".velq") names.push_back(entry.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string pathOf(const std::string &name, const char *extension) {
  return (fs::path(kWorkloadDir) / (name + extension)).string();
}

// Reads NAME.small; false when it is missing or not of the form described above.
bool readExpectation(const std::string &name, Expectation *expectation) {
  std::ifstream file(pathOf(name, ".small"));
  std::string line;
  if (!file || !std::getline(file, line)) return false;
  std::istringstream words(line);
  std::string first;
  words >> first;
  if (first == "generate") {
    expectation->generates = true;
    words >> first;
  }
  expectation->size = first;
  words >> std::ws;
  std::getline(words, expectation->output);
  return !expectation->size.empty() && !expectation->output.empty();
}

// Compiles source and runs it with the given arguments, with the toolkit's functions
// (Sqrt, Format, ...) as the velq tool gives them to every run; returns what it printed.
Outcome runScript(const char *source, const std::vector<std::string> &args) {
  Outcome outcome;
  char compileError[VELQ_COMPILE_ERROR_SIZE] = "";
  VELQ_Program *program = VELQCompile(source, compileError, sizeof compileError);
  if (!program) {
    outcome.error = compileError;
    return outcome;
  }
  char *printed = nullptr;
  size_t printedSize = 0;
  FILE *output = open_memstream(&printed, &printedSize);
  VELQ_Environment *environment = new VELQ_Environment();
  environment->setIO(stdin, output);
  VELQRegisterToolkit(environment);
  std::vector<VELQ_Value *> argv;
  for (const std::string &arg : args) argv.push_back(new VELQ_Value(arg.c_str()));
  // The program takes the environment and the argument values.
  int status = program->run(environment, argv.size(), argv.data(), nullptr, nullptr, nullptr);
  fclose(output);
  outcome.ok = status == 0;
  outcome.output.assign(printed, printedSize);
  if (!outcome.ok) outcome.error = program->getErrorText();
  free(printed);
  delete program;
  return outcome;
}

Outcome runFile(const std::string &path, const std::vector<std::string> &args) {
  unsigned long size = 0;
  char *source = VELQLoadFile(path.c_str(), &size);
  if (!source) return Outcome{false, "", "cannot read " + path};
  Outcome outcome = runScript(source, args);
  free(source);
  return outcome;
}

class BenchWorkload : public ::testing::TestWithParam<std::string> {};

// Each workload exists in all three languages and records its small-size result.
TEST_P(BenchWorkload, HasEveryVersionAndAnExpectation) {
  const std::string &name = GetParam();
  for (const char *extension : {".lua", ".py"}) {
    EXPECT_TRUE(fs::exists(pathOf(name, extension))) << name << extension << " is missing";
  }
  Expectation expectation;
  EXPECT_TRUE(readExpectation(name, &expectation))
      << name << ".small is missing or is not \"[generate] N RESULT\"";
}

TEST_P(BenchWorkload, PrintsTheAgreedResultAtASmallSize) {
  const std::string &name = GetParam();
  Expectation expectation;
  ASSERT_TRUE(readExpectation(name, &expectation)) << name << ".small";

  Outcome outcome = runFile(pathOf(name, ".velq"), {expectation.size});
  ASSERT_TRUE(outcome.ok) << name << ".velq: " << outcome.error;
  if (expectation.generates) {
    ASSERT_FALSE(outcome.output.empty()) << name << ".velq generated nothing";
    outcome = runScript(outcome.output.c_str(), {});
    ASSERT_TRUE(outcome.ok) << "the script that " << name << ".velq generated: " << outcome.error;
  }
  EXPECT_EQ(outcome.output, expectation.output + "\n") << name << " at n = " << expectation.size;
}

INSTANTIATE_TEST_SUITE_P(Workloads, BenchWorkload, ::testing::ValuesIn(workloadNames()),
                         [](const ::testing::TestParamInfo<std::string> &info) {
                           return info.param;
                         });

// The directory must hold the workloads at all, or the tests above would pass vacuously.
TEST(BenchWorkloads, DirectoryHoldsWorkloads) {
  EXPECT_FALSE(workloadNames().empty()) << kWorkloadDir;
}

}  // namespace
