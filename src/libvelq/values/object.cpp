// Objects of host classes, and the base class with its default behaviour.
//
// All records that refer to one data pointer, whether copies of each other or
// created independently, are counted together in one process-wide table, so that
// the class can be told (onObjectDelete) when the last record of the data goes
// and the host can release the data then. Records are created and destroyed in
// any thread, so the table is guarded by a mutex. Null data is not counted.
#include <string.h>

#include <exception>
#include <mutex>

#include "runtime/growth.h"
#include "runtime/memory.h"
#include "runtime/run_limits.h"
#include "velq_object.h"
#include "velq_value.h"

VELQ_DEFINE_POOLED_ALLOCATION(VELQ_Object)

namespace {

// Records per data pointer: an open-addressing table keyed by the pointer, with linear
// probing and deletion by backward shift, so that it needs no tombstones.
struct DataRecords {
  struct Entry {
    const void *data;  // null: a free slot
    uint64_t count;
  };
  std::mutex mutex;
  Entry *entries = nullptr;
  uint32_t capacity = 0;  // a power of two, or 0
  uint32_t used = 0;

  uint32_t slotOf(const void *data) const {
    uintptr_t key = (uintptr_t)data;
    key ^= key >> 17;
    key *= 0x9E3779B97F4A7C15u;
    return (uint32_t)(key >> 32) & (capacity - 1);
  }

  Entry *find(const void *data) {
    if (capacity == 0) return nullptr;
    for (uint32_t i = slotOf(data);; i = (i + 1) & (capacity - 1)) {
      if (entries[i].data == data) return &entries[i];
      if (!entries[i].data) return nullptr;
    }
  }

  // Keeps the table at most half full; false when memory is refused.
  bool makeRoom() {
    if ((uint64_t)(used + 1) * 2 <= capacity) return true;
    uint32_t grown = capacity ? capacity * 2 : 64;
    Entry *fresh = static_cast<Entry *>(velqAllocate(grown * sizeof(Entry)));
    if (!fresh) return false;
    memset(fresh, 0, grown * sizeof(Entry));
    Entry *old = entries;
    uint32_t oldCapacity = capacity;
    entries = fresh;
    capacity = grown;
    for (uint32_t i = 0; i < oldCapacity; i++)
      if (old[i].data) insertNew(old[i].data, old[i].count);
    velqRelease(old);
    return true;
  }

  void insertNew(const void *data, uint64_t count) {
    uint32_t i = slotOf(data);
    while (entries[i].data) i = (i + 1) & (capacity - 1);
    entries[i] = {data, count};
  }

  void erase(Entry *entry) {
    uint32_t hole = (uint32_t)(entry - entries);
    entries[hole].data = nullptr;
    used--;
    // Moves back every later entry of the run whose home slot lies at or before the hole.
    for (uint32_t i = (hole + 1) & (capacity - 1); entries[i].data; i = (i + 1) & (capacity - 1)) {
      uint32_t home = slotOf(entries[i].data);
      bool movable = hole <= i ? (home <= hole || home > i) : (home <= hole && home > i);
      if (!movable) continue;
      entries[hole] = entries[i];
      entries[i].data = nullptr;
      hole = i;
    }
  }
};

// Constant-initialized and never torn down (its destructor does nothing), so that
// records destroyed during the process's exit still find the table.
DataRecords &dataRecords() {
  static DataRecords records;
  return records;
}

// Counts one record of data more; false when that needs memory the system refuses.
bool addRecord(const void *data) {
  if (!data) return true;
  DataRecords &records = dataRecords();
  std::lock_guard<std::mutex> lock(records.mutex);
  if (DataRecords::Entry *entry = records.find(data)) {
    entry->count++;
    return true;
  }
  if (!records.makeRoom()) return false;
  records.insertNew(data, 1);
  records.used++;
  return true;
}

// Counts one record of data less; true when it was the last one.
bool removeRecord(const void *data) {
  if (!data) return false;
  DataRecords &records = dataRecords();
  std::lock_guard<std::mutex> lock(records.mutex);
  DataRecords::Entry *entry = records.find(data);
  if (!entry || --entry->count > 0) return false;
  records.erase(entry);
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
    : objectClass(objectClass), data(data), counted(addRecord(data)) {}

VELQ_Object::VELQ_Object(const VELQ_Object *source)
    : objectClass(source ? source->objectClass : nullptr),
      data(source ? source->data : nullptr),
      counted(addRecord(data)) {}

// The table's lock is released before the class is called, so that the class may
// create and destroy records of its own there.
// An exception the host's class throws is kept from the engine's code, which is not
// prepared for it here: the run in progress stops with error 31.
VELQ_Object::~VELQ_Object() {
  if (!counted || !removeRecord(data) || !objectClass) return;
  try {
    objectClass->onObjectDelete(this);
  } catch (const std::exception &exception) {
    velqNoteHostException(exception.what());
  } catch (...) {
    velqNoteHostException("an exception that is not a std::exception");
  }
}
