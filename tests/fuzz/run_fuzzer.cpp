// Fuzzing harness: compiles the input as script text and runs the program.
//
// Each run gets what a host would give it: three arguments, a global and a constant,
// host functions that return numbers, objects and arrays (those of the script test
// runner, so that the seeds from tests/scripts reach them, and two more), a script
// library of modules, an output stream and a trace hook that write into a sink. Budgets
// of steps, time and memory end every run quickly: a script that loops ends with the
// budget's error, not in a fuzzer timeout.
//
// Modules are served from the library only: module files are turned off, and runs happen
// in an empty scratch folder besides, so that no script can read files. Because the
// current folder changes during a run, give the fuzzer -artifact_prefix with an absolute
// path (scripts/fuzz does).
//
// After every run the program must be as before it (code, functions, no module left
// merged), an error text must read "Error ...", and the error's frames are read; anything
// wrong stops the fuzzer.
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "test_access.h"
#include "velq.h"

namespace {

// Budgets of one run: steps enough for all but the few seed scripts that loop long, few
// enough for hundreds of looping runs a second; the time limit only backs them up.
const unsigned long long FUZZ_STEP_LIMIT = 5000;
const unsigned long FUZZ_TIME_LIMIT_MS = 1000;
const unsigned long long FUZZ_MEMORY_LIMIT_BYTES = 64ull << 20;
// host_list(n) makes at most this many elements.
const int32_t FUZZ_HOST_LIST_SIZE = 64;

FILE *sink;              // /dev/null: the output stream of every run
int homeFolder = -1;     // the folder the fuzzer started in, to return to after a run
int scratchFolder = -1;  // an empty folder, current during a run
char scratchPath[] = "/tmp/velq-fuzz-XXXXXX";
VELQ_Library *library;           // modules, made once
VELQ_VariableSystem *constants;  // merged into each run's constants, stays ours

[[noreturn]] void fail(const char *what, const char *detail) {
  fprintf(stderr, "run_fuzzer: %s%s%s\n", what, detail ? ": " : "", detail ? detail : "");
  abort();
}

// ---- Host functions and the POINT class ----

struct Point {
  int32_t x, y;
};

class PointClass : public VELQ_Class {
 public:
  PointClass() { setName("POINT"); }
  VELQ_Value *getAttr(VELQ_Object *object, const char *name) override {
    Point *point = static_cast<Point *>(object->getData());
    if (strcmp(name, "x") == 0) return new VELQ_Value(point->x);
    if (strcmp(name, "y") == 0) return new VELQ_Value(point->y);
    return nullptr;
  }
  int setAttr(VELQ_Object *object, const char *name, VELQ_Value *value) override {
    Point *point = static_cast<Point *>(object->getData());
    if (strcmp(name, "x") == 0) return point->x = value->getValueAsInt32(), 1;
    if (strcmp(name, "y") == 0) return point->y = value->getValueAsInt32(), 1;
    return 0;
  }
  void onObjectDelete(VELQ_Object *object) override {
    delete static_cast<Point *>(object->getData());
  }
};

PointClass pointClass;

VELQ_Value *newPoint(int32_t x, int32_t y) {
  return new VELQ_Value(new VELQ_Object(&pointClass, new Point{x, y}));
}

int32_t hostAdd(int32_t argc, VELQ_Value **argv, VELQ_Value **result, VELQ_Program *) {
  *result = new VELQ_Value(
      int32_t((uint32_t)argv[0]->getValueAsInt32() + (uint32_t)argv[1]->getValueAsInt32()));
  return 0;
}

int32_t hostAny(int32_t argc, VELQ_Value **argv, VELQ_Value **result, VELQ_Program *) {
  *result = new VELQ_Value(argc);
  return 0;
}

// Fails with the code given, whatever it is: 0 and -1 are successes that store nothing.
int32_t hostFail(int32_t argc, VELQ_Value **argv, VELQ_Value **result, VELQ_Program *) {
  return argv[0]->getValueAsInt32();
}

int32_t hostNoResult(int32_t argc, VELQ_Value **argv, VELQ_Value **result, VELQ_Program *) {
  return 0;
}

int32_t hostPoint(int32_t argc, VELQ_Value **argv, VELQ_Value **result, VELQ_Program *) {
  *result = newPoint(argv[0]->getValueAsInt32(), argv[1]->getValueAsInt32());
  return 0;
}

// host_list(n): an array of n (at most FUZZ_HOST_LIST_SIZE) elements, alternately a
// number, a text and a point, at indexes 0, 2, 4, ...
int32_t hostList(int32_t argc, VELQ_Value **argv, VELQ_Value **result, VELQ_Program *) {
  int32_t n = argv[0]->getValueAsInt32();
  if (n < 0) n = 0;
  if (n > FUZZ_HOST_LIST_SIZE) n = FUZZ_HOST_LIST_SIZE;
  VELQ_Array *list = new VELQ_Array();
  for (int32_t i = 0; i < n; i++) {
    VELQ_Value *element = i % 3 == 0   ? new VELQ_Value(i)
                          : i % 3 == 1 ? new VELQ_Value(std::to_string(i).c_str())
                                       : newPoint(i, -i);
    list->set(2 * i, element);
  }
  *result = new VELQ_Value(list);
  return 0;
}

// host_keep(v): its argument back, the same value the engine owns.
int32_t hostKeep(int32_t argc, VELQ_Value **argv, VELQ_Value **result, VELQ_Program *) {
  *result = argv[0];
  return 0;
}

const VELQ_ExtFunction hostFunctions[] = {
    {"host_add", hostAdd, 2},           {"host_any", hostAny, -1},    {"host_fail", hostFail, 1},
    {"host_noresult", hostNoResult, 0}, {"host_point", hostPoint, 2}, {"host_list", hostList, 1},
    {"host_keep", hostKeep, 1},
};

// Trace messages go to the sink, so that the text is read.
class FuzzEnvironment : public VELQ_Environment {
 public:
  void trace(int level, const char *text) override {
    fprintf(sink, "%d %s\n", level, text ? text : "");
  }
};

// ---- The library ----

// Modules the library offers, under names the seed scripts use.
const struct {
  const char *name;
  const char *source;
} libraryModules[] = {
    {"shared",
     "sub shared_value() { return 42; }\n"
     "sub sum_to(n) { s = 0; while (n > 0) { s = s + n; n--; } return s; }\n"},
    {"calls_back", "sub run_callback() { return program_side(5); }\n"},
    {"tools::where", "sub where() { return \"library\"; }\n"},
    {"mathmod",
     "sub twice_sum(n) { return sum_to(n) + sum_to(n); }\n"
     "sub sum_to(n) { s = 0; do { s = s + n; } while (--n > 0); return s; }\n"},
};

void makeLibrary() {
  library = new VELQ_Library();
  unsigned long id = 1;
  for (const auto &module : libraryModules) {
    char error[VELQ_COMPILE_ERROR_SIZE];
    VELQ_Program *program = VELQCompile(module.source, error, sizeof error);
    if (!program) fail("a library module does not compile", error);
    library->addScript(id++, module.name, program);
  }
}

// Writes where the latest error happened into the sink, so that every frame is read.
void writeErrorFrames(VELQ_Program *program) {
  uint32_t count = program->getErrorFrameCount();
  if (count > program->getErrorCallDepth()) fail("more error frames than calls", nullptr);
  for (uint32_t i = 0; i < count; i++) {
    const VELQ_ErrorFrame *frame = program->getErrorFrame(i);
    if (!frame) fail("an error frame below the count is missing", nullptr);
    fprintf(sink, "%s %s %s %d\n", frame->function ? frame->function : "-",
            frame->module ? frame->module : "-", frame->file ? frame->file : "-", frame->line);
  }
  if (program->getErrorFrame(count)) fail("an error frame beyond the count", nullptr);
  fprintf(sink, "%s\n", program->getModuleFailure());
}

// The program must be left as before its run.
void checkAfterRun(VELQ_Program *program, int status, unsigned long codeSize,
                   uint32_t functionCount) {
  if (program->getCodeSize() != codeSize) fail("the run left the code changed", nullptr);
  if (program->getFunctionCount() != functionCount)
    fail("the run left the functions changed", nullptr);
  if (velq_test::moduleCountOf(program) != 0) fail("the run left a module merged", nullptr);
  if (status != 0) {
    const char *text = program->getErrorText();
    if (strncmp(text, "Error ", 6) != 0) fail("error text without its prefix", text);
    if (strnlen(text, VELQ_ERROR_TEXT_SIZE) == VELQ_ERROR_TEXT_SIZE)
      fail("error text not terminated", nullptr);
    writeErrorFrames(program);
    return;
  }
  if (VELQ_Value *result = program->getResult()) {
    uint32_t length = 0;
    const char *text = result->getValueAsString(&length);
    if (text && length > 0) fwrite(text, 1, length, sink);
  }
}

void removeScratchFolder() { rmdir(scratchPath); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  sink = fopen("/dev/null", "w");
  homeFolder = open(".", O_RDONLY | O_DIRECTORY);
  if (!sink || homeFolder < 0 || !mkdtemp(scratchPath)) {
    perror("run_fuzzer: setting up");
    exit(1);
  }
  scratchFolder = open(scratchPath, O_RDONLY | O_DIRECTORY);
  if (scratchFolder < 0) {
    perror(scratchPath);
    exit(1);
  }
  atexit(removeScratchFolder);
  makeLibrary();
  constants = new VELQ_VariableSystem(true);
  constants->create("LIMIT", new VELQ_Value(int32_t(100)));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string source(reinterpret_cast<const char *>(data), size);
  VELQ_Program *program = VELQCompile(source.c_str(), nullptr, 0);
  if (!program) return 0;

  FuzzEnvironment *environment = new FuzzEnvironment();
  environment->registerFunctionSet(sizeof hostFunctions / sizeof hostFunctions[0], hostFunctions);
  environment->setIO(nullptr, sink);
  environment->setLibrary(library);
  environment->setModuleFiles(false);
  program->setStepLimit(FUZZ_STEP_LIMIT);
  program->setTimeLimit(FUZZ_TIME_LIMIT_MS);
  program->setMemoryLimit(FUZZ_MEMORY_LIMIT_BYTES);
  program->setGlobalVariable("g", new VELQ_Value("global"));
  VELQ_Value *argv[] = {new VELQ_Value("7"), new VELQ_Value("fuzz"), new VELQ_Value("-2.5")};
  unsigned long codeSize = program->getCodeSize();
  uint32_t functionCount = program->getFunctionCount();
  VELQ_VariableSystem *globals = nullptr;

  if (fchdir(scratchFolder) != 0) fail("cannot enter the scratch folder", scratchPath);
  int status = program->run(environment, 3, argv, nullptr, &globals, constants);
  if (fchdir(homeFolder) != 0) fail("cannot return to the starting folder", nullptr);

  checkAfterRun(program, status, codeSize, functionCount);
  delete globals;
  delete program;
  return 0;
}
