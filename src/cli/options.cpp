// Command-line parsing of the velq tool.
#include "options.h"

#include <string.h>

namespace {

enum {
  MAX_TIMEOUT_SECONDS = 1000000000,  // about 31 years: more is a mistake, not a budget
};

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

// Reads decimal digits from text[*at] on into *value; false when there are none or the
// number passes limit.
bool readDigits(const std::string &text, size_t *at, unsigned long long limit,
                unsigned long long *value) {
  size_t start = *at;
  *value = 0;
  for (; *at < text.size() && text[*at] >= '0' && text[*at] <= '9'; ++*at) {
    unsigned digit = text[*at] - '0';
    if (*value > (limit - digit) / 10) return false;
    *value = *value * 10 + digit;
  }
  return *at > start;
}

// A count of steps: decimal digits.
bool parseSteps(const std::string &text, unsigned long long *steps) {
  size_t at = 0;
  return readDigits(text, &at, ~0ull, steps) && at == text.size();
}

// Seconds as a whole or decimal number ("2", "0.5"), as milliseconds rounded up, so that
// a time above zero never becomes no limit at all.
bool parseSeconds(const std::string &text, unsigned long *milliseconds) {
  size_t at = 0;
  unsigned long long seconds = 0;
  if (!readDigits(text, &at, MAX_TIMEOUT_SECONDS, &seconds)) return false;
  unsigned long long thousandths = 0;  // of the fraction, the first three digits
  bool more = false;                   // a digit after those
  if (at < text.size() && text[at] == '.') {
    size_t start = ++at;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
      if (at - start < 3)
        thousandths = thousandths * 10 + (text[at] - '0');
      else if (text[at] != '0')
        more = true;
    }
    if (at == start) return false;
    for (size_t n = at - start; n < 3; ++n) thousandths *= 10;
  }
  if (at != text.size()) return false;
  *milliseconds = (unsigned long)(seconds * 1000 + thousandths + (more ? 1 : 0));
  return true;
}

// A size in bytes: decimal digits and an optional K, M or G (of 1024, 1024² and 1024³
// bytes), in either case.
bool parseSize(const std::string &text, unsigned long long *bytes) {
  size_t at = 0;
  unsigned long long count = 0;
  if (!readDigits(text, &at, ~0ull, &count)) return false;
  unsigned shift = 0;
  if (at < text.size()) {
    const char *units = "KMG";
    const char *unit = strchr(units, text[at] & ~0x20);  // upper case
    if (!unit || text[at] == '\0') return false;
    shift = 10 * (unsigned)(unit - units + 1);
    ++at;
  }
  if (at != text.size() || count > (~0ull >> shift)) return false;
  *bytes = count << shift;
  return true;
}

// The long options that take a value, each with the reader of that value.
bool parseBudget(const std::string &name, const std::string &value, VelqOptions *options,
                 std::string *problem) {
  bool good;
  if (name == "--max-steps") {
    good = parseSteps(value, &options->maxSteps);
  } else if (name == "--timeout") {
    good = parseSeconds(value, &options->timeoutMilliseconds);
  } else {
    good = parseSize(value, &options->maxMemoryBytes);
  }
  if (!good) *problem = "invalid value for " + name + ": '" + value + "'";
  return good;
}

bool isBudgetOption(const std::string &name) {
  return name == "--max-steps" || name == "--timeout" || name == "--max-memory";
}

// A word starting with "--". Budget options take the rest of the word after '=' or the
// next word as their value.
bool parseLongOption(const char *word, int argc, char **argv, int *index, VelqOptions *options,
                     std::string *problem) {
  std::string name = word;
  size_t equals = name.find('=');
  if (equals != std::string::npos) {
    std::string value = name.substr(equals + 1);
    name.erase(equals);
    if (!isBudgetOption(name)) {
      *problem = "option '" + name + "' doesn't allow an argument";
      return false;
    }
    return parseBudget(name, value, options, problem);
  }
  if (isBudgetOption(name)) {
    if (*index + 1 >= argc) {
      *problem = "option '" + name + "' requires an argument";
      return false;
    }
    return parseBudget(name, argv[++*index], options, problem);
  }
  if (name == "--dump") {
    options->action = VelqOptions::DUMP;
  } else if (name == "--check") {
    options->action = VelqOptions::CHECK;
  } else if (name == "--result") {
    options->printResult = true;
  } else if (name == "--trace") {
    options->trace = true;
  } else if (name == "--interactive") {
    options->interactive = true;
  } else if (name == "--no-toolkit") {
    options->toolkit = false;
  } else if (name == "--help") {
    options->action = VelqOptions::HELP;
  } else if (name == "--help-functions") {
    options->action = VelqOptions::HELP_FUNCTIONS;
  } else if (name == "--version") {
    options->action = VelqOptions::VERSION;
  } else {
    *problem = "unrecognized option '" + name + "'";
    return false;
  }
  return true;
}

bool needsNoScript(VelqOptions::Action action) {
  return action == VelqOptions::HELP || action == VelqOptions::HELP_FUNCTIONS ||
         action == VelqOptions::VERSION;
}

}  // namespace

bool parseOptions(int argc, char **argv, VelqOptions *options, std::string *problem) {
  int index = 1;
  bool haveScript = false;
  for (; index < argc && !haveScript; ++index) {
    const char *word = argv[index];
    if (strcmp(word, "--") == 0) {
      ++index;
      break;
    }
    if (word[0] != '-' || word[1] == '\0') break;  // FILE, or "-" for standard input
    if (word[1] == '-') {
      if (!parseLongOption(word, argc, argv, &index, options, problem)) return false;
      continue;
    }
    // A cluster of short options such as -rt; -m and -e take a value.
    for (size_t letter = 1; word[letter] != '\0'; ++letter) {
      char c = word[letter];
      if (c == 'd') {
        options->action = VelqOptions::DUMP;
      } else if (c == 'c') {
        options->action = VelqOptions::CHECK;
      } else if (c == 'r') {
        options->printResult = true;
      } else if (c == 't') {
        options->trace = true;
      } else if (c == 'i') {
        options->interactive = true;
      } else if (c == 'h') {
        options->action = VelqOptions::HELP;
      } else if (c == 'v') {
        options->action = VelqOptions::VERSION;
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
  // --help, --help-functions and --version need no script and ignore the rest of the line.
  if (needsNoScript(options->action)) return true;

  if (!haveScript && index < argc) {
    options->script = argv[index];
    options->source = options->script == "-" ? VelqOptions::FROM_STDIN : VelqOptions::FROM_FILE;
    ++index;
  }
  if (options->source == VelqOptions::NO_SCRIPT && options->action != VelqOptions::RUN) {
    *problem = "no script given (FILE, '-' or -e TEXT)";
    return false;
  }
  for (; index < argc; ++index) options->arguments.push_back(argv[index]);
  return true;
}

const char *velqUsageText() {
  return "Usage: velq [OPTION]... FILE [ARG]...\n"
         "       velq [OPTION]... -e TEXT [ARG]...\n"
         "       velq [OPTION]...                 (the REPL, on a terminal)\n"
         "Compile a velq script and run its function main (or the script's single\n"
         "expression). Each ARG reaches the script as $1, $2, ...; an ARG that reads\n"
         "as a number is that number. FILE '-' reads the script from standard input.\n"
         "Options come before FILE or -e TEXT; every word after those is an ARG.\n"
         "A first line starting with #! and a UTF-8 byte-order mark are skipped.\n"
         "\n"
         "Options:\n"
         "  -e TEXT              take the script from TEXT instead of a file\n"
         "  -m FILE              compile FILE and offer it as a module under its base name\n"
         "                       without extension (so `use NAME;` finds it); may be repeated\n"
         "  -c, --check          compile only; report the first error as FILE:LINE: message,\n"
         "                       or a script without main\n"
         "  -d, --dump           compile only and write the program listing\n"
         "  -r, --result         after a successful run, write the result's text form and a\n"
         "                       line feed (null, object and array as their type name)\n"
         "  -t, --trace          write every trace(level, text) of the script to standard\n"
         "                       error as trace[LEVEL]: TEXT\n"
         "  -i, --interactive    read inputs from the REPL, after running the script if one\n"
         "                       is given (its functions are then at hand)\n"
         "      --no-toolkit     the built-in functions only, without the toolkit\n"
         "      --max-steps N    stop a run after N instructions (error 26)\n"
         "      --timeout SECONDS\n"
         "                       stop a run after SECONDS, whole or decimal (error 27)\n"
         "      --max-memory SIZE\n"
         "                       stop a run that holds more than SIZE bytes; SIZE may end\n"
         "                       in K, M or G (error 28)\n"
         "  -h, --help           show this help and exit\n"
         "      --help-functions\n"
         "                       list the toolkit's functions (ReadLine, Split, Format and\n"
         "                       the others) and the built-ins, and exit\n"
         "  -v, --version        show the version and exit\n"
         "  --                   end of options (for a FILE that starts with '-')\n"
         "\n"
         "print and println write to standard output. A run-time error is written to\n"
         "standard error as FILE:LINE: and the error text, then the calls that led there,\n"
         "innermost first; a compile error as FILE:LINE: and the compiler's message\n"
         "(FILE is -e for TEXT, - for standard input). Ctrl-C stops a run with error 30.\n"
         "\n"
         "Exit status:\n"
         "  0    the run, the check or the listing succeeded\n"
         "  N    the run ended with exit N or _exit(N), N an integer: N modulo 256\n"
         "  1    the run failed, ended with exit of a value neither integer nor null,\n"
         "       or -c found no main\n"
         "  2    the script or a module did not compile\n"
         "  64   wrong usage of the command line\n"
         "  66   FILE or a module file cannot be read\n"
         "  130  Ctrl-C stopped the run\n"
         "\n"
         "Example:\n"
         "  velq -e 'sub main(a, b) { println a + b; }' 2 3     prints 5\n"
         "  velq -r -e '$1 . \"!\"' hello                         prints hello!\n";
}
