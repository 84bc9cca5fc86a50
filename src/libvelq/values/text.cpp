// The texts of values: blocks that several values may share.
//
// A value's text lies in a block of its own or in one it shares with copies of it (the
// engine copies values all the time: every push of a variable, every argument). A block
// counts the values that refer to it. Each value sees a prefix of the block: its own
// length of it. The block remembers how many bytes the longest of them wrote (`used`);
// bytes beyond a value's length belong to a longer value, never to a shorter one. So a
// value whose text reaches `used` may append in place (when the block has room), and the
// values sharing the block still read their own, shorter texts unchanged. That is what
// makes `s = s . x` cost the length of x, not of s: the copy pushed for s extends the
// block, and the assignment shares it again.
//
// A text handed to a host (getValueAsCString, getValueAsString) must stay zero-terminated
// at the value's length for as long as the value does not change. A value whose text is
// followed by a longer value's bytes first gets a block of its own (so its text ends
// with a zero byte), and then counts itself in the block's `exposed`; no value appends in
// place to a block that another value has exposed. Reading a text inside the engine
// (comparisons, joins, built-ins that take the length) needs no zero byte and exposes
// nothing.
//
// Small blocks come from the per-thread pools of objects, like the values themselves.
//
// Blocks are changed in place only by a value that holds them alone (after a copy when
// it does not: copy on write). Blocks are never shared between threads: a value that a
// host copies (the public copy constructor) gets a block of its own, and the engine
// gives the values that leave a run (its result, its globals) blocks of their own.
#include <stddef.h>
#include <string.h>

#include "runtime/memory.h"
#include "runtime/run_limits.h"
#include "values/number_text.h"
#include "values/value_internals.h"
#include "velq_value.h"

struct VELQ_TextBlock {
  uint32_t references;  // values whose text lies in the block
  uint32_t capacity;    // bytes of chars: room for the text and its zero byte
  uint32_t used;        // bytes of text written; chars[used] is a zero byte
  uint32_t exposed;     // values that have handed a pointer to their text to a host
  char chars[];
};

namespace {

VELQ_TextBlock *blockOf(const char *chars) {
  return reinterpret_cast<VELQ_TextBlock *>(const_cast<char *>(chars) -
                                            offsetof(VELQ_TextBlock, chars));
}

// The room a growing text asks for: twice what it needs, so that appending n bytes one
// piece at a time copies O(n) bytes in all.
uint32_t grownCapacity(uint64_t needed) {
  uint64_t capacity = needed * 2;
  if (capacity < 32) capacity = 32;
  if (capacity > UINT32_MAX) capacity = UINT32_MAX;
  return (uint32_t)capacity;
}

}  // namespace

char *VELQ_ValueInternals::newTextBlock(const char *text, uint32_t length, uint32_t capacity) {
  if (capacity < (uint64_t)length + 1) capacity = length + 1;
  if (length == UINT32_MAX) {  // no room for the zero byte in 32 bits
    velqNoteAllocationFailure(VELQ_SYSTEM_REFUSED);
    return nullptr;
  }
  VELQ_TextBlock *block = static_cast<VELQ_TextBlock *>(
      velqAllocateObject(sizeof(VELQ_TextBlock) + (size_t)capacity));
  if (!block) return nullptr;
  velqChargeWork(length);  // a run past its limits stops at its next jump, call or return
  block->references = 1;
  block->capacity = capacity;
  block->used = length;
  block->exposed = 0;
  if (text) {
    memcpy(block->chars, text, length);
  } else {
    memset(block->chars, 0, length);
  }
  block->chars[length] = '\0';
  return block->chars;
}

void VELQ_ValueInternals::releaseText(VELQ_Value *value) {
  if (value->stringValue) {
    VELQ_TextBlock *block = blockOf(value->stringValue);
    if (value->textExposed) block->exposed--;
    if (--block->references == 0)
      velqReleaseObject(block, sizeof(VELQ_TextBlock) + (size_t)block->capacity);
  }
  value->stringValue = nullptr;
  value->stringLength = 0;
  value->stringValid = 0;
  value->textExposed = 0;
}

void VELQ_ValueInternals::shareText(VELQ_Value *to, const VELQ_Value *from) {
  to->stringValue = from->stringValue;
  to->stringLength = from->stringLength;
  to->stringValid = from->stringValid;
  to->textExposed = 0;
  if (from->stringValue) blockOf(from->stringValue)->references++;
}

bool VELQ_ValueInternals::copyText(VELQ_Value *to, const VELQ_Value *from) {
  to->textExposed = 0;
  if (!from->stringValid) {
    to->stringValue = nullptr;
    to->stringLength = 0;
    to->stringValid = 0;
    return true;
  }
  to->stringValue = newTextBlock(from->stringValue, from->stringLength, 0);
  to->stringLength = to->stringValue ? from->stringLength : 0;
  to->stringValid = to->stringValue ? 1 : 0;
  return to->stringValue != nullptr;
}

// Numbers render their text first; null, object and array have none (null returned).
const char *VELQ_ValueInternals::textView(VELQ_Value *value, uint32_t *length) {
  *length = 0;
  if (value->dataType < DTYPE_STRING) return nullptr;
  if (!value->stringValid) value->updateString();
  if (!value->stringValid) return "";  // no memory to render the number
  *length = value->stringLength;
  return value->stringValue;
}

// A text followed by bytes of a longer value moves into a block of its own first, so
// that it ends with a zero byte. Without memory for that the empty text is handed out.
const char *VELQ_ValueInternals::exposeText(VELQ_Value *value, uint32_t *length) {
  const char *text = textView(value, length);
  if (!text || !value->stringValue) return text;
  VELQ_TextBlock *block = blockOf(value->stringValue);
  if (value->stringLength != block->used && block->chars[value->stringLength] != '\0') {
    char *own = newTextBlock(value->stringValue, value->stringLength, 0);
    if (!own) {
      *length = 0;
      return "";
    }
    releaseText(value);
    value->stringValue = own;
    value->stringLength = *length;
    value->stringValid = 1;
    block = blockOf(own);
  }
  if (!value->textExposed) {
    value->textExposed = 1;
    block->exposed++;
  }
  return value->stringValue;
}

// In place when the value's text reaches the end of the block's text, no other value
// has exposed the block and it has room; else into a new block with room to grow.
bool VELQ_ValueInternals::append(VELQ_Value *value, const char *text, uint32_t length) {
  uint32_t oldLength = 0;
  const char *old = textView(value, &oldLength);
  if (!old || !value->stringValue) {
    // Null, object and array join as the empty text; a number that could not render
    // has none to keep.
    if (value->dataType >= DTYPE_STRING && !value->stringValid) return false;
    old = "";
    oldLength = 0;
  }
  // A text's length is 32 bits: a longer join is memory the engine cannot give.
  if (length > UINT32_MAX - 1 - oldLength) {
    velqNoteAllocationFailure(VELQ_SYSTEM_REFUSED);
    return false;
  }
  uint32_t joined = oldLength + length;
  VELQ_TextBlock *block = value->stringValue ? blockOf(value->stringValue) : nullptr;
  bool inPlace = block && oldLength == block->used && block->exposed == value->textExposed &&
                 (uint64_t)joined + 1 <= block->capacity;
  velqChargeWork(length);
  if (inPlace) {
    // The appended bytes may be the value's own (s . s): memmove reads them first.
    memmove(block->chars + oldLength, text ? text : "", text ? length : 0);
    if (!text) memset(block->chars + oldLength, 0, length);
    block->chars[joined] = '\0';
    block->used = joined;
    if (value->textExposed) {
      block->exposed--;
      value->textExposed = 0;
    }
  } else {
    char *chars = newTextBlock(old, oldLength, grownCapacity((uint64_t)joined + 1));
    if (!chars) return false;
    // The appended bytes are read before the old block can go.
    if (text) {
      memcpy(chars + oldLength, text, length);
    } else {
      memset(chars + oldLength, 0, length);
    }
    chars[joined] = '\0';
    blockOf(chars)->used = joined;
    releaseText(value);
    value->stringValue = chars;
  }
  value->stringLength = joined;
  value->stringValid = 1;
  becomeString(value);
  return true;
}

// The value's text in a block it holds alone, ending with a zero byte at its length, for
// the caller to change in place; null when the value has no text or memory is refused.
char *VELQ_ValueInternals::writableText(VELQ_Value *value) {
  uint32_t length = 0;
  if (!textView(value, &length) || !value->stringValue) return nullptr;
  VELQ_TextBlock *block = blockOf(value->stringValue);
  if (block->references > 1) {
    char *own = newTextBlock(value->stringValue, length, 0);
    if (!own) return nullptr;
    releaseText(value);
    value->stringValue = own;
    value->stringLength = length;
    value->stringValid = 1;
    return own;
  }
  if (value->textExposed) {
    block->exposed--;
    value->textExposed = 0;
  }
  block->used = length;
  block->chars[length] = '\0';
  return value->stringValue;
}

void VELQ_ValueInternals::ownText(VELQ_Value *value) {
  if (!value->stringValue || blockOf(value->stringValue)->references == 1) return;
  char *own = newTextBlock(value->stringValue, value->stringLength, 0);
  if (!own) return;
  uint32_t length = value->stringLength;
  releaseText(value);
  value->stringValue = own;
  value->stringLength = length;
  value->stringValid = 1;
}
