// A host class for tests that counts how often it is told that the last object
// record of some data went away, and with which record.
#ifndef VELQ_TEST_COUNTING_CLASS_H
#define VELQ_TEST_COUNTING_CLASS_H

#include <atomic>
#include <mutex>
#include <vector>

#include "velq_object.h"
#include "velq_value.h"

class CountingClass : public VELQ_Class {
 public:
  explicit CountingClass(const char *className = "COUNTING") { setName(className); }

  void onObjectDelete(VELQ_Object *object) override {
    std::lock_guard<std::mutex> lock(mutex);
    deletedData.push_back(object->getData());
    lastClass = object->getClass();
    deletions++;
  }

  // How often the class was told about data.
  int deletionsOf(const void *data) {
    std::lock_guard<std::mutex> lock(mutex);
    int n = 0;
    for (const void *d : deletedData) n += d == data;
    return n;
  }

  std::atomic<int> deletions{0};
  VELQ_Class *lastClass = nullptr;

 private:
  std::mutex mutex;
  std::vector<const void *> deletedData;
};

// A value that reports its own destruction: an object value of a counting class
// whose data is a distinct address (the given tag's), so that
// klass.deletionsOf(tag) == 1 once the value and all its copies are gone.
inline VELQ_Value *newProbe(CountingClass *klass, void *tag) {
  return new VELQ_Value(new VELQ_Object(klass, tag));
}

#endif
