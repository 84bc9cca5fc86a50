// The host support library: wildcard matching, the pointer queue and protocol messages.
#include "korvat.h"

#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <chrono>
#include <string>

namespace {

TEST(MatchString, MatchesWholeTextsWithStarsAndQuestionMarks) {
  struct Case {
    const char *pattern;
    const char *text;
    int caseSensitive;
    bool matches;
  };
  const Case cases[] = {
      {"", "", 1, true},
      {"", "a", 1, false},
      {"a", "", 1, false},
      {"*", "", 1, true},
      {"**", "", 1, true},
      {"?", "", 1, false},
      {"abc", "abc", 1, true},
      {"abc", "abd", 1, false},
      {"abc", "abcd", 1, false},  // the whole text, not a prefix
      {"bc", "abc", 1, false},    // nor a suffix
      {"a*c", "ac", 1, true},
      {"a*c", "abbbc", 1, true},
      {"a*c", "abbbd", 1, false},
      {"*a", "bba", 1, true},
      {"*a", "bab", 1, false},
      {"a*", "a", 1, true},
      {"a**b", "ab", 1, true},
      {"?b?", "abc", 1, true},
      {"??", "a", 1, false},
      {"?*?", "ab", 1, true},
      {"?*?", "a", 1, false},
      {"*a*b*c*", "xaybzc", 1, true},
      {"*a*b*c*", "xaybz", 1, false},
      {"*ab", "aab", 1, true},  // the star must give back what it took
      {"a*b*a", "abba", 1, true},
      {"a*b*a", "abab", 1, false},
      {"*", "*", 1, true},
      {"a", "*", 1, false},  // a star in the text is an ordinary byte
      {"a?", "a?", 1, true},
      {"ABC", "abc", 1, false},
      {"ABC", "abc", 0, true},
      {"a?C", "AbC", 0, true},
      {"*.TXT", "notes.txt", 0, true},
      {"*.TXT", "notes.txt", 1, false},
      {"h*O", "HELLO", 0, true},
      {"\xe4*", "\xe4x", 1, true},  // bytes above 127 compare as bytes
      {"\xe4", "\xe5", 0, false},
  };
  for (const Case &c : cases)
    EXPECT_EQ(MatchString(c.pattern, c.text, c.caseSensitive) != 0, c.matches)
        << "pattern '" << c.pattern << "' text '" << c.text << "' caseSensitive "
        << c.caseSensitive;
}

TEST(MatchString, ANullPatternOrTextMatchesNothing) {
  EXPECT_EQ(MatchString(nullptr, "a", 1), 0);
  EXPECT_EQ(MatchString("*", nullptr, 1), 0);
}

// Patterns of many stars that fail near the end of a long text: a matcher that
// backtracks over every star takes exponential time on them.
TEST(MatchString, ManyStarPatternsRunFast) {
  std::string text(20000, 'a');
  std::string manyStars;
  for (int i = 0; i < 40; i++) manyStars += "*a";
  struct Case {
    std::string pattern;
    std::string text;
    bool matches;
  };
  const Case cases[] = {
      {manyStars + "*b", text, false},
      {manyStars, text, true},
      {manyStars + "*b", text + "b", true},
      {std::string(5000, '*') + "b", text, false},
      {"*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*?*b", text, false},
  };
  auto start = std::chrono::steady_clock::now();
  for (const Case &c : cases) {
    EXPECT_EQ(MatchString(c.pattern.c_str(), c.text.c_str(), 1) != 0, c.matches);
    EXPECT_EQ(MatchString(c.pattern.c_str(), c.text.c_str(), 0) != 0, c.matches);
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 5.0);
}

TEST(Queue, GivesItemsBackInTheOrderTheyWerePut) {
  Queue q;
  EXPECT_EQ(q.Get(), nullptr);
  int items[1000];
  for (int &i : items) q.Put(&i);
  for (int &i : items) ASSERT_EQ(q.Get(), &i);
  EXPECT_EQ(q.Get(), nullptr);
}

TEST(Queue, StaysUsableAfterRunningDryAndInterleaved) {
  Queue q;
  int a, b, c, d;
  q.Put(&a);
  EXPECT_EQ(q.Get(), &a);
  EXPECT_EQ(q.Get(), nullptr);
  q.Put(&b);
  q.Put(&c);
  EXPECT_EQ(q.Get(), &b);
  q.Put(&d);
  EXPECT_EQ(q.Get(), &c);
  EXPECT_EQ(q.Get(), &d);
  EXPECT_EQ(q.Get(), nullptr);
}

TEST(Queue, DestroyingAQueueThatStillHoldsItemsLeaksNothing) {
  Queue *q = new Queue();
  int a;
  for (int i = 0; i < 10; i++) q->Put(&a);
  delete q;  // the sanitizer's leak check tells
}

TEST(KOSPMessage, KeepsNumbersAndOwnCopiesOfTexts) {
  KOSPMessage msg;
  uint32_t n = 0xFFFFFFFFu;
  char text[] = "hello";
  msg.SetField(1, KOSP_FIELD_UINT32, &n, 0);
  msg.SetField(2, KOSP_FIELD_TEXT, text, 0);
  n = 3;
  strcpy(text, "HELLO");
  EXPECT_EQ(msg.GetFieldUInt32(1), 0xFFFFFFFFu);
  EXPECT_STREQ(msg.GetFieldText(2), "hello");
  EXPECT_EQ(msg.FieldCount(), 2u);
}

TEST(KOSPMessage, ReadersGiveNothingForAbsentFieldsOrTheOtherType) {
  KOSPMessage msg;
  uint32_t n = 9;
  msg.SetField(1, KOSP_FIELD_UINT32, &n, 0);
  msg.SetField(2, KOSP_FIELD_TEXT, "nine", 0);
  EXPECT_EQ(msg.GetFieldText(1), nullptr);
  EXPECT_EQ(msg.GetFieldUInt32(2), 0u);
  EXPECT_FALSE(msg.HasField(3));
  EXPECT_EQ(msg.GetFieldUInt32(3), 0u);
  EXPECT_EQ(msg.GetFieldText(3), nullptr);
}

TEST(KOSPMessage, SettingAnIdAgainReplacesValueAndType) {
  KOSPMessage msg;
  uint32_t n = 1;
  msg.SetField(4, KOSP_FIELD_TEXT, "first", 0);
  msg.SetField(4, KOSP_FIELD_TEXT, "second", 0);
  EXPECT_STREQ(msg.GetFieldText(4), "second");
  msg.SetField(4, KOSP_FIELD_UINT32, &n, 0);  // the text is released
  EXPECT_EQ(msg.GetFieldText(4), nullptr);
  EXPECT_EQ(msg.GetFieldUInt32(4), 1u);
  msg.SetField(4, KOSP_FIELD_TEXT, "third", 0);
  EXPECT_STREQ(msg.GetFieldText(4), "third");
  EXPECT_EQ(msg.FieldCount(), 1u);
}

TEST(KOSPMessage, HoldsManyFieldsWithLargeIds) {
  KOSPMessage msg;
  for (uint32_t i = 0; i < 300; i++) {
    uint32_t id = 0x10000000u + i;
    if (i % 2)
      msg.SetField(id, KOSP_FIELD_TEXT, std::to_string(i).c_str(), 0);
    else
      msg.SetField(id, KOSP_FIELD_UINT32, &i, 0);
  }
  EXPECT_EQ(msg.FieldCount(), 300u);
  for (uint32_t i = 0; i < 300; i++) {
    uint32_t id = 0x10000000u + i;
    if (i % 2)
      EXPECT_EQ(std::string(msg.GetFieldText(id)), std::to_string(i));
    else
      EXPECT_EQ(msg.GetFieldUInt32(id), i);
  }
}

TEST(KOSPMessage, NullValuesBecomeZeroOrTheEmptyText) {
  KOSPMessage msg;
  msg.SetField(1, KOSP_FIELD_UINT32, nullptr, 0);
  msg.SetField(2, KOSP_FIELD_TEXT, nullptr, 0);
  EXPECT_TRUE(msg.HasField(1));
  EXPECT_EQ(msg.GetFieldUInt32(1), 0u);
  EXPECT_STREQ(msg.GetFieldText(2), "");
}

}  // namespace
