// Objects of host classes, and the base class with its default behaviour.
//
// All records that refer to one data pointer, whether copies of each other or
// created independently, are counted together in one process-wide table, so that
// the class can be told (onObjectDelete) when the last record of the data goes
// and the host can release the data then. Records are created and destroyed in
// any thread, so the table is guarded by a mutex. Null data is not counted.
#include <string.h>

#include <mutex>
#include <unordered_map>

#include "velq_object.h"
#include "velq_value.h"

namespace {

struct DataRecords {
  std::mutex mutex;
  std::unordered_map<const void *, uint64_t> counts;  // records per data pointer
};

// Never destroyed, so that records destroyed during the process's exit still
// find the table.
DataRecords &dataRecords() {
  static DataRecords *records = new DataRecords;
  return *records;
}

void addRecord(const void *data) {
  if (!data) return;
  DataRecords &records = dataRecords();
  std::lock_guard<std::mutex> lock(records.mutex);
  records.counts[data]++;
}

// Counts one record of data less; true when it was the last one.
bool removeRecord(const void *data) {
  if (!data) return false;
  DataRecords &records = dataRecords();
  std::lock_guard<std::mutex> lock(records.mutex);
  auto found = records.counts.find(data);
  if (found == records.counts.end()) return false;
  if (--found->second > 0) return false;
  records.counts.erase(found);
  return true;
}

}  // namespace

VELQ_Class::VELQ_Class() { setName("generic"); }

VELQ_Class::~VELQ_Class() {}

VELQ_Value *VELQ_Class::getAttr(VELQ_Object *object, const char *attributeName) { return nullptr; }

int VELQ_Class::setAttr(VELQ_Object *object, const char *attributeName, VELQ_Value *value) {
  return 0;
}

void VELQ_Class::onObjectDelete(VELQ_Object *object) {}

void VELQ_Class::setName(const char *text) {
  size_t length = text ? strnlen(text, VELQ_CLASS_NAME_SIZE - 1) : 0;
  if (length > 0) memcpy(name, text, length);
  name[length] = '\0';
}

VELQ_Object::VELQ_Object(VELQ_Class *objectClass, void *data)
    : objectClass(objectClass), data(data) {
  addRecord(data);
}

VELQ_Object::VELQ_Object(const VELQ_Object *source)
    : objectClass(source ? source->objectClass : nullptr), data(source ? source->data : nullptr) {
  addRecord(data);
}

// The table's lock is released before the class is called, so that the class may
// create and destroy records of its own there.
VELQ_Object::~VELQ_Object() {
  if (removeRecord(data) && objectClass) objectClass->onObjectDelete(this);
}
