// Fuzzing harness: compiles the input as script text.
//
// A program that compiles is listed into a sink and deleted. A compilation that fails
// must give one terminated line "Error in line N: ...", and the same compilation into a
// shorter buffer must give a prefix of that line; anything else stops the fuzzer.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "velq.h"

namespace {

const char ERROR_PREFIX[] = "Error in line ";
// The short buffers for the cut message range over 1 to this many bytes.
const size_t SHORT_BUFFER_SIZES = 48;

FILE *sink;  // the listings go here: /dev/null

// Stops the fuzzer with a message, so that the input is kept as a finding.
[[noreturn]] void fail(const char *what, const char *text) {
  fprintf(stderr, "compile_fuzzer: %s: \"%s\"\n", what, text);
  abort();
}

// The message of a failed compilation, as far as a host can check it.
void checkMessage(const std::string &source, const char *message) {
  if (strnlen(message, VELQ_COMPILE_ERROR_SIZE) == VELQ_COMPILE_ERROR_SIZE)
    fail("message not terminated", "");
  if (strncmp(message, ERROR_PREFIX, sizeof ERROR_PREFIX - 1) != 0)
    fail("message without its prefix", message);
  if (strchr(message, '\n')) fail("message of more than one line", message);

  // The buffer size comes from the source, so that every size is tried over time.
  int shortSize = 1 + (int)(source.size() % SHORT_BUFFER_SIZES);
  char cut[SHORT_BUFFER_SIZES];
  memset(cut, 'X', sizeof cut);
  VELQ_Program *again = VELQCompile(source.c_str(), cut, shortSize);
  if (again) fail("a second compilation of the same text succeeded", message);
  size_t cutLength = strnlen(cut, shortSize);
  if (cutLength == (size_t)shortSize) fail("cut message not terminated", message);
  if (memcmp(cut, message, cutLength) != 0) fail("cut message is not a prefix", message);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  sink = fopen("/dev/null", "w");
  if (!sink) {
    perror("compile_fuzzer: /dev/null");
    exit(1);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // The compiler reads up to the first zero byte, as it does for any host.
  std::string source(reinterpret_cast<const char *>(data), size);
  char message[VELQ_COMPILE_ERROR_SIZE];
  VELQ_Program *program = VELQCompile(source.c_str(), message, sizeof message);
  if (!program) {
    checkMessage(source, message);
    return 0;
  }
  program->dump(sink);
  delete program;
  return 0;
}
