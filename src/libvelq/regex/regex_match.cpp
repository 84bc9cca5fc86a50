// The matcher of velq's regular expressions: all the ways through the graph at once,
// one byte of the text at a time (a Pike machine), so that its time is the graph's size
// times the text's length and its memory the graph's size.
//
// The ways are kept in order of preference: ways that started earlier first, and among
// those of one start, the order of the choices the platform's implementation prefers at
// each fork (the node made first). Two ways that reach the same node at the same position
// have the same future, so only the first (preferred) one is kept. The match is the one of
// the earliest start, and from there the longest; its groups are those of the preferred
// way that ends there, which is the way the platform's implementation walks back through
// its automaton when it fills in the groups.
//
// Between two bytes, a way follows the links that read nothing in depth-first order,
// the preferred link first. Its groups follow the platform's rules: a group that closes
// on a non-empty text saves all of the groups; a group repeated from zero times that
// closes empty, when it has taken part before, goes back to what was saved. A way that
// comes back to a fork it passed since the last byte (a repetition of something that
// matched nothing) leaves by the fork's other link.
//
// The platform's compiler gives the nodes after an anchor copies of their own, up to the
// next byte read, and its matcher ends on the first end node of its final state: the
// original one when a way reaches it without an anchor since its last byte. So a way is
// "anchored" from an anchor to its next byte, the two kinds of way are kept apart at each
// node, and at the same end an unanchored way beats an anchored one.
#include <string.h>

#include "regex/regex_internals.h"
#include "runtime/run_limits.h"

using namespace velq_regex;

namespace {

// Work done between two questions to velqWorkMayGoOn.
const uint32_t WORK_BETWEEN_CHECKS = 4096;

bool isWordByte(int c) {
  return c == '_' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

class Matcher {
 public:
  Matcher(VELQ_Regex &regex, const unsigned char *text, size_t length)
      : r(regex), text(text), length(length), width(4 * (size_t)regex.tracked) {}

  VELQ_RegexOutcome run();
  long long bestStart = -1, bestEnd = -1;

 private:
  // The position's context for the anchors.
  bool holds(uint32_t anchor, size_t at) const;
  void follow(uint32_t list, uint32_t node, long long start, size_t at, const long long *groups);
  bool better(long long start, size_t at, bool anchored) const;
  void closeGroup(uint32_t group, bool optional, size_t at);
  void nextGeneration();
  // Counts a step of work, and asks velqWorkMayGoOn after every WORK_BETWEEN_CHECKS.
  bool mayGoOn() {
    if (++work < WORK_BETWEEN_CHECKS) return true;
    work = 0;
    return velqWorkMayGoOn();
  }
  long long *capturesOf(uint32_t list, uint32_t i) { return r.captures[list] + i * width; }

  VELQ_Regex &r;
  const unsigned char *text;
  size_t length;
  size_t width;
  uint32_t counts[2] = {0, 0};
  bool found = false;
  uint32_t work = 0;
  bool bestAnchored = false;
};

// Whether a match from start to at beats the best so far: the earliest start, the
// longest, and at the same end the unanchored way.
bool Matcher::better(long long start, size_t at, bool anchored) const {
  if (!found || start < bestStart) return true;
  if (start > bestStart) return false;
  if ((long long)at != bestEnd) return (long long)at > bestEnd;
  return bestAnchored && !anchored;
}

bool Matcher::holds(uint32_t anchor, size_t at) const {
  bool before = at > 0 && isWordByte(text[at - 1]);
  bool after = at < length && isWordByte(text[at]);
  switch (anchor) {
    case ANCHOR_TEXT_START:
      return at == 0;
    case ANCHOR_TEXT_END:
      return at == length;
    case ANCHOR_WORD_FIRST:
      return !before && after;
    case ANCHOR_WORD_LAST:
      return before && !after;
    case ANCHOR_INSIDE_WORD:
      return before && after;
    case ANCHOR_INSIDE_NOWORD:
      return !before && !after;
  }
  return false;
}

// The platform's rule for a group's end. Its second branch (a group repeated from zero
// times that closed empty going back to the saved groups) is not reached by the patterns
// the compiler takes today, which leaves repetitions of groups that may match nothing to
// the platform (regex.h); it is kept so that the rule stays whole where that widens.
void Matcher::closeGroup(uint32_t group, bool optional, size_t at) {
  long long *saved = r.current + 2 * r.tracked;
  long long *span = r.current + 2 * group;
  if (span[0] < (long long)at) {
    span[1] = (long long)at;
    memcpy(saved, r.current, 2 * r.tracked * sizeof(long long));
  } else if (optional && saved[2 * group] != -1) {
    memcpy(r.current, saved, 2 * r.tracked * sizeof(long long));
  } else {
    span[1] = (long long)at;
  }
}

void Matcher::nextGeneration() {
  if (++r.generation == 0) {  // the marks wrapped around: clear them
    memset(r.visited, 0, 2 * r.nodeCount * sizeof(uint32_t));
    memset(r.onWay, 0, 2 * r.nodeCount * sizeof(uint32_t));
    r.generation = 1;
  }
}

// Follows the ways from node at position `at` that read nothing, with the groups
// `groups`, and adds those that wait for a byte to the list in order of preference.
void Matcher::follow(uint32_t list, uint32_t node, long long start, size_t at,
                     const long long *groups) {
  const uint32_t generation = r.generation;
  const size_t bytes = width * sizeof(long long);
  if (width) memcpy(r.current, groups, bytes);
  uint32_t depth = 0;
  uint32_t anchored = 0;
  for (;;) {
    // One way, until it waits for a byte, matches or dies.
    while (node != NONE) {
      const Node &n = r.nodes[node];
      uint32_t mark = 2 * node + anchored;
      if (r.visited[mark] == generation) {
        // Back at a fork of this very way: it leaves by the other link.
        if (n.kind == NODE_FORK && r.onWay[mark] == generation) {
          node = n.other;
          continue;
        }
        break;
      }
      r.visited[mark] = generation;
      work++;
      switch (n.kind) {
        case NODE_BYTE:
        case NODE_SET: {
          uint32_t i = counts[list]++;
          r.threads[list][i] = {node, 0, start};
          if (width) memcpy(capturesOf(list, i), r.current, bytes);
          node = NONE;
          break;
        }
        case NODE_MATCH:
          if (better(start, at, anchored)) {
            found = true;
            bestStart = start;
            bestEnd = (long long)at;
            bestAnchored = anchored;
            if (width) memcpy(r.best, r.current, bytes);
          }
          node = NONE;
          break;
        case NODE_FORK:
          r.frames[depth] = {n.other, 0, (uint8_t)anchored, 0, start};
          if (width) memcpy(r.frameCaptures + depth * width, r.current, bytes);
          depth++;
          r.frames[depth++] = {mark, 1, 0, 0, start};
          r.onWay[mark] = generation;
          node = n.next;
          break;
        case NODE_JUMP:
          node = n.next;
          break;
        case NODE_ASSERT:
          node = holds(n.value, at) ? n.next : NONE;
          anchored = 1;
          break;
        case NODE_OPEN:
          r.current[2 * n.value] = (long long)at;
          r.current[2 * n.value + 1] = -1;
          node = n.next;
          break;
        case NODE_CLOSE:
          closeGroup(n.value, n.optional, at);
          node = n.next;
          break;
      }
    }
    // The next way to try: the fork's other link, once its first link is done.
    for (;;) {
      if (depth == 0) return;
      Frame &frame = r.frames[--depth];
      if (frame.endsFork) {
        r.onWay[frame.node] = 0;
        continue;
      }
      node = frame.node;
      start = frame.start;
      anchored = frame.anchored;
      if (width) memcpy(r.current, r.frameCaptures + depth * width, bytes);
      break;
    }
  }
}

VELQ_RegexOutcome Matcher::run() {
  // A new way starts with no group taken part, from a copy in the frame area's last
  // slot (follow() never reaches it).
  long long *seed = r.frameCaptures + (size_t)(r.frameCapacity - 1) * width;
  uint32_t list = 0;
  nextGeneration();
  for (size_t i = 0; i < width; i++) seed[i] = -1;
  follow(list, r.startNode, 0, 0, seed);
  for (size_t at = 0; at < length; at++) {
    if (counts[list] == 0 && (found || r.anchored)) break;
    unsigned char c = text[at];
    if (r.ignoreCase && c >= 'a' && c <= 'z') c -= 32;
    uint32_t other = list ^ 1;
    counts[other] = 0;
    nextGeneration();
    for (uint32_t i = 0; i < counts[list]; i++) {
      const Thread &t = r.threads[list][i];
      if (found && t.start > bestStart) break;  // later starts come after; they lose
      const Node &n = r.nodes[t.node];
      bool reads = n.kind == NODE_BYTE ? n.value == c : r.sets[n.value].has(c);
      if (reads) follow(other, n.next, t.start, at + 1, capturesOf(list, i));
      if (!mayGoOn()) return VELQ_REGEX_STOPPED;
    }
    if (!found && !r.anchored) {
      for (size_t i = 0; i < width; i++) seed[i] = -1;
      follow(other, r.startNode, (long long)at + 1, at + 1, seed);
    }
    list = other;
    if (!mayGoOn()) return VELQ_REGEX_STOPPED;
  }
  return found ? VELQ_REGEX_MATCHED : VELQ_REGEX_NO_MATCH;
}

}  // namespace

VELQ_RegexOutcome velqRegexExecute(VELQ_Regex *regex, const char *text, size_t length,
                                   VELQ_RegexSpan *spans, uint32_t count) {
  Matcher matcher(*regex, reinterpret_cast<const unsigned char *>(text), length);
  VELQ_RegexOutcome outcome = matcher.run();
  if (outcome != VELQ_REGEX_MATCHED) return outcome;
  for (uint32_t i = 0; i < count; i++) spans[i] = {-1, -1};
  if (count > 0) spans[0] = {matcher.bestStart, matcher.bestEnd};
  for (uint32_t i = 1; i < count && i <= regex->tracked; i++) {
    uint32_t from = regex->reportedAs[i - 1];
    const long long *span = regex->best + 2 * from;
    spans[i] = {span[0], span[1]};
  }
  return outcome;
}
