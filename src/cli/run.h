// How the velq tool runs a compiled program: the environment of each run, its budgets,
// Ctrl-C, and the exit status a run gives.
#ifndef VELQ_CLI_RUN_H
#define VELQ_CLI_RUN_H

#include <string>
#include <vector>

#include "options.h"
#include "report.h"

class VELQ_Environment;
class VELQ_Library;
class VELQ_Program;
class VELQ_VariableSystem;

// What every run of one tool invocation shares.
struct RunSetup {
  const VelqOptions *options = nullptr;
  VELQ_Library *library = nullptr;             // the -m modules
  std::vector<std::string> moduleDirectories;  // searched in order for NAME.velq
  ModuleFiles moduleFiles;                     // files of the library's modules, for reports
  std::string label;                           // the script's name in reports
};

// A new environment for one run: the trace hook of -t, standard input and output, the
// toolkit unless --no-toolkit, the library and the module folders.
VELQ_Environment *newRunEnvironment(const RunSetup &setup);

// Runs the program's main once with the budgets of the options and the script's
// arguments; Ctrl-C cancels the run. Returns what VELQ_Program::run returns.
int runWithBudgets(VELQ_Program *program, const RunSetup &setup, VELQ_VariableSystem **globalsOut);

// The exit status of a run that succeeded. After exit or _exit: an integer modulo 256
// (-1 gives 255), null 0, and any other value 1 (VELQ_EXIT_RUN_FAILED), so that a
// failure a script reports is never taken for success. A run that ends otherwise gives
// VELQ_EXIT_OK.
int exitStatusOfRun(VELQ_Program *program);

#endif
