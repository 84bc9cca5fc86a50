// The lexer object of one compilation: the source text, the scanning state the token
// rules need, and the line counter that every instruction and error message is stamped with.
#ifndef VELQ_LEXER_H
#define VELQ_LEXER_H

#include <setjmp.h>
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

class VELQ_CompileState;
union VELQ_YYSTYPE;

enum {
  VELQ_STRING_LITERAL_MAX = 8192,  // bytes of a string literal after escapes
  VELQ_INVALID_CHAR_MESSAGE_SIZE = 128
};

class VELQ_Lexer {
 public:
  VELQ_Lexer(VELQ_CompileState *compiler, const char *source);
  virtual ~VELQ_Lexer();

  VELQ_Lexer(const VELQ_Lexer &) = delete;
  VELQ_Lexer &operator=(const VELQ_Lexer &) = delete;

  // Lexers are allocated through the engine's path: new yields null when memory is refused.
  static void *operator new(size_t size) noexcept;
  static void operator delete(void *block) noexcept;

  // Whether the lexer got the memory for its copy of the source.
  bool ready() const { return sourceCode != nullptr; }

  // Makes scanner (a new reentrant scanner) scan the source copy in place, so that
  // scanning never needs more memory. False, with scanner destroyed, when memory for the
  // scanner is refused.
  bool startScanner(void **scanner);

  // Forwards a message to the compiler object, which keeps the first one only.
  void error(const char *message);

  // Helpers of the token rules. Each returns the token code to hand to the
  // parser, or -1 after a lexical error (reported through error()).
  int textToken(int token, const char *text, int length, VELQ_YYSTYPE *value);
  int integerToken(const char *text, VELQ_YYSTYPE *value);
  int unsignedToken(const char *text, VELQ_YYSTYPE *value);
  int int64Token(const char *text, VELQ_YYSTYPE *value);
  int uint64Token(const char *text, VELQ_YYSTYPE *value);
  int realToken(const char *text, VELQ_YYSTYPE *value);
  int invalidCharacter(unsigned char byte);

  // String literal collection; false after "String constant is too long".
  void startString() { strSize = 0; }
  bool appendByte(unsigned char byte);
  bool appendBytes(const char *bytes, int count);
  int finishString(VELQ_YYSTYPE *value);

  int32_t sourceSize;
  char *sourceCode;  // the source followed by the two zero bytes the scanner ends on
  VELQ_CompileState *compiler;
  int32_t currentLine;
  int32_t commentLevel;
  int32_t strSize;
  char strBuffer[VELQ_STRING_LITERAL_MAX + 1];
  int32_t errorState;
  // The number of line feeds in the source. Every line feed the scanner passes is
  // counted in currentLine, so whether one still follows is known without looking.
  int32_t sourceLineFeeds;

  // True when a line feed follows the scanner's position: then "//" starts a line
  // comment, else it is two '/' tokens.
  bool lineFeedFollows() const { return currentLine - 1 < sourceLineFeeds; }

  // Where the latest token starts in sourceCode (null before the first), and the 1-based
  // byte column of that start in its line: where the scanner stands for an error.
  const char *tokenStart = nullptr;
  int column() const;

  // Where the scanner's fatal error handler returns to while the scanner is set up (the
  // only time it allocates): memory for it was refused.
  jmp_buf scannerSetupFailed;
};

// One token as the scanner produced it, for tests and diagnostics.
struct VELQ_ScannedToken {
  int code;           // token code; 0 at the end of the input, -1 after a lexical error
  std::string name;   // the name syntax-error messages show for it
  std::string text;   // identifiers and string literals: the bytes of the value
  int64_t integer;    // T_INT32, T_INT64
  uint64_t uinteger;  // T_UINT32, T_UINT64
  double real;        // T_REAL
  int line;           // the lexer's line once the token was scanned
};

// Scans a whole text and returns its tokens up to and including the final 0 or -1.
// errorText, when not null, receives the first error recorded (empty if none).
std::vector<VELQ_ScannedToken> VELQ_ScanTokens(const char *source, std::string *errorText);

// The display name of a token code as the parser's messages show it ("T_INT32",
// "';'", "$end").
std::string VELQ_TokenName(int token);

#endif
