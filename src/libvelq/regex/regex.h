// velq's own matcher for POSIX extended regular expressions, with the results the
// platform's expression functions give in the C locale: the leftmost match, the longest
// one from there, and each group's text by the rules of that implementation (the first
// alternative and the longer repetition are preferred, among the ways to match exactly
// that longest text). Its time is bounded by the pattern's size times the text's length,
// its memory by the pattern's size (both known before the pattern is built), and it asks
// velqWorkMayGoOn() as it goes, so that a match stops with the run.
//
// The pattern language is that of the platform's compiler with REG_EXTENDED: brackets
// with ranges, classes, equivalence classes and collating symbols of one byte; the
// anchors ^ and $; alternation and groups; * + ? {m} {m,} {m,n} {,n} {,}; the operators
// \w \W \s \S \b \B \< \> \` \' of the same library.
//
// Some patterns are left to the platform (VELQ_REGEX_UNSUPPORTED): back-references (\1 to
// \9), which make matching exponential; anchors inside a group, and \B anywhere, where the
// platform's results do not follow from its own rules (it reports a $ matched before the
// end, or no match where there is one); a repetition with optional copies of a part that
// may match nothing and holds a group, whose groups the platform sets by the course of
// its walk through the empty copies (and on some of which its regexec never returns);
// and groups nested deeper than VELQ_REGEX_MAX_NESTING.
#ifndef VELQ_REGEX_H
#define VELQ_REGEX_H

#include <stddef.h>
#include <stdint.h>

struct VELQ_Regex;

enum VELQ_RegexStatus {
  VELQ_REGEX_OK,
  VELQ_REGEX_INVALID,      // the platform's compiler refuses the pattern too
  VELQ_REGEX_UNSUPPORTED,  // left to the platform (see above)
  VELQ_REGEX_NO_MEMORY,    // refused by the system or the run's memory budget, or too large
};

// Groups and repetitions nested deeper than this are left to the platform: the compiler
// walks the pattern's tree recursively, one machine-stack frame per level.
enum { VELQ_REGEX_MAX_NESTING = 200 };

// The most nodes a compiled pattern may have (a counted repetition copies what it
// repeats): past this the pattern is refused as too large, whatever the budget.
enum { VELQ_REGEX_MAX_NODES = 1 << 22 };

// The groups whose texts a match reports at most (the first ones of the pattern).
enum { VELQ_REGEX_MAX_GROUPS = 255 };

// Whether an expression may hold `bytes` more (see velqRegexCompile); a refusal is noted
// for the run by the function itself.
typedef bool (*VELQ_RegexAllowance)(double bytes, void *context);

// Compiles the zero-terminated pattern; *compiled is the new expression on VELQ_REGEX_OK
// and null otherwise. All of the memory the expression will ever use, for compiling and
// for matching, is allocated here through velqAllocate, in one block whose size is known
// before it is allocated. Without an allowance the block counts against the run's memory
// budget; with one, the allowance decides on its size first, and the block is kept out of
// the budget (its holder counts it, as the cache of a program's patterns does). A refusal
// is VELQ_REGEX_NO_MEMORY, with the refusal noted for the run.
VELQ_RegexStatus velqRegexCompile(const char *pattern, bool ignoreCase, VELQ_Regex **compiled,
                                  VELQ_RegexAllowance allowance = nullptr, void *context = nullptr);

// The bytes the expression holds.
size_t velqRegexSize(const VELQ_Regex *regex);

void velqRegexFree(VELQ_Regex *regex);

// The number of groups of the pattern (all of them, even past VELQ_REGEX_MAX_GROUPS).
uint32_t velqRegexGroupCount(const VELQ_Regex *regex);

// Where the match (span 0) or a group took part: byte offsets, or -1 for a group that
// took no part.
struct VELQ_RegexSpan {
  long long start;
  long long end;
};

enum VELQ_RegexOutcome { VELQ_REGEX_MATCHED, VELQ_REGEX_NO_MATCH, VELQ_REGEX_STOPPED };

// Matches the text of length bytes (a zero byte is an ordinary byte here). On a match,
// spans[0] is the match and spans[1 .. count-1] the first groups (those past the last
// group of the pattern, or past VELQ_REGEX_MAX_GROUPS, are -1). VELQ_REGEX_STOPPED when
// velqWorkMayGoOn() said no. The expression holds the working memory of a match, so one
// expression serves one match at a time.
VELQ_RegexOutcome velqRegexExecute(VELQ_Regex *regex, const char *text, size_t length,
                                   VELQ_RegexSpan *spans, uint32_t count);

#endif
