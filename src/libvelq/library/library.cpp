// The script library: compiled programs under names and ids, with a mutex for its users.
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "korvat.h"
#include "velq_library.h"
#include "velq_program.h"

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

LibraryMutex *mutexOf(void *handle) { return static_cast<LibraryMutex *>(handle); }

// Grows a parallel array by one entry.
template <typename T>
T *growByOne(T *array, uint32_t count) {
  T *grown = static_cast<T *>(realloc(array, ((size_t)count + 1) * sizeof(T)));
  if (!grown) abort();
  return grown;
}

}  // namespace

VELQ_Library::VELQ_Library()
    : count(0), programs(nullptr), names(nullptr), ids(nullptr), mutex(new LibraryMutex) {}

VELQ_Library::~VELQ_Library() {
  for (uint32_t i = 0; i < count; i++) {
    delete programs[i];
    free(names[i]);
  }
  free(programs);
  free(names);
  free(ids);
  delete mutexOf(mutex);
}

int VELQ_Library::addScript(unsigned long id, const char *name, VELQ_Program *program) {
  if (!name) return 0;
  for (uint32_t i = 0; i < count; i++)
    if (strcasecmp(names[i], name) == 0) return 0;
  char *copy = strdup(name);
  if (!copy) abort();
  programs = growByOne(programs, count);
  names = growByOne(names, count);
  ids = growByOne(ids, count);
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
  free(names[i]);
  count--;
  size_t later = count - i;
  memmove(programs + i, programs + i + 1, later * sizeof *programs);
  memmove(names + i, names + i + 1, later * sizeof *names);
  memmove(ids + i, ids + i + 1, later * sizeof *ids);
}
