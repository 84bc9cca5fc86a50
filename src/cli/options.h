// Command-line options of the velq tool.
#ifndef VELQ_CLI_OPTIONS_H
#define VELQ_CLI_OPTIONS_H

#include <string>
#include <vector>

// Exit statuses of the tool. A run that ends through exit or _exit with a whole number
// from 0 to 255 exits with that number instead of VELQ_EXIT_OK.
enum {
  VELQ_EXIT_OK = 0,
  VELQ_EXIT_RUN_FAILED = 1,
  VELQ_EXIT_COMPILE_FAILED = 2,
  VELQ_EXIT_USAGE = 64,
  VELQ_EXIT_NO_INPUT = 66,
  VELQ_EXIT_INTERRUPTED = 130  // a run stopped by Ctrl-C (128 + SIGINT, as shells report it)
};

struct VelqOptions {
  enum Source { NO_SCRIPT, FROM_FILE, FROM_STDIN, FROM_TEXT };
  enum Action { RUN, DUMP, CHECK, HELP, HELP_FUNCTIONS, VERSION };

  Action action = RUN;
  bool printResult = false;  // -r
  bool trace = false;        // -t
  bool interactive = false;  // -i: the REPL, after the script if one is given
  bool toolkit = true;       // --no-toolkit: the built-in functions only
  Source source = NO_SCRIPT;
  std::string script;                  // the file name, or the text given with -e
  std::vector<std::string> modules;    // -m FILE, in the order given
  std::vector<std::string> arguments;  // $1, $2, ... as written

  // Budgets of every run; 0 is none.
  unsigned long long maxSteps = 0;       // --max-steps N
  unsigned long timeoutMilliseconds = 0;  // --timeout SECONDS
  unsigned long long maxMemoryBytes = 0;  // --max-memory SIZE
};

// Reads the command line. Options come first; the script (FILE, "-" or -e TEXT)
// ends them, and every word after it is an argument of the script, even one that
// starts with '-'. "--" ends the options too, so that FILE may start with '-'.
// Without a script, source is NO_SCRIPT: the caller decides whether that means the
// REPL. Returns true, or false with a one-line reason in *problem.
bool parseOptions(int argc, char **argv, VelqOptions *options, std::string *problem);

// The text of --help.
const char *velqUsageText();

#endif
