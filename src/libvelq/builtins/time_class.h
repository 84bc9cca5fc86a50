// The engine's own object class "TIME": a broken-down time that scripts read with "->".
#ifndef VELQ_TIME_CLASS_H
#define VELQ_TIME_CLASS_H

#include <time.h>

#include "velq_object.h"

class VELQ_Value;

// The class of the objects that localtime() and gmtime() return. Each object's data is
// a heap copy of a struct tm, made for the object when it was created and never changed.
// Its attributes are read-only; reading one gives a new int32 value.
class VELQ_TmClass : public VELQ_Class {
 public:
  VELQ_TmClass();
  ~VELQ_TmClass() override;

  VELQ_Value *getAttr(VELQ_Object *object, const char *attr) override;
  // Frees the record; called once the last object record that refers to it goes.
  void onObjectDelete(VELQ_Object *object) override;
};

// The single instance, alive from the load of the engine's library to its unload.
extern VELQ_TmClass VELQ_TimeClass;

// A new object value of the TIME class holding its own heap copy of record.
VELQ_Value *VELQ_NewTimeValue(const struct tm *record);

#endif
