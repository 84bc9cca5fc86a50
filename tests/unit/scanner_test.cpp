// The scanner's tokens, values, line counting and lexical errors.
#include <gtest/gtest.h>

#include <locale>
#include <sstream>
#include <string>

#include "lexer.h"

namespace {

// Shows a text value with its bytes visible: printable ASCII as is, others as \xHH.
std::string showBytes(const std::string &text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += (char)c;
    } else {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

// One token as "NAME" or "NAME value"; the final token is "$end", or "-1" after an error.
std::string showToken(const VELQ_ScannedToken &token) {
  if (token.code < 0) return "-1";
  std::ostringstream out;
  out.imbue(std::locale::classic());
  out.precision(17);
  out << token.name;
  if (token.name == "T_IDENTIFIER" || token.name == "T_COMPOUND_IDENTIFIER" ||
      token.name == "T_STRING")
    out << ' ' << showBytes(token.text);
  else if (token.name == "T_INT32" || token.name == "T_INT64")
    out << ' ' << token.integer;
  else if (token.name == "T_UINT32" || token.name == "T_UINT64")
    out << ' ' << token.uinteger;
  else if (token.name == "T_REAL")
    out << ' ' << token.real;
  return out.str();
}

std::string scan(const std::string &source, std::string *error = nullptr) {
  std::string out;
  for (const VELQ_ScannedToken &token : VELQ_ScanTokens(source.c_str(), error)) {
    if (!out.empty()) out += " | ";
    out += showToken(token);
  }
  return out;
}

struct TokenCase {
  const char *source;
  const char *tokens;
};

class TokenTest : public ::testing::TestWithParam<TokenCase> {};

TEST_P(TokenTest, ScansTokensAndValues) {
  std::string error;
  EXPECT_EQ(scan(GetParam().source, &error), GetParam().tokens) << "source: " << GetParam().source;
  EXPECT_EQ(error, "");
}

// clang-format off
const TokenCase numberCases[] = {
    {"x-1", "T_IDENTIFIER x | T_INT32 -1 | $end"},
    {"x -1", "T_IDENTIFIER x | T_INT32 -1 | $end"},
    {"x - 1", "T_IDENTIFIER x | '-' | T_INT32 1 | $end"},
    {"--1", "T_DEC | T_INT32 1 | $end"},
    {"- -1", "'-' | T_INT32 -1 | $end"},
    {"0x1F", "T_INT32 31 | $end"},
    {"0xff", "T_INT32 255 | $end"},
    {"0X1F", "T_INT32 0 | T_IDENTIFIER X1F | $end"},
    {"0x", "T_INT32 0 | T_IDENTIFIER x | $end"},
    {"010", "T_INT32 8 | $end"},
    {"09", "T_INT32 0 | $end"},
    {"0129", "T_INT32 10 | $end"},
    {"-010", "T_INT32 -8 | $end"},
    {"2147483647", "T_INT32 2147483647 | $end"},
    {"-2147483647", "T_INT32 -2147483647 | $end"},
    {"2147483648", "T_INT64 2147483648 | $end"},
    {"-2147483648", "T_INT64 -2147483648 | $end"},
    {"0x80000000", "T_INT64 2147483648 | $end"},
    {"99999999999999999999", "T_INT64 9223372036854775807 | $end"},
    {"-99999999999999999999", "T_INT64 -9223372036854775808 | $end"},
    {"5L", "T_INT64 5 | $end"},
    {"5U", "T_UINT32 5 | $end"},
    {"5UL", "T_UINT64 5 | $end"},
    {"5LU", "T_UINT64 5 | $end"},
    {"0x10U", "T_UINT32 16 | $end"},
    {"-1U", "T_UINT32 4294967295 | $end"},
    {"-1UL", "T_UINT64 18446744073709551615 | $end"},
    {"4294967295U", "T_UINT32 4294967295 | $end"},
    {"4294967296U", "T_UINT32 4294967295 | $end"},
    {"0x1FFFFFFFFU", "T_UINT32 4294967295 | $end"},
    // A negative text negates the magnitude modulo 2^32 once that fits in 32 bits,
    // and saturates first when it does not.
    {"-4294967295U", "T_UINT32 1 | $end"},
    {"-4294967296U", "T_UINT32 4294967295 | $end"},
    {"-18446744073709551615UL", "T_UINT64 1 | $end"},
    {"18446744073709551616UL", "T_UINT64 18446744073709551615 | $end"},
    {"5u", "T_INT32 5 | T_IDENTIFIER u | $end"},
    {"5l", "T_INT32 5 | T_IDENTIFIER l | $end"},
    {"5ULL", "T_UINT64 5 | T_IDENTIFIER L | $end"},
    {"1.5", "T_REAL 1.5 | $end"},
    {"-0.25", "T_REAL -0.25 | $end"},
    {"1.5.3", "T_REAL 1.5 | '.' | T_INT32 3 | $end"},
    {"1e5", "T_INT32 1 | T_IDENTIFIER e5 | $end"},
    {"1. 2", "T_INT32 1 | '.' | T_INT32 2 | $end"},
    {".5", "'.' | T_INT32 5 | $end"},
    {"1.5U", "T_REAL 1.5 | T_IDENTIFIER U | $end"},
    {"5abc", "T_INT32 5 | T_IDENTIFIER abc | $end"},
};

const TokenCase nameCases[] = {
    {"a::b::c", "T_COMPOUND_IDENTIFIER a::b::c | $end"},
    {"a:b", "T_IDENTIFIER a | ':' | T_IDENTIFIER b | $end"},
    {"a::", "T_IDENTIFIER a | ':' | ':' | $end"},
    {"a::1", "T_IDENTIFIER a | ':' | ':' | T_INT32 1 | $end"},
    {"a::b::", "T_COMPOUND_IDENTIFIER a::b | ':' | ':' | $end"},
    {"a :: b", "T_IDENTIFIER a | ':' | ':' | T_IDENTIFIER b | $end"},
    {"use::x", "T_COMPOUND_IDENTIFIER use::x | $end"},
    {"a::while", "T_COMPOUND_IDENTIFIER a::while | $end"},
    {"while::", "T_WHILE | ':' | ':' | $end"},
    {"$x::_y", "T_COMPOUND_IDENTIFIER $x::_y | $end"},
    {"printlnx", "T_IDENTIFIER printlnx | $end"},
    {"int32x", "T_IDENTIFIER int32x | $end"},
    {"whiles", "T_IDENTIFIER whiles | $end"},
    {"False", "T_IDENTIFIER False | $end"},
    {"While", "T_IDENTIFIER While | $end"},
    {"$1", "T_IDENTIFIER $1 | $end"},
    {"_a$b9", "T_IDENTIFIER _a$b9 | $end"},
    {"9a", "T_INT32 9 | T_IDENTIFIER a | $end"},
};

const TokenCase keywordCases[] = {
    {"array break case continue default do else exit",
     "T_ARRAY | T_BREAK | T_CASE | T_CONTINUE | T_DEFAULT | T_DO | T_ELSE | T_EXIT | $end"},
    {"false FALSE for if ilike imatch int32 int64 like match",
     "T_FALSE | T_FALSE | T_FOR | T_IF | T_ILIKE | T_IMATCH | T_TYPE_INT32 | T_TYPE_INT64 | "
     "T_LIKE | T_MATCH | $end"},
    {"null NULL print println real return string sub switch",
     "T_NULL | T_NULL | T_PRINT | T_PRINTLN | T_TYPE_REAL | T_RETURN | T_TYPE_STRING | T_SUB | "
     "T_SWITCH | $end"},
    {"true TRUE uint32 uint64 use while",
     "T_TRUE | T_TRUE | T_TYPE_UINT32 | T_TYPE_UINT64 | T_USE | T_WHILE | $end"},
};

const TokenCase operatorCases[] = {
    {"== != <= >= << >> && || ++ -- -> ~=",
     "T_EQ | T_NE | T_LE | T_GE | T_LSHIFT | T_RSHIFT | T_AND | T_OR | T_INC | T_DEC | T_REF | "
     "T_MATCH | $end"},
    {". { } ( ) ; : + - * / % = ! & | ^ ~ , < > ? [ ]",
     "'.' | '{' | '}' | '(' | ')' | ';' | ':' | '+' | '-' | '*' | '/' | '%' | '=' | '!' | '&' | "
     "'|' | '^' | '~' | ',' | '<' | '>' | '?' | '[' | ']' | $end"},
    {"a<=b", "T_IDENTIFIER a | T_LE | T_IDENTIFIER b | $end"},
    {"<<=", "T_LSHIFT | '=' | $end"},
    {"===", "T_EQ | '=' | $end"},
    {"+++x", "T_INC | '+' | T_IDENTIFIER x | $end"},
    {"a->b", "T_IDENTIFIER a | T_REF | T_IDENTIFIER b | $end"},
    {"x~=y", "T_IDENTIFIER x | T_MATCH | T_IDENTIFIER y | $end"},
    {"-x", "'-' | T_IDENTIFIER x | $end"},
    {"*/", "'*' | '/' | $end"},
    {"\t a \r\n b", "T_IDENTIFIER a | T_IDENTIFIER b | $end"},
};

const TokenCase stringCases[] = {
    {"\"abc\"", "T_STRING abc | $end"},
    {"\"\"", "T_STRING  | $end"},
    {"\"a\\qb\"", "T_STRING a\\x5Cqb | $end"},
    {"\"\\x41\"", "T_STRING A | $end"},
    {"\"\\x414\"", "T_STRING A4 | $end"},
    {"\"\\x4\"", "T_STRING \\x04 | $end"},
    {"\"\\xZ\"", "T_STRING \\x5CxZ | $end"},
    {"\"\\x\"", "T_STRING \\x5Cx | $end"},
    {"\"ab\\0cd\"", "T_STRING ab | $end"},
    {"\"\\\\n\"", "T_STRING \\x5C\\x0A | $end"},
    {"\"\\\"q\\\"\"", "T_STRING \"q\" | $end"},
    {"\"\\b\\n\\r\\t\"", "T_STRING \\x08\\x0A\\x0D\\x09 | $end"},
    {"\"a\rb\"", "T_STRING ab | $end"},
    {"\"\\\r\"", "T_STRING \\x5C | $end"},
    {"\"\xE9\x01\"", "T_STRING \\xE9\\x01 | $end"},
    {"\"/* x */ // y\"", "T_STRING /* x */ // y | $end"},
    {"\"a\"\"b\"", "T_STRING a | T_STRING b | $end"},
    {"x \"abc", "T_IDENTIFIER x | $end"},
    {"x \"abc\\", "T_IDENTIFIER x | $end"},
};

const TokenCase commentCases[] = {
    {"/* a /* b */ c */ x", "T_IDENTIFIER x | $end"},
    {"/* a */ */", "'*' | '/' | $end"},
    {"/**/x", "T_IDENTIFIER x | $end"},
    {"/*/ x */ y", "T_IDENTIFIER y | $end"},
    {"/* \" */ x", "T_IDENTIFIER x | $end"},
    {"/* // */ x", "T_IDENTIFIER x | $end"},
    {"x /* unterminated", "T_IDENTIFIER x | $end"},
    {"x /* a /* b */", "T_IDENTIFIER x | $end"},
    {"x // note\ny", "T_IDENTIFIER x | T_IDENTIFIER y | $end"},
    {"x //\n", "T_IDENTIFIER x | $end"},
    {"x // /* \ny", "T_IDENTIFIER x | T_IDENTIFIER y | $end"},
    {"// note", "'/' | '/' | T_IDENTIFIER note | $end"},
    {"x\n// note", "T_IDENTIFIER x | '/' | '/' | T_IDENTIFIER note | $end"},
    {"// a\n// b", "'/' | '/' | T_IDENTIFIER b | $end"},
    {"///", "'/' | '/' | '/' | $end"},
    {"/* a\n */ // b", "'/' | '/' | T_IDENTIFIER b | $end"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Numbers, TokenTest, ::testing::ValuesIn(numberCases));
INSTANTIATE_TEST_SUITE_P(Names, TokenTest, ::testing::ValuesIn(nameCases));
INSTANTIATE_TEST_SUITE_P(Keywords, TokenTest, ::testing::ValuesIn(keywordCases));
INSTANTIATE_TEST_SUITE_P(Operators, TokenTest, ::testing::ValuesIn(operatorCases));
INSTANTIATE_TEST_SUITE_P(Strings, TokenTest, ::testing::ValuesIn(stringCases));
INSTANTIATE_TEST_SUITE_P(Comments, TokenTest, ::testing::ValuesIn(commentCases));

struct ErrorCase {
  std::string source;
  std::string tokens;
  const char *error;  // as recorded, with the line prefix
};

class LexicalErrorTest : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(LexicalErrorTest, ReportsTheErrorAndEndsTheScan) {
  std::string error;
  EXPECT_EQ(scan(GetParam().source, &error), GetParam().tokens);
  EXPECT_EQ(error, GetParam().error);
}

// clang-format off
const ErrorCase errorCases[] = {
    {"x\n\xE9 y", "T_IDENTIFIER x | -1", "Error in line 2: Invalid character 0xE9"},
    {"#", "-1", "Error in line 1: Invalid character '#' (0x23)"},
    {"a 'b'", "T_IDENTIFIER a | -1", "Error in line 1: Invalid character ''' (0x27)"},
    {"@", "-1", "Error in line 1: Invalid character '@' (0x40)"},
    {"\\", "-1", "Error in line 1: Invalid character '\\' (0x5C)"},
    {"`", "-1", "Error in line 1: Invalid character '`' (0x60)"},
    {"\x01", "-1", "Error in line 1: Invalid character 0x01"},
    {"\x1B", "-1", "Error in line 1: Invalid character 0x1B"},
    {"\x7F", "-1", "Error in line 1: Invalid character 0x7F"},
    {"\xFF", "-1", "Error in line 1: Invalid character 0xFF"},
    {"\x80", "-1", "Error in line 1: Invalid character 0x80"},
    {"x # y", "T_IDENTIFIER x | -1", "Error in line 1: Invalid character '#' (0x23)"},
    {"\"ab\ncd\"", "-1", "Error in line 1: Newline in string constant"},
    {"\n\n\"\\\n\"", "-1", "Error in line 3: Newline in string constant"},
    {"\"" + std::string(8193, 'a') + "\"", "-1", "Error in line 1: String constant is too long"},
    {"\"" + std::string(8193, 'a'), "-1", "Error in line 1: String constant is too long"},
    {"\"" + std::string(8192, 'a') + "\\x41\"", "-1",
     "Error in line 1: String constant is too long"},
    {"\"" + std::string(8192, 'a') + "\\", "-1", "Error in line 1: String constant is too long"},
    {"\"" + std::string(8192, 'a') + "\r\"", 
     "T_STRING " + std::string(8192, 'a') + " | $end", ""},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Errors, LexicalErrorTest, ::testing::ValuesIn(errorCases));

TEST(ScannerLimits, StringLiteralHoldsExactly8192Bytes) {
  std::string plain = "\"" + std::string(VELQ_STRING_LITERAL_MAX, 'z') + "\"";
  std::string escaped = "\"";
  for (int i = 0; i < VELQ_STRING_LITERAL_MAX; i++) escaped += "\\x41";
  escaped += "\"";
  std::string error;
  std::vector<VELQ_ScannedToken> tokens = VELQ_ScanTokens(plain.c_str(), &error);
  ASSERT_EQ(tokens.size(), 2u);
  EXPECT_EQ(tokens[0].text, std::string(VELQ_STRING_LITERAL_MAX, 'z'));
  EXPECT_EQ(error, "");

  tokens = VELQ_ScanTokens(escaped.c_str(), &error);
  ASSERT_EQ(tokens.size(), 2u);
  EXPECT_EQ(tokens[0].text, std::string(VELQ_STRING_LITERAL_MAX, 'A'));

  // One more escaped byte is one too many.
  escaped.insert(1, "\\x41");
  EXPECT_EQ(scan(escaped, &error), "-1");
  EXPECT_EQ(error, "Error in line 1: String constant is too long");
}

// Only the first error of a scan is recorded, with the line it happened on.
TEST(ScannerErrors, FirstErrorOnly) {
  std::string error;
  VELQ_ScanTokens("x\n#\n@", &error);
  EXPECT_EQ(error, "Error in line 2: Invalid character '#' (0x23)");
}

struct LineCase {
  const char *source;
  std::vector<int> lines;  // the line of each token, the final $end included
};

class LineTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineTest, CountsLineFeedsOutsideLiterals) {
  std::vector<int> lines;
  for (const VELQ_ScannedToken &token : VELQ_ScanTokens(GetParam().source, nullptr))
    lines.push_back(token.line);
  EXPECT_EQ(lines, GetParam().lines) << "source: " << GetParam().source;
}

// clang-format off
const LineCase lineCases[] = {
    {"a\nb\n\nc", {1, 2, 4, 4}},
    {"a\r\nb\r\n", {1, 2, 3}},
    {"a /* 1\n2\n3 */ b", {1, 3, 3}},
    {"a /* /* \n */ \n */ b\n", {1, 3, 4}},
    {"a // x\nb", {1, 2, 2}},
    {"a //\n//\n\nb", {1, 4, 4}},
    {"\"a\" \n \"b\"", {1, 2, 2}},
    {"a\n/* open\n\n", {1, 4}},
    {"a\n\"open\n", {1, 2}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Lines, LineTest, ::testing::ValuesIn(lineCases));

// Tokens, comments and literals scan the same wherever they lie in a long text (around
// 8192 bytes, where a scanner that reads its input in pieces would cut it).
TEST(ScannerChunks, TokensAcrossChunkBoundaries) {
  const int chunk = 8192;
  std::string longName(20000, 'n');
  std::vector<VELQ_ScannedToken> names = VELQ_ScanTokens((longName + "-1").c_str(), nullptr);
  ASSERT_EQ(names.size(), 3u);
  EXPECT_TRUE(names[0].text == longName);
  EXPECT_EQ(showToken(names[1]), "T_INT32 -1");

  for (int shift = 0; shift < 8; shift++) {
    std::string source = std::string(chunk - 4 + shift, ' ') +
                         "while \"abc\" /* x */ 0x1FUL 12.75 // z\nq";
    EXPECT_EQ(scan(source),
              "T_WHILE | T_STRING abc | T_UINT64 31 | T_REAL 12.75 | T_IDENTIFIER q | $end")
        << "shift " << shift;
  }

  std::string literal(VELQ_STRING_LITERAL_MAX, 's');
  std::string source = std::string(chunk - 1, '\n') + "\"" + literal + "\" end";
  std::vector<VELQ_ScannedToken> tokens = VELQ_ScanTokens(source.c_str(), nullptr);
  ASSERT_EQ(tokens.size(), 3u);
  EXPECT_EQ(tokens[0].text, literal);
  EXPECT_EQ(tokens[1].text, "end");
  EXPECT_EQ(tokens[1].line, chunk);
}

// Long tokens and long runs of blanks, comment text, string bytes or "//" on the last
// line scan in linear time. A scanner that rescans the token so far on every 8192-byte
// refill, or looks for a line feed to the end of the text after every "//", takes
// minutes here.
TEST(ScannerChunks, LongTokensAndRunsScanInLinearTime) {
  const size_t size = 4 * 1024 * 1024;
  std::string compound;
  while (compound.size() < size) compound += "a::";
  struct Run {
    std::string source;
    size_t tokens;
  } runs[] = {
      {std::string(size, 'x'), 2},
      {std::string(size, '7'), 2},
      {"1." + std::string(size, '5'), 2},
      {compound + "b", 2},
      {"x" + std::string(size, ' ') + "y", 3},
      {"x /*" + std::string(size, '*') + "*/ y", 3},
      {"x //" + std::string(size, '-') + "\ny", 3},
      {"x \"" + std::string(size, 'q'), 2},
      {"x " + std::string(size / 16, '/'), size / 16 + 2},
  };
  for (const Run &run : runs)
    EXPECT_EQ(VELQ_ScanTokens(run.source.c_str(), nullptr).size(), run.tokens);
}

}  // namespace
