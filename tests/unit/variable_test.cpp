// VELQ_Variable and VELQ_VariableSystem: ownership, copies, lookup and merge.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "velq_value.h"
#include "velq_variable.h"

namespace {

std::string text(VELQ_Variable *v) {
  if (!v) return "<none>";
  const char *s = v->getValue()->getValueAsCString();
  return s ? s : "<no text>";
}

TEST(Variable, NameOnlyConstructorHoldsANonConstantNullAndItsOwnName) {
  char name[] = "counter";
  VELQ_Variable v(name);
  name[0] = 'X';
  EXPECT_STREQ(v.getName(), "counter");
  ASSERT_NE(v.getValue(), nullptr);
  EXPECT_EQ(v.getValue()->getDataType(), DTYPE_NULL);
  EXPECT_FALSE(v.isConstant());
}

TEST(Variable, TakesTheValueItIsGivenAndReplacesItOnSet) {
  VELQ_Value *first = new VELQ_Value((int32_t)5);
  VELQ_Variable v("x", first, true);
  EXPECT_EQ(v.getValue(), first);
  EXPECT_TRUE(v.isConstant());
  VELQ_Value *second = new VELQ_Value("abc");
  v.setValue(second);  // the constant flag is the machine's business, not setValue's
  EXPECT_EQ(v.getValue(), second);
  v.setValue(second);  // setting the value it holds must not destroy it
  EXPECT_EQ(text(&v), "abc");
  v.setValue(nullptr);
  ASSERT_NE(v.getValue(), nullptr);
  EXPECT_EQ(v.getValue()->getDataType(), DTYPE_NULL);
}

TEST(Variable, CopyIsDeepAndKeepsTheConstantFlag) {
  VELQ_Variable source("pi", new VELQ_Value(3.5), true);
  VELQ_Variable copy(&source);
  EXPECT_STREQ(copy.getName(), "pi");
  EXPECT_NE(copy.getName(), source.getName());
  EXPECT_NE(copy.getValue(), source.getValue());
  EXPECT_TRUE(copy.isConstant());
  source.setValue(new VELQ_Value((int32_t)1));
  EXPECT_EQ(copy.getValue()->getDataType(), DTYPE_REAL);
  EXPECT_DOUBLE_EQ(copy.getValue()->getValueAsReal(), 3.5);
}

// Copies of nothing are what the plain constructors make: an empty-named non-constant null
// variable, an empty non-constant system.
TEST(Variable, CopiesOfNothingAreEmpty) {
  VELQ_Variable variable(static_cast<const VELQ_Variable *>(nullptr));
  EXPECT_STREQ(variable.getName(), "");
  ASSERT_NE(variable.getValue(), nullptr);
  EXPECT_TRUE(variable.getValue()->isNull());
  EXPECT_FALSE(variable.isConstant());

  VELQ_VariableSystem system(static_cast<const VELQ_VariableSystem *>(nullptr));
  EXPECT_EQ(system.getCount(), 0u);
  EXPECT_FALSE(system.isConstant());
  EXPECT_NE(system.create("x", nullptr), nullptr);
}

TEST(VariableSystem, FindIsExactCaseSensitiveAndTakesTheFirstOfEqualNames) {
  VELQ_VariableSystem s;
  VELQ_Variable *first = s.create("x", new VELQ_Value((int32_t)1));
  s.create("xy", new VELQ_Value((int32_t)2));
  VELQ_Variable *second = s.create("x", new VELQ_Value((int32_t)3));  // no check for duplicates
  EXPECT_EQ(s.getCount(), 3u);
  EXPECT_NE(first, second);
  EXPECT_EQ(s.find("x"), first);
  EXPECT_EQ(text(s.find("xy")), "2");
  const char *missing[] = {"X", "", "x ", "xyz", "y"};
  for (const char *name : missing) EXPECT_EQ(s.find(name), nullptr) << "'" << name << "'";
  EXPECT_EQ(s.find(nullptr), nullptr);
  EXPECT_EQ(s.getVariable(2), second);   // creation order
  EXPECT_EQ(s.getVariable(3), nullptr);  // beyond the count
  EXPECT_EQ(s.getVariable(UINT32_MAX), nullptr);
}

TEST(VariableSystem, CreateGivesTheSystemsFlagAndANullForNoValue) {
  for (bool flag : {false, true}) {
    VELQ_VariableSystem s(flag);
    EXPECT_EQ(s.isConstant(), flag);
    VELQ_Variable *v = s.create("n", nullptr);
    EXPECT_EQ(v->isConstant(), flag);
    ASSERT_NE(v->getValue(), nullptr);
    EXPECT_EQ(v->getValue()->getDataType(), DTYPE_NULL);
  }
}

TEST(VariableSystem, MergeAddsOnlyMissingNamesAsCopiesUnderTheTargetsFlag) {
  VELQ_VariableSystem source(false);
  source.create("x", new VELQ_Value((int32_t)1));
  source.create("y", new VELQ_Value((int32_t)2));
  for (bool flag : {false, true}) {
    VELQ_VariableSystem target(flag);
    target.create("x", new VELQ_Value((int32_t)5));
    target.merge(&source);
    ASSERT_EQ(target.getCount(), 2u);
    EXPECT_EQ(text(target.find("x")), "5");
    EXPECT_EQ(text(target.find("y")), "2");
    EXPECT_NE(target.find("y")->getValue(), source.find("y")->getValue());
    EXPECT_EQ(target.find("y")->isConstant(), flag);
    EXPECT_EQ(target.getVariable(1), target.find("y"));  // appended after the existing one
  }
  EXPECT_EQ(source.getCount(), 2u);
  EXPECT_EQ(text(source.find("x")), "1");
  EXPECT_EQ(text(source.find("y")), "2");
}

TEST(VariableSystem, MergeWithItselfOrNothingChangesNothing) {
  VELQ_VariableSystem s;
  s.create("a", new VELQ_Value((int32_t)1));
  s.merge(&s);
  s.merge(nullptr);
  EXPECT_EQ(s.getCount(), 1u);
}

TEST(VariableSystem, CopyIsDeepInOrderWithTheSameFlag) {
  VELQ_VariableSystem source(true);
  source.create("b", new VELQ_Value((int32_t)2));
  source.create("a", new VELQ_Value("one"));
  VELQ_VariableSystem copy(&source);
  EXPECT_TRUE(copy.isConstant());
  ASSERT_EQ(copy.getCount(), 2u);
  EXPECT_STREQ(copy.getVariable(0)->getName(), "b");
  EXPECT_STREQ(copy.getVariable(1)->getName(), "a");
  EXPECT_TRUE(copy.getVariable(0)->isConstant());
  copy.find("a")->setValue(new VELQ_Value("changed"));
  copy.create("c", nullptr);
  EXPECT_EQ(text(source.find("a")), "one");
  EXPECT_EQ(source.getCount(), 2u);

  VELQ_VariableSystem empty;
  VELQ_VariableSystem emptyCopy(&empty);
  EXPECT_EQ(emptyCopy.getCount(), 0u);
  EXPECT_FALSE(emptyCopy.isConstant());
}

}  // namespace
