// Running out of memory anywhere must end in a clean failure. Each scenario below is run
// once as it is, then again and again with its first, second, third ... allocation made
// to fail, until a run gets through without reaching the failing one. Every run must
// then either give exactly what the first one gave (the engine did without the memory)
// or fail the way the rule for a refused allocation says: the compiler's "memory
// exhausted", the run's error 29, or a host call's failure result. Anything else (a crash,
// a wrong result passed off as success, a leak under the leak checker) fails the test.
//
// VELQ_FAULT_AT=N in the environment makes only the N-th allocation fail, to look at one
// case in a debugger (a breakpoint on velqInjectFault's caller, or on the refusal).
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "runtime/memory.h"
#include "velq.h"

namespace {

// What a scenario did, in words; compared between runs.
using Transcript = std::string;

// A stream the scripts print into, read back as text.
class Capture {
 public:
  Capture() : file(tmpfile()) {}
  ~Capture() {
    if (file) fclose(file);
  }
  FILE *stream() const { return file; }
  std::string text() const {
    std::string out;
    if (!file) return out;
    fflush(file);
    long size = ftell(file);
    rewind(file);
    out.resize((size_t)size);
    if (size > 0 && fread(&out[0], 1, (size_t)size, file) != (size_t)size) out = "<unread>";
    return out;
  }

 private:
  FILE *file;
};

// A host class whose objects carry a number: "value" can be read and written.
struct Gauge {
  int32_t value;
};

class GaugeClass : public VELQ_Class {
 public:
  GaugeClass() { setName("GAUGE"); }
  VELQ_Value *getAttr(VELQ_Object *object, const char *attr) override {
    if (strcmp(attr, "value") != 0) return nullptr;
    return new VELQ_Value(static_cast<Gauge *>(object->getData())->value);
  }
  int setAttr(VELQ_Object *object, const char *attr, VELQ_Value *value) override {
    if (strcmp(attr, "value") != 0 || !value->isInteger()) return 0;
    static_cast<Gauge *>(object->getData())->value = value->getValueAsInt32();
    return 1;
  }
  void onObjectDelete(VELQ_Object *object) override {
    delete static_cast<Gauge *>(object->getData());
  }
};

GaugeClass gaugeClass;

// gauge(n): a new GAUGE object holding n. A host handler that gets no memory from the
// engine reports it with error 29, as the engine's own functions do.
int32_t gaugeFunction(int32_t argc, VELQ_Value **argv, VELQ_Value **result, VELQ_Program *program) {
  if (!argv[0]->isInteger()) return VELQ_ERR_NOT_WHOLE;
  Gauge *gauge = new Gauge{argv[0]->getValueAsInt32()};
  VELQ_Object *object = new VELQ_Object(&gaugeClass, gauge);
  if (!object) {
    delete gauge;
    return VELQ_ERR_OUT_OF_MEMORY;
  }
  *result = new VELQ_Value(object);
  if (!*result) {
    delete object;  // and with it the gauge, through the class
    return VELQ_ERR_OUT_OF_MEMORY;
  }
  return 0;
}

// pair(a, b): a new array holding a at 0 and b at 1.
int32_t pairFunction(int32_t argc, VELQ_Value **argv, VELQ_Value **result, VELQ_Program *program) {
  VELQ_Array *array = new VELQ_Array();
  VELQ_Value *value = array ? new VELQ_Value(array) : nullptr;
  if (!value) {
    delete array;
    return VELQ_ERR_OUT_OF_MEMORY;
  }
  value->getValueAsArray()->set(0, new VELQ_Value(argv[0]));
  value->getValueAsArray()->set(1, new VELQ_Value(argv[1]));
  *result = value;
  return 0;
}

const VELQ_ExtFunction hostFunctions[] = {
    {"gauge", gaugeFunction, 1},
    {"pair", pairFunction, 2},
};

// Compiles source; on failure the transcript gets the compiler's message.
VELQ_Program *compile(const char *source, Transcript &out) {
  char error[VELQ_COMPILE_ERROR_SIZE] = "";
  VELQ_Program *program = VELQCompile(source, error, sizeof error);
  if (!program) out += std::string("compile: ") + error + "\n";
  return program;
}

// The text form of a value; objects and arrays, which have none, by their type. Numbers
// are written by the test, since reading a number's text may need memory too.
std::string textOf(VELQ_Value *value) {
  if (!value) return "<none>";
  if (value->isReal()) return std::to_string(value->getValueAsReal());
  if (value->isNumeric()) return std::to_string(value->getValueAsInt64());
  const char *text = value->getValueAsCString();
  return text ? text : VELQ_TypeName(value->getDataType());
}

// Writes what a run left: its status, output, error text or result, and the globals it
// handed back.
void describeRun(VELQ_Program *program, int status, Capture &output,
                 VELQ_VariableSystem *globalsOut, Transcript &out) {
  out += "output: " + output.text() + "\n";
  if (status != 0) {
    out += std::string("error: ") + program->getErrorText() + "\n";
  } else {
    VELQ_Value *result = program->getResult();
    out += "result: " + textOf(result) + "\n";
  }
  if (globalsOut) {
    for (uint32_t i = 0; i < globalsOut->getCount(); i++) {
      VELQ_Variable *v = globalsOut->getVariable(i);
      out += std::string("global ") + v->getName() + " = " + textOf(v->getValue()) + "\n";
    }
  }
}

const char *const languageScript = R"velq(
sub fib(n) { if (n < 2) return n; return fib(n - 1) + fib(n - 2); }
sub describe(x) {
  switch (typeof(x)) {
    case "int32": return "int " . x;
    case "string": return "text " . upper(x);
    default: return "other";
  }
}
sub main(a, b) {
  array list;
  i = 0;
  while (i < 40) { list[i] = "item" . i; i++; }
  array squares;
  i = 0;
  while (i < 40) { squares[i] = i * i; i++; }
  squares[3] = squares[39] + 1;
  array grid;
  grid[0] = list;
  grid[1][3] = "deep";
  copy = grid;
  copy[0][0] = "changed";
  s = "";
  i = 0;
  do { s = s . d2x(i) . ","; } while (++i < 30);
  if ("key=value42" match "([a-z]+)=([a-z]+)([0-9]+)") println $1 . "/" . $2 . "/" . ($3 + 1);
  println describe(a) . " " . describe(b) . " " . fib(12);
  println left(s, 20) . "|" . right("abc", 6) . "|" . substr(s, 3, 5) . "|" . trim("  x  ");
  println ("report.txt" like "*.txt") . (list[7] ilike "ITEM?") . index(s, "a,");
  println grid[0][0] . " " . copy[0][0] . " " . grid[1][3] . " " . length(s) . " " . squares[3];
  println strftime("%Y-%m-%d %H:%M", 86400 * 365, 0) . " " . gmtime(0)->year;
  println Join(Split("a,b,,c", ","), "+") . " " . Format("%05.1f|%-4s|%x", 3.14159, "ab", 255);
  println Replace("one two one", "one", "1") . " " . Count(Keys(list)) . " " . Round(2.675, 2);
  total = fib(10) + length(s);
  return a . ":" . b . ":" . total . ":" . Count(grid);
}
)velq";

// Compiles and runs a script that uses most of the language and the functions.
Transcript languageScenario() {
  Transcript out;
  VELQ_Program *program = compile(languageScript, out);
  if (!program) return out;
  Capture output;
  VELQ_Environment *environment = new VELQ_Environment();
  if (!environment) {
    delete program;
    return out + "environment: refused\n";
  }
  VELQRegisterToolkit(environment);
  environment->setIO(stdin, output.stream());
  VELQ_Value *argv[] = {new VELQ_Value("17"), new VELQ_Value("seven")};
  if (!argv[0] || !argv[1] || argv[0]->isNull() || argv[1]->isNull()) {
    delete argv[0];
    delete argv[1];
    delete environment;
    delete program;
    return out + "arguments: refused\n";
  }
  VELQ_VariableSystem *globalsOut = nullptr;
  int status = program->run(environment, 2, argv, nullptr, &globalsOut, nullptr);
  describeRun(program, status, output, globalsOut, out);
  delete globalsOut;
  delete program;
  return out;
}

const char *const hostScript = R"velq(
sub main(start) {
  g = gauge(start);
  g->value = g->value * 3;
  p = pair(g, "tag");
  h = p[0];
  h->value = h->value + 1;
  limitHit = g->value > limit;
  println p[1] . " " . g->value . " " . UNIT . " " . limitHit;
  seen = seen + 1;
  return g;
}
)velq";

// A host's functions, class, globals, constants and arguments.
Transcript hostScenario() {
  Transcript out;
  VELQ_Program *program = compile(hostScript, out);
  if (!program) return out;
  // The host's own values come from the engine's allocator too: a host checks them.
  VELQ_Value *limit = new VELQ_Value((int32_t)20);
  VELQ_Value *seen = new VELQ_Value((int32_t)5);
  VELQ_Value *unit = new VELQ_Value("kPa");
  VELQ_Value *start = new VELQ_Value((int32_t)7);
  VELQ_VariableSystem *constants = new VELQ_VariableSystem(true);
  VELQ_Environment *environment = new VELQ_Environment();
  // (A value made from text is null when its text gets no memory.)
  if (!limit || !seen || !unit || unit->isNull() || !start || !constants || !environment) {
    for (VELQ_Value *v : {limit, seen, unit, start}) delete v;
    delete constants;
    delete environment;
    delete program;
    return out + "setup: refused\n";
  }
  // setGlobalVariable has no result: without memory the global is not set, and the
  // host finds that out by looking for it.
  program->setGlobalVariable("limit", limit);
  program->setGlobalVariable("seen", seen);
  if (!program->findGlobalVariable("limit") || !program->findGlobalVariable("seen"))
    out += "global: refused\n";
  if (!constants->create("UNIT", unit)) out += "constant: refused\n";
  Capture output;
  environment->registerFunctionSet(2, hostFunctions);
  environment->setIO(stdin, output.stream());
  VELQ_Value *argv[] = {start};
  VELQ_VariableSystem *globalsOut = nullptr;
  int status = program->run(environment, 1, argv, nullptr, &globalsOut, constants);
  describeRun(program, status, output, globalsOut, out);
  if (status == 0) {
    VELQ_Value *result = program->getResult();
    VELQ_Object *object = result ? result->getValueAsObject() : nullptr;
    out += std::string("gauge: ") +
           (object ? std::to_string(static_cast<Gauge *>(object->getData())->value) : "none") +
           "\n";
  }
  delete globalsOut;
  delete constants;
  delete program;
  return out;
}

// A directory of module files for the module scenario, made once.
const std::string &moduleDirectory() {
  static std::string directory = [] {
    char pattern[] = "/tmp/velq-fault-XXXXXX";
    std::string made = mkdtemp(pattern) ? pattern : "/tmp";
    FILE *file = fopen((made + "/shapes.velq").c_str(), "w");
    if (file) {
      fputs("sub area(w, h) { return w * h; }\nsub label(x) { return \"shape \" . x; }\n", file);
      fclose(file);
    }
    return made;
  }();
  return directory;
}

// Modules from the script library and from a file, and one that cannot be found.
Transcript moduleScenario() {
  Transcript out;
  VELQ_Program *library = compile("sub twice(x) { return x * 2; }", out);
  VELQ_Program *program =
      compile("use numbers; use shapes; sub main() { return label(twice(area(3, 4))); }", out);
  VELQ_Program *missing = compile("use nowhere; sub main() { return 1; }", out);
  VELQ_Library *scripts = new VELQ_Library();
  if (!library || !program || !missing || !scripts) {
    delete library;
    delete program;
    delete missing;
    delete scripts;
    return out + "setup: refused\n";
  }
  if (!scripts->addScript(1, "numbers", library)) {
    delete library;
    out += "library: refused\n";
  }
  for (VELQ_Program *p : {program, missing}) {
    VELQ_Environment *environment = new VELQ_Environment();
    if (!environment) {
      out += "environment: refused\n";
      continue;
    }
    environment->setLibrary(scripts);
    environment->addModuleDirectory(moduleDirectory().c_str());
    Capture output;
    environment->setIO(stdin, output.stream());
    int status = p->run(environment, 0, nullptr, nullptr, nullptr, nullptr);
    describeRun(p, status, output, nullptr, out);
  }
  delete program;
  delete missing;
  delete scripts;
  return out;
}

// A compilation whose listing is read back: the code, the pools and the listing's lines.
Transcript listingScenario() {
  Transcript out;
  VELQ_Program *program = compile(languageScript, out);
  if (!program) return out;
  Capture listing;
  program->dump(listing.stream());
  out += listing.text();
  delete program;
  return out;
}

// Whether a run with an allocation made to fail ended as the rule says it may: as the
// run without the failure did, or with a failure the rule names.
bool failedCleanly(const Transcript &transcript, const Transcript &reference) {
  if (transcript == reference) return true;
  for (const char *mark : {"memory exhausted", "Error 29 in line", ": refused"})
    if (transcript.find(mark) != std::string::npos) return true;
  return false;
}

struct Scenario {
  const char *name;
  Transcript (*run)();
};

class FaultInjection : public testing::TestWithParam<Scenario> {};

TEST_P(FaultInjection, EveryAllocationMayFail) {
  const Scenario &scenario = GetParam();
  velqInjectFault(0);
  Transcript reference = scenario.run();
  ASSERT_EQ(reference.find("compile:"), std::string::npos) << reference;
  ASSERT_EQ(reference.find("Error 29"), std::string::npos) << reference;
  long failures = 0;
  const char *only = getenv("VELQ_FAULT_AT");
  for (long n = only ? atol(only) : 1;; n++) {
    velqInjectFault(n);
    Transcript transcript = scenario.run();
    bool injected = velqFaultInjected();
    velqInjectFault(0);
    if (!injected) {
      // The run got through before its n-th allocation: every one was tried.
      EXPECT_EQ(transcript, reference);
      break;
    }
    failures++;
    EXPECT_TRUE(failedCleanly(transcript, reference))
        << "allocation " << n << " failed and the scenario ended with:\n"
        << transcript << "\ninstead of:\n"
        << reference;
    if (HasFailure() || only) break;  // one case is enough to look at
  }
  EXPECT_TRUE(failures > 0 || only);
  printf("%s: %ld allocations made to fail in turn\n", scenario.name, failures);
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, FaultInjection,
    testing::Values(Scenario{"language", languageScenario}, Scenario{"host", hostScenario},
                    Scenario{"modules", moduleScenario}, Scenario{"listing", listingScenario}),
    [](const testing::TestParamInfo<Scenario> &info) { return std::string(info.param.name); });

}  // namespace
