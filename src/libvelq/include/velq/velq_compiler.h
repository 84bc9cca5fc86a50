// Compiling script text into programs.
#ifndef VELQ_COMPILER_H
#define VELQ_COMPILER_H

#include "velq_program.h"

// A compile error text holds at most 1023 characters, as a run-time error text does.
enum { VELQ_COMPILE_ERROR_SIZE = VELQ_ERROR_TEXT_SIZE };

// A compile error as data: the text VELQCompile gives, and its parts.
struct VELQ_CompileError {
  char text[VELQ_COMPILE_ERROR_SIZE];     // "Error in line N: message"
  char message[VELQ_COMPILE_ERROR_SIZE];  // the message alone
  char source[VELQ_COMPILE_ERROR_SIZE];   // the name the host gave the source
  int line;                               // as in the text
  int column;                             // 1-based byte column where the scanner stood
};

// Compiles length bytes of source (zero bytes read as spaces), named sourceName for the
// error (may be null). Returns a new program that the caller owns, or null with *error
// (when error is not null) filled.
VELQ_API VELQ_Program *VELQCompileSource(const char *source, size_t length,
                                         const char *sourceName, VELQ_CompileError *error);

extern "C" {

// Compiles zero-terminated source text. Returns a new program that the caller owns,
// or null, in which case errorText (when not null, errorTextLen >= 1 bytes) receives
// "Error in line N: message", cut to fit and always terminated.
VELQ_API VELQ_Program *VELQCompile(const char *source, char *errorText, int errorTextLen);

// Reads a whole file as a zero-terminated text (zero bytes become spaces), stores its
// size in *fileSize and returns it; the caller frees it. Null on any failure.
VELQ_API char *VELQLoadFile(const char *fileName, unsigned long *fileSize);
}

#endif
