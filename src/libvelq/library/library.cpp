// The script library: compiled programs under names and ids, with a mutex for its users.
#include <string.h>
#include <strings.h>

#include <atomic>
#include <mutex>
#include <new>
#include <thread>

#include "korvat.h"
#include "runtime/growth.h"
#include "runtime/memory.h"
#include "velq_library.h"
#include "velq_program.h"

VELQ_DEFINE_ENGINE_ALLOCATION(VELQ_Library)

namespace {

// The library's mutex: a recursive mutex that knows its owner, so that an unlock by a
// thread that does not hold it is refused instead of corrupting the mutex.
struct LibraryMutex {
  std::recursive_mutex mutex;
  std::atomic<std::thread::id> owner{std::thread::id()};
  unsigned depth = 0;  // lock() calls of the owner not yet matched; touched by the owner only

  void lock() {
    mutex.lock();
    if (depth++ == 0) owner.store(std::this_thread::get_id());
  }
  void unlock() {
    if (owner.load() != std::this_thread::get_id()) return;
    if (--depth == 0) owner.store(std::thread::id());
    mutex.unlock();
  }
};

// The mutex of every library that could not get memory for one of its own: sharing it
// serializes those libraries' users together, which is slower but as safe.
LibraryMutex sharedMutex;

LibraryMutex *mutexOf(void *handle) { return static_cast<LibraryMutex *>(handle); }

LibraryMutex *newMutex() {
  void *block = velqAllocate(sizeof(LibraryMutex));
  return block ? ::new (block) LibraryMutex : &sharedMutex;
}

// The three parallel arrays have room for `needed` entries; false when memory is refused.
bool reserveEntries(VELQ_Program **&programs, char **&names, uint32_t *&ids, uint32_t &capacity,
                    size_t needed) {
  uint32_t programRoom = capacity, nameRoom = capacity, idRoom = capacity;
  if (!velqReserve(programs, programRoom, needed) || !velqReserve(names, nameRoom, needed) ||
      !velqReserve(ids, idRoom, needed))
    return false;
  capacity = programRoom < nameRoom ? programRoom : nameRoom;
  if (idRoom < capacity) capacity = idRoom;
  return true;
}

}  // namespace

VELQ_Library::VELQ_Library()
    : count(0), programs(nullptr), names(nullptr), ids(nullptr), mutex(newMutex()), capacity(0) {}

VELQ_Library::~VELQ_Library() {
  for (uint32_t i = 0; i < count; i++) {
    delete programs[i];
    velqRelease(names[i]);
  }
  velqRelease(programs);
  velqRelease(names);
  velqRelease(ids);
  LibraryMutex *own = mutexOf(mutex);
  if (own != &sharedMutex) {
    own->~LibraryMutex();
    velqRelease(own);
  }
}

int VELQ_Library::addScript(unsigned long id, const char *name, VELQ_Program *program) {
  if (!name) return 0;
  for (uint32_t i = 0; i < count; i++)
    if (strcasecmp(names[i], name) == 0) return 0;
  char *copy = velqCopyName(name);
  if (!copy || !reserveEntries(programs, names, ids, capacity, (size_t)count + 1)) {
    velqRelease(copy);
    return 0;
  }
  programs[count] = program;
  names[count] = copy;
  ids[count] = (uint32_t)id;
  count++;
  return 1;
}

void VELQ_Library::deleteScript(const char *name) {
  if (!name) return;
  for (uint32_t i = 0; i < count; i++) {
    if (strcasecmp(names[i], name) == 0) {
      deleteInternal((int)i);
      return;
    }
  }
}

void VELQ_Library::deleteScript(unsigned long id) {
  uint32_t wanted = (uint32_t)id;
  for (uint32_t i = 0; i < count; i++) {
    if (ids[i] == wanted) {
      deleteInternal((int)i);
      return;
    }
  }
}

VELQ_Program *VELQ_Library::findScript(const char *name) {
  if (!name) return nullptr;
  for (uint32_t i = 0; i < count; i++)
    if (strcasecmp(names[i], name) == 0) return programs[i];
  return nullptr;
}

// Writes the number of scripts into field 206, then each script's id and name into a
// pair of consecutive fields from 0x10000000 on: the even one the id, the odd one the name.
void VELQ_Library::fillMessage(KOSPMessage *msg) {
  if (!msg) return;
  uint32_t n = count;
  msg->SetField(VELQ_LIBRARY_FIELD_COUNT, KOSP_FIELD_UINT32, &n, 0);
  for (uint32_t i = 0; i < count; i++) {
    msg->SetField(VELQ_LIBRARY_FIELD_FIRST + 2 * i, KOSP_FIELD_UINT32, &ids[i], 0);
    msg->SetField(VELQ_LIBRARY_FIELD_FIRST + 2 * i + 1, KOSP_FIELD_TEXT, names[i], 0);
  }
}

void VELQ_Library::lock() { mutexOf(mutex)->lock(); }

void VELQ_Library::unlock() { mutexOf(mutex)->unlock(); }

// Removes entry index; the later entries move down one place and keep their order.
void VELQ_Library::deleteInternal(int index) {
  if (index < 0 || (uint32_t)index >= count) return;
  uint32_t i = (uint32_t)index;
  delete programs[i];
  velqRelease(names[i]);
  count--;
  size_t later = count - i;
  memmove(programs + i, programs + i + 1, later * sizeof *programs);
  memmove(names + i, names + i + 1, later * sizeof *names);
  memmove(ids + i, ids + i + 1, later * sizeof *ids);
}
