// velq: compiles a script and runs it, checks it, or writes its program listing; without
// a script on a terminal, or with -i, it reads lines from the REPL.
#include <ctype.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "interrupt.h"
#include "options.h"
#include "repl.h"
#include "report.h"
#include "run.h"
#include "script_text.h"
#include "velq.h"

namespace {

enum { SYNOPSIS_COLUMN = 26 };  // where --help-functions starts the descriptions

int usageError(const std::string &problem) {
  fprintf(stderr, "velq: %s\nTry 'velq --help' for more information.\n", problem.c_str());
  return VELQ_EXIT_USAGE;
}

// The toolkit's functions with what each gives, then the names of the built-ins.
void listFunctions() {
  printf("Toolkit functions (velq adds them to every run unless --no-toolkit is given):\n");
  // A synopsis too long for its column puts the description on a line of its own.
  for (const VELQ_ToolkitFunction &function : VELQ_ToolkitFunctions) {
    if (strlen(function.synopsis) + 3 > SYNOPSIS_COLUMN)
      printf("  %s\n%*s%s\n", function.synopsis, SYNOPSIS_COLUMN, "", function.description);
    else
      printf("  %-*s%s\n", SYNOPSIS_COLUMN - 2, function.synopsis, function.description);
  }
  printf("\nBuilt-in functions, in every run:\n ");
  VELQ_Environment builtins;
  size_t column = 1;
  for (uint32_t i = 0; i < builtins.getFunctionCount(); i++) {
    const char *name = builtins.getFunction(i)->name;
    if (column + 1 + strlen(name) > 80) {
      printf("\n ");
      column = 1;
    }
    column += printf(" %s", name);
  }
  printf("\n");
}

// The name a module file is offered under: its base name without the extension.
std::string moduleName(const std::string &file) {
  size_t slash = file.find_last_of('/');
  std::string base = slash == std::string::npos ? file : file.substr(slash + 1);
  size_t dot = base.find_last_of('.');
  if (dot != std::string::npos && dot > 0) base.erase(dot);
  return base;
}

std::string lowerCase(std::string text) {
  for (char &c : text) c = (char)tolower((unsigned char)c);
  return text;
}

// Compiles every -m FILE into the library and notes its file for reports. Returns an
// exit status, VELQ_EXIT_OK when all went in.
int loadModules(const std::vector<std::string> &files, RunSetup *setup) {
  unsigned long id = 0;
  for (const std::string &file : files) {
    std::string name = moduleName(file);
    if (name.empty()) return usageError("-m " + file + ": no module name in the file name");
    std::string text;
    if (!loadScriptFile(file, &text)) return VELQ_EXIT_NO_INPUT;
    VELQ_CompileError error;
    VELQ_Program *module = compileScriptText(text, file, &error);
    if (!module) {
      reportCompileError(file, error, text);
      return VELQ_EXIT_COMPILE_FAILED;
    }
    if (!setup->library->addScript(++id, name.c_str(), module)) {
      delete module;
      return usageError("-m " + file + ": a module named '" + name + "' is given already");
    }
    setup->moduleFiles[lowerCase(name)] = file;
  }
  return VELQ_EXIT_OK;
}

// The folders a script's `use` looks in: the script's own folder, then the current one.
// For a script in the current folder, and for -e and standard input, that is the
// current folder alone, which is where the engine looks when it is given none.
std::vector<std::string> moduleDirectoriesFor(const VelqOptions &options) {
  std::vector<std::string> directories;
  if (options.source != VelqOptions::FROM_FILE) return directories;
  size_t slash = options.script.find_last_of('/');
  if (slash == std::string::npos) return directories;
  std::string own = slash == 0 ? "/" : options.script.substr(0, slash);
  if (own == ".") return directories;
  directories.push_back(own);
  directories.push_back(".");
  return directories;
}

// Reads the script's text and names it for reports. Returns an exit status.
int loadScript(const VelqOptions &options, std::string *text, std::string *label) {
  switch (options.source) {
    case VelqOptions::FROM_TEXT:
      *text = options.script;
      skipScriptHeader(text);
      *label = "-e";
      return VELQ_EXIT_OK;
    case VelqOptions::FROM_STDIN:
      *label = "-";
      return loadStandardInput(text) ? VELQ_EXIT_OK : VELQ_EXIT_NO_INPUT;
    default:
      *label = options.script;
      return loadScriptFile(options.script, text) ? VELQ_EXIT_OK : VELQ_EXIT_NO_INPUT;
  }
}

// What -c finds beyond the compiler: a script without main, which every run would refuse
// with error 7, is reported as the run would report it. Returns an exit status.
int checkProgram(VELQ_Program *program, const std::string &label) {
  for (uint32_t i = 0; i < program->getFunctionCount(); i++)
    if (strcmp(program->getFunction(i)->name, "main") == 0) return VELQ_EXIT_OK;
  fprintf(stderr, "%s: Error %d in line 0: %s\n", label.c_str(), VELQ_ERR_NO_MAIN,
          VELQ_ErrorMessage(VELQ_ERR_NO_MAIN));
  return VELQ_EXIT_RUN_FAILED;
}

int runTool(const VelqOptions &options) {
  VELQ_Library library;
  RunSetup setup;
  setup.options = &options;
  setup.library = &library;
  setup.moduleDirectories = moduleDirectoriesFor(options);
  int status = loadModules(options.modules, &setup);
  if (status != VELQ_EXIT_OK) return status;
  if (options.source == VelqOptions::NO_SCRIPT) {
    setup.label = "repl";
    return runRepl(&setup, nullptr);
  }

  std::string text;
  status = loadScript(options, &text, &setup.label);
  if (status != VELQ_EXIT_OK) return status;
  VELQ_CompileError error;
  VELQ_Program *program = compileScriptText(text, setup.label, &error);
  if (!program) {
    reportCompileError(setup.label, error, text);
    return VELQ_EXIT_COMPILE_FAILED;
  }
  std::unique_ptr<VELQ_Program> owned(program);  // also when the tool runs out of memory
  if (options.action == VelqOptions::CHECK) return checkProgram(program, setup.label);
  if (options.action == VelqOptions::DUMP) {
    program->dump(stdout);
    return VELQ_EXIT_OK;
  }

  if (runWithBudgets(program, setup, nullptr) == 0) {
    status = exitStatusOfRun(program);
    if (options.printResult) writeResult(program->getResult(), stdout);
  } else {
    fflush(stdout);
    reportRunError(program, setup.label, setup.moduleFiles);
    status = takeInterrupt() ? VELQ_EXIT_INTERRUPTED : VELQ_EXIT_RUN_FAILED;
  }
  if (options.interactive) {
    fflush(stdout);
    return runRepl(&setup, owned.release());  // the session takes the program
  }
  return status;
}

int toolMain(int argc, char **argv) {
  VelqOptions options;
  std::string problem;
  if (!parseOptions(argc, argv, &options, &problem)) return usageError(problem);

  int status;
  if (options.action == VelqOptions::HELP) {
    fputs(velqUsageText(), stdout);
    status = VELQ_EXIT_OK;
  } else if (options.action == VelqOptions::HELP_FUNCTIONS) {
    listFunctions();
    status = VELQ_EXIT_OK;
  } else if (options.action == VelqOptions::VERSION) {
    printf("velq %s\n", VELQ_VERSION);
    status = VELQ_EXIT_OK;
  } else if (options.source == VelqOptions::NO_SCRIPT && !options.interactive &&
             !isatty(STDIN_FILENO)) {
    return usageError("no script given (FILE, '-' or -e TEXT)");
  } else {
    installInterruptHandler();
    status = runTool(options);
  }
  // Output that could not be written is a failure, not a success. (A write that Ctrl-C
  // cut short is part of the run it stopped.)
  if ((fflush(stdout) != 0 || ferror(stdout)) && status != VELQ_EXIT_INTERRUPTED) {
    fprintf(stderr, "velq: cannot write to standard output\n");
    if (status == VELQ_EXIT_OK) status = VELQ_EXIT_RUN_FAILED;
  }
  return status;
}

}  // namespace

// The tool's own work (its options, the script's text, reports, the REPL) takes memory
// from the standard allocator, which throws when the system refuses it, and so does
// newRunEnvironment when the engine refuses it: the tool then says so and fails, as a
// run that runs out of memory does, instead of ending by a signal.
int main(int argc, char **argv) {
  try {
    return toolMain(argc, argv);
  } catch (const std::bad_alloc &) {
  } catch (const std::length_error &) {  // a text too long for the standard library
  }
  fputs("velq: out of memory\n", stderr);
  return VELQ_EXIT_RUN_FAILED;
}
