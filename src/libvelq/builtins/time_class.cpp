// The TIME class: attribute reads of a broken-down time and the release of its record.
#include "time_class.h"

#include <string.h>

#include "runtime/memory.h"
#include "values/value_internals.h"
#include "velq_value.h"

VELQ_TmClass VELQ_TimeClass;

namespace {

// One readable attribute: its name, the field it reads and what is added to the field.
struct TimeAttribute {
  const char *name;
  int tm::*field;
  int offset;
};

// In the order the names are compared; "year" and "tm_year" both give the full year.
const TimeAttribute timeAttributes[] = {
    {"sec", &tm::tm_sec, 0},      {"tm_sec", &tm::tm_sec, 0},   {"min", &tm::tm_min, 0},
    {"tm_min", &tm::tm_min, 0},   {"hour", &tm::tm_hour, 0},    {"tm_hour", &tm::tm_hour, 0},
    {"mday", &tm::tm_mday, 0},    {"tm_mday", &tm::tm_mday, 0}, {"mon", &tm::tm_mon, 0},
    {"tm_mon", &tm::tm_mon, 0},   {"year", &tm::tm_year, 1900}, {"tm_year", &tm::tm_year, 1900},
    {"yday", &tm::tm_yday, 0},    {"tm_yday", &tm::tm_yday, 0}, {"wday", &tm::tm_wday, 0},
    {"tm_wday", &tm::tm_wday, 0}, {"isdst", &tm::tm_isdst, 0},  {"tm_isdst", &tm::tm_isdst, 0},
};

}  // namespace

VELQ_TmClass::VELQ_TmClass() { setName("TIME"); }

VELQ_TmClass::~VELQ_TmClass() {}

VELQ_Value *VELQ_TmClass::getAttr(VELQ_Object *object, const char *attr) {
  const struct tm *record = object ? (const struct tm *)object->getData() : nullptr;
  if (!record || !attr) return nullptr;
  for (const TimeAttribute &a : timeAttributes)
    if (strcmp(attr, a.name) == 0)
      return new VELQ_Value((int32_t)((int64_t)(record->*a.field) + a.offset));
  return nullptr;
}

void VELQ_TmClass::onObjectDelete(VELQ_Object *object) {
  if (object) velqRelease(object->getData());
}

// Every piece is released again when a later one cannot be had: the record's data by
// the object record (once counted, through onObjectDelete), the record by the value.
VELQ_Value *VELQ_NewTimeValue(const struct tm *record) {
  struct tm *copy = static_cast<struct tm *>(velqAllocate(sizeof(struct tm)));
  if (!copy) return nullptr;
  *copy = *record;
  VELQ_Object *object = new VELQ_Object(&VELQ_TimeClass, copy);
  if (!object || !VELQ_ValueInternals::isCounted(object)) {
    delete object;
    velqRelease(copy);
    return nullptr;
  }
  VELQ_Value *value = new VELQ_Value(object);
  if (!value) delete object;
  return value;
}
