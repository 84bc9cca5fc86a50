// Objects of host-defined classes: a class pointer and the host's opaque data.
#ifndef VELQ_OBJECT_H
#define VELQ_OBJECT_H

#include <stddef.h>

#include "velq_export.h"

class VELQ_Value;
class VELQ_Object;

enum { VELQ_CLASS_NAME_SIZE = 64 };

// Base of every host class. Attribute reads return a new value the caller owns,
// or null for an unknown attribute; writes return nonzero when the attribute was set.
class VELQ_API VELQ_Class {
public:
  VELQ_Class();
  virtual ~VELQ_Class();
  virtual VELQ_Value *getAttr(VELQ_Object *object, const char *name);
  virtual int setAttr(VELQ_Object *object, const char *name, VELQ_Value *value);
  // Called once, when the last object record that refers to an object's data is destroyed.
  virtual void onObjectDelete(VELQ_Object *object);

  const char *getName() const { return name; }

protected:
  // Copies a derived class's name into name: at most VELQ_CLASS_NAME_SIZE - 1
  // characters, the rest cut off; null gives the empty name.
  void setName(const char *text);

  char name[VELQ_CLASS_NAME_SIZE];
};

// A plain record. Records that share one data pointer are counted; when the last of
// them goes, the class's onObjectDelete is called so that the host can free the data.
// Counting takes a little memory per data pointer: when memory is refused for it, the
// record is made but not counted, and onObjectDelete is never called for it.
class VELQ_API VELQ_Object {
public:
  VELQ_Object(VELQ_Class *objectClass, void *data);
  explicit VELQ_Object(const VELQ_Object *source);
  ~VELQ_Object();

  VELQ_Object(const VELQ_Object &) = delete;
  VELQ_Object &operator=(const VELQ_Object &) = delete;

  // The engine allocates object records itself: new yields null when memory is refused.
  static void *operator new(size_t size) noexcept;
  static void operator delete(void *block, size_t size) noexcept;

  VELQ_Class *getClass() const { return objectClass; }
  void *getData() const { return data; }

private:
  friend struct VELQ_ValueInternals;

  VELQ_Class *objectClass;
  void *data;
  // False when the record could not be counted for lack of memory; such a record never
  // calls onObjectDelete.
  bool counted;
};

#endif
