// Wildcard matching of a whole text: '*' any run of bytes, '?' any one byte.
//
// The matcher walks text and pattern once, remembering only the most recent star:
// on a mismatch it lets that star swallow one more byte and retries from there.
// Earlier stars never need revisiting, so the cost is at most pattern length times
// text length, with no recursion for a pattern of many stars to blow up.
#include <ctype.h>

#include "korvat.h"

static inline bool sameByte(unsigned char a, unsigned char b, int caseSensitive) {
  if (a == b) return true;
  return !caseSensitive && tolower(a) == tolower(b);
}

int MatchString(const char *pattern, const char *text, int caseSensitive) {
  if (!pattern || !text) return 0;
  const unsigned char *p = reinterpret_cast<const unsigned char *>(pattern);
  const unsigned char *t = reinterpret_cast<const unsigned char *>(text);
  const unsigned char *starPattern = nullptr;  // just after the last star seen
  const unsigned char *starText = nullptr;     // where that star's run currently ends

  while (*t) {
    if (*p == '*') {
      starPattern = ++p;
      starText = t;
    } else if (*p && (*p == '?' || sameByte(*p, *t, caseSensitive))) {
      ++p;
      ++t;
    } else if (starPattern) {
      p = starPattern;
      t = ++starText;
    } else {
      return 0;
    }
  }
  while (*p == '*') ++p;
  return *p == 0;
}
