// The host support library: a pointer queue, wildcard matching and protocol messages.
#ifndef KORVAT_H
#define KORVAT_H

#include <stdint.h>

#include "velq_export.h"

// First-in, first-out queue of untyped pointers; it owns none of them.
class VELQ_API Queue {
public:
  Queue();
  ~Queue();
  Queue(const Queue &) = delete;
  Queue &operator=(const Queue &) = delete;

  void Put(void *item);
  void *Get();  // the oldest item, or null when empty

private:
  struct Node;
  Node *head;
  Node *tail;
};

// Matches the whole text against a pattern where '*' matches any run of bytes
// (the empty one too) and '?' any one byte; every other byte is literal.
// caseSensitive 0 compares letters without regard to case. Nonzero on a match.
VELQ_API int MatchString(const char *pattern, const char *text, int caseSensitive);

// MatchString that asks keepGoing(context) every million or so steps whether to go on
// (a null keepGoing never stops it). 1 on a match, 0 without, -1 when it was stopped.
VELQ_API int MatchStringChecked(const char *pattern, const char *text, int caseSensitive,
                                int (*keepGoing)(void *), void *context);

enum { KOSP_FIELD_UINT32 = 0, KOSP_FIELD_TEXT = 1 };

// A protocol message: a set of fields, each a 32-bit number or a text, by id.
class VELQ_API KOSPMessage {
public:
  KOSPMessage();
  ~KOSPMessage();
  KOSPMessage(const KOSPMessage &) = delete;
  KOSPMessage &operator=(const KOSPMessage &) = delete;

  // type 0: value points to a uint32_t; type 1: a zero-terminated text. The message
  // keeps its own copy; setting an id again replaces its value.
  void SetField(uint32_t id, int type, const void *value, uint32_t size);

  bool HasField(uint32_t id) const;
  uint32_t GetFieldUInt32(uint32_t id) const;  // 0 when absent or a text
  const char *GetFieldText(uint32_t id) const;  // null when absent or a number
  uint32_t FieldCount() const;

private:
  struct Field;
  Field *find(uint32_t id) const;
  Field *fields;
  uint32_t count;
  uint32_t capacity;
};

#endif
