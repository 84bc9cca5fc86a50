// The host's store of compiled scripts, by name and id, with a mutex for its users.
#ifndef VELQ_LIBRARY_H
#define VELQ_LIBRARY_H

#include <stddef.h>
#include <stdint.h>

#include "velq_export.h"

class VELQ_Program;
class KOSPMessage;

// Field ids written by fillMessage.
enum : uint32_t {
  VELQ_LIBRARY_FIELD_COUNT = 206,
  VELQ_LIBRARY_FIELD_FIRST = 0x10000000u
};

class VELQ_API VELQ_Library {
public:
  VELQ_Library();
  ~VELQ_Library();

  VELQ_Library(const VELQ_Library &) = delete;
  VELQ_Library &operator=(const VELQ_Library &) = delete;

  // The engine allocates libraries itself: new yields null when memory is refused.
  static void *operator new(size_t size) noexcept;
  static void operator delete(void *block) noexcept;

  // Takes the program when added (returns 1); 0, with the program still the caller's,
  // when the name is there already or memory for the entry is refused.
  int addScript(unsigned long id, const char *name, VELQ_Program *program);
  void deleteScript(const char *name);
  void deleteScript(unsigned long id);
  VELQ_Program *findScript(const char *name);
  void fillMessage(KOSPMessage *msg);

  // The library's own operations take no lock; its users do, around them.
  // The mutex is recursive: a thread that holds it may take it again.
  void lock();
  void unlock();

  uint32_t getCount() const { return count; }

private:
  void deleteInternal(int index);

  uint32_t count;
  VELQ_Program **programs;
  char **names;
  uint32_t *ids;
  void *mutex;
  uint32_t capacity;
};

#endif
