// The lexer object: the source copy that feeds the scanner, token values, string
// literals and the lexical error messages.
#include "lexer.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "compile_state.h"
#include "grammar.hpp"
#include "runtime/memory.h"
#include "values/number_text.h"

#define YYSTYPE VELQ_YYSTYPE
#include "scanner.hpp"

// In the scanner's own file (scanner.l), where flex's internals are at hand.
bool velqScanSource(char *source, yy_size_t size, yyscan_t yyscanner);

VELQ_DEFINE_ENGINE_ALLOCATION(VELQ_Lexer)

namespace {

const char MEMORY_EXHAUSTED[] = "memory exhausted";

}  // namespace

// The scanner scans the lexer's copy of the source, which ends in the two zero bytes the
// scanner's buffer needs. Without memory for the copy the lexer is not ready.
VELQ_Lexer::VELQ_Lexer(VELQ_CompileState *compileState, const char *source)
    : sourceSize(0),
      sourceCode(nullptr),
      compiler(compileState),
      currentLine(1),
      commentLevel(0),
      strSize(0),
      errorState(0),
      sourceLineFeeds(0) {
  size_t length = source ? strlen(source) : 0;
  // Sizes and lines are counted in signed 32 bits; a longer text is read up to the
  // size at which the line counter cannot overflow.
  if (length > (size_t)INT32_MAX - 2) length = (size_t)INT32_MAX - 2;
  sourceCode = static_cast<char *>(velqAllocate(length + 2));
  strBuffer[0] = '\0';
  if (!sourceCode) return;
  memcpy(sourceCode, source ? source : "", length);
  sourceCode[length] = sourceCode[length + 1] = '\0';
  sourceSize = (int32_t)length;
  const char *end = sourceCode + length;
  for (const char *p = sourceCode; (p = static_cast<const char *>(memchr(p, '\n', end - p))); p++)
    sourceLineFeeds++;
}

VELQ_Lexer::~VELQ_Lexer() { velqRelease(sourceCode); }

int VELQ_Lexer::column() const {
  if (!sourceCode || !tokenStart) return 1;
  const char *lineStart = tokenStart;
  while (lineStart > sourceCode && lineStart[-1] != '\n') lineStart--;
  long column = tokenStart - lineStart + 1;
  return column > INT32_MAX ? INT32_MAX : (int)column;
}

bool VELQ_Lexer::startScanner(void **scanner) {
  *scanner = nullptr;
  if (velq_yylex_init_extra(this, scanner) != 0) return false;
  if (setjmp(scannerSetupFailed) != 0) {
    velq_yylex_destroy(*scanner);
    *scanner = nullptr;
    return false;
  }
  if (velqScanSource(sourceCode, (yy_size_t)sourceSize + 2, *scanner)) return true;
  velq_yylex_destroy(*scanner);
  *scanner = nullptr;
  return false;
}

void VELQ_Lexer::error(const char *message) {
  if (compiler) compiler->error(message);
}

// A token whose text cannot be copied ends the scan with "memory exhausted".
int VELQ_Lexer::textToken(int token, const char *text, int length, VELQ_YYSTYPE *value) {
  value->text = velqCopyText(text, (size_t)length);
  if (!value->text) {
    error(MEMORY_EXHAUSTED);
    return -1;
  }
  return token;
}

// Integer texts convert in automatic base (0x: hexadecimal, a leading 0: octal),
// stopping at the first character that does not fit, so a suffix is ignored.
int VELQ_Lexer::integerToken(const char *text, VELQ_YYSTYPE *value) {
  int64_t n = VELQ_ParseInt64(text, nullptr);
  if (VELQ_IsTextInt32(n)) {
    value->int32 = (int32_t)n;
    return T_INT32;
  }
  value->int64 = n;
  return T_INT64;
}

int VELQ_Lexer::unsignedToken(const char *text, VELQ_YYSTYPE *value) {
  value->uint32 = VELQ_ParseUInt32(text, nullptr);
  return T_UINT32;
}

int VELQ_Lexer::int64Token(const char *text, VELQ_YYSTYPE *value) {
  value->int64 = VELQ_ParseInt64(text, nullptr);
  return T_INT64;
}

int VELQ_Lexer::uint64Token(const char *text, VELQ_YYSTYPE *value) {
  value->uint64 = VELQ_ParseUInt64(text, nullptr);
  return T_UINT64;
}

int VELQ_Lexer::realToken(const char *text, VELQ_YYSTYPE *value) {
  value->real = VELQ_ParseReal(text, nullptr);
  return T_REAL;
}

int VELQ_Lexer::invalidCharacter(unsigned char byte) {
  char message[VELQ_INVALID_CHAR_MESSAGE_SIZE];
  // A byte that cannot be printed (a control, or part of a UTF-8 sequence) is shown in
  // hexadecimal only, so that the message never writes it to a terminal.
  if (byte > 0x20 && byte < 0x7F)
    snprintf(message, sizeof message, "Invalid character '%c' (0x%02X)", (char)byte, (unsigned)byte);
  else
    snprintf(message, sizeof message, "Invalid character 0x%02X", (unsigned)byte);
  error(message);
  return -1;
}

bool VELQ_Lexer::appendBytes(const char *bytes, int count) {
  for (int i = 0; i < count; i++)
    if (!appendByte((unsigned char)bytes[i])) return false;
  return true;
}

bool VELQ_Lexer::appendByte(unsigned char byte) {
  if (strSize >= VELQ_STRING_LITERAL_MAX) {
    error("String constant is too long");
    return false;
  }
  strBuffer[strSize++] = (char)byte;
  return true;
}

// The value of a literal ends at its first zero byte, so a \0 escape cuts it there.
int VELQ_Lexer::finishString(VELQ_YYSTYPE *value) {
  strBuffer[strSize] = '\0';
  return textToken(T_STRING, strBuffer, (int)strlen(strBuffer), value);
}

std::vector<VELQ_ScannedToken> VELQ_ScanTokens(const char *source, std::string *errorText) {
  std::vector<VELQ_ScannedToken> tokens;
  VELQ_CompileState state;
  state.lexer = new VELQ_Lexer(&state, source);
  yyscan_t scanner;
  if (!state.lexer || !state.lexer->ready() || !state.lexer->startScanner(&scanner)) {
    if (errorText) *errorText = MEMORY_EXHAUSTED;
    return tokens;
  }
  for (;;) {
    VELQ_YYSTYPE value;
    memset(&value, 0, sizeof value);
    VELQ_ScannedToken token{};
    token.code = velq_yylex(&value, scanner);
    token.name = VELQ_TokenName(token.code);
    token.line = state.lexer->currentLine;
    switch (token.code) {
      case T_IDENTIFIER:
      case T_COMPOUND_IDENTIFIER:
      case T_STRING:
        token.text = value.text;
        velqRelease(value.text);
        break;
      case T_INT32:
        token.integer = value.int32;
        break;
      case T_INT64:
        token.integer = value.int64;
        break;
      case T_UINT32:
        token.uinteger = value.uint32;
        break;
      case T_UINT64:
        token.uinteger = value.uint64;
        break;
      case T_REAL:
        token.real = value.real;
        break;
      default:
        break;
    }
    tokens.push_back(token);
    if (token.code <= 0) break;
  }
  velq_yylex_destroy(scanner);
  if (errorText) *errorText = state.errorText ? state.errorText : "";
  return tokens;
}
