// Array declaration, element reads and stores with their copy rules, and attribute access
// on objects of a host class.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "values/deep_copy.h"
#include "test_access.h"
#include "program_builder.h"
#include "velq.h"

using namespace velq_test;

namespace {

std::string errorText(int code, const char *message, int line = 1) {
  return "Error " + std::to_string(code) + " in line " + std::to_string(line) + ": " + message;
}

const char *const kUnderflow = "Data stack underflow";
const char *const kInternal = "Internal error";
const char *const kNotObject = "Left argument of -> must be a reference to object";
const char *const kUnknownAttribute = "Unknown object's attribute";
const char *const kExists = "Variable already exist";
const char *const kIndex = "Array index is not an integer";
const char *const kNotArray = "Attempt to use array element access operation on non-array";

// Pushes a[index] = value and drops the assignment's value.
std::vector<Op> store(const char *array, Op index, Op value) {
  return {{OP_PUSH_VAR, array}, index, value, {OP_ESET}, {OP_POP, 1}};
}

// Pushes a[index].
std::vector<Op> load(const char *array, Op index) {
  return {{OP_PUSH_VAR, array}, index, {OP_EGET}};
}

std::vector<Op> join(std::initializer_list<std::vector<Op>> parts) {
  std::vector<Op> code;
  for (const auto &part : parts) code.insert(code.end(), part.begin(), part.end());
  return code;
}

Op pushConst(Const value) { return {OP_PUSH_CONST, value}; }

TEST(ArrayDeclareTest, SparseElementsOfANewArray) {
  RunOutcome out = run(join({
      {{OP_ARRAY, "a"}},
      load("a", {OP_PUSH_CONST, 5}),
      {{OP_PRINT}},
      store("a", {OP_PUSH_CONST, 5}, {OP_PUSH_CONST, 1}),
      store("a", {OP_PUSH_CONST, -3}, {OP_PUSH_CONST, 2}),
      load("a", {OP_PUSH_CONST, 5}),
      {{OP_PRINT}},
      load("a", {OP_PUSH_CONST, -3}),
      {{OP_PRINT}},
      load("a", {OP_PUSH_CONST, 4}),
      {{OP_RET}},
  }));
  EXPECT_EQ(out.rc, 0) << out.error;
  EXPECT_EQ(out.output, "(null)12");
  EXPECT_EQ(out.resultType, DTYPE_NULL);
}

TEST(ArrayDeclareTest, ANameThatExistsIsRefused) {
  RunOutcome twice = run({{OP_ARRAY, "a"}, atLine(3, {OP_ARRAY, "a"}), {OP_NRET}});
  EXPECT_EQ(twice.error, errorText(22, kExists, 3));

  RunOutcome local = run({{OP_PUSH_VAR, "a"}, {OP_POP, 1}, {OP_ARRAY, "a"}, {OP_NRET}});
  EXPECT_EQ(local.error, errorText(22, kExists));

  ProgramPtr withGlobal = buildProgram({{OP_ARRAY, "a"}, {OP_NRET}});
  withGlobal->setGlobalVariable("a", new VELQ_Value((int32_t)1));
  EXPECT_EQ(runProgram(withGlobal.get()).error, errorText(22, kExists));

  ProgramPtr withConstant = buildProgram({{OP_ARRAY, "a"}, {OP_NRET}});
  withConstant->getConstants()->create("a", new VELQ_Value((int32_t)1));
  EXPECT_EQ(runProgram(withConstant.get()).error, errorText(22, kExists));
}

// An array holding "two" at index 2.
Const arrayWithTwo() {
  return array([](VELQ_Array *a) { a->set(2, new VELQ_Value("two")); });
}

TEST(ElementTest, IndexTypes) {
  const struct {
    const char *what;
    Const index;
    const char *result;
  } cases[] = {
      {"int32", i32(2), "two"},   {"a text that reads as 2", str("2"), "two"},
      {"uint64", u64(2), "two"},  {"int64: the low 32 bits", i64(4294967298LL), "two"},
      {"absent", i32(3), "null"},
  };
  for (const auto &c : cases) {
    RunOutcome out = run({pushConst(arrayWithTwo()), pushConst(c.index), {OP_EGET}, {OP_RET}});
    EXPECT_EQ(out.error, "") << c.what;
    EXPECT_EQ(out.result, c.result) << c.what;
  }
}

TEST(ElementTest, Errors) {
  // A host can hand over an array value that holds no array at all.
  Const noArray{[] { return new VELQ_Value(static_cast<VELQ_Array *>(nullptr)); }};
  const struct {
    const char *what;
    std::vector<Op> code;
    std::string error;
  } cases[] = {
      {"real index",
       {pushConst(arrayWithTwo()), {OP_PUSH_CONST, 1.5}, atLine(2, {OP_EGET})},
       errorText(23, kIndex, 2)},
      {"null index",
       {pushConst(arrayWithTwo()), pushConst(null()), {OP_EGET}},
       errorText(23, kIndex)},
      {"text index",
       {pushConst(arrayWithTwo()), {OP_PUSH_CONST, "x"}, {OP_EGET}},
       errorText(23, kIndex)},
      {"array index",
       {pushConst(arrayWithTwo()), pushConst(array()), {OP_EGET}},
       errorText(23, kIndex)},
      {"read of a number",
       {{OP_PUSH_CONST, 5}, {OP_PUSH_CONST, 2}, {OP_EGET}},
       errorText(24, kNotArray)},
      {"read: array checked first",
       {{OP_PUSH_CONST, "s"}, {OP_PUSH_CONST, "t"}, {OP_EGET}},
       errorText(24, kNotArray)},
      {"store: index checked first",
       {{OP_PUSH_CONST, "s"}, {OP_PUSH_CONST, "t"}, {OP_PUSH_CONST, 1}, {OP_ESET}},
       errorText(23, kIndex)},
      {"store into a number",
       {{OP_PUSH_CONST, 5}, {OP_PUSH_CONST, 2}, {OP_PUSH_CONST, 1}, {OP_ESET}},
       errorText(24, kNotArray)},
      {"store of a real index",
       {pushConst(arrayWithTwo()), {OP_PUSH_CONST, 2.0}, {OP_PUSH_CONST, 1}, {OP_ESET}},
       errorText(23, kIndex)},
      {"read without an array",
       {pushConst(noArray), {OP_PUSH_CONST, 0}, atLine(3, {OP_EGET})},
       errorText(6, kInternal, 3)},
      {"store without an array",
       {pushConst(noArray), {OP_PUSH_CONST, 0}, {OP_PUSH_CONST, 1}, {OP_ESET}},
       errorText(6, kInternal)},
      {"store without an array: index checked first",
       {pushConst(noArray), {OP_PUSH_CONST, "i"}, {OP_PUSH_CONST, 1}, {OP_ESET}},
       errorText(23, kIndex)},
      {"read with one value", {pushConst(arrayWithTwo()), {OP_EGET}}, errorText(1, kUnderflow)},
      {"read of nothing", {{OP_EGET}}, errorText(1, kUnderflow)},
      {"store with two values",
       {pushConst(arrayWithTwo()), {OP_PUSH_CONST, 2}, {OP_ESET}},
       errorText(1, kUnderflow)},
      {"store with one value", {{OP_PUSH_CONST, 2}, {OP_ESET}}, errorText(1, kUnderflow)},
      {"store of nothing", {{OP_ESET}}, errorText(1, kUnderflow)},
  };
  for (const auto &c : cases) {
    std::vector<Op> code = c.code;
    code.push_back({OP_RET});
    RunOutcome out = run(code);
    EXPECT_EQ(out.rc, -1) << c.what;
    EXPECT_EQ(out.error, c.error) << c.what;
  }
}

// The store keeps a copy of its own; the assignment's value is the popped value itself.
TEST(ElementTest, StoreYieldsTheValueAndKeepsACopy) {
  RunOutcome out = run(join({
      {{OP_ARRAY, "a"}, {OP_PUSH_VAR, "a"}, {OP_PUSH_CONST, 1}, {OP_PUSH_CONST, 7}, {OP_ESET}},
      {{OP_NEG}, {OP_PRINT}},
      load("a", {OP_PUSH_CONST, 1}),
      {{OP_RET}},
  }));
  EXPECT_EQ(out.output, "-7");
  EXPECT_EQ(out.result, "7");
}

// PUSH_VAR shares the variable's array, so element stores through it reach the variable;
// a read of an element that is an array shares that array in the same way.
TEST(ElementTest, StoresThroughPushedValuesReachTheVariable) {
  RunOutcome out = run(join({
      {{OP_ARRAY, "a"}, {OP_ARRAY, "c"}},
      store("a", {OP_PUSH_CONST, 0}, {OP_PUSH_VAR, "c"}),
      // a[0][1] = 5: the element read shares a[0].
      {{OP_PUSH_VAR, "a"}, {OP_PUSH_CONST, 0}, {OP_EGET}},
      {{OP_PUSH_CONST, 1}, {OP_PUSH_CONST, 5}, {OP_ESET}, {OP_POP, 1}},
      load("a", {OP_PUSH_CONST, 0}),
      {{OP_PUSH_CONST, 1}, {OP_EGET}, {OP_PRINT}},
      load("c", {OP_PUSH_CONST, 1}),
      {{OP_RET}},
  }));
  EXPECT_EQ(out.error, "");
  EXPECT_EQ(out.output, "5");
  EXPECT_EQ(out.resultType, DTYPE_NULL) << "c was copied into a[0], not shared";
}

TEST(ElementTest, StoredArraysAreCopies) {
  // b = a; b[1] = 9 leaves a[1] as it was.
  RunOutcome assigned = run(join({
      {{OP_ARRAY, "a"}},
      store("a", {OP_PUSH_CONST, 1}, {OP_PUSH_CONST, 1}),
      {{OP_PUSH_VAR, "a"}, {OP_SET, "b"}, {OP_POP, 1}},
      store("b", {OP_PUSH_CONST, 1}, {OP_PUSH_CONST, 9}),
      load("a", {OP_PUSH_CONST, 1}),
      {{OP_PRINT}},
      load("b", {OP_PUSH_CONST, 1}),
      {{OP_RET}},
  }));
  EXPECT_EQ(assigned.output, "1");
  EXPECT_EQ(assigned.result, "9");

  // a[1] = c; c[0] = 6 leaves a[1][0] as it was.
  RunOutcome element = run(join({
      {{OP_ARRAY, "a"}, {OP_ARRAY, "c"}},
      store("c", {OP_PUSH_CONST, 0}, {OP_PUSH_CONST, 5}),
      store("a", {OP_PUSH_CONST, 1}, {OP_PUSH_VAR, "c"}),
      store("c", {OP_PUSH_CONST, 0}, {OP_PUSH_CONST, 6}),
      load("a", {OP_PUSH_CONST, 1}),
      {{OP_PUSH_CONST, 0}, {OP_EGET}, {OP_RET}},
  }));
  EXPECT_EQ(element.result, "5");
}

// Nested arrays are copied too: outer[0][0] keeps its value after b = outer; b[0][0] = 9.
TEST(ElementTest, StoredArraysAreCopiedAtEveryLevel) {
  RunOutcome out = run(join({
      {{OP_ARRAY, "inner"}, {OP_ARRAY, "outer"}},
      store("inner", {OP_PUSH_CONST, 0}, {OP_PUSH_CONST, 1}),
      store("outer", {OP_PUSH_CONST, 0}, {OP_PUSH_VAR, "inner"}),
      {{OP_PUSH_VAR, "outer"}, {OP_SET, "b"}, {OP_POP, 1}},
      {{OP_PUSH_VAR, "b"}, {OP_PUSH_CONST, 0}, {OP_EGET}},
      {{OP_PUSH_CONST, 0}, {OP_PUSH_CONST, 9}, {OP_ESET}, {OP_POP, 1}},
      load("outer", {OP_PUSH_CONST, 0}),
      {{OP_PUSH_CONST, 0}, {OP_EGET}, {OP_RET}},
  }));
  EXPECT_EQ(out.error, "");
  EXPECT_EQ(out.result, "1");
}

// a[1][0] = a stores a copy of a into an array that a holds. Had the copy shared a[1], the
// arrays would hold each other and never be released (the leak checker watches this).
TEST(ElementTest, StoringAnArrayIntoItsOwnElementMakesNoRing) {
  RunOutcome out = run(join({
      {{OP_ARRAY, "a"}, {OP_ARRAY, "b"}},
      store("b", {OP_PUSH_CONST, 0}, {OP_PUSH_CONST, 0}),
      store("a", {OP_PUSH_CONST, 1}, {OP_PUSH_VAR, "b"}),
      {{OP_PUSH_VAR, "a"}, {OP_PUSH_CONST, 1}, {OP_EGET}},
      {{OP_PUSH_CONST, 0}, {OP_PUSH_VAR, "a"}, {OP_ESET}, {OP_POP, 1}},
      // a[1][0][1][0]
      load("a", {OP_PUSH_CONST, 1}),
      {{OP_PUSH_CONST, 0}, {OP_EGET}, {OP_PUSH_CONST, 1}, {OP_EGET}, {OP_PUSH_CONST, 0}, {OP_EGET}},
      {{OP_RET}},
  }));
  EXPECT_EQ(out.error, "");
  EXPECT_EQ(out.result, "0");
}

TEST(StoredCopyTest, CopiesValuesAndWholeArrays) {
  VELQ_Value *none = velqStoredCopy(nullptr);
  EXPECT_TRUE(none->isNull());
  delete none;

  VELQ_Value number("0x10");
  VELQ_Value *copy = velqStoredCopy(&number);
  EXPECT_EQ(copy->getDataType(), DTYPE_INT32);
  EXPECT_STREQ(copy->getValueAsCString(), "0x10");
  delete copy;

  VELQ_Array *innermost = new VELQ_Array();
  innermost->set(0, new VELQ_Value("deep"));
  VELQ_Array *inner = new VELQ_Array();
  inner->set(0, new VELQ_Value(innermost));
  inner->set(1, new VELQ_Value((int32_t)1));
  VELQ_Value source(new VELQ_Array());
  source.getValueAsArray()->set(-1, new VELQ_Value(inner));
  source.getValueAsArray()->set(5, new VELQ_Value("five"));

  VELQ_Value *stored = velqStoredCopy(&source);
  VELQ_Array *top = stored->getValueAsArray();
  ASSERT_NE(top, nullptr);
  EXPECT_NE(top, source.getValueAsArray());
  EXPECT_EQ(velq_test::refCountOf(top), 1);
  EXPECT_STREQ(top->get(5)->getValueAsCString(), "five");
  VELQ_Array *innerCopy = top->get(-1)->getValueAsArray();
  ASSERT_NE(innerCopy, nullptr);
  EXPECT_NE(innerCopy, inner);
  EXPECT_EQ(velq_test::refCountOf(innerCopy), 1);
  EXPECT_EQ(innerCopy->get(1)->getValueAsInt32(), 1);
  VELQ_Array *innermostCopy = innerCopy->get(0)->getValueAsArray();
  ASSERT_NE(innermostCopy, nullptr);
  EXPECT_NE(innermostCopy, innermost);
  EXPECT_STREQ(innermostCopy->get(0)->getValueAsCString(), "deep");
  // The source's arrays are held as before.
  EXPECT_EQ(velq_test::refCountOf(inner), 1);
  EXPECT_EQ(velq_test::refCountOf(innermost), 1);
  delete stored;
}

// An array that two elements share is copied for each of them: the copy shares nothing.
TEST(StoredCopyTest, AnArrayReachedTwiceIsCopiedTwice) {
  VELQ_Array *shared = new VELQ_Array();
  shared->set(0, new VELQ_Value("shared"));
  VELQ_Value source(new VELQ_Array());
  source.getValueAsArray()->set(0, new VELQ_Value(shared));
  source.getValueAsArray()->set(1, new VELQ_Value(shared));
  VELQ_Value *stored = velqStoredCopy(&source);
  VELQ_Array *first = stored->getValueAsArray()->get(0)->getValueAsArray();
  VELQ_Array *second = stored->getValueAsArray()->get(1)->getValueAsArray();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, shared);
  EXPECT_NE(second, shared);
  EXPECT_NE(first, second);
  EXPECT_STREQ(second->get(0)->getValueAsCString(), "shared");
  EXPECT_EQ(velq_test::refCountOf(shared), 2);
  delete stored;
}

// A host can make a ring: an array holding a value that refers to itself, directly or
// through another array. Copying it must end; the element that leads back into the ring
// is copied as null, and the copy holds no reference to the host's arrays.
TEST(StoredCopyTest, ARingOfArraysIsCopiedWithoutTheRing) {
  VELQ_Array *ring = new VELQ_Array();
  VELQ_Array *link = new VELQ_Array();
  VELQ_Value *holder = new VELQ_Value(ring);
  ring->set(0, new VELQ_Value(ring));  // the ring itself
  ring->set(1, new VELQ_Value(link));
  ring->set(2, new VELQ_Value("kept"));
  link->set(0, new VELQ_Value(ring));  // back through another array
  link->set(1, new VELQ_Value("link"));
  ASSERT_EQ(velq_test::refCountOf(ring), 3);

  VELQ_Value *stored = velqStoredCopy(holder);
  VELQ_Array *copy = stored->getValueAsArray();
  EXPECT_TRUE(copy->get(0)->isNull());
  EXPECT_STREQ(copy->get(2)->getValueAsCString(), "kept");
  VELQ_Array *linkCopy = copy->get(1)->getValueAsArray();
  ASSERT_NE(linkCopy, nullptr);
  EXPECT_NE(linkCopy, link);
  EXPECT_TRUE(linkCopy->get(0)->isNull());
  EXPECT_STREQ(linkCopy->get(1)->getValueAsCString(), "link");
  EXPECT_EQ(velq_test::refCountOf(ring), 3);  // the copy took no reference
  delete stored;

  // The ring is the host's to break: drop the references it holds on itself.
  link->set(0, nullptr);
  ring->set(0, nullptr);
  delete holder;
}

// Nesting far deeper than the machine stack could follow is copied in time proportional to
// its depth.
TEST(StoredCopyTest, DeepNestingIsCopied) {
  const int depth = 200000;
  VELQ_Value source(new VELQ_Array());
  VELQ_Array *array = source.getValueAsArray();
  for (int level = 0; level < depth; level++) {
    VELQ_Array *nested = new VELQ_Array();
    array->set(0, new VELQ_Value(nested));
    array = nested;
  }
  array->set(0, new VELQ_Value("bottom"));
  VELQ_Value *stored = velqStoredCopy(&source);
  const VELQ_Array *copy = stored->getValueAsArray();
  for (int level = 0; level < depth; level++) {
    ASSERT_EQ(velq_test::refCountOf(copy->get(0)->getValueAsArray()), 1) << level;
    copy = copy->get(0)->getValueAsArray();
  }
  EXPECT_STREQ(copy->get(0)->getValueAsCString(), "bottom");
  delete stored;
}

// A host class with a readable and writable attribute x and a read-only attribute y.
struct Point {
  int32_t x;
  int32_t y;
};

class PointClass : public VELQ_Class {
 public:
  PointClass() { strcpy(name, "POINT"); }
  VELQ_Value *getAttr(VELQ_Object *object, const char *attribute) override {
    Point *point = static_cast<Point *>(object->getData());
    if (strcmp(attribute, "x") == 0) return new VELQ_Value(point->x);
    if (strcmp(attribute, "y") == 0) return new VELQ_Value(point->y);
    return nullptr;
  }
  int setAttr(VELQ_Object *object, const char *attribute, VELQ_Value *value) override {
    if (strcmp(attribute, "x") != 0 || !value->isInteger()) return 0;
    static_cast<Point *>(object->getData())->x = value->getValueAsInt32();
    return 1;
  }
};

class AttributeTest : public ::testing::Test {
 protected:
  PointClass points;
  VELQ_Class generic;
  Point point{3, 4};

  Const pointValue() {
    return {[this] { return new VELQ_Value(new VELQ_Object(&points, &point)); }};
  }
  Const genericValue() {
    return {[this] { return new VELQ_Value(new VELQ_Object(&generic, &point)); }};
  }
};

TEST_F(AttributeTest, ReadAndWrite) {
  RunOutcome out = run({pushConst(pointValue()),
                        {OP_AGET, "y"},
                        {OP_PRINT},
                        pushConst(pointValue()),
                        {OP_PUSH_CONST, 7},
                        {OP_ASET, "x"},
                        {OP_PRINT},
                        pushConst(pointValue()),
                        {OP_AGET, "x"},
                        {OP_RET}});
  EXPECT_EQ(out.error, "");
  EXPECT_EQ(out.output, "47");
  EXPECT_EQ(out.result, "7");
  EXPECT_EQ(point.x, 7);
}

TEST_F(AttributeTest, Errors) {
  Const noRecord{[] { return new VELQ_Value(static_cast<VELQ_Object *>(nullptr)); }};
  const struct {
    const char *what;
    std::vector<Op> code;
    std::string error;
  } cases[] = {
      {"unknown attribute",
       {pushConst(pointValue()), atLine(6, {OP_AGET, "z"})},
       errorText(15, kUnknownAttribute, 6)},
      {"read-only attribute",
       {pushConst(pointValue()), {OP_PUSH_CONST, 1}, {OP_ASET, "y"}},
       errorText(15, kUnknownAttribute)},
      {"value the class refuses",
       {pushConst(pointValue()), {OP_PUSH_CONST, "a"}, {OP_ASET, "x"}},
       errorText(15, kUnknownAttribute)},
      {"generic class reads nothing",
       {pushConst(genericValue()), {OP_AGET, "x"}},
       errorText(15, kUnknownAttribute)},
      {"generic class writes nothing",
       {pushConst(genericValue()), {OP_PUSH_CONST, 1}, {OP_ASET, "x"}},
       errorText(15, kUnknownAttribute)},
      {"read of a number", {{OP_PUSH_CONST, 1}, {OP_AGET, "x"}}, errorText(14, kNotObject)},
      {"read of null", {pushConst(null()), {OP_AGET, "x"}}, errorText(14, kNotObject)},
      {"write into an array",
       {pushConst(array()), {OP_PUSH_CONST, 1}, {OP_ASET, "x"}},
       errorText(14, kNotObject)},
      {"read without a record", {pushConst(noRecord), {OP_AGET, "x"}}, errorText(6, kInternal)},
      {"write without a record",
       {pushConst(noRecord), {OP_PUSH_CONST, 1}, {OP_ASET, "x"}},
       errorText(6, kInternal)},
      {"read of nothing", {{OP_AGET, "x"}}, errorText(1, kUnderflow)},
      {"write with one value", {pushConst(pointValue()), {OP_ASET, "x"}}, errorText(1, kUnderflow)},
      {"write of nothing", {{OP_ASET, "x"}}, errorText(1, kUnderflow)},
  };
  for (const auto &c : cases) {
    std::vector<Op> code = c.code;
    code.push_back({OP_RET});
    RunOutcome out = run(code);
    EXPECT_EQ(out.rc, -1) << c.what;
    EXPECT_EQ(out.error, c.error) << c.what;
  }
  EXPECT_EQ(point.x, 3) << "no refused write reached the object";
}

// An instruction built without an attribute name asks the class about the empty name; the
// class is never handed a null name.
TEST_F(AttributeTest, AMissingAttributeNameIsTheEmptyName) {
  for (int opCode : {OP_AGET, OP_ASET}) {
    ProgramPtr program = buildProgram({pushConst(pointValue())});
    if (opCode == OP_ASET) appendCode(program.get(), {{OP_PUSH_CONST, 1}});
    program->addInstruction(new VELQ_Instruction(4, opCode));
    appendCode(program.get(), {{OP_RET}});
    RunOutcome out = runProgram(program.get());
    EXPECT_EQ(out.error, errorText(15, kUnknownAttribute, 4)) << opCode;
  }
}

}  // namespace
