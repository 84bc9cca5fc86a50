// Values share text blocks inside the engine and append in place when they can: no value
// may ever see another's change, and a text handed to a host stays as it was handed out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_access.h"
#include "values/value_internals.h"
#include "velq.h"

namespace {

using V = VELQ_ValueInternals;

std::string textOf(VELQ_Value *value) {
  uint32_t length = 0;
  const char *text = V::textView(value, &length);
  return text ? std::string(text, length) : "<none>";
}

// An engine copy of from (sharing its block), made as the machine makes them.
VELQ_Value *engineCopy(const VELQ_Value *from) {
  VELQ_Value *copy = new VELQ_Value();
  V::shareCopy(copy, from);
  return copy;
}

TEST(TextSharing, AppendingToOneOfTwoSharingValuesLeavesTheOtherAlone) {
  // Both orders: the longer value appends (in place, in the block's spare room), then
  // the shorter one must not write over the bytes the longer one now owns.
  VELQ_Value a("start");
  ASSERT_TRUE(V::append(&a, "-grown", 6));  // leaves spare room in the block
  VELQ_Value *b = engineCopy(&a);
  ASSERT_TRUE(V::append(&a, "+a", 2));
  ASSERT_TRUE(V::append(b, "+b", 2));
  EXPECT_EQ(textOf(&a), "start-grown+a");
  EXPECT_EQ(textOf(b), "start-grown+b");
  ASSERT_TRUE(V::append(b, "+more", 5));
  EXPECT_EQ(textOf(&a), "start-grown+a");
  EXPECT_EQ(textOf(b), "start-grown+b+more");
  delete b;
  EXPECT_EQ(textOf(&a), "start-grown+a");
}

TEST(TextSharing, ATextHandedToAHostStaysAsItWasWhileItsValueIsUnchanged) {
  VELQ_Value a("base");
  ASSERT_TRUE(V::append(&a, "+", 1));
  VELQ_Value *b = engineCopy(&a);
  const char *handed = b->getValueAsCString();
  std::string before = handed;
  // Appends by the sharing value, many times (so its block is outgrown and replaced).
  for (int i = 0; i < 1000; i++) ASSERT_TRUE(V::append(&a, "0123456789", 10));
  EXPECT_EQ(std::string(handed), before);
  EXPECT_EQ(textOf(b), "base+");
  EXPECT_EQ(textOf(&a).size(), 5u + 10000u);
  delete b;
}

TEST(TextSharing, AShorterSharingValueIsZeroTerminatedWhenHandedOut) {
  VELQ_Value a("abc");
  VELQ_Value *shorter = engineCopy(&a);
  ASSERT_TRUE(V::append(&a, "def", 3));  // in place: the block now holds "abcdef"
  const char *handed = shorter->getValueAsCString();
  EXPECT_STREQ(handed, "abc");
  EXPECT_STREQ(a.getValueAsCString(), "abcdef");
  delete shorter;
}

TEST(TextSharing, AHostsCopyHasATextOfItsOwn) {
  VELQ_Value a("mine");
  VELQ_Value *copy = new VELQ_Value(&a);
  EXPECT_NE(copy->getValueAsCString(), a.getValueAsCString());
  ASSERT_TRUE(V::append(&a, "!", 1));
  EXPECT_STREQ(copy->getValueAsCString(), "mine");
  delete copy;
}

TEST(TextSharing, ChangingTheTextInPlaceCopiesASharedBlockFirst) {
  VELQ_Value a("Hello");
  VELQ_Value *b = engineCopy(&a);
  char *writable = V::writableText(b);
  ASSERT_NE(writable, nullptr);
  writable[0] = 'J';
  EXPECT_EQ(textOf(&a), "Hello");
  EXPECT_EQ(textOf(b), "Jello");
  delete b;
}

// The same rules seen from scripts: snapshots of a growing text, texts passed to and
// returned from functions, array elements, and the result a host reads.
TEST(TextSharing, ScriptsNeverSeeAnotherVariablesAppend) {
  const char *source = R"velq(
sub grow(t) { t = t . "f"; return t; }
sub main() {
  array snaps;
  s = "";
  i = 0;
  while (i < 200) { snaps[i] = s; s = s . "x"; i++; }
  ok = 1;
  i = 0;
  while (i < 200) { if (length(snaps[i]) != i) ok = 0; i++; }
  a = "ab";
  b = a;
  a = a . "c";
  b = b . "d";
  g = grow(a);
  return ok . " " . a . " " . b . " " . g . " " . length(s);
}
)velq";
  char error[VELQ_COMPILE_ERROR_SIZE];
  VELQ_Program *program = VELQCompile(source, error, sizeof error);
  ASSERT_NE(program, nullptr) << error;
  ASSERT_EQ(program->run(nullptr, 0, nullptr, nullptr, nullptr, nullptr), 0)
      << program->getErrorText();
  const char *result = program->getResult()->getValueAsCString();
  EXPECT_STREQ(result, "1 abc abd abcf 200");
  delete program;
}

}  // namespace
