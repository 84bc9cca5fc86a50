// Objects and classes: the base class, records sharing host data, and the call
// to onObjectDelete when the last record of some data goes.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "counting_class.h"
#include "velq_object.h"
#include "velq_value.h"

namespace {

using ValuePtr = std::unique_ptr<VELQ_Value>;

TEST(Class, BaseClassIsGenericWithoutAttributes) {
  VELQ_Class base;
  EXPECT_STREQ(base.getName(), "generic");
  VELQ_Object object(&base, nullptr);
  ValuePtr value(new VELQ_Value((int32_t)1));
  for (const char *name : {"x", "", "generic", "year"}) {
    EXPECT_EQ(base.getAttr(&object, name), nullptr);
    EXPECT_EQ(base.setAttr(&object, name, value.get()), 0);
  }
  base.onObjectDelete(&object);  // does nothing
}

TEST(Class, NamesAreCutToTheNameField) {
  const struct {
    std::string name;
    std::string expected;
  } cases[] = {
      {"TIME", "TIME"},
      {"", ""},
      {std::string(63, 'n'), std::string(63, 'n')},
      {std::string(64, 'n'), std::string(63, 'n')},
      {std::string(200, 'n'), std::string(63, 'n')},
  };
  for (const auto &c : cases) {
    CountingClass klass(c.name.c_str());
    EXPECT_EQ(std::string(klass.getName()), c.expected);
  }
  CountingClass unnamed(nullptr);
  EXPECT_STREQ(unnamed.getName(), "");
}

TEST(Object, RecordsAndTheirCopiesShareClassAndData) {
  CountingClass klass;
  int data;
  VELQ_Object *record = new VELQ_Object(&klass, &data);
  VELQ_Object *copy = new VELQ_Object(record);
  EXPECT_EQ(copy->getClass(), &klass);
  EXPECT_EQ(copy->getData(), &data);
  delete record;
  EXPECT_EQ(copy->getClass(), &klass);
  EXPECT_EQ(copy->getData(), &data);
  delete copy;

  VELQ_Object fromNull(static_cast<const VELQ_Object *>(nullptr));
  EXPECT_EQ(fromNull.getClass(), nullptr);
  EXPECT_EQ(fromNull.getData(), nullptr);
}

// The class hears once, when the last record of some data goes, however the
// records came about and whatever held them.
TEST(Object, LastRecordOfTheDataTellsTheClassOnce) {
  CountingClass klass;
  int data;

  {  // one value
    VELQ_Value *v = newProbe(&klass, &data);
    delete v;
    EXPECT_EQ(klass.deletionsOf(&data), 1);
    EXPECT_EQ(klass.lastClass, &klass);
  }
  {  // a value and its copies, destroyed in any order
    VELQ_Value *v = newProbe(&klass, &data);
    VELQ_Value *c1 = new VELQ_Value(v);
    VELQ_Value *c2 = new VELQ_Value(c1);
    delete v;
    delete c2;
    EXPECT_EQ(klass.deletionsOf(&data), 1);
    delete c1;
    EXPECT_EQ(klass.deletionsOf(&data), 2);
  }
  {  // records made independently for the same data count together
    VELQ_Object *a = new VELQ_Object(&klass, &data);
    VELQ_Value *b = new VELQ_Value(new VELQ_Object(&klass, &data));
    delete a;
    EXPECT_EQ(klass.deletionsOf(&data), 2);
    delete b;
    EXPECT_EQ(klass.deletionsOf(&data), 3);
  }
  {  // content replaced by set, convert and concatenate releases the record
    ValuePtr bySet(newProbe(&klass, &data));
    bySet->set(1);
    EXPECT_EQ(klass.deletionsOf(&data), 4);
    ValuePtr byConvert(newProbe(&klass, &data));
    byConvert->convert(DTYPE_UINT64);
    EXPECT_EQ(klass.deletionsOf(&data), 5);
    ValuePtr byConcatenate(newProbe(&klass, &data));
    byConcatenate->concatenate("x", 1);
    EXPECT_EQ(klass.deletionsOf(&data), 6);
  }
  EXPECT_EQ(klass.deletions, 6);
}

TEST(Object, DistinctDataAndNullDataAreCountedApart) {
  CountingClass klass;
  int first, second;
  VELQ_Value *a = newProbe(&klass, &first);
  VELQ_Value *b = newProbe(&klass, &second);
  delete a;
  EXPECT_EQ(klass.deletionsOf(&first), 1);
  EXPECT_EQ(klass.deletionsOf(&second), 0);
  delete b;
  EXPECT_EQ(klass.deletionsOf(&second), 1);

  VELQ_Value *n = newProbe(&klass, nullptr);
  VELQ_Value *nCopy = new VELQ_Value(n);
  delete n;
  delete nCopy;
  EXPECT_EQ(klass.deletions, 2);  // records without data are not counted

  VELQ_Value *classless = new VELQ_Value(new VELQ_Object(nullptr, &first));
  delete classless;  // no class to tell
  EXPECT_EQ(klass.deletions, 2);
}

// A class may make and drop records of its own while it is told.
class ReentrantClass : public CountingClass {
 public:
  void onObjectDelete(VELQ_Object *object) override {
    CountingClass::onObjectDelete(object);
    if (object->getData() == &outer) {
      VELQ_Object inner(this, &this->inner);
      VELQ_Object another(&inner);
    }
  }
  int outer = 0;
  int inner = 0;
};

TEST(Object, ClassMayCreateRecordsWhileTold) {
  ReentrantClass klass;
  delete newProbe(&klass, &klass.outer);
  EXPECT_EQ(klass.deletionsOf(&klass.outer), 1);
  EXPECT_EQ(klass.deletionsOf(&klass.inner), 1);
}

TEST(Object, CountingIsSafeAcrossThreads) {
  CountingClass klass;
  int shared;
  int own[4];
  ValuePtr holder(newProbe(&klass, &shared));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; i++) {
        VELQ_Value copy(holder.get());
        VELQ_Value *mine = newProbe(&klass, &own[t]);
        VELQ_Value second(&copy);
        delete mine;
      }
    });
  }
  for (std::thread &thread : threads) thread.join();
  EXPECT_EQ(klass.deletionsOf(&shared), 0);
  for (int &tag : own) EXPECT_EQ(klass.deletionsOf(&tag), 2000);
  holder.reset();
  EXPECT_EQ(klass.deletionsOf(&shared), 1);
}

}  // namespace
