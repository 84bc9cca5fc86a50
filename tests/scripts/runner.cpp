// Script test runner: velq_script_runner DIR
//
// Finds every *.velq file under DIR (recursively, sorted by path), reads the
// expectations written in its comments, compiles it and either compares its listing
// or compile error, or runs it and compares output, result, result type and run-time
// error. Each mismatch is printed as "FILE:LINE: expected ..., got ...", where LINE is
// the line of the expectation; the last line is "N passed, M failed". The exit status
// is non-zero when any script failed.
//
// Every script runs in a child process of its own, with the current directory set to
// the script's folder, so that a crash, a leak reported at exit or a hang is charged
// to the script that caused it and the other scripts still run. The expectation
// format and the host functions the runner registers are described in README.md.
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "test_access.h"
#include "velq.h"

namespace fs = std::filesystem;

namespace {

// Seconds a script may run before its child process is stopped as hung.
const unsigned SCRIPT_TIME_LIMIT = 60;
// Exit status of a child whose script ran and showed at least one mismatch. It differs
// from 1, the status of a process that a sanitizer ends with a report.
const int CHILD_MISMATCH = 3;

// ---------------------------------------------------------------------------
// Expectations

struct Expectation {
  int line = 0;  // 0: not given
  std::string text;
  bool given() const { return line > 0; }
};

struct LibraryEntry {
  int line;
  std::string name;
  std::string file;
};

struct ScriptCase {
  std::string path;  // as shown in reports
  std::string file;  // absolute path
  bool module = false;
  std::vector<Expectation> output;
  Expectation result, type, runtimeError, compileError;
  std::vector<std::string> args;
  std::string input;  // the run's standard input, from the "// input:" lines
  int listingLine = 0;  // 0: no listing expected
  std::vector<Expectation> listing;
  std::vector<LibraryEntry> libraries;
  std::vector<Expectation> malformed;  // directives that could not be read
};

bool startsWith(const std::string &s, size_t at, const char *prefix) {
  return s.compare(at, strlen(prefix), prefix) == 0;
}

// Reads the directive that starts at `at` (just after "// ") into the case; returns
// false when the comment is not a directive.
bool readDirective(ScriptCase &sc, const std::string &line, size_t at, int number) {
  struct Keyed {
    const char *key;
    Expectation ScriptCase::*field;
  };
  static const Keyed keyed[] = {
      {"expect result:", &ScriptCase::result},
      {"expect type:", &ScriptCase::type},
      {"expect runtime error:", &ScriptCase::runtimeError},
      {"expect compile error:", &ScriptCase::compileError},
  };
  auto restAfter = [&](const char *key) {
    size_t from = at + strlen(key);
    if (from < line.size() && line[from] == ' ') from++;
    return line.substr(std::min(from, line.size()));
  };
  for (const Keyed &k : keyed) {
    if (!startsWith(line, at, k.key)) continue;
    Expectation &e = sc.*(k.field);
    if (e.given()) sc.malformed.push_back({number, std::string("a second '") + k.key + "'"});
    e = {number, restAfter(k.key)};
    return true;
  }
  if (startsWith(line, at, "expect:")) {
    sc.output.push_back({number, restAfter("expect:")});
    return true;
  }
  if (startsWith(line, at, "args:")) {
    std::string rest = restAfter("args:");
    size_t i = 0;
    while (i < rest.size()) {
      while (i < rest.size() && (rest[i] == ' ' || rest[i] == '\t')) i++;
      size_t j = i;
      while (j < rest.size() && rest[j] != ' ' && rest[j] != '\t') j++;
      if (j > i) sc.args.push_back(rest.substr(i, j - i));
      i = j;
    }
    return true;
  }
  if (startsWith(line, at, "input:")) {
    sc.input += restAfter("input:") + "\n";
    return true;
  }
  if (startsWith(line, at, "listing:")) {
    sc.listingLine = number;
    return true;
  }
  if (startsWith(line, at, "library ")) {
    std::string rest = restAfter("library");
    size_t colon = rest.find(": ");  // a compound name holds "::" but never ": "
    if (colon == std::string::npos || colon == 0) {
      sc.malformed.push_back({number, "'// library NAME: FILE'"});
      return true;
    }
    std::string file = rest.substr(colon + 1);
    size_t first = file.find_first_not_of(" \t");
    size_t last = file.find_last_not_of(" \t");
    file = first == std::string::npos ? std::string() : file.substr(first, last - first + 1);
    sc.libraries.push_back({number, rest.substr(0, colon), file});
    return true;
  }
  return false;
}

// Reads the expectations of one script. Directives may stand on a line of their own
// or after code; listing lines follow "// listing:" as whole-line comments.
bool readScriptCase(ScriptCase &sc) {
  std::ifstream in(sc.file, std::ios::binary);
  if (!in) return false;
  std::string line;
  int number = 0;
  bool inListing = false;
  while (std::getline(in, line)) {
    number++;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (number == 1 && startsWith(line, 0, "// module")) {
      sc.module = true;
      return true;
    }
    if (inListing) {
      if (startsWith(line, 0, "//")) {
        size_t from = startsWith(line, 0, "// ") ? 3 : 2;
        sc.listing.push_back({number, line.substr(from)});
        continue;
      }
      inListing = false;
    }
    for (size_t at = line.find("// "); at != std::string::npos; at = line.find("// ", at + 1)) {
      if (readDirective(sc, line, at + 3, number)) {
        if (sc.listingLine == number) inListing = true;
        break;
      }
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// Reporting

// Shows a text in a report: quoted, with control bytes escaped.
std::string show(const std::string &s) {
  std::string out = "'";
  for (unsigned char c : s) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c == 0x7f) {
      char buf[8];
      snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    } else {
      out += (char)c;
    }
  }
  return out + "'";
}

struct Reporter {
  const ScriptCase &sc;
  int mismatches = 0;

  void mismatch(int line, const std::string &expected, const std::string &got) {
    printf("%s:%d: expected %s, got %s\n", sc.path.c_str(), line, expected.c_str(), got.c_str());
    mismatches++;
  }
  // The line to charge a failure to when no single expectation names it.
  int firstExpectationLine() const {
    int line = 0;
    auto consider = [&](int l) {
      if (l > 0 && (line == 0 || l < line)) line = l;
    };
    for (const Expectation &e : sc.output) consider(e.line);
    consider(sc.result.line);
    consider(sc.type.line);
    consider(sc.runtimeError.line);
    return line > 0 ? line : 1;
  }
};

// Splits text into lines ended by line feeds; a last piece without one is flagged.
std::vector<std::string> splitLines(const std::string &text, bool *unterminated) {
  std::vector<std::string> lines;
  size_t start = 0;
  *unterminated = false;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      *unterminated = true;
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// Compares lines of actual text with expected lines, one by one.
void compareLines(Reporter &r, const std::vector<Expectation> &expected, const std::string &actual,
                  int fallbackLine, const char *what) {
  bool unterminated = false;
  std::vector<std::string> lines = splitLines(actual, &unterminated);
  size_t n = std::max(expected.size(), lines.size());
  for (size_t i = 0; i < n; i++) {
    bool last = i + 1 == lines.size();
    if (i < expected.size() && i < lines.size()) {
      if (expected[i].text != lines[i])
        r.mismatch(expected[i].line, show(expected[i].text), show(lines[i]));
      else if (last && unterminated)
        r.mismatch(expected[i].line, show(expected[i].text) + " and a line feed",
                   show(lines[i]) + " without a line feed");
    } else if (i < expected.size()) {
      r.mismatch(expected[i].line, show(expected[i].text), std::string("the end of the ") + what);
    } else {
      int line = expected.empty() ? fallbackLine : expected.back().line;
      r.mismatch(line, std::string("no more ") + what, show(lines[i]));
    }
  }
}

// ---------------------------------------------------------------------------
// Host side of the runs: trace hook, host functions and the POINT class

// An environment whose trace hook writes into the captured output.
class RunnerEnvironment : public VELQ_Environment {
 public:
  void trace(int level, const char *text) override {
    if (FILE *out = getStdOut()) fprintf(out, "trace[%d]: %s\n", level, text ? text : "(null)");
  }
};

struct PointData {
  int32_t x;
  int32_t y;
};

// Host class "POINT": objects with the readable and writable int attributes x and y.
class PointClass : public VELQ_Class {
 public:
  PointClass() { snprintf(name, sizeof name, "%s", "POINT"); }

  VELQ_Value *getAttr(VELQ_Object *object, const char *attr) override {
    int32_t *field = fieldOf(object, attr);
    return field ? new VELQ_Value(*field) : nullptr;
  }
  int setAttr(VELQ_Object *object, const char *attr, VELQ_Value *value) override {
    int32_t *field = fieldOf(object, attr);
    if (!field || !value) return 0;
    *field = value->getValueAsInt32();
    return 1;
  }
  void onObjectDelete(VELQ_Object *object) override {
    delete static_cast<PointData *>(object->getData());
  }

 private:
  static int32_t *fieldOf(VELQ_Object *object, const char *attr) {
    PointData *p = object ? static_cast<PointData *>(object->getData()) : nullptr;
    if (!p || !attr) return nullptr;
    if (strcmp(attr, "x") == 0) return &p->x;
    if (strcmp(attr, "y") == 0) return &p->y;
    return nullptr;
  }
};

PointClass pointClass;

int32_t hostAdd(int32_t argc, VELQ_Value **argv, VELQ_Value **result, VELQ_Program *) {
  *result = new VELQ_Value((int32_t)(argv[0]->getValueAsInt32() + argv[1]->getValueAsInt32()));
  return 0;
}

int32_t hostAny(int32_t argc, VELQ_Value **, VELQ_Value **result, VELQ_Program *) {
  *result = new VELQ_Value((int32_t)argc);
  return 0;
}

int32_t hostFail(int32_t argc, VELQ_Value **argv, VELQ_Value **, VELQ_Program *) {
  return argv[0]->getValueAsInt32();
}

int32_t hostNoResult(int32_t, VELQ_Value **, VELQ_Value **, VELQ_Program *) { return 0; }

int32_t hostPoint(int32_t argc, VELQ_Value **argv, VELQ_Value **result, VELQ_Program *) {
  PointData *data = new PointData{argv[0]->getValueAsInt32(), argv[1]->getValueAsInt32()};
  *result = new VELQ_Value(new VELQ_Object(&pointClass, data));
  return 0;
}

VELQ_ExtFunction hostRecord(const char *name, VELQ_ExtFunctionHandler handler, int32_t argCount) {
  VELQ_ExtFunction f;
  memset(&f, 0, sizeof f);
  snprintf(f.name, sizeof f.name, "%s", name);
  f.handler = handler;
  f.argCount = argCount;
  return f;
}

void registerHostFunctions(VELQ_Environment *env) {
  const VELQ_ExtFunction records[] = {
      hostRecord("host_add", hostAdd, 2),     hostRecord("host_any", hostAny, -1),
      hostRecord("host_fail", hostFail, 1),   hostRecord("host_noresult", hostNoResult, 0),
      hostRecord("host_point", hostPoint, 2),
  };
  env->registerFunctionSet(sizeof records / sizeof records[0], records);
}

// ---------------------------------------------------------------------------
// Running one script

// Text written to a memory stream by fill(stream).
template <typename Fill>
std::string captured(Fill fill) {
  char *buffer = nullptr;
  size_t size = 0;
  FILE *out = open_memstream(&buffer, &size);
  if (!out) return std::string();
  fill(out);
  fclose(out);
  std::string text(buffer ? buffer : "", size);
  free(buffer);
  return text;
}

// The text form of a run's result: its text, or its type name when it has none.
std::string resultText(VELQ_Value *value) {
  if (!value) return "(no result)";
  uint32_t length = 0;
  const char *s = value->getDataType() >= DTYPE_STRING ? value->getValueAsString(&length) : nullptr;
  return s ? std::string(s, length) : std::string(VELQ_TypeName(value->getDataType()));
}

// Loads and compiles a file; null with the reason in *why on failure.
VELQ_Program *compileFile(const std::string &file, std::string *why) {
  unsigned long size = 0;
  char *source = VELQLoadFile(file.c_str(), &size);
  if (!source) {
    *why = "the file cannot be read";
    return nullptr;
  }
  char message[VELQ_COMPILE_ERROR_SIZE] = "";
  VELQ_Program *program = VELQCompile(source, message, sizeof message);
  free(source);
  if (!program) *why = message;
  return program;
}

void checkListing(Reporter &r, VELQ_Program *program) {
  std::string text = captured([&](FILE *out) { program->dump(out); });
  compareLines(r, r.sc.listing, text, r.sc.listingLine, "listing");
}

void runProgram(Reporter &r, VELQ_Program *program) {
  const ScriptCase &sc = r.sc;
  VELQ_Library *library = nullptr;
  for (size_t i = 0; i < sc.libraries.size(); i++) {
    const LibraryEntry &entry = sc.libraries[i];
    std::string why;
    VELQ_Program *script = compileFile(entry.file, &why);
    if (!script) {
      r.mismatch(entry.line, "library script " + show(entry.file), why);
      continue;
    }
    if (!library) library = new VELQ_Library();
    if (!library->addScript(i + 1, entry.name.c_str(), script)) {
      r.mismatch(entry.line, "a new library name", show(entry.name) + " taken already");
      delete script;
    }
  }

  unsigned long codeSize = program->getCodeSize();
  uint32_t functionCount = program->getFunctionCount();
  int rc = -1;
  // Without "// input:" lines the input is empty, so ReadLine gives null at once.
  FILE *input = sc.input.empty() ? fopen("/dev/null", "r")
                                 : fmemopen((void *)sc.input.data(), sc.input.size(), "r");
  std::string output = captured([&](FILE *out) {
    RunnerEnvironment *env = new RunnerEnvironment();
    VELQRegisterToolkit(env);
    registerHostFunctions(env);
    env->setIO(input, out);
    env->setLibrary(library);
    std::vector<VELQ_Value *> argv;
    for (const std::string &a : sc.args) argv.push_back(new VELQ_Value(a.c_str()));
    rc = program->run(env, argv.size(), argv.empty() ? nullptr : argv.data(), nullptr, nullptr,
                      nullptr);
  });
  if (input) fclose(input);
  std::string errorText = program->getErrorText();

  if (sc.runtimeError.given()) {
    if (rc != -1)
      r.mismatch(sc.runtimeError.line, "runtime error " + show(sc.runtimeError.text),
                 "a successful run");
    else if (errorText != sc.runtimeError.text)
      r.mismatch(sc.runtimeError.line, show(sc.runtimeError.text), show(errorText));
  } else if (rc != 0) {
    r.mismatch(r.firstExpectationLine(), "a successful run", "runtime error " + show(errorText));
  }
  compareLines(r, sc.output, output, r.firstExpectationLine(), "output");
  if (sc.result.given() && rc == 0) {
    std::string got = resultText(program->getResult());
    if (got != sc.result.text)
      r.mismatch(sc.result.line, "result " + show(sc.result.text), show(got));
  }
  if (sc.type.given() && rc == 0) {
    VELQ_Value *value = program->getResult();
    std::string got = value ? VELQ_TypeName(value->getDataType()) : "(no result)";
    if (got != sc.type.text) r.mismatch(sc.type.line, "type " + show(sc.type.text), show(got));
  }
  // A run must leave the program as it found it: merged module code and functions gone.
  if (program->getCodeSize() != codeSize || program->getFunctionCount() != functionCount ||
      velq_test::moduleCountOf(program) != 0) {
    char expected[96], got[96];
    snprintf(expected, sizeof expected, "code size %lu, %u functions, 0 modules after the run",
             codeSize, functionCount);
    snprintf(got, sizeof got, "%lu, %u and %u", program->getCodeSize(), program->getFunctionCount(),
             velq_test::moduleCountOf(program));
    r.mismatch(1, expected, got);
  }
  delete library;
}

// Compiles and checks one script; returns the number of mismatches.
int checkScript(const ScriptCase &sc) {
  Reporter r{sc};
  for (const Expectation &e : sc.malformed) r.mismatch(e.line, "a well-formed directive", e.text);

  std::error_code ec;
  fs::current_path(fs::path(sc.file).parent_path(), ec);
  if (ec) {
    r.mismatch(1, "the script's folder as current directory", ec.message());
    return r.mismatches;
  }
  std::string why;
  VELQ_Program *program = compileFile(fs::path(sc.file).filename().string(), &why);

  if (sc.listingLine > 0) {
    if (!program)
      r.mismatch(sc.listingLine, "a listing", "compile error " + show(why));
    else
      checkListing(r, program);
  } else if (sc.compileError.given()) {
    if (program)
      r.mismatch(sc.compileError.line, "compile error " + show(sc.compileError.text),
                 "a successful compilation");
    else if (why != sc.compileError.text)
      r.mismatch(sc.compileError.line, show(sc.compileError.text), show(why));
  } else if (!program) {
    r.mismatch(r.firstExpectationLine(), "a successful compilation", "compile error " + show(why));
  } else {
    runProgram(r, program);
  }
  delete program;
  return r.mismatches;
}

// Runs checkScript in a child process and tells whether the script passed.
bool runIsolated(const ScriptCase &sc) {
  fflush(stdout);
  fflush(stderr);
  pid_t pid = fork();
  if (pid < 0) {
    perror("fork");
    return false;
  }
  if (pid == 0) {
    alarm(SCRIPT_TIME_LIMIT);
    int mismatches = checkScript(sc);
    fflush(stdout);
    exit(mismatches > 0 ? CHILD_MISMATCH : 0);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      perror("waitpid");
      return false;
    }
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  if (WIFEXITED(status) && WEXITSTATUS(status) == CHILD_MISMATCH) return false;
  if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM)
    printf("%s:1: expected the run to finish, got no end within %u seconds\n", sc.path.c_str(),
           SCRIPT_TIME_LIMIT);
  else if (WIFSIGNALED(status))
    printf("%s:1: expected a clean finish, got signal %d (%s)\n", sc.path.c_str(), WTERMSIG(status),
           strsignal(WTERMSIG(status)));
  else
    printf("%s:1: expected a clean finish, got exit status %d (a sanitizer report is above)\n",
           sc.path.c_str(), WEXITSTATUS(status));
  return false;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  std::error_code ec;
  fs::path root = fs::absolute(argv[1], ec);
  if (ec || !fs::is_directory(root)) {
    fprintf(stderr, "%s: not a directory\n", argv[1]);
    return 2;
  }
  std::vector<fs::path> files;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    if (it->is_regular_file() && it->path().extension() == ".velq") files.push_back(it->path());
  }
  if (ec) {
    fprintf(stderr, "%s: %s\n", argv[1], ec.message().c_str());
    return 2;
  }
  std::sort(files.begin(), files.end());

  int passed = 0, failed = 0;
  for (const fs::path &file : files) {
    ScriptCase sc;
    sc.file = file.string();
    sc.path = (fs::path(argv[1]) / file.lexically_relative(root)).string();
    if (!readScriptCase(sc)) {
      printf("%s:1: expected a readable script, got none\n", sc.path.c_str());
      failed++;
      continue;
    }
    if (sc.module) continue;
    if (runIsolated(sc))
      passed++;
    else
      failed++;
  }
  printf("%d passed, %d failed\n", passed, failed);
  return failed > 0 ? 1 : 0;
}
