// The toolkit's maps: objects of the class "map" that map texts to values, for counting
// and grouping by a text key, which the language's arrays (keyed by integers) cannot do.
// Map() makes one; MapSet, MapGet, MapHas, MapAdd and MapRemove reach its entries by
// key; MapKeys and MapValues list them in the byte order of the keys, so that a
// report comes out the same whatever order its input came in; Count counts them.
//
// A map is shared as an object is: a copy of the value refers to the same map, which
// goes when the last value referring to it goes. A map holds null, texts and numbers
// only, so no map can hold itself and none is kept alive by a cycle. The entries are a
// dense array, found through an open-addressing table of positions; memory comes from
// the engine's allocation path, so it counts toward a run's memory budget.
#include <string.h>

#include <new>

#include "runtime/memory.h"
#include "toolkit_functions.h"
#include "values/promotion.h"
#include "velq_array.h"
#include "velq_object.h"
#include "velq_value.h"

namespace {

const uint32_t MAP_START_CAPACITY = 8;  // entries of a map's first block

struct MapEntry {
  char *key;  // length bytes, not zero-terminated
  uint32_t length;
  uint32_t hash;
  VELQ_Value *value;
};

struct TextMap {
  MapEntry *entries = nullptr;
  uint32_t count = 0;
  uint32_t capacity = 0;
  uint32_t *slots = nullptr;  // position + 1 of an entry, 0 for a free slot
  uint32_t slotCount = 0;     // a power of two, at least twice the capacity

  static void *operator new(size_t size) noexcept { return velqAllocate(size); }
  static void operator delete(void *block) noexcept { velqRelease(block); }

  ~TextMap() {
    for (uint32_t i = 0; i < count; i++) {
      velqRelease(entries[i].key);
      delete entries[i].value;
    }
    velqRelease(entries);
    velqRelease(slots);
  }
};

// FNV-1a over the key's bytes.
uint32_t hashOf(const char *key, uint32_t length) {
  uint32_t hash = 2166136261u;
  for (uint32_t i = 0; i < length; i++) hash = (hash ^ (unsigned char)key[i]) * 16777619u;
  return hash;
}

// The slot that holds the key's entry, or the free slot where it would go.
uint32_t slotFor(const TextMap *map, const char *key, uint32_t length, uint32_t hash) {
  for (uint32_t i = hash & (map->slotCount - 1);; i = (i + 1) & (map->slotCount - 1)) {
    uint32_t position = map->slots[i];
    if (position == 0) return i;
    const MapEntry &entry = map->entries[position - 1];
    if (entry.hash == hash && entry.length == length && memcmp(entry.key, key, length) == 0)
      return i;
  }
}

// The entry of the key, or null.
MapEntry *findEntry(const TextMap *map, const char *key, uint32_t length) {
  if (map->count == 0) return nullptr;
  uint32_t position = map->slots[slotFor(map, key, length, hashOf(key, length))];
  return position ? &map->entries[position - 1] : nullptr;
}

// Room for one entry more: 0, or the error code.
int32_t makeRoom(TextMap *map) {
  if (map->count < map->capacity) return 0;
  if (map->capacity >= VELQ_TOOLKIT_ELEMENT_LIMIT) return VELQ_ERR_MEMORY_LIMIT;
  uint32_t grown = map->capacity ? map->capacity * 2 : MAP_START_CAPACITY;
  MapEntry *entries =
      static_cast<MapEntry *>(velqReallocate(map->entries, grown * sizeof *entries));
  if (!entries) return VELQ_ERR_OUT_OF_MEMORY;
  map->entries = entries;
  uint32_t slotCount = grown * 2;
  uint32_t *slots = static_cast<uint32_t *>(velqAllocate(slotCount * sizeof *slots));
  if (!slots) return VELQ_ERR_OUT_OF_MEMORY;  // the entries' larger block is kept
  memset(slots, 0, slotCount * sizeof *slots);
  velqRelease(map->slots);
  map->slots = slots;
  map->slotCount = slotCount;
  map->capacity = grown;
  for (uint32_t i = 0; i < map->count; i++) {
    const MapEntry &entry = map->entries[i];
    map->slots[slotFor(map, entry.key, entry.length, entry.hash)] = i + 1;
  }
  return 0;
}

// The entry of the key, made with a null value when the map has none: 0, or the error.
int32_t entryFor(TextMap *map, const char *key, uint32_t length, MapEntry **found) {
  if (MapEntry *entry = findEntry(map, key, length)) {
    *found = entry;
    return 0;
  }
  int32_t code = makeRoom(map);
  if (code != 0) return code;
  char *copy = static_cast<char *>(velqAllocate(length ? length : 1));
  VELQ_Value *value = new VELQ_Value();
  if (!copy || !value) {
    velqRelease(copy);
    delete value;
    return VELQ_ERR_OUT_OF_MEMORY;
  }
  memcpy(copy, key, length);
  uint32_t hash = hashOf(key, length);
  map->slots[slotFor(map, key, length, hash)] = map->count + 1;
  map->entries[map->count] = {copy, length, hash, value};
  *found = &map->entries[map->count++];
  return 0;
}

// Stores value under key and gives answer as the result; both are destroyed, and the map
// left as it was, when either is missing (memory refused) or the entry cannot be made.
int32_t storeEntry(TextMap *map, const char *key, uint32_t length, VELQ_Value *value,
                   VELQ_Value *answer, VELQ_Value **result) {
  MapEntry *entry = nullptr;
  int32_t code = value && answer ? entryFor(map, key, length, &entry) : VELQ_ERR_OUT_OF_MEMORY;
  if (code != 0) {
    delete value;
    delete answer;
    return code;
  }
  delete entry->value;
  entry->value = value;
  *result = answer;
  return 0;
}

// Takes the key's entry out: the last entry moves into its place, and the run of slots
// after its slot moves back where it may (deletion by backward shift: no tombstones).
bool removeEntry(TextMap *map, const char *key, uint32_t length) {
  if (map->count == 0) return false;
  uint32_t hole = slotFor(map, key, length, hashOf(key, length));
  uint32_t position = map->slots[hole];
  if (position == 0) return false;
  MapEntry &entry = map->entries[position - 1];
  velqRelease(entry.key);
  delete entry.value;
  map->slots[hole] = 0;
  uint32_t mask = map->slotCount - 1;
  for (uint32_t i = (hole + 1) & mask; map->slots[i] != 0; i = (i + 1) & mask) {
    uint32_t home = map->entries[map->slots[i] - 1].hash & mask;
    bool movable = hole <= i ? (home <= hole || home > i) : (home <= hole && home > i);
    if (!movable) continue;
    map->slots[hole] = map->slots[i];
    map->slots[i] = 0;
    hole = i;
  }
  uint32_t last = map->count - 1;
  if (position - 1 != last) {
    const MapEntry &moved = map->entries[last];
    map->slots[slotFor(map, moved.key, moved.length, moved.hash)] = position;
    map->entries[position - 1] = moved;
  }
  map->count--;
  return true;
}

class MapClass : public VELQ_Class {
 public:
  MapClass() { setName("map"); }
  void onObjectDelete(VELQ_Object *object) override {
    delete static_cast<TextMap *>(object->getData());
  }
};

// The one map class, built on first use and never torn down, so that maps destroyed
// during the process's exit still find it.
MapClass *mapClass() {
  alignas(MapClass) static unsigned char storage[sizeof(MapClass)];
  static MapClass *instance = new (storage) MapClass();
  return instance;
}

// The map a value holds, or null.
TextMap *mapOf(VELQ_Value *value) {
  VELQ_Object *object = value->getValueAsObject();
  if (!object || object->getClass() != mapClass()) return nullptr;
  return static_cast<TextMap *>(object->getData());
}

// The map and the key's text of a call's first two arguments: 0, or the error code.
// The map and the key a handler is called with (its first two arguments).
struct MapKey {
  TextMap *map;
  const char *key;
  uint32_t length;
};

int32_t mapAndKey(VELQ_Value **argv, MapKey *k) {
  k->map = mapOf(argv[0]);
  if (!k->map) return VELQ_ERR_NOT_OBJECT;
  if (!argv[1]->isString()) return VELQ_ERR_NOT_STRING;
  k->key = velqToolkitTextOf(argv[1], &k->length);
  return 0;
}

bool storable(const VELQ_Value *value) { return value->isNull() || value->isString(); }

// The positions of the entries in the byte order of their keys (insertion sort would be
// quadratic: this is a merge sort), into *order, which the caller releases.
int32_t keyOrder(const TextMap *map, uint32_t **order);

// MapKeys and MapValues: a new array at 0, 1, 2, ... of what pick makes of each entry,
// in the order of the keys.
int32_t listEntries(VELQ_Value *argument, VELQ_Value *(*pick)(const MapEntry &),
                    VELQ_Value **result) {
  TextMap *map = mapOf(argument);
  if (!map) return VELQ_ERR_NOT_OBJECT;
  uint32_t *order = nullptr;
  int32_t code = keyOrder(map, &order);
  if (code != 0) return code;
  VELQ_Array *list = new VELQ_Array();
  bool stored = list != nullptr;
  for (uint32_t i = 0; stored && i < map->count; i++)
    stored = velqToolkitStore(list, (int32_t)i, pick(map->entries[order[i]]));
  velqRelease(order);
  if (!stored) {
    delete list;
    return VELQ_ERR_OUT_OF_MEMORY;
  }
  return velqToolkitArrayResult(list, result);
}

bool keyBefore(const MapEntry &a, const MapEntry &b) {
  int c = memcmp(a.key, b.key, a.length < b.length ? a.length : b.length);
  return c < 0 || (c == 0 && a.length < b.length);
}

void mergeSort(const TextMap *map, uint32_t *order, uint32_t *scratch, uint32_t from, uint32_t to) {
  if (to - from < 2) return;
  uint32_t middle = from + (to - from) / 2;
  mergeSort(map, order, scratch, from, middle);
  mergeSort(map, order, scratch, middle, to);
  uint32_t left = from, right = middle, out = from;
  while (left < middle && right < to)
    scratch[out++] = keyBefore(map->entries[order[right]], map->entries[order[left]])
                         ? order[right++]
                         : order[left++];
  while (left < middle) scratch[out++] = order[left++];
  while (right < to) scratch[out++] = order[right++];
  memcpy(order + from, scratch + from, (size_t)(to - from) * sizeof *order);
}

int32_t keyOrder(const TextMap *map, uint32_t **order) {
  size_t bytes = (size_t)(map->count ? map->count : 1) * sizeof(uint32_t);
  uint32_t *sorted = static_cast<uint32_t *>(velqAllocate(bytes));
  uint32_t *scratch = static_cast<uint32_t *>(velqAllocate(bytes));
  if (!sorted || !scratch) {
    velqRelease(sorted);
    velqRelease(scratch);
    return VELQ_ERR_OUT_OF_MEMORY;
  }
  for (uint32_t i = 0; i < map->count; i++) sorted[i] = i;
  mergeSort(map, sorted, scratch, 0, map->count);
  velqRelease(scratch);
  *order = sorted;
  return 0;
}

VELQ_Value *keyOf(const MapEntry &entry) { return velqToolkitText(entry.key, entry.length); }

VELQ_Value *valueOf(const MapEntry &entry) { return new VELQ_Value(entry.value); }

}  // namespace

uint32_t velqToolkitMapCount(VELQ_Value *value, bool *isMap) {
  TextMap *map = mapOf(value);
  *isMap = map != nullptr;
  return map ? map->count : 0;
}

VELQ_HANDLER(velqMap) {
  TextMap *map = new TextMap();
  if (!map) return VELQ_ERR_OUT_OF_MEMORY;
  VELQ_Object *object = new VELQ_Object(mapClass(), map);
  if (!object) {
    delete map;
    return VELQ_ERR_OUT_OF_MEMORY;
  }
  // The value takes the record, and the record's class frees the map with the last record.
  return velqResult(result, new VELQ_Value(object));
}

VELQ_HANDLER(velqMapSet) {
  MapKey k;
  int32_t code = mapAndKey(argv, &k);
  if (code != 0) return code;
  if (!storable(argv[2])) return VELQ_ERR_NOT_STRING;
  return storeEntry(k.map, k.key, k.length, new VELQ_Value(argv[2]), new VELQ_Value(argv[2]),
                    result);
}

// The key's value; without it, the default given (or null).
VELQ_HANDLER(velqMapGet) {
  if (argc < 2 || argc > 3) return VELQ_ERR_ARGUMENT_COUNT;
  MapKey k;
  int32_t code = mapAndKey(argv, &k);
  if (code != 0) return code;
  MapEntry *entry = findEntry(k.map, k.key, k.length);
  if (entry) return velqResult(result, new VELQ_Value(entry->value));
  return velqResult(result, argc == 3 ? new VELQ_Value(argv[2]) : new VELQ_Value());
}

VELQ_HANDLER(velqMapHas) {
  MapKey k;
  int32_t code = mapAndKey(argv, &k);
  if (code != 0) return code;
  return velqResult(result, new VELQ_Value((int32_t)(findEntry(k.map, k.key, k.length) ? 1 : 0)));
}

// Adds n to the key's value, a key without one (or with null) counting as 0, and gives
// the sum: the counting step of a word-frequency report in one call. The sum is made as
// the + operator makes it from two numbers.
VELQ_HANDLER(velqMapAdd) {
  MapKey k;
  int32_t code = mapAndKey(argv, &k);
  if (code != 0) return code;
  if (!argv[2]->isNumeric()) return VELQ_ERR_BAD_ARITHMETIC;
  MapEntry *entry = findEntry(k.map, k.key, k.length);
  if (entry && !entry->value->isNull() && !entry->value->isNumeric())
    return VELQ_ERR_BAD_ARITHMETIC;
  VELQ_Value *sum = new VELQ_Value(argv[2]);
  VELQ_Value *answer = nullptr;
  if (sum && entry && !entry->value->isNull()) {
    VELQ_Value addend(entry->value);
    int type = VELQ_CommonType(addend.getDataType(), sum->getDataType(), VELQ_PROMOTE_ANY);
    if (!addend.convert(type) || !sum->convert(type)) {
      delete sum;
      return VELQ_ERR_BAD_ARITHMETIC;
    }
    sum->add(&addend);
  }
  if (sum) answer = new VELQ_Value(sum);
  return storeEntry(k.map, k.key, k.length, sum, answer, result);
}

VELQ_HANDLER(velqMapRemove) {
  MapKey k;
  int32_t code = mapAndKey(argv, &k);
  if (code != 0) return code;
  return velqResult(result, new VELQ_Value((int32_t)(removeEntry(k.map, k.key, k.length) ? 1 : 0)));
}

VELQ_HANDLER(velqMapKeys) { return listEntries(argv[0], keyOf, result); }

VELQ_HANDLER(velqMapValues) { return listEntries(argv[0], valueOf, result); }
