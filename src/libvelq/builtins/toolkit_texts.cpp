// The toolkit's functions over texts beside Split, Join and Replace: Fields (split on
// runs of blanks), SameText (exact comparison), and the UTF-8 aware Utf8Length,
// Utf8Substr, Utf8Upper and Utf8Lower.
//
// The built-ins count bytes; the Utf8 functions count characters. A byte that starts no
// well-formed UTF-8 sequence counts as one character of its own and is kept as it is,
// so that no text is refused and every byte of it survives.
#include <string.h>

#include "toolkit_functions.h"
#include "values/value_internals.h"
#include "velq_array.h"
#include "velq_value.h"

namespace {

bool isBlank(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The length of the character that starts at text[at]: 2 to 4 for a well-formed UTF-8
// sequence, else 1.
uint32_t characterLength(const unsigned char *text, uint32_t at, uint32_t length) {
  unsigned char lead = text[at];
  uint32_t size = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 1;
  if (size == 1 || at + size > length) return 1;
  // The second byte's range leaves out overlong forms, surrogates and code points past
  // U+10FFFF.
  unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
  unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
  if (text[at + 1] < low || text[at + 1] > high) return 1;
  for (uint32_t i = 2; i < size; i++)
    if ((text[at + i] & 0xC0) != 0x80) return 1;
  return size;
}

// The code point of a well-formed sequence of size bytes.
uint32_t decode(const unsigned char *bytes, uint32_t size) {
  if (size == 1) return bytes[0];
  uint32_t code = bytes[0] & (0x7F >> size);
  for (uint32_t i = 1; i < size; i++) code = (code << 6) | (bytes[i] & 0x3F);
  return code;
}

// Writes a code point as UTF-8 and returns its length.
uint32_t encode(uint32_t code, unsigned char *out) {
  if (code < 0x80) {
    out[0] = (unsigned char)code;
    return 1;
  }
  if (code < 0x800) {
    out[0] = (unsigned char)(0xC0 | (code >> 6));
    out[1] = (unsigned char)(0x80 | (code & 0x3F));
    return 2;
  }
  out[0] = (unsigned char)(0xE0 | (code >> 12));
  out[1] = (unsigned char)(0x80 | ((code >> 6) & 0x3F));
  out[2] = (unsigned char)(0x80 | (code & 0x3F));
  return 3;
}

// The case pairs the Utf8 case functions know, as ranges of upper-case letters: the
// lower-case letter is upper + offset, for every step-th code point of the range.
struct CaseRange {
  uint32_t first, last;  // upper-case code points
  uint32_t step;         // 1: every letter of the range; 2: every other one
  int32_t offset;        // lower minus upper
};

const CaseRange caseRanges[] = {
    {0x41, 0x5A, 1, 32},       // Basic Latin
    {0xC0, 0xD6, 1, 32},       // Latin-1: A grave to O diaeresis
    {0xD8, 0xDE, 1, 32},       // Latin-1: O stroke to thorn
    {0x100, 0x12E, 2, 1},      // Latin Extended-A, pairs at even code points
    {0x132, 0x136, 2, 1},      //
    {0x139, 0x147, 2, 1},      // pairs at odd code points
    {0x14A, 0x176, 2, 1},      //
    {0x178, 0x178, 1, -0x79},  // Y diaeresis, whose small letter is in Latin-1
    {0x179, 0x17D, 2, 1},      //
    {0x391, 0x3A1, 1, 32},     // Greek capitals (no capital at U+03A2)
    {0x3A3, 0x3AB, 1, 32},     //
    {0x386, 0x386, 1, 38},     // Greek with tonos
    {0x388, 0x38A, 1, 37},     //
    {0x38C, 0x38C, 1, 64},     //
    {0x38E, 0x38F, 1, 63},     //
    {0x400, 0x40F, 1, 80},     // Cyrillic
    {0x410, 0x42F, 1, 32},     //
    {0x460, 0x480, 2, 1},      //
    {0x48A, 0x4BE, 2, 1},      //
    {0x4D0, 0x52E, 2, 1},      //
};

bool inRange(const CaseRange &range, uint32_t upper) {
  return upper >= range.first && upper <= range.last && (upper - range.first) % range.step == 0;
}

uint32_t toLower(uint32_t code) {
  for (const CaseRange &range : caseRanges)
    if (inRange(range, code)) return (uint32_t)((int32_t)code + range.offset);
  return code;
}

uint32_t toUpper(uint32_t code) {
  if (code == 0x3C2) return 0x3A3;  // final sigma
  for (const CaseRange &range : caseRanges) {
    uint32_t upper = (uint32_t)((int32_t)code - range.offset);
    if ((int32_t)code - range.offset >= 0 && inRange(range, upper)) return upper;
  }
  return code;
}

// Utf8Upper and Utf8Lower: each letter the table knows mapped, every other byte kept.
// A letter and its mapping have UTF-8 forms of the same length in the table's ranges,
// so the result is as long as the text.
int32_t mapCase(VELQ_Value *argument, uint32_t (*map)(uint32_t), VELQ_Value **result) {
  if (!argument->isString()) return VELQ_ERR_NOT_STRING;
  uint32_t length;
  const unsigned char *text =
      reinterpret_cast<const unsigned char *>(velqToolkitTextOf(argument, &length));
  VELQ_Value *value = VELQ_ValueInternals::newText(length);
  if (!value) return VELQ_ERR_OUT_OF_MEMORY;
  unsigned char *out = reinterpret_cast<unsigned char *>(VELQ_ValueInternals::textToWrite(value));
  for (uint32_t at = 0; at < length;) {
    uint32_t size = characterLength(text, at, length);
    uint32_t mapped = size <= 3 ? map(decode(text + at, size)) : 0;
    unsigned char encoded[4];
    if (mapped != 0 && encode(mapped, encoded) == size)
      memcpy(out + at, encoded, size);
    else
      memcpy(out + at, text + at, size);
    at += size;
  }
  VELQ_ValueInternals::textWritten(value);
  *result = value;
  return 0;
}

// The byte offset of character number `characters` (from 0) of the text, or the length
// when the text has fewer characters.
uint32_t offsetOfCharacter(const unsigned char *text, uint32_t length, uint64_t characters) {
  uint32_t at = 0;
  for (; at < length && characters > 0; characters--) at += characterLength(text, at, length);
  return at;
}

}  // namespace

// The pieces between runs of blanks (spaces, tabs, line ends, vertical tabs and form
// feeds): blanks at either end make no empty piece, and a text of blanks has none.
VELQ_HANDLER(velqFields) {
  if (!argv[0]->isString()) return VELQ_ERR_NOT_STRING;
  uint32_t length;
  const char *text = velqToolkitTextOf(argv[0], &length);
  VELQ_Array *pieces = new VELQ_Array();
  if (!pieces) return VELQ_ERR_OUT_OF_MEMORY;
  int32_t index = 0;
  for (uint32_t at = 0; at < length;) {
    while (at < length && isBlank((unsigned char)text[at])) at++;
    if (at == length) break;
    uint32_t start = at;
    while (at < length && !isBlank((unsigned char)text[at])) at++;
    // A text of length bytes has at most length / 2 + 1 fields.
    if (index >= (int32_t)VELQ_TOOLKIT_ELEMENT_LIMIT) {
      delete pieces;
      return VELQ_ERR_MEMORY_LIMIT;
    }
    if (!velqToolkitStore(pieces, index++, velqToolkitText(text + start, at - start))) {
      delete pieces;
      return VELQ_ERR_OUT_OF_MEMORY;
    }
  }
  return velqToolkitArrayResult(pieces, result);
}

// 1 when the texts are the same bytes, else 0: "007" and "7" differ, as do "0" and "".
// A number's text is the one it prints with; null's is the empty text.
VELQ_HANDLER(velqSameText) {
  for (int i = 0; i < 2; i++)
    if (!argv[i]->isNull() && !argv[i]->isString()) return VELQ_ERR_NOT_STRING;
  uint32_t leftLength, rightLength;
  const char *left = velqToolkitTextOf(argv[0], &leftLength);
  const char *right = velqToolkitTextOf(argv[1], &rightLength);
  bool same = leftLength == rightLength && memcmp(left, right, leftLength) == 0;
  return velqResult(result, new VELQ_Value((int32_t)(same ? 1 : 0)));
}

VELQ_HANDLER(velqUtf8Length) {
  if (!argv[0]->isString()) return VELQ_ERR_NOT_STRING;
  uint32_t length;
  const unsigned char *text =
      reinterpret_cast<const unsigned char *>(velqToolkitTextOf(argv[0], &length));
  uint32_t characters = 0;
  for (uint32_t at = 0; at < length; characters++) at += characterLength(text, at, length);
  return velqResult(result, new VELQ_Value(characters));
}

// As substr, in characters: count characters (or the rest) from character start, which
// counts from 1; a null or non-positive start means from the first.
VELQ_HANDLER(velqUtf8Substr) {
  if (argc < 2 || argc > 3) return VELQ_ERR_ARGUMENT_COUNT;
  if (!argv[0]->isString()) return VELQ_ERR_NOT_STRING;
  if (!argv[1]->isNull() && !argv[1]->isInteger()) return VELQ_ERR_NOT_WHOLE;
  if (argc == 3 && !argv[2]->isInteger()) return VELQ_ERR_NOT_WHOLE;
  uint32_t length;
  const unsigned char *text =
      reinterpret_cast<const unsigned char *>(velqToolkitTextOf(argv[0], &length));
  int64_t start = argv[1]->isNull() ? 1 : argv[1]->getValueAsInt64();
  uint32_t from = offsetOfCharacter(text, length, start > 1 ? (uint64_t)(start - 1) : 0);
  uint32_t to = length;
  if (argc == 3) {
    int64_t count = argv[2]->getValueAsInt64();
    to = from + offsetOfCharacter(text + from, length - from, count > 0 ? (uint64_t)count : 0);
  }
  return velqResult(result,
                    velqToolkitText(reinterpret_cast<const char *>(text) + from, to - from));
}

VELQ_HANDLER(velqUtf8Upper) { return mapCase(argv[0], toUpper, result); }

VELQ_HANDLER(velqUtf8Lower) { return mapCase(argv[0], toLower, result); }
