// VELQ_Stack: order, growth by doubling, and the views used by external calls.
#include <gtest/gtest.h>
#include <stdint.h>

#include "test_access.h"
#include "velq_stack.h"

namespace {

void *item(intptr_t n) { return reinterpret_cast<void *>(n); }

TEST(Stack, StartsEmptyWithRoomFor128) {
  VELQ_Stack s;
  EXPECT_EQ(s.getSize(), 0);
  EXPECT_EQ(velq_test::capacityOf(s), 128u);
  EXPECT_EQ(s.pop(), nullptr);
  EXPECT_EQ(s.peek(), nullptr);
  EXPECT_EQ(s.getSize(), 0);
}

TEST(Stack, PopsInReverseOrderAndEmptyPopsLeaveSizeZero) {
  VELQ_Stack s;
  for (intptr_t i = 1; i <= 3; i++) s.push(item(i));
  EXPECT_EQ(s.peek(), item(3));
  EXPECT_EQ(s.getSize(), 3);
  for (intptr_t i = 3; i >= 1; i--) EXPECT_EQ(s.pop(), item(i));
  EXPECT_EQ(s.pop(), nullptr);
  EXPECT_EQ(s.peek(), nullptr);
  EXPECT_EQ(s.getSize(), 0);
  s.push(item(9));  // usable again after running dry
  EXPECT_EQ(s.pop(), item(9));
}

TEST(Stack, DoublesKeepingContentsAndNeverShrinks) {
  struct Case {
    int pushes;
    uint32_t capacity;
  };
  const Case cases[] = {{127, 128}, {128, 128}, {129, 256}, {256, 256}, {257, 512}, {1025, 2048}};
  for (const Case &c : cases) {
    VELQ_Stack s;
    for (intptr_t i = 0; i < c.pushes; i++) s.push(item(i + 1));
    EXPECT_EQ(velq_test::capacityOf(s), c.capacity) << c.pushes << " pushes";
    EXPECT_EQ(s.getSize(), c.pushes);
    for (intptr_t i = c.pushes; i >= 1; i--) ASSERT_EQ(s.pop(), item(i)) << c.pushes << " pushes";
    EXPECT_EQ(velq_test::capacityOf(s), c.capacity) << "popping shrank the storage";
  }
}

TEST(Stack, PeekListGivesTheOldestOfTheTopItemsFollowedByTheRest) {
  VELQ_Stack s;
  s.push(item(1));
  s.push(item(2));
  s.push(item(3));
  void **top2 = s.peekList(2);
  EXPECT_EQ(top2[0], item(2));
  EXPECT_EQ(top2[1], item(3));
  EXPECT_EQ(s.peekList(3)[0], item(1));
  EXPECT_EQ(s.getSize(), 3);  // a view only
}

TEST(Stack, PeekListSeesItemsMovedByGrowth) {
  VELQ_Stack s;
  for (intptr_t i = 0; i < 200; i++) s.push(item(i));
  void **top = s.peekList(130);
  for (intptr_t i = 0; i < 130; i++) ASSERT_EQ(top[i], item(70 + i));
}

}  // namespace
