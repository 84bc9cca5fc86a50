// Command-line parsing of the velq tool.
#include "options.h"

#include <string.h>

namespace {

// Takes the value of an option that needs one (-m FILE, -e TEXT): the rest of the
// word when the option letter was not the last of it (-mFILE), else the next word.
bool takeOptionValue(const char *word, size_t letter, int argc, char **argv, int *index,
                     std::string *value, std::string *problem) {
  if (word[letter + 1] != '\0') {
    *value = word + letter + 1;
    return true;
  }
  if (*index + 1 >= argc) {
    *problem = std::string("option requires an argument -- '") + word[letter] + "'";
    return false;
  }
  ++*index;
  *value = argv[*index];
  return true;
}

bool parseLongOption(const char *word, VelqOptions *options, std::string *problem) {
  if (strcmp(word, "--dump") == 0) {
    options->action = VelqOptions::DUMP;
  } else if (strcmp(word, "--result") == 0) {
    options->printResult = true;
  } else if (strcmp(word, "--trace") == 0) {
    options->trace = true;
  } else if (strcmp(word, "--help") == 0) {
    options->action = VelqOptions::HELP;
  } else if (strcmp(word, "--version") == 0) {
    options->action = VelqOptions::VERSION;
  } else {
    *problem = std::string("unrecognized option '") + word + "'";
    return false;
  }
  return true;
}

}  // namespace

bool parseOptions(int argc, char **argv, VelqOptions *options, std::string *problem) {
  int index = 1;
  bool haveScript = false;
  bool helpOrVersion = false;
  for (; index < argc && !haveScript; ++index) {
    const char *word = argv[index];
    if (strcmp(word, "--") == 0) {
      ++index;
      break;
    }
    if (word[0] != '-' || word[1] == '\0') break;  // FILE, or "-" for standard input
    if (word[1] == '-') {
      if (!parseLongOption(word, options, problem)) return false;
      if (options->action == VelqOptions::HELP || options->action == VelqOptions::VERSION)
        helpOrVersion = true;
      continue;
    }
    // A cluster of short options such as -rt; -m and -e take a value.
    for (size_t letter = 1; word[letter] != '\0'; ++letter) {
      char c = word[letter];
      if (c == 'd') {
        options->action = VelqOptions::DUMP;
      } else if (c == 'r') {
        options->printResult = true;
      } else if (c == 't') {
        options->trace = true;
      } else if (c == 'h') {
        options->action = VelqOptions::HELP;
        helpOrVersion = true;
      } else if (c == 'm' || c == 'e') {
        std::string value;
        if (!takeOptionValue(word, letter, argc, argv, &index, &value, problem)) return false;
        if (c == 'm') {
          options->modules.push_back(value);
        } else {
          options->source = VelqOptions::FROM_TEXT;
          options->script = value;
          haveScript = true;
        }
        break;
      } else {
        *problem = std::string("invalid option -- '") + c + "'";
        return false;
      }
    }
  }
  // --help and --version need no script and ignore the rest of the line.
  if (helpOrVersion) return true;

  if (!haveScript) {
    if (index >= argc) {
      *problem = "no script given (FILE, '-' or -e TEXT)";
      return false;
    }
    options->script = argv[index];
    options->source = options->script == "-" ? VelqOptions::FROM_STDIN : VelqOptions::FROM_FILE;
    ++index;
  }
  for (; index < argc; ++index) options->arguments.push_back(argv[index]);
  return true;
}

const char *velqUsageText() {
  return "Usage: velq [OPTION]... FILE [ARG]...\n"
         "       velq [OPTION]... -e TEXT [ARG]...\n"
         "Compile a velq script and run its function main (or the script's single\n"
         "expression). Each ARG reaches the script as $1, $2, ...; an ARG that reads\n"
         "as a number is that number. FILE '-' reads the script from standard input.\n"
         "Options come before FILE or -e TEXT; every word after those is an ARG.\n"
         "\n"
         "Options:\n"
         "  -e TEXT        take the script from TEXT instead of a file\n"
         "  -m FILE        compile FILE and offer it as a module under its base name\n"
         "                 without extension (so `use NAME;` finds it); may be repeated\n"
         "  -d, --dump     compile only and write the program listing\n"
         "  -r, --result   after a successful run, write the result's text form and a\n"
         "                 line feed (null, object and array are written as their type name)\n"
         "  -t, --trace    write every trace(level, text) of the script to standard error\n"
         "                 as trace[LEVEL]: TEXT\n"
         "  -h, --help     show this help and exit\n"
         "      --version  show the version and exit\n"
         "  --             end of options (for a FILE that starts with '-')\n"
         "\n"
         "print and println write to standard output; errors go to standard error as one line.\n"
         "\n"
         "Exit status:\n"
         "  0   the run or the listing succeeded\n"
         "  1   the run failed (its error text on standard error)\n"
         "  2   the script or a module did not compile: FILE (-e for TEXT, - for standard\n"
         "      input), ': ' and the compiler's message on standard error\n"
         "  64  wrong usage of the command line\n"
         "  66  FILE or a module file cannot be read\n"
         "\n"
         "Example:\n"
         "  velq -e 'sub main(a, b) { println a + b; }' 2 3     prints 5\n"
         "  velq -r -e '$1 . \"!\"' hello                         prints hello!\n";
}
