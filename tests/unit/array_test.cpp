// The sparse array: sorted slots, growth by fixed steps, copies and ownership.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <vector>

#include "test_access.h"
#include "counting_class.h"
#include "velq_array.h"
#include "velq_value.h"

namespace {

// The indices of the array's slots, in slot order.
std::vector<int32_t> slotIndices(const VELQ_Array &array) {
  std::vector<int32_t> indices;
  for (int32_t i = 0; i < array.getSize(); i++) indices.push_back(array.getElement(i)->index);
  return indices;
}

TEST(Array, NewArrayIsEmptyAndUnused) {
  VELQ_Array array;
  EXPECT_EQ(array.getSize(), 0);
  EXPECT_EQ(velq_test::allocatedOf(array), 0);
  EXPECT_EQ(velq_test::refCountOf(array), 0);
  EXPECT_NE(array.isUnused(), 0);
  for (int32_t index : {0, 1, -1, INT32_MIN, INT32_MAX}) EXPECT_EQ(array.get(index), nullptr);
  array.incRefCount();
  EXPECT_EQ(array.isUnused(), 0);
  array.decRefCount();
  array.decRefCount();  // counting below zero never deletes
  EXPECT_EQ(velq_test::refCountOf(array), -1);
  EXPECT_NE(array.isUnused(), 0);
}

TEST(Array, GetElementAnswersOnlyForSlotsInUse) {
  VELQ_Array array;
  EXPECT_EQ(array.getElement(0), nullptr);
  array.set(3, new VELQ_Value((int32_t)3));
  ASSERT_NE(array.getElement(0), nullptr);
  EXPECT_EQ(array.getElement(0)->index, 3);
  for (int32_t position : {1, -1, 31, INT32_MAX, INT32_MIN})  // allocated or not, unused
    EXPECT_EQ(array.getElement(position), nullptr) << position;
}

TEST(Array, SetKeepsSlotsSortedAndReplacesInPlace) {
  CountingClass klass;
  int tagA, tagB, tagC, tagD;
  VELQ_Array array;
  VELQ_Value *a = newProbe(&klass, &tagA);
  VELQ_Value *b = newProbe(&klass, &tagB);
  VELQ_Value *c = newProbe(&klass, &tagC);
  array.set(5, a);
  array.set(-3, b);
  array.set(100, c);
  EXPECT_EQ(slotIndices(array), (std::vector<int32_t>{-3, 5, 100}));
  EXPECT_EQ(array.get(5), a);
  EXPECT_EQ(array.get(-3), b);
  EXPECT_EQ(array.get(100), c);
  for (int32_t absent : {4, 6, -4, 0, 101, INT32_MIN, INT32_MAX})
    EXPECT_EQ(array.get(absent), nullptr);

  VELQ_Value *d = newProbe(&klass, &tagD);
  array.set(5, d);
  EXPECT_EQ(klass.deletionsOf(&tagA), 1);  // the replaced value is destroyed
  EXPECT_EQ(array.get(5), d);
  EXPECT_EQ(array.getSize(), 3);

  array.set(5, d);  // storing the value the slot holds keeps it
  EXPECT_EQ(klass.deletionsOf(&tagD), 0);
  EXPECT_EQ(array.get(5), d);

  array.set(5, nullptr);  // a null element reads as missing
  EXPECT_EQ(klass.deletionsOf(&tagD), 1);
  EXPECT_EQ(array.get(5), nullptr);
  EXPECT_EQ(array.getSize(), 3);
}

TEST(Array, ExtremeIndicesSortAtTheEnds) {
  VELQ_Array array;
  const int32_t order[] = {0, INT32_MAX, -1, INT32_MIN, 1, INT32_MAX - 1, INT32_MIN + 1};
  for (int32_t index : order) array.set(index, new VELQ_Value(index));
  EXPECT_EQ(slotIndices(array),
            (std::vector<int32_t>{INT32_MIN, INT32_MIN + 1, -1, 0, 1, INT32_MAX - 1, INT32_MAX}));
  for (int32_t index : order) EXPECT_EQ(array.get(index)->getValueAsInt32(), index);
}

// Insertions in any order, replacements included, against a sorted map.
TEST(Array, RandomStoresMatchASortedMap) {
  std::mt19937 random(1234);
  std::uniform_int_distribution<int32_t> narrow(-300, 300);
  std::uniform_int_distribution<int32_t> wide(INT32_MIN, INT32_MAX);
  VELQ_Array array;
  std::map<int32_t, int64_t> model;
  for (int64_t serial = 0; serial < 2000; serial++) {
    int32_t index = serial % 4 == 0 ? wide(random) : narrow(random);
    array.set(index, new VELQ_Value(serial));
    model[index] = serial;
  }
  ASSERT_EQ(array.getSize(), (int32_t)model.size());
  EXPECT_EQ(velq_test::allocatedOf(array) % 32, 0);
  EXPECT_GE(velq_test::allocatedOf(array), array.getSize());
  EXPECT_LT(velq_test::allocatedOf(array), 2 * array.getSize());
  int32_t position = 0;
  for (const auto &entry : model) {
    const VELQ_ArrayElement *slot = array.getElement(position++);
    EXPECT_EQ(slot->index, entry.first);
    EXPECT_EQ(slot->value->getValueAsInt64(), entry.second);
    EXPECT_EQ(array.get(entry.first), slot->value);
  }
}

TEST(Array, StorageDoublesFromThirtyTwoSlots) {
  // Ascending indices append; descending ones insert at the front each time.
  for (int direction : {1, -1}) {
    SCOPED_TRACE(direction > 0 ? "appending" : "inserting in front");
    VELQ_Array array;
    const struct {
      int32_t elements;
      int32_t allocated;
    } steps[] = {{1, 32}, {32, 32}, {33, 64}, {64, 64}, {65, 128}, {129, 256}, {257, 512}};
    int32_t stored = 0;
    for (const auto &step : steps) {
      while (stored < step.elements) {
        array.set(direction * stored, new VELQ_Value(stored));
        stored++;
      }
      EXPECT_EQ(array.getSize(), step.elements);
      EXPECT_EQ(velq_test::allocatedOf(array), step.allocated);
    }
    for (int32_t i = 0; i < stored; i++) EXPECT_EQ(array.get(direction * i)->getValueAsInt32(), i);
  }
}

TEST(Array, CopyHoldsExactlyItsElementsAndIsIndependent) {
  VELQ_Array source;
  source.set(1, new VELQ_Value("one"));
  source.set(2, new VELQ_Value("0x2"));
  source.set(3, new VELQ_Value(3.5));
  source.incRefCount();

  VELQ_Array copy(&source);
  EXPECT_EQ(velq_test::refCountOf(copy), 0);
  EXPECT_EQ(copy.getSize(), 3);
  EXPECT_EQ(velq_test::allocatedOf(copy), 3);
  for (int32_t index = 1; index <= 3; index++) {
    ASSERT_NE(copy.get(index), source.get(index));  // values are copied, not shared
    EXPECT_EQ(copy.get(index)->getDataType(), source.get(index)->getDataType());
  }
  EXPECT_STREQ(copy.get(2)->getValueAsCString(), "0x2");

  copy.set(2, new VELQ_Value("changed"));
  EXPECT_STREQ(source.get(2)->getValueAsCString(), "0x2");
  copy.set(0, new VELQ_Value((int32_t)0));  // a fourth index grows 3 slots to the first 32
  EXPECT_EQ(velq_test::allocatedOf(copy), 32);
  EXPECT_EQ(slotIndices(copy), (std::vector<int32_t>{0, 1, 2, 3}));
  EXPECT_EQ(source.getSize(), 3);
  source.decRefCount();

  VELQ_Array empty;
  VELQ_Array emptyCopy(&empty);
  EXPECT_EQ(emptyCopy.getSize(), 0);
  EXPECT_EQ(velq_test::allocatedOf(emptyCopy), 0);
  emptyCopy.set(7, new VELQ_Value((int32_t)7));
  EXPECT_EQ(velq_test::allocatedOf(emptyCopy), 32);

  VELQ_Array fromNull(static_cast<const VELQ_Array *>(nullptr));
  EXPECT_EQ(fromNull.getSize(), 0);
}

TEST(Array, CopySharesNestedArraysAndHostData) {
  CountingClass klass;
  int data;
  int nestedTag;
  VELQ_Array *nested = new VELQ_Array();
  nested->set(0, newProbe(&klass, &nestedTag));
  VELQ_Array *source = new VELQ_Array();
  source->set(1, new VELQ_Value(nested));
  source->set(2, newProbe(&klass, &data));
  source->set(3, nullptr);
  ASSERT_EQ(velq_test::refCountOf(nested), 1);

  VELQ_Array *copy = new VELQ_Array(source);
  EXPECT_EQ(copy->get(1)->getValueAsArray(), nested);
  EXPECT_EQ(velq_test::refCountOf(nested), 2);
  VELQ_Object *sourceRecord = source->get(2)->getValueAsObject();
  VELQ_Object *copyRecord = copy->get(2)->getValueAsObject();
  EXPECT_NE(copyRecord, sourceRecord);
  EXPECT_EQ(copyRecord->getData(), &data);
  EXPECT_EQ(copyRecord->getClass(), &klass);
  EXPECT_EQ(copy->getSize(), 3);
  EXPECT_EQ(copy->get(3), nullptr);  // a null element stays null

  delete source;
  EXPECT_EQ(velq_test::refCountOf(nested), 1);
  EXPECT_EQ(klass.deletions, 0);  // the copy still refers to both
  delete copy;
  EXPECT_EQ(klass.deletionsOf(&data), 1);
  EXPECT_EQ(klass.deletionsOf(&nestedTag), 1);  // the nested array went with its last value
}

// Arrays nested a million deep, as a host can build them, are released without one level of
// the machine stack per level of nesting, whether the outer array goes with its last value
// or is deleted directly; the elements along the way are destroyed too.
TEST(Array, DeeplyNestedArraysAreReleasedWithoutExhaustingTheStack) {
  const int depth = 1000000;
  for (bool throughValue : {true, false}) {
    SCOPED_TRACE(throughValue ? "last value goes" : "deleted directly");
    CountingClass klass;
    int innermostTag;
    VELQ_Array *outer = new VELQ_Array();
    VELQ_Array *array = outer;
    for (int level = 0; level < depth; level++) {
      VELQ_Array *nested = new VELQ_Array();
      array->set(0, new VELQ_Value(nested));
      array->set(1, new VELQ_Value((int32_t)level));
      array = nested;
    }
    array->set(0, newProbe(&klass, &innermostTag));
    if (throughValue) {
      delete new VELQ_Value(outer);
    } else {
      delete outer;
    }
    EXPECT_EQ(klass.deletionsOf(&innermostTag), 1);
  }
}

TEST(Array, DestroyingTheArrayDestroysItsValues) {
  CountingClass klass;
  int tags[40];
  VELQ_Array *array = new VELQ_Array();
  for (int i = 0; i < 40; i++) array->set(i * 7 - 100, newProbe(&klass, &tags[i]));
  delete array;
  EXPECT_EQ(klass.deletions, 40);
  for (int &tag : tags) EXPECT_EQ(klass.deletionsOf(&tag), 1);
}

}  // namespace
