// Command-line options of the velq tool.
#ifndef VELQ_CLI_OPTIONS_H
#define VELQ_CLI_OPTIONS_H

#include <string>
#include <vector>

// Exit statuses of the tool.
enum {
  VELQ_EXIT_OK = 0,
  VELQ_EXIT_RUN_FAILED = 1,
  VELQ_EXIT_COMPILE_FAILED = 2,
  VELQ_EXIT_USAGE = 64,
  VELQ_EXIT_NO_INPUT = 66
};

struct VelqOptions {
  enum Source { FROM_FILE, FROM_STDIN, FROM_TEXT };
  enum Action { RUN, DUMP, HELP, VERSION };

  Action action = RUN;
  bool printResult = false;  // -r
  bool trace = false;        // -t
  Source source = FROM_FILE;
  std::string script;                  // the file name, or the text given with -e
  std::vector<std::string> modules;    // -m FILE, in the order given
  std::vector<std::string> arguments;  // $1, $2, ... as written
};

// Reads the command line. Options come first; the script (FILE, "-" or -e TEXT)
// ends them, and every word after it is an argument of the script, even one that
// starts with '-'. "--" ends the options too, so that FILE may start with '-'.
// Returns true, or false with a one-line reason in *problem.
bool parseOptions(int argc, char **argv, VelqOptions *options, std::string *problem);

// The text of --help.
const char *velqUsageText();

#endif
