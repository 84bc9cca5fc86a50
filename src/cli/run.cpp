// How the velq tool runs a compiled program.
#include "run.h"

#include <stdio.h>

#include <memory>
#include <new>

#include "interrupt.h"
#include "velq.h"

namespace {

enum { EXIT_STATUS_MODULUS = 256 };  // a process's exit status is one byte

// Writes every trace(level, text) of the script to standard error.
class TracingEnvironment : public VELQ_Environment {
 public:
  void trace(int level, const char *text) override {
    fprintf(stderr, "trace[%d]: %s\n", level, text ? text : "");
  }
};

}  // namespace

VELQ_Environment *newRunEnvironment(const RunSetup &setup) {
  VELQ_Environment *environment =
      setup.options->trace ? new TracingEnvironment() : new VELQ_Environment();
  if (!environment) throw std::bad_alloc();  // the engine's new gives null
  environment->setIO(stdin, stdout);
  if (setup.options->toolkit) VELQRegisterToolkit(environment);
  environment->setLibrary(setup.library);
  for (const std::string &directory : setup.moduleDirectories)
    environment->addModuleDirectory(directory.c_str());
  return environment;
}

int runWithBudgets(VELQ_Program *program, const RunSetup &setup, VELQ_VariableSystem **globalsOut) {
  const VelqOptions &options = *setup.options;
  program->setStepLimit(options.maxSteps);
  program->setTimeLimit(options.timeoutMilliseconds);
  program->setMemoryLimit(options.maxMemoryBytes);

  // Values made here are the tool's until the program takes them, with the environment.
  std::vector<std::unique_ptr<VELQ_Value>> made;
  made.reserve(options.arguments.size());
  for (const std::string &text : options.arguments) {
    made.emplace_back(new VELQ_Value(text.c_str()));
    if (!made.back()) throw std::bad_alloc();
  }
  std::vector<VELQ_Value *> arguments;
  arguments.reserve(made.size());
  VELQ_Environment *environment = newRunEnvironment(setup);
  for (std::unique_ptr<VELQ_Value> &value : made) arguments.push_back(value.release());

  setRunningProgram(program);
  int outcome =
      program->run(environment, arguments.size(), arguments.data(), nullptr, globalsOut, nullptr);
  setRunningProgram(nullptr);
  return outcome;
}

int exitStatusOfRun(VELQ_Program *program) {
  VELQ_Value *result = program->getResult();
  if (!program->endedByExit() || !result || result->isNull()) return VELQ_EXIT_OK;
  if (!result->isInteger()) return VELQ_EXIT_RUN_FAILED;
  // As the shells do: the status is the integer modulo 256, so exit -1 gives 255.
  if (result->isUnsigned()) return (int)(result->getValueAsUInt64() % EXIT_STATUS_MODULUS);
  int64_t status = result->getValueAsInt64() % EXIT_STATUS_MODULUS;
  return (int)(status < 0 ? status + EXIT_STATUS_MODULUS : status);
}
