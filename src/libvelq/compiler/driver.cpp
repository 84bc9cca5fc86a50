// The compiler driver: one compilation from source text to program, the exported
// VELQCompile, and VELQLoadFile, which reads a script file for it.
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wchar.h>

#include "codegen.h"
#include "compile_state.h"
#include "grammar.hpp"
#include "lexer.h"
#include "runtime/memory.h"
#include "velq_compiler.h"
#include "velq_program.h"

#define YYSTYPE VELQ_YYSTYPE
#include "scanner.hpp"

enum { VELQ_LOAD_PIECE = 16384 };  // bytes per read of VELQLoadFile

namespace {

const char MEMORY_EXHAUSTED[] = "memory exhausted";

}  // namespace

// Parses source into a new program. A compilation that recorded any error fails,
// even where the parse itself accepted: a "break" or "continue" outside a loop, a
// duplicate function, or a bad character right after a complete script. So does one
// during which memory was refused ("memory exhausted", unless an error came first).
VELQ_Program *VELQ_CompileState::compile(const char *source) {
  delete lexer;
  lexer = new VELQ_Lexer(this, source);
  VELQ_Program *program = new VELQ_Program();
  if (!lexer || !lexer->ready() || !program || !program->getGlobals()) {
    error(MEMORY_EXHAUSTED);
    delete program;
    return nullptr;
  }
  return parse(program);
}

// Runs the parser over the lexer into program; the program, resolved and optimized, or
// null (with program destroyed) when the compilation failed.
VELQ_Program *VELQ_CompileState::parse(VELQ_Program *program) {
  yyscan_t scanner;
  if (!lexer->startScanner(&scanner)) {
    error(MEMORY_EXHAUSTED);
    delete program;
    return nullptr;
  }
  VELQ_CodeGen gen(this, program);
  int parsed = velq_yyparse(scanner, &gen);
  velq_yylex_destroy(scanner);

  if (parsed == 0 && !errorText) {
    program->resolveFunctions();
    program->optimize();
  }
  if (parsed == 0 && !errorText && velqAllocationFailed()) error(MEMORY_EXHAUSTED);
  if (parsed != 0 || errorText) {
    delete program;
    return nullptr;
  }
  return program;
}

void VELQ_CopyMessage(char *buffer, int size, const char *text) {
  if (!buffer || size < 1) return;
  size_t limit = (size_t)size - 1;
  size_t length = strlen(text);
  size_t used = 0;
  mbstate_t shift;
  memset(&shift, 0, sizeof shift);
  while (used < length) {
    size_t step = mbrlen(text + used, length - used, &shift);
    if (step == (size_t)-1 || step == (size_t)-2 || step == 0) {
      // Not a character of this locale: the byte stands for itself.
      memset(&shift, 0, sizeof shift);
      step = 1;
    }
    if (used + step > limit) break;
    used += step;
  }
  memcpy(buffer, text, used);
  memset(buffer + used, 0, limit - used + 1);
}

// A compilation starts with a clear note of refused allocations, so that it can tell
// whether one of its own was refused; a failure noted before it (by the run that loads a
// module) is kept.
extern "C" VELQ_Program *VELQCompile(const char *source, char *errorText, int errorTextLen) {
  VELQ_AllocationFailure before = velqAllocationFailure();
  velqClearAllocationFailure();
  VELQ_CompileState state;
  VELQ_Program *program = state.compile(source ? source : "");
  if (before != VELQ_ALLOCATION_OK && !velqAllocationFailed()) velqNoteAllocationFailure(before);
  if (!program && errorText && errorTextLen >= 1)
    VELQ_CopyMessage(errorText, errorTextLen, state.errorText ? state.errorText : "(null)");
  return program;
}

// Compiles a counted source through a copy whose zero bytes are spaces, as VELQLoadFile
// hands a file to the compiler; the error comes back in its parts.
VELQ_Program *VELQCompileSource(const char *source, size_t length, const char *sourceName,
                                VELQ_CompileError *error) {
  if (error) {
    memset(error, 0, sizeof *error);
    VELQ_CopyMessage(error->source, sizeof error->source, sourceName ? sourceName : "");
  }
  VELQ_AllocationFailure before = velqAllocationFailure();
  velqClearAllocationFailure();
  char *copy = length < UINT32_MAX && (source || length == 0)
                   ? static_cast<char *>(velqAllocate(length + 1))
                   : nullptr;
  VELQ_Program *program = nullptr;
  VELQ_CompileState state;
  if (copy) {
    for (size_t i = 0; i < length; i++) copy[i] = source[i] ? source[i] : ' ';
    copy[length] = '\0';
    program = state.compile(copy);
    velqRelease(copy);
  } else {
    state.error(length >= UINT32_MAX ? "source too long" : MEMORY_EXHAUSTED);
  }
  if (before != VELQ_ALLOCATION_OK && !velqAllocationFailed()) velqNoteAllocationFailure(before);
  if (!program && error) {
    VELQ_CopyMessage(error->text, sizeof error->text, state.errorText ? state.errorText : "(null)");
    VELQ_CopyMessage(error->message, sizeof error->message, state.errorMessage);
    error->line = state.errorLine;
    error->column = state.errorColumn;
  }
  return program;
}

namespace {

// Reads exactly count bytes in pieces; false on a failed read or when the file
// ends early (it shrank after its size was taken).
bool readFully(int fd, char *block, size_t count) {
  size_t done = 0;
  while (done < count) {
    size_t piece = count - done;
    if (piece > VELQ_LOAD_PIECE) piece = VELQ_LOAD_PIECE;
    ssize_t got = read(fd, block + done, piece);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += (size_t)got;
  }
  return true;
}

}  // namespace

extern "C" char *VELQLoadFile(const char *fileName, unsigned long *fileSize) {
  if (!fileName) return nullptr;
  int fd = open(fileName, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info;
  // Sizes are 32-bit; a larger file cannot be loaded.
  if (fstat(fd, &info) != 0 || info.st_size < 0 || (uint64_t)info.st_size >= UINT32_MAX) {
    close(fd);
    return nullptr;
  }
  size_t size = (size_t)info.st_size;
  char *block = static_cast<char *>(velqAllocate(size + 1));
  if (!block) {
    close(fd);
    return nullptr;
  }
  if (fileSize) *fileSize = (unsigned long)(uint32_t)size;
  if (!readFully(fd, block, size)) {
    velqRelease(block);
    close(fd);
    return nullptr;
  }
  // The compiler reads up to the first zero byte; spaces let it see the whole file.
  for (size_t i = 0; i < size; i++)
    if (block[i] == '\0') block[i] = ' ';
  block[size] = '\0';
  close(fd);
  return block;
}
