// A host's own global names beside velq.h. The header declares names of velq's own only,
// so a host may keep its own Queue, MatchString and the like; the support library's
// declarations come with korvat.h, which a host includes when it uses them. This file is
// only compiled: it fails to compile when velq.h brings one of these names along.
#include "velq.h"

class Queue {};
struct ArrayElement {};
int MatchString;
int MatchStringChecked;
int KOSP_FIELD_UINT32;
int KOSP_FIELD_TEXT;

int velqHostNames() {
  Queue queue;
  ArrayElement element;
  (void)queue;
  (void)element;
  return MatchString + MatchStringChecked + KOSP_FIELD_UINT32 + KOSP_FIELD_TEXT;
}
