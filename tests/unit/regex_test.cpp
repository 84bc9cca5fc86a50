// velq's regular-expression matcher (regex/regex.h) on the rules that decide its results,
// each with a case where getting it wrong shows: the platform's choice of groups among
// the ways to match the same text, its reading of the pattern ignoring case, what it
// refuses, and what is left to it. tests/regex/ compares the matcher with the platform
// over generated patterns; these cases name the rules.
#include "regex/regex.h"

#include <gtest/gtest.h>
#include <string.h>

#include <atomic>
#include <string>

#include "runtime/memory.h"
#include "runtime/run_limits.h"

namespace {

// The spans of a match as "(0,2)(1,2)", or "no match".
std::string matchOf(const char *pattern, const char *text, bool ignoreCase = false) {
  VELQ_Regex *regex = nullptr;
  VELQ_RegexStatus status = velqRegexCompile(pattern, ignoreCase, &regex);
  if (status != VELQ_REGEX_OK) return "status " + std::to_string(status);
  uint32_t count = velqRegexGroupCount(regex) + 1;
  VELQ_RegexSpan spans[16];
  if (count > 16) count = 16;
  VELQ_RegexOutcome outcome = velqRegexExecute(regex, text, strlen(text), spans, count);
  velqRegexFree(regex);
  if (outcome != VELQ_REGEX_MATCHED) return "no match";
  std::string out;
  for (uint32_t i = 0; i < count; i++)
    out += "(" + std::to_string(spans[i].start) + "," + std::to_string(spans[i].end) + ")";
  return out;
}

TEST(Regex, GivesTheLeftmostLongestMatchWithThePlatformsGroups) {
  struct Case {
    const char *pattern;
    const char *text;
    const char *spans;
  } cases[] = {
      {"b+", "abbbc", "(1,4)"},
      {"a|ab|abc", "abcd", "(0,3)"},  // the longest, whichever alternative
      {"x*", "ab", "(0,0)"},          // the leftmost, even empty
      // Among the ways to match the longest text, the first alternative wins, not the
      // longest group.
      {"(a|ab)(c|bcd)(d*)", "abcd", "(0,4)(0,1)(1,4)(4,4)"},
      // A repeated group reports its last copy.
      {"(a|b)*c", "abbc", "(0,4)(2,3)"},
      {"(a){2,3}", "aaaa", "(0,3)(2,3)"},
      // A group holding only a group reports the outer one's span for the inner one.
      {"((a))", "a", "(0,1)(0,1)(0,1)"},
      {"(a){0}b", "b", "(0,1)(-1,-1)"},
      // At the same end, a way without an anchor since its last byte wins.
      {"()$|", "", "(0,0)(-1,-1)"},
      {"()\\b", "b", "(0,0)(0,0)"},
      {"\\bab\\>", "xab ab", "(4,6)"},
      {"[[:alpha:]]+[^[:alpha:]]", "ab1", "(0,3)"},
      {"[]a-]+", "-]a", "(0,3)"},
      {"a{,2}b", "aaab", "(1,4)"},
      {"\\w\\W\\s\\S", "a- b", "(0,4)"},
      {"\\w\\W\\s\\S", "ab b", "no match"},
      {"\\w\\W\\s\\S", "_-  ", "no match"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(matchOf(c.pattern, c.text), c.spans) << c.text;
  }
}

TEST(Regex, IgnoringCaseReadsPatternAndTextInUpperCase) {
  struct Case {
    const char *pattern;
    const char *text;
    const char *spans;
  } cases[] = {
      {"abc", "xABc", "(1,4)"},
      {"[a-c]+", "CbA", "(0,3)"},
      {"[[:lower:]]+", "aBc", "(0,3)"},  // lower and upper are alpha
      {"\\A", "a", "(0,1)"},             // a backslash keeps the byte's case...
      {"a\\a", "aa", "no match"},        // ... which an upper-case text never has
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(matchOf(c.pattern, c.text, true), c.spans) << c.text;
  }
  // [B-a] is the empty range [B-A] in upper case.
  EXPECT_EQ(matchOf("[B-a]", "b", true), "status 1");
  EXPECT_EQ(matchOf("[B-a]", "_"), "(0,1)");
}

TEST(Regex, RefusesWhatThePlatformRefusesAndLeavesItWhatItDoesNotFollow) {
  for (const char *refused :
       {"(", "a)(", "*a", "a|*", "^*", "a{1", "a{2,1}", "a{32768}", "{1}", "a{}", "[a", "[]",
        "[[:foo:]]", "[z-a]", "[a-c-e]", "[[.ab.]]", "\\", "(*)"}) {
    SCOPED_TRACE(refused);
    EXPECT_EQ(matchOf(refused, ""), "status 1");
  }
  for (const char *accepted : {")", "a**", "a{,}", "()", "(|)", "a||b", "}", "[a-]", "[]]",
                               "a{1}{2}", "\\{", "[[.-.]]", "a{32767}"}) {
    SCOPED_TRACE(accepted);
    VELQ_Regex *regex = nullptr;
    EXPECT_EQ(velqRegexCompile(accepted, false, &regex), VELQ_REGEX_OK);
    velqRegexFree(regex);
  }
  std::string deep = std::string(VELQ_REGEX_MAX_NESTING + 1, '(') + "a" +
                     std::string(VELQ_REGEX_MAX_NESTING + 1, ')');
  // Groups in repetitions of what may match nothing: the platform sets them by its walk
  // through the empty copies (and loops for ever on some).
  for (const char *left :
       {"(a)\\1", "(^a)", "a\\Bb", "(a*)*", "(a|(b)?)+", "(b|){0,2}", "(()?a){2}", "(||a)**"}) {
    SCOPED_TRACE(left);
    EXPECT_EQ(matchOf(left, ""), "status 2");
  }
  EXPECT_EQ(matchOf(deep.c_str(), ""), "status 2");
  EXPECT_EQ(matchOf(std::string(VELQ_REGEX_MAX_NESTING, '(')
                        .append("a")
                        .append(VELQ_REGEX_MAX_NESTING, ')')
                        .c_str(),
                    "a")
                .substr(0, 5),
            "(0,1)");
}

TEST(Regex, ATooLargePatternIsRefusedBeforeItIsBuilt) {
  VELQ_Regex *regex = nullptr;
  VELQ_MemoryBudget budget{0, 1 << 20};
  VELQ_MemoryBudget *saved = velqSetMemoryBudget(&budget);
  velqClearAllocationFailure();
  EXPECT_EQ(velqRegexCompile("((a{1000}){1000}){1000}", false, &regex), VELQ_REGEX_NO_MEMORY);
  EXPECT_EQ(velqAllocationFailure(), VELQ_BUDGET_REFUSED);
  EXPECT_LT(budget.used, 4096);
  velqSetMemoryBudget(saved);
  velqClearAllocationFailure();
  EXPECT_EQ(regex, nullptr);
}

TEST(Regex, AMatchStopsWhenTheRunMayNotGoOn) {
  std::atomic<bool> interrupt{true};
  std::atomic<uint32_t> reach{0};
  VELQ_RunLimits limits{&interrupt, &reach, 0};
  VELQ_Regex *regex = nullptr;
  ASSERT_EQ(velqRegexCompile("(a|b){1,50}c", false, &regex), VELQ_REGEX_OK);
  std::string text(100000, 'a');
  VELQ_RegexSpan spans[2];
  VELQ_RunLimits *saved = velqSetRunLimits(&limits);
  EXPECT_EQ(velqRegexExecute(regex, text.c_str(), text.size(), spans, 2), VELQ_REGEX_STOPPED);
  velqSetRunLimits(saved);
  EXPECT_EQ(velqRegexExecute(regex, text.c_str(), text.size(), spans, 2), VELQ_REGEX_NO_MATCH);
  velqRegexFree(regex);
}

}  // namespace
