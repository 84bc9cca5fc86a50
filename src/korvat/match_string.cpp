// Wildcard matching of a whole text: '*' any run of bytes, '?' any one byte.
//
// The pattern is a chain of segments (runs without '*') separated by stars. The first
// segment must match at the start of the text and the last one at its end; each one
// between is matched at the leftmost place it fits after the one before. Taking the
// leftmost place never loses a match, since every later segment then has at least as
// much text left to fit into. So the text is walked once from left to right: the cost is
// at most the text's length times the longest segment's, however many stars there are,
// with no recursion. The checked form asks its caller now and then whether to go on.
#include <ctype.h>
#include <stddef.h>
#include <string.h>

#include "korvat.h"

namespace {

// Steps (byte comparisons) between two questions to the caller.
const size_t STEPS_BETWEEN_CHECKS = (size_t)1 << 20;

inline bool sameByte(unsigned char patternByte, unsigned char textByte, int caseSensitive) {
  if (patternByte == '?' || patternByte == textByte) return true;
  return !caseSensitive && tolower(patternByte) == tolower(textByte);
}

struct Matcher {
  int caseSensitive;
  int (*keepGoing)(void *);
  void *context;
  size_t steps = 0;
  bool stopped = false;

  // Counts steps; false once the caller has said to stop.
  bool step(size_t count) {
    steps += count;
    if (steps < STEPS_BETWEEN_CHECKS) return true;
    steps = 0;
    if (keepGoing && !keepGoing(context)) stopped = true;
    return !stopped;
  }

  // Whether the segment of length n matches the text at text.
  bool fitsAt(const unsigned char *segment, size_t n, const unsigned char *text) {
    for (size_t i = 0; i < n; i++)
      if (!sameByte(segment[i], text[i], caseSensitive)) return false;
    return true;
  }

  // The leftmost place from `from` (where the text has `left` bytes) at which the segment
  // of length n fits, or null.
  const unsigned char *find(const unsigned char *segment, size_t n, const unsigned char *from,
                            size_t left) {
    for (size_t at = 0; n <= left && at <= left - n; at++) {
      if (!step(n)) return nullptr;
      if (fitsAt(segment, n, from + at)) return from + at;
    }
    return nullptr;
  }
};

}  // namespace

int MatchStringChecked(const char *pattern, const char *text, int caseSensitive,
                       int (*keepGoing)(void *), void *context) {
  if (!pattern || !text) return 0;
  Matcher matcher{caseSensitive, keepGoing, context};
  const unsigned char *p = reinterpret_cast<const unsigned char *>(pattern);
  const unsigned char *t = reinterpret_cast<const unsigned char *>(text);
  size_t textLeft = strlen(text);

  // The first segment, up to the first star, at the start of the text.
  size_t n = strcspn(pattern, "*");
  if (p[n] == '\0') return n == textLeft && matcher.fitsAt(p, n, t);
  if (n > textLeft || !matcher.fitsAt(p, n, t)) return 0;
  t += n;
  textLeft -= n;
  p += n;

  for (;;) {
    while (*p == '*') p++;
    n = strcspn(reinterpret_cast<const char *>(p), "*");
    if (p[n] == '\0') {
      // The last segment, at the end of the text (after what the others took).
      return n <= textLeft && matcher.fitsAt(p, n, t + textLeft - n);
    }
    const unsigned char *found = matcher.find(p, n, t, textLeft);
    if (!found) return matcher.stopped ? -1 : 0;
    textLeft -= (size_t)(found - t) + n;
    t = found + n;
    p += n;
  }
}

int MatchString(const char *pattern, const char *text, int caseSensitive) {
  return MatchStringChecked(pattern, text, caseSensitive, nullptr, nullptr) == 1;
}
