// velq: compiles a script and runs it, or writes its program listing.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "options.h"
#include "velq.h"

namespace {

// Writes every trace(level, text) of the script to standard error.
class TracingEnvironment : public VELQ_Environment {
 public:
  void trace(int level, const char *text) override {
    fprintf(stderr, "trace[%d]: %s\n", level, text ? text : "");
  }
};

// A script or module text read into memory, released with free.
struct SourceText {
  char *text = nullptr;
  ~SourceText() { free(text); }
};

int usageError(const std::string &problem) {
  fprintf(stderr, "velq: %s\nTry 'velq --help' for more information.\n", problem.c_str());
  return VELQ_EXIT_USAGE;
}

// Reads a script file as the engine reads module files (zero bytes become spaces).
// A directory is refused here: reading one is not the loader's business.
bool loadFile(const std::string &name, SourceText *source) {
  struct stat info;
  if (stat(name.c_str(), &info) != 0) {
    fprintf(stderr, "velq: cannot read %s: %s\n", name.c_str(), strerror(errno));
    return false;
  }
  if (S_ISDIR(info.st_mode)) {
    fprintf(stderr, "velq: cannot read %s: %s\n", name.c_str(), strerror(EISDIR));
    return false;
  }
  unsigned long size = 0;
  source->text = VELQLoadFile(name.c_str(), &size);
  if (!source->text) {
    fprintf(stderr, "velq: cannot read %s\n", name.c_str());
    return false;
  }
  return true;
}

// Reads the whole of standard input; zero bytes become spaces, as for files.
bool loadStandardInput(SourceText *source) {
  std::string text;
  char buffer[16384];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, stdin)) > 0) text.append(buffer, n);
  if (ferror(stdin)) {
    fprintf(stderr, "velq: cannot read standard input\n");
    return false;
  }
  for (char &c : text)
    if (c == '\0') c = ' ';
  source->text = strdup(text.c_str());
  return source->text != nullptr;
}

// Compiles text; on failure writes "NAME: " and the compiler's message.
VELQ_Program *compileOrReport(const char *text, const std::string &name) {
  char error[VELQ_COMPILE_ERROR_SIZE];
  VELQ_Program *program = VELQCompile(text, error, sizeof error);
  if (!program) fprintf(stderr, "%s: %s\n", name.c_str(), error);
  return program;
}

// The name a module file is offered under: its base name without the extension.
std::string moduleName(const std::string &file) {
  size_t slash = file.find_last_of('/');
  std::string base = slash == std::string::npos ? file : file.substr(slash + 1);
  size_t dot = base.find_last_of('.');
  if (dot != std::string::npos && dot > 0) base.erase(dot);
  return base;
}

// Compiles every -m FILE into the library. Returns an exit status, 0 when all went in.
int loadModules(const std::vector<std::string> &files, VELQ_Library *library) {
  unsigned long id = 0;
  for (const std::string &file : files) {
    std::string name = moduleName(file);
    if (name.empty()) return usageError("-m " + file + ": no module name in the file name");
    SourceText source;
    if (!loadFile(file, &source)) return VELQ_EXIT_NO_INPUT;
    VELQ_Program *module = compileOrReport(source.text, file);
    if (!module) return VELQ_EXIT_COMPILE_FAILED;
    if (!library->addScript(++id, name.c_str(), module)) {
      delete module;
      return usageError("-m " + file + ": a module named '" + name + "' is given already");
    }
  }
  return VELQ_EXIT_OK;
}

// Writes the result's text form, or the type name of a value without one.
void writeResult(VELQ_Value *result) {
  if (result && result->isString()) {
    uint32_t length = 0;
    const char *text = result->getValueAsString(&length);
    fwrite(text, 1, length, stdout);
  } else {
    fputs(VELQ_TypeName(result ? result->getDataType() : DTYPE_NULL), stdout);
  }
  fputc('\n', stdout);
}

int runScript(const VelqOptions &options) {
  SourceText source;
  std::string label;
  switch (options.source) {
    case VelqOptions::FROM_TEXT:
      source.text = strdup(options.script.c_str());
      label = "-e";
      break;
    case VelqOptions::FROM_STDIN:
      if (!loadStandardInput(&source)) return VELQ_EXIT_NO_INPUT;
      label = "-";
      break;
    case VelqOptions::FROM_FILE:
      if (!loadFile(options.script, &source)) return VELQ_EXIT_NO_INPUT;
      label = options.script;
      break;
  }

  VELQ_Library library;
  int status = loadModules(options.modules, &library);
  if (status != VELQ_EXIT_OK) return status;

  VELQ_Program *program = compileOrReport(source.text, label);
  if (!program) return VELQ_EXIT_COMPILE_FAILED;

  if (options.action == VelqOptions::DUMP) {
    program->dump(stdout);
    delete program;
    return VELQ_EXIT_OK;
  }

  VELQ_Environment *environment = options.trace ? new TracingEnvironment() : new VELQ_Environment();
  environment->setIO(stdin, stdout);
  environment->setLibrary(&library);

  std::vector<VELQ_Value *> arguments;
  arguments.reserve(options.arguments.size());
  for (const std::string &text : options.arguments)
    arguments.push_back(new VELQ_Value(text.c_str()));

  // The program takes the environment and the argument values.
  int outcome =
      program->run(environment, arguments.size(), arguments.data(), nullptr, nullptr, nullptr);
  if (outcome == 0) {
    if (options.printResult) writeResult(program->getResult());
  } else {
    fflush(stdout);
    const char *text = program->getErrorText();
    fprintf(stderr, "%s\n", text[0] ? text : "velq: the run stopped without an error text");
    status = VELQ_EXIT_RUN_FAILED;
  }
  delete program;
  return status;
}

}  // namespace

int main(int argc, char **argv) {
  VelqOptions options;
  std::string problem;
  if (!parseOptions(argc, argv, &options, &problem)) return usageError(problem);

  int status;
  if (options.action == VelqOptions::HELP) {
    fputs(velqUsageText(), stdout);
    status = VELQ_EXIT_OK;
  } else if (options.action == VelqOptions::VERSION) {
    printf("velq %s\n", VELQ_VERSION);
    status = VELQ_EXIT_OK;
  } else {
    status = runScript(options);
  }
  // Output that could not be written is a failure, not a success.
  if (fflush(stdout) != 0 || ferror(stdout)) {
    fprintf(stderr, "velq: cannot write to standard output\n");
    if (status == VELQ_EXIT_OK) status = VELQ_EXIT_RUN_FAILED;
  }
  return status;
}
