// A protocol message: fields by id, each a 32-bit number or an owned text.
#include <stdlib.h>
#include <string.h>

#include "korvat.h"

struct KOSPMessage::Field {
  uint32_t id;
  int type;
  uint32_t number;
  char *text;
};

KOSPMessage::KOSPMessage() : fields(nullptr), count(0), capacity(0) {}

KOSPMessage::~KOSPMessage() {
  for (uint32_t i = 0; i < count; i++) free(fields[i].text);
  free(fields);
}

KOSPMessage::Field *KOSPMessage::find(uint32_t id) const {
  for (uint32_t i = 0; i < count; i++)
    if (fields[i].id == id) return &fields[i];
  return nullptr;
}

void KOSPMessage::SetField(uint32_t id, int type, const void *value, uint32_t size) {
  (void)size;
  Field *field = find(id);
  if (!field) {
    if (count == capacity) {
      uint32_t newCapacity = capacity ? capacity * 2 : 16;
      Field *grown = static_cast<Field *>(realloc(fields, newCapacity * sizeof(Field)));
      if (!grown) return;
      fields = grown;
      capacity = newCapacity;
    }
    field = &fields[count++];
    field->id = id;
    field->text = nullptr;
  }
  free(field->text);
  field->text = nullptr;
  field->number = 0;
  field->type = type;
  if (type == KOSP_FIELD_TEXT)
    field->text = strdup(value ? static_cast<const char *>(value) : "");
  else if (value)
    field->number = *static_cast<const uint32_t *>(value);
}

bool KOSPMessage::HasField(uint32_t id) const { return find(id) != nullptr; }

uint32_t KOSPMessage::GetFieldUInt32(uint32_t id) const {
  Field *field = find(id);
  return field && field->type != KOSP_FIELD_TEXT ? field->number : 0;
}

const char *KOSPMessage::GetFieldText(uint32_t id) const {
  Field *field = find(id);
  return field && field->type == KOSP_FIELD_TEXT ? field->text : nullptr;
}

uint32_t KOSPMessage::FieldCount() const { return count; }
