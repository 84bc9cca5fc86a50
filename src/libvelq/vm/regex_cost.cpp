// An estimate of the memory the system's expression compiler takes for a pattern.
//
// The compiler expands every counted repetition into copies of what it repeats, so
// "((a{1000}){1000}){10}" becomes ten million nodes; and it keeps, for each node, the
// set of nodes reachable from it without reading a byte. That set grows with the number
// of optional parts in a row ("a{1,10000}" nests ten thousand optional copies, whose ends
// all reach one another) and with runs of parts that may match nothing ("(a?){1000}").
// Measured on the platform's compiler, its memory is close to 256 bytes per node plus 8
// bytes per node per member of the largest such set, and the estimate below follows that
// model: it is within a factor of about three of what the compiler takes, either side.
//
// The pattern is read as an extended regular expression in one pass, with a stack of the
// groups open at each point (as deep as the pattern nests them: the compiler's memory
// grows with every level). Counts are kept as doubles, so that no pattern can overflow
// them; a pattern the compiler would refuse is estimated all the same (it is refused
// cheaply).
#include "vm/regex_cost.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "runtime/memory.h"

namespace {

// What a part of the pattern costs: its nodes, the largest set of nodes reachable
// without reading (its reach), and whether it may match the empty text.
struct Cost {
  double nodes = 0;
  double reach = 0;
  bool empty = true;
};

// A sequence of parts, and the alternatives of the group (or pattern) it belongs to.
struct Sequence {
  Cost done;  // the parts before the last one
  Cost last;  // the last part, which a repetition applies to
  bool hasLast = false;
  double emptyNodes = 0;  // nodes of the parts that may match nothing
  Cost alternatives;      // the alternatives already closed by '|'
  bool hasAlternatives = false;
};

// Appends the last part to the sequence's parts.
void settle(Sequence &s) {
  if (!s.hasLast) return;
  s.done.nodes += s.last.nodes;
  s.done.reach = s.done.reach > s.last.reach ? s.done.reach : s.last.reach;
  s.done.empty = s.done.empty && s.last.empty;
  if (s.last.empty) s.emptyNodes += s.last.nodes;
  s.hasLast = false;
}

// The cost of the sequence as a whole: a run of parts that may match nothing lets the
// point before it reach all of them.
Cost total(Sequence &s) {
  settle(s);
  Cost c = s.done;
  c.reach += s.emptyNodes;
  if (s.hasAlternatives) {
    c.nodes += s.alternatives.nodes + 1;
    c.reach += s.alternatives.reach + 1;
    c.empty = c.empty || s.alternatives.empty;
  }
  return c;
}

// Closes an alternative at '|'.
void alternate(Sequence &s) {
  Cost c = total(s);
  s = Sequence{};
  s.alternatives = c;
  s.hasAlternatives = true;
}

void addPart(Sequence &s, const Cost &part) {
  settle(s);
  s.last = part;
  s.hasLast = true;
}

// The last part repeated at least low and at most high times (high < 0: no bound).
void repeat(Sequence &s, double low, double high) {
  if (!s.hasLast) return;  // a repetition of nothing is the compiler's error
  Cost &x = s.last;
  double copies = high < 0 ? low + 1 : high;
  if (copies < 1) copies = 1;
  double optional = high < 0 ? 1 : high - low;
  Cost r;
  r.nodes = copies * x.nodes;
  r.empty = x.empty || low == 0;
  // Copies that may each match nothing all reach one another; optional copies nest, and
  // the end of each reaches the ends of those around it.
  r.reach = x.empty ? r.nodes : x.reach + optional + 1;
  x = r;
}

// Reads a number of an interval at *p; false when there is none.
bool readCount(const char *&p, double *count) {
  if (*p < '0' || *p > '9') return false;
  char *end;
  *count = strtod(p, &end);
  p = end;
  return true;
}

// Reads "{m}", "{m,}", "{m,n}", "{,n}" or "{,}" at p (just after the brace); false when
// it is not an interval (the compiler then reads the brace as it will). A missing lower
// bound is 0, as the compiler takes it.
bool readInterval(const char *&p, double *low, double *high) {
  const char *at = p;
  if (*at == ',') {
    *low = 0;
  } else if (!readCount(at, low)) {
    return false;
  }
  *high = *low;
  if (*at == ',') {
    at++;
    if (!readCount(at, high)) *high = -1;
  }
  if (*at != '}') return false;
  p = at + 1;
  return true;
}

// Skips a bracket expression at p (just after the '['), to after its closing ']'.
void skipBracket(const char *&p) {
  if (*p == '^') p++;
  if (*p == ']') p++;
  while (*p && *p != ']') {
    if (*p == '[' && (p[1] == ':' || p[1] == '=' || p[1] == '.')) {
      char kind = p[1];
      const char *close = p + 2;
      while (*close && !(close[0] == kind && close[1] == ']')) close++;
      p = *close ? close + 2 : close;
      continue;
    }
    p++;
  }
  if (*p) p++;
}

// The most groups the pattern opens at once, as the stack of open groups needs room for.
size_t nestingBound(const char *pattern) {
  size_t opens = 0;
  for (const char *p = pattern; *p; p++)
    if (*p == '(') opens++;
  return opens;
}

}  // namespace

double velqRegexCompileCost(const char *pattern) {
  // The stack is allocated, as deep as the pattern could nest (a '(' inside brackets or
  // after a backslash is counted too); when memory for it is refused, the pattern is
  // judged too costly, and the refusal is noted for the run.
  size_t bound = nestingBound(pattern) + 1;
  Sequence *stack = static_cast<Sequence *>(velqAllocate(bound * sizeof(Sequence)));
  if (!stack) return HUGE_VAL;
  stack[0] = Sequence{};
  size_t depth = 0;
  const Cost atom{1, 1, false};
  for (const char *p = pattern; *p;) {
    char c = *p++;
    switch (c) {
      case '(':
        stack[++depth] = Sequence{};
        break;
      case ')':
        if (depth > 0) {
          Cost group = total(stack[depth--]);
          group.nodes += 2;  // where the group opens and closes
          group.reach += 2;
          addPart(stack[depth], group);
        } else {
          addPart(stack[depth], atom);
        }
        break;
      case '|':
        alternate(stack[depth]);
        break;
      case '*':
        repeat(stack[depth], 0, -1);
        break;
      case '+':
        repeat(stack[depth], 1, -1);
        break;
      case '?':
        repeat(stack[depth], 0, 1);
        break;
      case '{': {
        double low, high;
        if (readInterval(p, &low, &high)) {
          repeat(stack[depth], low, high);
        } else {
          addPart(stack[depth], atom);
        }
        break;
      }
      case '[':
        skipBracket(p);
        addPart(stack[depth], atom);
        break;
      case '\\':
        if (*p) p++;
        addPart(stack[depth], atom);
        break;
      default:
        addPart(stack[depth], atom);
        break;
    }
  }
  while (depth > 0) {  // groups left open: the compiler refuses them, count them closed
    Cost group = total(stack[depth--]);
    addPart(stack[depth], group);
  }
  Cost whole = total(stack[0]);
  velqRelease(stack);
  return whole.nodes * (256 + 8 * whole.reach);
}
