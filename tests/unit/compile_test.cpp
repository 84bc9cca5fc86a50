// VELQCompile and VELQLoadFile as a host uses them: error texts and their buffers,
// compilations that must fail, line stamping, limits, threads, junk input and files.
#include <gtest/gtest.h>
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "compile_state.h"
#include "lexer.h"
#include "program_builder.h"
#include "velq.h"

namespace {

// Compiles source; returns the error text, or "" when a program came back.
std::string compileError(const std::string &source) {
  char text[VELQ_COMPILE_ERROR_SIZE];
  VELQ_Program *program = VELQCompile(source.c_str(), text, sizeof text);
  if (program) {
    delete program;
    return "";
  }
  return text;
}

using velq_test::listing;

std::vector<int> lines(VELQ_Program *program) {
  std::vector<int> result;
  for (unsigned long i = 0; i < program->getCodeSize(); i++)
    result.push_back(program->getInstruction(i)->sourceLine);
  return result;
}

bool holdsAddress(int opCode) {
  return opCode == OP_JMP || opCode == OP_JZ || opCode == OP_JNZ || opCode == OP_CALL;
}

// A finished program has no open jump and no jump or call outside its code.
void expectAddressesInside(VELQ_Program *program, const std::string &source) {
  for (unsigned long i = 0; i < program->getCodeSize(); i++) {
    const VELQ_Instruction *instruction = program->getInstruction(i);
    if (holdsAddress(instruction->opCode)) {
      EXPECT_LT(instruction->operand.address, program->getCodeSize())
          << "instruction " << i << " of: " << source;
    }
  }
  for (uint32_t i = 0; i < program->getFunctionCount(); i++)
    EXPECT_LT(program->getFunction(i)->address, program->getCodeSize()) << source;
}

const char EMPTY_SCRIPT_ERROR[] = "Error in line 1: syntax error, unexpected $end";

// ---- The caller's error buffer ----

TEST(CompileErrorBuffer, CutsToTheBufferAndTerminates) {
  const std::string message = EMPTY_SCRIPT_ERROR;
  struct Case {
    int size;
    std::string expected;
  } cases[] = {
      {10, message.substr(0, 9)},
      {1, ""},
      {2, "E"},
      {(int)message.size(), message.substr(0, message.size() - 1)},
      {(int)message.size() + 1, message},
      {200, message},
  };
  for (const Case &c : cases) {
    std::vector<char> buffer(c.size + 16, 'X');
    EXPECT_EQ(VELQCompile("", buffer.data(), c.size), nullptr);
    EXPECT_EQ(std::string(buffer.data()), c.expected) << "size " << c.size;
    // The rest of the buffer is zero-filled, and nothing past its end is written.
    for (int i = (int)c.expected.size(); i < c.size; i++) EXPECT_EQ(buffer[i], '\0') << i;
    for (int i = c.size; i < c.size + 16; i++) EXPECT_EQ(buffer[i], 'X') << i;
  }
}

TEST(CompileErrorBuffer, NullOrEmptyBufferIsLeftAlone) {
  EXPECT_EQ(VELQCompile("", nullptr, 0), nullptr);
  EXPECT_EQ(VELQCompile("sub main() { x = 1 }", nullptr, 100), nullptr);
  char untouched[4] = {'X', 'X', 'X', 'X'};
  EXPECT_EQ(VELQCompile("", untouched, 0), nullptr);
  EXPECT_EQ(std::string(untouched, 4), "XXXX");
}

TEST(CompileErrorBuffer, UntouchedWhenAProgramIsReturned) {
  char buffer[16];
  memset(buffer, 'X', sizeof buffer);
  VELQ_Program *program = VELQCompile("1 + 2", buffer, sizeof buffer);
  ASSERT_NE(program, nullptr);
  delete program;
  EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, 'X'));
}

// The copy never ends on the first byte of a character of the thread's locale.
TEST(CompileErrorBuffer, CopyKeepsMultibyteCharactersWhole) {
  const char text[] = "ab\xC3\xA9z";  // "ab", e with acute accent in UTF-8, "z"
  char buffer[8];

  locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", (locale_t)0);
  if (!utf8) GTEST_SKIP() << "no C.UTF-8 locale";
  locale_t previous = uselocale(utf8);
  VELQ_CopyMessage(buffer, 4, text);
  EXPECT_EQ(std::string(buffer), "ab");
  VELQ_CopyMessage(buffer, 5, text);
  EXPECT_EQ(std::string(buffer), "ab\xC3\xA9");
  // A byte that begins no character of the locale stands for itself.
  VELQ_CopyMessage(buffer, 4, "a\xE9z");
  EXPECT_EQ(std::string(buffer), "a\xE9z");
  uselocale(previous);
  freelocale(utf8);

  // In the "C" locale every byte is a character.
  VELQ_CopyMessage(buffer, 4, text);
  EXPECT_EQ(std::string(buffer), "ab\xC3");
}

// ---- Which compilations fail, and with which message ----

struct FailureCase {
  const char *source;
  const char *error;
};

class CompileFailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(CompileFailureTest, ReturnsNullWithTheFirstMessage) {
  EXPECT_EQ(compileError(GetParam().source), GetParam().error) << GetParam().source;
}

// clang-format off
// Errors recorded while the parse itself goes on to accept the text: each of these
// must still fail the compilation.
const FailureCase recordedErrorCases[] = {
    {"sub main() { break; }",
     "Error in line 1: \"break\" statement can be used only within loops and \"switch\" statements"},
    {"sub main() { continue; }",
     "Error in line 1: \"continue\" statement can be used only within loops"},
    {"sub main() { switch (x) { case 1: continue; } }",
     "Error in line 1: \"continue\" statement can be used only within loops"},
    {"sub f() { }\nsub f() { }",
     "Error in line 2: Duplicate function name: \"f\""},
    {"sub main() { }\nsub MAIN() { }\nsub main() { }",
     "Error in line 3: Duplicate function name: \"main\""},
    {"1 + 2 #", "Error in line 1: Invalid character '#' (0x23)"},
    {"sub main() { }\n@", "Error in line 2: Invalid character '@' (0x40)"},
    {"sub main() { } \"open\nx", "Error in line 1: Newline in string constant"},
};

// The first message wins over every later one.
const FailureCase firstErrorCases[] = {
    {"", EMPTY_SCRIPT_ERROR},
    {"\n\n", "Error in line 3: syntax error, unexpected $end"},
    {"\n\nsub main() { x = 1 }", "Error in line 3: syntax error, unexpected '}'"},
    {"sub main() {\n x = ` ; }", "Error in line 2: Invalid character '`' (0x60)"},
    {"sub main() { break;\n}\nsub main() { x = 1 }",
     "Error in line 1: \"break\" statement can be used only within loops and \"switch\" statements"},
    {"sub f() { }\nsub f() { x = ` }", "Error in line 2: Duplicate function name: \"f\""},
    {"sub main() {\n\n", "Error in line 3: syntax error, unexpected $end, expecting '}'"},
    {"sub main() { x = \"abc", "Error in line 1: syntax error, unexpected $end"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(RecordedErrors, CompileFailureTest,
                         ::testing::ValuesIn(recordedErrorCases));
INSTANTIATE_TEST_SUITE_P(FirstError, CompileFailureTest, ::testing::ValuesIn(firstErrorCases));

// Function names are significant up to 63 bytes; a duplicate of that length is
// reported with its whole name.
TEST(CompileFailures, DuplicateOfTheLongestName) {
  std::string name(63, 'f');
  std::string source = "sub " + name + "() { }\nsub " + name + "() { }";
  EXPECT_EQ(compileError(source), "Error in line 2: Duplicate function name: \"" + name + "\"");
}

// ---- Successful compilations ----

TEST(CompileSuccess, CallsOfOwnFunctionsAreByAddressAndJumpsAreOptimized) {
  const char source[] =
      "sub f(a) { if (a) { return 1; } else { } }\n"
      "sub main() { return f(length(\"x\")); }";
  VELQ_Program *program = VELQCompile(source, nullptr, 0);
  ASSERT_NE(program, nullptr);
  // f: BIND, PUSH a, JZ, PUSH 1, RET, JMP (to the next instruction, removed), NRET.
  EXPECT_EQ(listing(program),
            "0000  BIND    a\n"
            "0001  PUSH    a\n"
            "0002  JZ      0005\n"
            "0003  PUSH    \"1\"\n"
            "0004  RET     \n"
            "0005  NRET    \n"
            "0006  PUSH    \"x\"\n"
            "0007  CALL    length, 1\n"
            "0008  CALL    0000, 1\n"
            "0009  RET     \n"
            "000A  NRET    \n");
  ASSERT_EQ(program->getFunctionCount(), 2u);
  EXPECT_STREQ(program->getFunction(1)->name, "main");
  EXPECT_EQ(program->getFunction(1)->address, 6u);
  delete program;
}

TEST(CompileSuccess, ExpressionScriptIsMainAndUseNamesArePreloads) {
  VELQ_Program *program = VELQCompile("2 * 3", nullptr, 0);
  ASSERT_NE(program, nullptr);
  ASSERT_EQ(program->getFunctionCount(), 1u);
  EXPECT_STREQ(program->getFunction(0)->name, "main");
  EXPECT_EQ(program->getFunction(0)->address, 0u);
  EXPECT_EQ(program->getPreloadCount(), 0u);
  delete program;

  program = VELQCompile("use lib::net; sub main() { } use util;", nullptr, 0);
  ASSERT_NE(program, nullptr);
  ASSERT_EQ(program->getPreloadCount(), 2u);
  EXPECT_STREQ(program->getPreload(0), "lib::net");
  EXPECT_STREQ(program->getPreload(1), "util");
  EXPECT_EQ(listing(program), "0000  NRET    \n");
  delete program;
}

// Each instruction carries the line of the token the parser had read last when it was
// emitted: often the token after the construct.
TEST(CompileLines, InstructionsCarryTheLineOfTheLastTokenRead) {
  struct Case {
    const char *source;
    std::vector<int> lines;
  } cases[] = {
      // PUSH i, JZ on line 3; DEC, POP on 5; the loop's JMP on 6 (its closing brace);
      // x = 1; on 8; NRET on 9.
      {"sub main()\n{\nwhile (i)\n{\ni--;\n}\n\nx = 1;\n}", {3, 3, 5, 5, 6, 8, 8, 8, 9}},
      // PUSH a carries the line of the '+'; PUSH b, ADD, SET and POP that of the ';'.
      {"sub main() { x = a +\nb\n;\n}", {1, 3, 3, 3, 3, 4}},
      // The keyword's instruction is made when the keyword is read; the constant is
      // pushed as soon as it is read, as no look-ahead is needed to recognise it.
      {"sub main() {\nreturn\n1\n;\n}", {3, 2, 5}},
      {"sub main() {\nprint;\n}", {2, 2, 3}},
  };
  for (const Case &c : cases) {
    VELQ_Program *program = VELQCompile(c.source, nullptr, 0);
    ASSERT_NE(program, nullptr) << c.source;
    EXPECT_EQ(lines(program), c.lines) << c.source;
    delete program;
  }
}

// Carriage returns are blanks: CR LF line ends give the lines of LF line ends.
TEST(CompileLines, CarriageReturnLineFeedCountsLikeLineFeed) {
  std::string lf = "sub main()\n{\n  x = 1;\n\n  if (x)\n    y = \"a\";\n  return x;\n}\n";
  std::string crlf;
  for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  VELQ_Program *a = VELQCompile(lf.c_str(), nullptr, 0);
  VELQ_Program *b = VELQCompile(crlf.c_str(), nullptr, 0);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(lines(a), lines(b));
  EXPECT_EQ(listing(a), listing(b));
  delete a;
  delete b;
  EXPECT_EQ(compileError("sub main() {\r\n\r\n x = 1 }"),
            "Error in line 3: syntax error, unexpected '}'");
}

// ---- Limits ----

// A recorded message, line prefix included, holds at most 1023 characters: one that
// fits is kept whole, a longer one is cut there. Later messages are dropped.
TEST(CompileLimits, RecordedMessageIsCutAt1023Characters) {
  const std::string prefix = "Error in line 1: ";
  const size_t room = VELQ_COMPILE_ERROR_SIZE - 1 - prefix.size();
  struct Case {
    size_t messageLength;
    size_t recordedLength;
  } cases[] = {{room, VELQ_COMPILE_ERROR_SIZE - 1},
               {room + 1, VELQ_COMPILE_ERROR_SIZE - 1},
               {5000, VELQ_COMPILE_ERROR_SIZE - 1},
               {3, prefix.size() + 3}};
  for (const Case &c : cases) {
    VELQ_CompileState state;
    state.lexer = new VELQ_Lexer(&state, "x");
    std::string message(c.messageLength, 'm');
    state.error(message.c_str());
    state.error("second");
    ASSERT_NE(state.errorText, nullptr);
    std::string recorded = state.errorText;
    EXPECT_EQ(recorded.size(), c.recordedLength) << c.messageLength;
    EXPECT_EQ(recorded, (prefix + message).substr(0, c.recordedLength)) << c.messageLength;
  }
}

// The parse stack holds at most 9999 entries: a function body of 9992 statements fits,
// one more does not. Deep nesting ends with the same message, never with a crash.
TEST(CompileLimits, ParseStackEndsWithMemoryExhausted) {
  const char exhausted[] = "Error in line 1: memory exhausted";
  EXPECT_EQ(compileError("sub main() {" + std::string(9992, ';') + "}"), "");
  EXPECT_EQ(compileError("sub main() {" + std::string(9993, ';') + "}"), exhausted);
  EXPECT_EQ(compileError(std::string(9996, '(') + "1" + std::string(9996, ')')), "");
  EXPECT_EQ(compileError(std::string(9997, '(') + "1" + std::string(9997, ')')), exhausted);
  EXPECT_EQ(compileError(std::string(100000, '(')), exhausted);
  EXPECT_EQ(compileError("sub main() " + std::string(100000, '{')), exhausted);
  std::string deep;
  for (int i = 0; i < 50000; i++) deep += "-!~";
  EXPECT_EQ(compileError(deep + "1"), exhausted);
  std::string chain = "sub main() { x = ";
  for (int i = 0; i < 20000; i++) chain += "a ? ";
  EXPECT_EQ(compileError(chain), exhausted);
}

// ---- Threads ----

// Compilations share nothing: threads compiling at once get the same programs and
// messages as one thread alone.
TEST(CompileThreads, ParallelCompilationsAgreeWithSerialOnes) {
  const std::vector<std::string> sources = {
      "sub f(a, b) { return a + b; }\nsub main() { println f(1, 2); }",
      "sub main() { i = 0; while (i < 10) { if (i == 5) break; i++; } return i; }",
      "sub main() { switch (x) { case 1: a = 1; break; case \"b\": a = 2; default: a = 3; } }",
      "sub main() { do { x++; if (x > 5) continue; } while (x < 10); }",
      "a ? b : c ? d . \"e\" : 1.5",
      "sub main() { x = 1 }",
      "sub main() { break; }",
      "sub main() {\n\xE9 }",
  };
  std::vector<std::string> expected;
  for (const std::string &source : sources) {
    char text[VELQ_COMPILE_ERROR_SIZE];
    VELQ_Program *program = VELQCompile(source.c_str(), text, sizeof text);
    expected.push_back(program ? listing(program) : text);
    delete program;
  }
  const int threadCount = 8;
  std::vector<int> mismatches(threadCount, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < threadCount; t++) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 40; round++) {
        for (size_t i = 0; i < sources.size(); i++) {
          char text[VELQ_COMPILE_ERROR_SIZE];
          VELQ_Program *program = VELQCompile(sources[i].c_str(), text, sizeof text);
          std::string got = program ? listing(program) : text;
          delete program;
          if (got != expected[i]) mismatches[t]++;
        }
      }
    });
  }
  for (std::thread &thread : threads) thread.join();
  for (int t = 0; t < threadCount; t++) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

// ---- Junk input ----

// Random bytes and random sequences of tokens either compile to a program whose jumps
// all land inside its code, or fail with a compile error text; nothing crashes.
TEST(CompileJunk, RandomBytesAndTokenSoup) {
  std::mt19937 random(20240611);
  for (int round = 0; round < 1500; round++) {
    std::string source(random() % 200, ' ');
    for (char &c : source) c = (char)(1 + random() % 255);
    char text[VELQ_COMPILE_ERROR_SIZE];
    VELQ_Program *program = VELQCompile(source.c_str(), text, sizeof text);
    if (program) {
      expectAddressesInside(program, source);
      delete program;
    } else {
      EXPECT_EQ(std::string(text).substr(0, 14), "Error in line ") << source;
    }
  }

  const char *const vocabulary[] = {
      "sub",     "main",  "f",       "(",     ")",      "{",        "}",      ";",     ",",
      "=",       "x",     "y",       "a::b",  "use",    "if",       "else",   "while", "do",
      "switch",  "case",  "default", ":",     "break",  "continue", "return", "exit",  "print",
      "println", "array", "1",       "-1",    "2.5",    "5U",       "7UL",    "\"s\"", "true",
      "null",    "+",     "-",       "*",     "/",      "%",        ".",      "?",     "==",
      "<",       "&&",    "||",      "!",     "~",      "++",       "--",     "->",    "[",
      "]",       "like",  "~=",      "int32", "string", "for",      "/*",     "*/",    "//",
      "\n",      "#",     "\"",      "\\x41",
  };
  const size_t words = sizeof vocabulary / sizeof vocabulary[0];
  int compiled = 0;
  for (int round = 0; round < 4000; round++) {
    std::string source = round % 2 ? "sub main() { " : "";
    size_t length = 1 + random() % 40;
    for (size_t i = 0; i < length; i++) {
      source += vocabulary[random() % words];
      source += ' ';
    }
    if (round % 2) source += "}";
    char text[VELQ_COMPILE_ERROR_SIZE];
    VELQ_Program *program = VELQCompile(source.c_str(), text, sizeof text);
    if (program) {
      compiled++;
      expectAddressesInside(program, source);
      delete program;
    } else {
      EXPECT_EQ(std::string(text).substr(0, 14), "Error in line ") << source;
    }
  }
  EXPECT_GT(compiled, 0);
}

// ---- VELQLoadFile ----

class LoadFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/velq_load_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder = pattern;
  }
  void TearDown() override {
    for (const std::string &file : files) unlink(file.c_str());
    rmdir(folder.c_str());
  }
  std::string write(const std::string &name, const std::string &content) {
    std::string path = folder + "/" + name;
    FILE *file = fopen(path.c_str(), "wb");
    fwrite(content.data(), 1, content.size(), file);
    fclose(file);
    files.push_back(path);
    return path;
  }
  std::string folder;
  std::vector<std::string> files;
};

TEST_F(LoadFileTest, ReadsTheWholeFileWithZeroBytesAsSpaces) {
  struct Case {
    std::string content;
    std::string text;
  } cases[] = {
      {"", ""},
      {std::string("a\0b", 3), "a b"},
      {std::string("\0\0", 2), "  "},
      {"sub main() { }\r\n", "sub main() { }\r\n"},
  };
  for (const Case &c : cases) {
    std::string path = write("case.velq", c.content);
    unsigned long size = 12345;
    char *text = VELQLoadFile(path.c_str(), &size);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(size, c.content.size());
    EXPECT_EQ(std::string(text, size), c.text);
    EXPECT_EQ(text[size], '\0');
    free(text);
  }
}

// A file larger than one read piece arrives whole and in order.
TEST_F(LoadFileTest, ReadsLargeFilesInPieces) {
  std::string content;
  for (int i = 0; content.size() < 100000; i++) content += "line " + std::to_string(i) + "\n";
  std::string path = write("large.velq", content);
  unsigned long size = 0;
  char *text = VELQLoadFile(path.c_str(), &size);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(size, content.size());
  EXPECT_TRUE(std::string(text) == content);
  free(text);
}

TEST_F(LoadFileTest, FailuresReturnNull) {
  unsigned long size = 777;
  EXPECT_EQ(VELQLoadFile((folder + "/missing.velq").c_str(), &size), nullptr);
  EXPECT_EQ(size, 777u);
  EXPECT_EQ(VELQLoadFile(folder.c_str(), &size), nullptr);  // a folder reads nothing
  EXPECT_EQ(VELQLoadFile(nullptr, &size), nullptr);
}

// A file that delivers fewer bytes than its size said (as if it shrank while being
// read) fails instead of leaving uninitialised bytes in the text.
TEST_F(LoadFileTest, FileShorterThanItsSizeFails) {
  const char path[] = "/sys/kernel/mm/transparent_hugepage/enabled";
  if (access(path, R_OK) != 0) GTEST_SKIP() << "no file whose size exceeds its content";
  unsigned long size = 0;
  char *text = VELQLoadFile(path, &size);
  EXPECT_EQ(text, nullptr);
  free(text);
}

TEST_F(LoadFileTest, LoadedScriptCompiles) {
  std::string path = write("script.velq", std::string("sub main()\0{ return 1; }", 25));
  unsigned long size = 0;
  char *text = VELQLoadFile(path.c_str(), &size);
  ASSERT_NE(text, nullptr);
  VELQ_Program *program = VELQCompile(text, nullptr, 0);
  free(text);
  ASSERT_NE(program, nullptr);
  EXPECT_EQ(program->getCodeSize(), 3u);
  delete program;
}

}  // namespace
