// The compiler of velq's regular expressions: it reads the pattern as the platform's
// compiler reads an extended regular expression (same acceptance, same tree), counts the
// nodes the tree will take with its repetitions copied out, and only then allocates and
// builds the graph that the matcher walks (regex_internals.h).
//
// Three passes: the parser builds a tree in which a counted repetition is one node; a
// walk merges a group that holds nothing but another group into it (the platform reports
// the inner one with the outer one's text); and the builder makes the graph, copying each
// repetition out as that compiler does: x{2,4} becomes x x ((x x?)?)... nested as
// ((x? x)? x)? after the copies that must match. Both the parser and the merging walk
// keep their own stacks; the counting and building passes recurse once per level of
// nesting, which the parser bounds by VELQ_REGEX_MAX_NESTING.
#include <string.h>

#include "regex/regex_internals.h"
#include "runtime/memory.h"

using namespace velq_regex;

namespace {

// The largest count of an interval, as the platform's compiler allows it.
const int MAX_REPEAT = 0x7fff;

// ---- The tree ----

enum AstKind : uint8_t {
  AST_EMPTY,      // matches nothing at all: x{0}, or an empty branch
  AST_BYTE,       // value: the byte
  AST_SET,        // value: the set
  AST_ANCHOR,     // value: AnchorKind
  AST_WORD_EDGE,  // \b (value 0) or \B (value 1): a fork between two anchors
  AST_SEQUENCE,   // children in order
  AST_BRANCHES,   // children are the branches of an alternation (sequences)
  AST_GROUP,      // value: the group; child: its expression (NONE: empty)
  AST_REPEAT,     // child repeated low to high times (high -1: no bound)
};

struct Ast {
  AstKind kind;
  uint32_t value;
  uint32_t child;  // first child
  uint32_t last;   // last child (sequences and branches)
  uint32_t next;   // next sibling
  int32_t low, high;
};

// A growing array of the engine's allocator; false when memory is refused.
template <typename T>
struct Growing {
  T *items = nullptr;
  uint32_t count = 0, capacity = 0;
  ~Growing() { velqRelease(items); }
  bool push(const T &item) {
    if (count == capacity) {
      uint32_t grown = capacity ? capacity * 2 : 16;
      if (grown < capacity) return false;
      T *larger = static_cast<T *>(velqReallocate(items, (size_t)grown * sizeof(T)));
      if (!larger) return false;
      items = larger;
      capacity = grown;
    }
    items[count++] = item;
    return true;
  }
};

// ---- Bytes, cases and classes of the C locale ----

// Ignoring case, the platform's compiler reads the pattern, and its matcher the text, in
// upper case (the C locale's: ASCII letters only).
unsigned char upper(unsigned char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; }

bool isUpper(int c) { return c >= 'A' && c <= 'Z'; }
bool isLower(int c) { return c >= 'a' && c <= 'z'; }
bool isDigit(int c) { return c >= '0' && c <= '9'; }
bool isAlpha(int c) { return isUpper(c) || isLower(c); }
bool isAlnum(int c) { return isAlpha(c) || isDigit(c); }
bool isSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool isPrint(int c) { return c >= 0x20 && c < 0x7f; }
bool isGraph(int c) { return c > 0x20 && c < 0x7f; }
bool isPunct(int c) { return isGraph(c) && !isAlnum(c); }
bool isCntrl(int c) { return c < 0x20 || c == 0x7f; }
bool isBlank(int c) { return c == ' ' || c == '\t'; }
bool isXdigit(int c) { return isDigit(c) || (upper(c) >= 'A' && upper(c) <= 'F'); }

struct ClassName {
  const char *name;
  bool (*test)(int);
};
const ClassName CLASSES[] = {
    {"alpha", isAlpha},   {"upper", isUpper}, {"lower", isLower}, {"digit", isDigit},
    {"xdigit", isXdigit}, {"space", isSpace}, {"print", isPrint}, {"punct", isPunct},
    {"graph", isGraph},   {"cntrl", isCntrl}, {"blank", isBlank}, {"alnum", isAlnum},
};

// ---- The parser ----

enum TokenKind : uint8_t {
  T_END,
  T_CHAR,
  T_ANY,
  T_BRACKET,
  T_OPEN,
  T_CLOSE,
  T_ALT,
  T_STAR,
  T_PLUS,
  T_QUESTION,
  T_OPEN_BRACE,
  T_CLOSE_BRACE,
  T_ANCHOR,
  T_WORD_EDGE,
  T_CLASS,  // \w \W \s \S: value 0..3
  T_BACKREF,
  T_LONE_BACKSLASH,
};

struct Token {
  TokenKind kind;
  unsigned char c;  // the byte (after the case is folded), or the one after a backslash
  uint8_t value;
  int length;
};

// Tokens inside brackets.
enum BracketKind : uint8_t { B_END, B_CHAR, B_RANGE, B_CLOSE, B_NEGATE, B_COLL, B_EQUIV, B_CLASS };

struct BracketToken {
  BracketKind kind;
  unsigned char c;
  int length;
};

enum ElementKind : uint8_t { E_CHAR, E_COLL, E_EQUIV, E_CLASS };

struct Element {
  ElementKind kind;
  unsigned char c;
  char name[33];
};

// One group being read (or the whole pattern, at the bottom of the stack).
struct Level {
  uint32_t branches;  // its AST_BRANCHES node
  uint32_t group;     // its group number (NONE: the whole pattern)
  bool canRepeat;     // the last thing read takes a repetition
};

class Parser {
 public:
  Parser(const char *pattern, bool ignoreCase)
      : pattern(reinterpret_cast<const unsigned char *>(pattern)),
        length(strlen(pattern)),
        ignoreCase(ignoreCase) {}

  VELQ_RegexStatus parse();

  Growing<Ast> nodes;
  Growing<ByteSet> sets;
  uint32_t root = NONE;
  uint32_t groups = 0;

 private:
  unsigned char fold(unsigned char c) const { return ignoreCase ? upper(c) : c; }
  Token fetch(size_t at) const;
  BracketToken fetchInBracket(size_t at) const;
  VELQ_RegexStatus readInterval(int *low, int *high);
  VELQ_RegexStatus readBracket(uint32_t *set);
  VELQ_RegexStatus readElement(const BracketToken &token, bool hyphenIsChar, Element *element);
  VELQ_RegexStatus addElement(ByteSet &set, const Element &element);
  bool addClass(ByteSet &set, const char *name, bool negate);
  bool classSet(const char *name, bool negate, uint32_t *set);

  uint32_t newNode(AstKind kind, uint32_t value);
  bool append(uint32_t list, uint32_t item);
  bool openBranch(uint32_t branches);
  uint32_t currentSequence(const Level &level) const { return nodes.items[level.branches].last; }
  VELQ_RegexStatus repeatLast(const Level &level, int low, int high);

  const unsigned char *pattern;
  size_t length;
  size_t at = 0;
  bool ignoreCase;
  bool outOfMemory = false;
};

uint32_t Parser::newNode(AstKind kind, uint32_t value) {
  Ast node{kind, value, NONE, NONE, NONE, 0, 0};
  if (!nodes.push(node)) {
    outOfMemory = true;
    return NONE;
  }
  return nodes.count - 1;
}

bool Parser::append(uint32_t list, uint32_t item) {
  if (item == NONE) return false;
  Ast &l = nodes.items[list];
  if (l.last == NONE) {
    l.child = item;
  } else {
    nodes.items[l.last].next = item;
  }
  l.last = item;
  return true;
}

bool Parser::openBranch(uint32_t branches) {
  uint32_t sequence = newNode(AST_SEQUENCE, 0);
  return sequence != NONE && append(branches, sequence);
}

// The token at `at`, read as the platform's compiler reads an extended expression: the
// GNU operators after a backslash are on, a backslash before any other byte makes it
// literal, and ^ and $ are anchors wherever they stand.
Token Parser::fetch(size_t position) const {
  if (position >= length) return {T_END, 0, 0, 0};
  unsigned char c = pattern[position];
  if (c == '\\') {
    if (position + 1 >= length) return {T_LONE_BACKSLASH, '\\', 0, 1};
    unsigned char d = pattern[position + 1];
    Token t{T_CHAR, d, 0, 2};
    switch (d) {
      case '1':
      case '2':
      case '3':
      case '4':
      case '5':
      case '6':
      case '7':
      case '8':
      case '9':
        t.kind = T_BACKREF;
        break;
      case '<':
        t = {T_ANCHOR, d, ANCHOR_WORD_FIRST, 2};
        break;
      case '>':
        t = {T_ANCHOR, d, ANCHOR_WORD_LAST, 2};
        break;
      case '`':
        t = {T_ANCHOR, d, ANCHOR_TEXT_START, 2};
        break;
      case '\'':
        t = {T_ANCHOR, d, ANCHOR_TEXT_END, 2};
        break;
      case 'b':
        t = {T_WORD_EDGE, d, 0, 2};
        break;
      case 'B':
        t = {T_WORD_EDGE, d, 1, 2};
        break;
      case 'w':
        t = {T_CLASS, d, 0, 2};
        break;
      case 'W':
        t = {T_CLASS, d, 1, 2};
        break;
      case 's':
        t = {T_CLASS, d, 2, 2};
        break;
      case 'S':
        t = {T_CLASS, d, 3, 2};
        break;
      default:
        break;  // the byte itself, in its own case even when ignoring case
    }
    return t;
  }
  c = fold(c);
  Token t{T_CHAR, c, 0, 1};
  switch (c) {
    case '|':
      t.kind = T_ALT;
      break;
    case '*':
      t.kind = T_STAR;
      break;
    case '+':
      t.kind = T_PLUS;
      break;
    case '?':
      t.kind = T_QUESTION;
      break;
    case '{':
      t.kind = T_OPEN_BRACE;
      break;
    case '}':
      t.kind = T_CLOSE_BRACE;
      break;
    case '(':
      t.kind = T_OPEN;
      break;
    case ')':
      t.kind = T_CLOSE;
      break;
    case '[':
      t.kind = T_BRACKET;
      break;
    case '.':
      t.kind = T_ANY;
      break;
    case '^':
      t = {T_ANCHOR, c, ANCHOR_TEXT_START, 1};
      break;
    case '$':
      t = {T_ANCHOR, c, ANCHOR_TEXT_END, 1};
      break;
    default:
      break;
  }
  return t;
}

// Reads the interval after '{' as the platform does: "{m}", "{m,}", "{m,n}", "{,n}" and
// "{,}" (a missing lower bound is 0); a count is plain digits, and counts past
// MAX_REPEAT or a lower bound above the upper one are errors.
VELQ_RegexStatus Parser::readInterval(int *low, int *high) {
  Token last{};
  // A number up to '}' or ',': -1 when there is none, -2 when it is not one.
  auto number = [&]() -> int {
    int n = -1;
    for (;;) {
      last = fetch(at);
      at += last.length;
      if (last.kind == T_END) return -2;
      if (last.kind == T_CLOSE_BRACE || last.c == ',') break;
      if (last.kind != T_CHAR || last.c < '0' || last.c > '9' || n == -2) {
        n = -2;
      } else {
        n = n == -1
                ? last.c - '0'
                : (n * 10 + last.c - '0' > MAX_REPEAT + 1 ? MAX_REPEAT + 1 : n * 10 + last.c - '0');
      }
    }
    return n;
  };
  int start = number();
  if (start == -1) {
    if (last.kind != T_CHAR || last.c != ',') return VELQ_REGEX_INVALID;  // "{}"
    start = 0;
  }
  if (start == -2) return VELQ_REGEX_INVALID;
  int end;
  if (last.kind == T_CLOSE_BRACE) {
    end = start;
  } else if (last.kind == T_CHAR && last.c == ',') {
    end = number();
  } else {
    return VELQ_REGEX_INVALID;
  }
  if (end == -2 || (end != -1 && start > end) || last.kind != T_CLOSE_BRACE)
    return VELQ_REGEX_INVALID;
  if ((end == -1 ? start : end) > MAX_REPEAT) return VELQ_REGEX_INVALID;
  *low = start;
  *high = end;
  return VELQ_REGEX_OK;
}

BracketToken Parser::fetchInBracket(size_t position) const {
  if (position >= length) return {B_END, 0, 0};
  unsigned char c = fold(pattern[position]);
  if (c == '[') {
    unsigned char d = position + 1 < length ? pattern[position + 1] : 0;
    if (d == '.') return {B_COLL, c, 2};
    if (d == '=') return {B_EQUIV, c, 2};
    if (d == ':') return {B_CLASS, c, 2};
    return {B_CHAR, c, 1};
  }
  switch (c) {
    case '-':
      return {B_RANGE, c, 1};
    case ']':
      return {B_CLOSE, c, 1};
    case '^':
      return {B_NEGATE, c, 1};
    default:
      return {B_CHAR, c, 1};
  }
}

// Reads one element of a bracket whose token has been skipped: a byte, or "[.x.]",
// "[=x=]", "[:name:]". A '-' that is not at the end is an error unless it may be a
// range's end (or the first element).
VELQ_RegexStatus Parser::readElement(const BracketToken &token, bool hyphenIsChar,
                                     Element *element) {
  if (token.kind == B_COLL || token.kind == B_EQUIV || token.kind == B_CLASS) {
    unsigned char delimiter = token.kind == B_COLL ? '.' : token.kind == B_EQUIV ? '=' : ':';
    if (at >= length) return VELQ_REGEX_INVALID;
    int i = 0;
    for (;; i++) {
      if (i >= 32) return VELQ_REGEX_INVALID;
      unsigned char ch = token.kind == B_CLASS ? pattern[at] : fold(pattern[at]);
      at++;
      if (at >= length) return VELQ_REGEX_INVALID;
      if (ch == delimiter && pattern[at] == ']') break;
      element->name[i] = (char)ch;
    }
    at++;
    element->name[i] = '\0';
    element->kind = token.kind == B_COLL ? E_COLL : token.kind == B_EQUIV ? E_EQUIV : E_CLASS;
    return VELQ_REGEX_OK;
  }
  if (token.kind == B_RANGE && !hyphenIsChar && fetchInBracket(at).kind != B_CLOSE)
    return VELQ_REGEX_INVALID;
  element->kind = E_CHAR;
  element->c = token.c;
  return VELQ_REGEX_OK;
}

// Adds the bytes of a class, or all others (ignoring case, upper and lower are alpha).
bool Parser::addClass(ByteSet &set, const char *name, bool negate) {
  if (ignoreCase && (strcmp(name, "upper") == 0 || strcmp(name, "lower") == 0)) name = "alpha";
  for (const ClassName &k : CLASSES) {
    if (strcmp(k.name, name) != 0) continue;
    ByteSet members{};
    for (int c = 0; c < 256; c++)
      if (k.test(c)) members.add((unsigned char)c);
    for (int w = 0; w < 4; w++) set.bits[w] |= negate ? ~members.bits[w] : members.bits[w];
    return true;
  }
  return false;
}

VELQ_RegexStatus Parser::addElement(ByteSet &set, const Element &element) {
  switch (element.kind) {
    case E_CHAR:
      set.add(element.c);
      return VELQ_REGEX_OK;
    case E_COLL:
    case E_EQUIV:
      if (strlen(element.name) != 1) return VELQ_REGEX_INVALID;
      set.add((unsigned char)element.name[0]);
      return VELQ_REGEX_OK;
    case E_CLASS:
      return addClass(set, element.name, false) ? VELQ_REGEX_OK : VELQ_REGEX_INVALID;
  }
  return VELQ_REGEX_INVALID;
}

// Reads a bracket expression after its '[' into a new set.
VELQ_RegexStatus Parser::readBracket(uint32_t *setIndex) {
  ByteSet set{};
  bool negate = false;
  BracketToken token = fetchInBracket(at);
  if (token.kind == B_END) return VELQ_REGEX_INVALID;
  if (token.kind == B_NEGATE) {
    negate = true;
    at += token.length;
    token = fetchInBracket(at);
    if (token.kind == B_END) return VELQ_REGEX_INVALID;
  }
  if (token.kind == B_CLOSE) token.kind = B_CHAR;  // a ']' first is a byte
  bool first = true;
  for (;;) {
    Element start{}, end{};
    at += token.length;
    VELQ_RegexStatus status = readElement(token, first, &start);
    if (status != VELQ_REGEX_OK) return status;
    first = false;
    token = fetchInBracket(at);
    bool range = false;
    BracketToken endToken{};
    if (start.kind != E_CLASS && start.kind != E_EQUIV) {
      if (token.kind == B_END) return VELQ_REGEX_INVALID;
      if (token.kind == B_RANGE) {
        at += token.length;
        endToken = fetchInBracket(at);
        if (endToken.kind == B_END) return VELQ_REGEX_INVALID;
        if (endToken.kind == B_CLOSE) {
          at -= token.length;  // a '-' before the closing ']' is a byte
          token.kind = B_CHAR;
        } else {
          range = true;
        }
      }
    }
    if (range) {
      at += endToken.length;
      status = readElement(endToken, true, &end);
      if (status != VELQ_REGEX_OK) return status;
      token = fetchInBracket(at);
      if (end.kind == E_CLASS || end.kind == E_EQUIV) return VELQ_REGEX_INVALID;
      if ((start.kind == E_COLL && strlen(start.name) != 1) ||
          (end.kind == E_COLL && strlen(end.name) != 1))
        return VELQ_REGEX_INVALID;
      unsigned char from = start.kind == E_COLL ? (unsigned char)start.name[0] : start.c;
      unsigned char to = end.kind == E_COLL ? (unsigned char)end.name[0] : end.c;
      if (from > to) return VELQ_REGEX_INVALID;
      for (int c = from; c <= to; c++) set.add((unsigned char)c);
    } else {
      status = addElement(set, start);
      if (status != VELQ_REGEX_OK) return status;
    }
    if (token.kind == B_END) return VELQ_REGEX_INVALID;
    if (token.kind == B_CLOSE) break;
  }
  at += token.length;
  if (negate)
    for (uint64_t &w : set.bits) w = ~w;
  if (!sets.push(set)) {
    outOfMemory = true;
    return VELQ_REGEX_NO_MEMORY;
  }
  *setIndex = sets.count - 1;
  return VELQ_REGEX_OK;
}

// The set of \w (alnum and '_'), \W, \s (space) or \S.
bool Parser::classSet(const char *name, bool negate, uint32_t *setIndex) {
  ByteSet set{};
  ByteSet members{};
  addClass(members, name, false);
  if (strcmp(name, "alnum") == 0) members.add('_');
  for (int w = 0; w < 4; w++) set.bits[w] = negate ? ~members.bits[w] : members.bits[w];
  if (!sets.push(set)) return false;
  *setIndex = sets.count - 1;
  return true;
}

// Applies a repetition to the last thing read: it moves into a new node, and its own
// node becomes the repetition, so that the sequence keeps its links.
VELQ_RegexStatus Parser::repeatLast(const Level &level, int low, int high) {
  uint32_t item = nodes.items[currentSequence(level)].last;
  if (nodes.items[item].kind == AST_EMPTY) return VELQ_REGEX_OK;
  if (low == 0 && high == 0) {
    nodes.items[item].kind = AST_EMPTY;  // x{0} is nothing; its groups keep their numbers
    return VELQ_REGEX_OK;
  }
  if (low == 1 && high == 1) return VELQ_REGEX_OK;
  uint32_t moved = newNode(AST_EMPTY, 0);
  if (moved == NONE) return VELQ_REGEX_NO_MEMORY;
  Ast &copy = nodes.items[moved];
  copy = nodes.items[item];
  copy.next = NONE;
  Ast &repeat = nodes.items[item];
  repeat.kind = AST_REPEAT;
  repeat.child = moved;
  repeat.last = NONE;
  repeat.low = low;
  repeat.high = high;
  return VELQ_REGEX_OK;
}

VELQ_RegexStatus Parser::parse() {
  Growing<Level> levels;
  uint32_t top = newNode(AST_BRANCHES, 0);
  if (top == NONE || !openBranch(top) || !levels.push({top, NONE, false}))
    return VELQ_REGEX_NO_MEMORY;
  root = top;
  for (;;) {
    if (outOfMemory) return VELQ_REGEX_NO_MEMORY;
    Level &level = levels.items[levels.count - 1];
    Token token = fetch(at);
    at += token.length;
    uint32_t item = NONE;
    bool repeatable = true;
    switch (token.kind) {
      case T_END:
        if (levels.count > 1) return VELQ_REGEX_INVALID;  // a group left open
        return VELQ_REGEX_OK;
      case T_ALT:
        if (!openBranch(level.branches)) return VELQ_REGEX_NO_MEMORY;
        level.canRepeat = false;
        continue;
      case T_OPEN: {
        if (levels.count > VELQ_REGEX_MAX_NESTING) return VELQ_REGEX_UNSUPPORTED;
        uint32_t branches = newNode(AST_BRANCHES, 0);
        if (branches == NONE || !openBranch(branches) || !levels.push({branches, groups++, false}))
          return VELQ_REGEX_NO_MEMORY;
        continue;
      }
      case T_CLOSE:
        if (levels.count > 1) {
          Level closed = level;
          levels.count--;
          Level &parent = levels.items[levels.count - 1];
          item = newNode(AST_GROUP, closed.group);
          if (item == NONE) return VELQ_REGEX_NO_MEMORY;
          nodes.items[item].child = closed.branches;
          append(currentSequence(parent), item);
          parent.canRepeat = true;
          continue;
        }
        item = newNode(AST_BYTE, ')');  // a ')' without its '(' is a byte
        break;
      case T_STAR:
      case T_PLUS:
      case T_QUESTION:
      case T_OPEN_BRACE: {
        if (!level.canRepeat) return VELQ_REGEX_INVALID;
        int low = token.kind == T_PLUS ? 1 : 0;
        int high = token.kind == T_QUESTION ? 1 : -1;
        if (token.kind == T_OPEN_BRACE) {
          VELQ_RegexStatus status = readInterval(&low, &high);
          if (status != VELQ_REGEX_OK) return status;
        }
        VELQ_RegexStatus status = repeatLast(level, low, high);
        if (status != VELQ_REGEX_OK) return status;
        continue;
      }
      case T_CLOSE_BRACE:
      case T_CHAR:
        item = newNode(AST_BYTE, token.c);
        break;
      case T_ANY: {
        ByteSet any;
        for (uint64_t &w : any.bits) w = ~(uint64_t)0;
        any.bits[0] &= ~(uint64_t)1;  // every byte but zero
        if (!sets.push(any)) return VELQ_REGEX_NO_MEMORY;
        item = newNode(AST_SET, sets.count - 1);
        break;
      }
      case T_BRACKET: {
        uint32_t set;
        VELQ_RegexStatus status = readBracket(&set);
        if (status != VELQ_REGEX_OK) return status;
        item = newNode(AST_SET, set);
        break;
      }
      case T_CLASS: {
        uint32_t set;
        if (!classSet(token.value < 2 ? "alnum" : "space", token.value & 1, &set))
          return VELQ_REGEX_NO_MEMORY;
        item = newNode(AST_SET, set);
        break;
      }
      case T_ANCHOR:
        if (levels.count > 1) return VELQ_REGEX_UNSUPPORTED;  // see VELQ_REGEX_UNSUPPORTED
        item = newNode(AST_ANCHOR, token.value);
        repeatable = false;  // "^*" is an error
        break;
      case T_WORD_EDGE:
        if (levels.count > 1 || token.value == 1) return VELQ_REGEX_UNSUPPORTED;
        item = newNode(AST_WORD_EDGE, token.value);
        repeatable = false;
        break;
      case T_BACKREF:
        return VELQ_REGEX_UNSUPPORTED;
      case T_LONE_BACKSLASH:
        return VELQ_REGEX_INVALID;
    }
    if (item == NONE) return VELQ_REGEX_NO_MEMORY;
    append(currentSequence(levels.items[levels.count - 1]), item);
    levels.items[levels.count - 1].canRepeat = repeatable;
  }
}

// ---- Merging groups and measuring depth ----

// What the platform's tree holds for a node: a sequence or alternation of one part is
// that part; one of no parts is nothing (NONE).
uint32_t effective(const Growing<Ast> &nodes, uint32_t index) {
  while (index != NONE) {
    const Ast &node = nodes.items[index];
    if (node.kind == AST_EMPTY) return NONE;
    if (node.kind != AST_SEQUENCE && node.kind != AST_BRANCHES) return index;
    uint32_t only = NONE;
    int parts = 0;
    for (uint32_t c = node.child; c != NONE; c = nodes.items[c].next) {
      if (node.kind == AST_SEQUENCE && effective(nodes, c) == NONE) continue;
      only = c;
      parts++;
    }
    if (parts != 1) return parts == 0 ? NONE : index;
    index = only;
  }
  return NONE;
}

// Walks the tree from the root down (as the platform's merging pass does): a group whose
// expression is a group takes that group's expression, and the inner group reports the
// outer one's span. Checks the nesting against VELQ_REGEX_MAX_NESTING on the way.
VELQ_RegexStatus mergeGroups(Growing<Ast> &nodes, uint32_t root, uint32_t *reportedAs,
                             uint32_t tracked) {
  struct Visit {
    uint32_t node;
    uint32_t depth;
  };
  Growing<Visit> stack;
  if (!stack.push({root, 0})) return VELQ_REGEX_NO_MEMORY;
  while (stack.count > 0) {
    Visit visit = stack.items[--stack.count];
    if (visit.depth > 3 * VELQ_REGEX_MAX_NESTING + 3) return VELQ_REGEX_UNSUPPORTED;
    Ast &node = nodes.items[visit.node];
    if (node.kind == AST_GROUP) {
      uint32_t inner = effective(nodes, node.child);
      if (inner != NONE && nodes.items[inner].kind == AST_GROUP) {
        uint32_t innerGroup = nodes.items[inner].value;
        if (innerGroup < tracked) reportedAs[innerGroup] = reportedAs[node.value];
        node.child = nodes.items[inner].child;
      }
    }
    for (uint32_t c = node.child; c != NONE; c = nodes.items[c].next)
      if (!stack.push({c, visit.depth + 1})) return VELQ_REGEX_NO_MEMORY;
  }
  return VELQ_REGEX_OK;
}

// ---- Repetitions of what may match nothing ----

// Whether a part may match the empty text, and whether it holds a group.
struct Traits {
  bool empty;
  bool group;
};

// Finds a repetition with optional copies of a part that may match nothing and holds a
// group: how the platform's matcher sets that group depends on its walk through copies
// that matched nothing, which velq's does not follow (and where the platform may loop
// for ever), so such patterns are left to it. True when there is one.
bool emptyLoopWithGroup(const Growing<Ast> &nodes, uint32_t index, Traits *traits) {
  *traits = {true, false};
  index = effective(nodes, index);
  if (index == NONE) return false;
  const Ast &node = nodes.items[index];
  switch (node.kind) {
    case AST_BYTE:
    case AST_SET:
      traits->empty = false;
      return false;
    case AST_SEQUENCE:
    case AST_BRANCHES: {
      bool sequence = node.kind == AST_SEQUENCE;
      traits->empty = sequence;
      for (uint32_t c = node.child; c != NONE; c = nodes.items[c].next) {
        Traits part;
        if (emptyLoopWithGroup(nodes, c, &part)) return true;
        traits->empty = sequence ? traits->empty && part.empty : traits->empty || part.empty;
        traits->group = traits->group || part.group;
      }
      return false;
    }
    case AST_GROUP:
      if (emptyLoopWithGroup(nodes, node.child, traits)) return true;
      traits->group = true;
      return false;
    case AST_REPEAT:
      if (emptyLoopWithGroup(nodes, node.child, traits)) return true;
      if (node.high != node.low && traits->empty && traits->group) return true;
      traits->empty = traits->empty || node.low == 0;
      return false;
    default:
      return false;
  }
}

// ---- Counting and building ----

// The graph's nodes for a part of the tree, with its repetitions copied out (a double,
// so that no pattern overflows it).
double countNodes(const Growing<Ast> &nodes, uint32_t index) {
  index = effective(nodes, index);
  if (index == NONE) return 0;
  const Ast &node = nodes.items[index];
  switch (node.kind) {
    case AST_BYTE:
    case AST_SET:
    case AST_ANCHOR:
      return 1;
    case AST_WORD_EDGE:
      return 3;
    case AST_SEQUENCE: {
      double sum = 0;
      for (uint32_t c = node.child; c != NONE; c = nodes.items[c].next) sum += countNodes(nodes, c);
      return sum;
    }
    case AST_BRANCHES: {
      double sum = 0;
      for (uint32_t c = node.child; c != NONE; c = nodes.items[c].next)
        sum += countNodes(nodes, c) + (c == node.child ? 0 : 1);
      return sum;
    }
    case AST_GROUP:
      return 2 + countNodes(nodes, node.child);
    case AST_REPEAT: {
      double one = countNodes(nodes, node.child);
      if (one == 0) return 0;
      double optional = node.high < 0 ? one + 1 : (double)(node.high - node.low) * (one + 1);
      return node.low * one + optional;
    }
    case AST_EMPTY:
      return 0;
  }
  return 0;
}

// A piece of the graph under construction: its first node, and the links still to be
// pointed at whatever follows it (a list threaded through those links).
struct Piece {
  uint32_t first = NONE;
  uint32_t head = NONE;  // slot: node * 2 + (0: next, 1: other)
  uint32_t tail = NONE;
  bool empty() const { return first == NONE; }
};

class Builder {
 public:
  Builder(const Growing<Ast> &tree, Node *nodes, uint32_t tracked)
      : tree(tree), nodes(nodes), tracked(tracked) {}

  Piece build(uint32_t index, bool optional, bool original);
  void point(const Piece &piece, uint32_t target);
  uint32_t count = 0;

 private:
  uint32_t &slot(uint32_t s) { return s & 1 ? nodes[s >> 1].other : nodes[s >> 1].next; }
  uint32_t add(NodeKind kind, uint32_t value) {
    nodes[count] = {kind, 0, 0, value, NONE, NONE};
    return count++;
  }
  Piece single(uint32_t node) { return {node, node * 2, node * 2}; }
  void join(Piece &links, uint32_t head, uint32_t tail);
  Piece sequence(Piece left, const Piece &right);
  Piece fork(const Piece &left, const Piece &right);
  Piece star(const Piece &body);

  const Growing<Ast> &tree;
  Node *nodes;
  uint32_t tracked;
};

void Builder::join(Piece &links, uint32_t head, uint32_t tail) {
  if (head == NONE) return;
  if (links.head == NONE) {
    links.head = head;
  } else {
    slot(links.tail) = head;
  }
  links.tail = tail;
}

void Builder::point(const Piece &piece, uint32_t target) {
  for (uint32_t s = piece.head; s != NONE;) {
    uint32_t following = s == piece.tail ? NONE : slot(s);
    slot(s) = target;
    s = following;
  }
}

Piece Builder::sequence(Piece left, const Piece &right) {
  if (left.empty()) return right;
  if (right.empty()) return left;
  point(left, right.first);
  return {left.first, right.head, right.tail};
}

// A fork made after both of its ways (either may be nothing: it goes on to what follows).
Piece Builder::fork(const Piece &left, const Piece &right) {
  uint32_t node = add(NODE_FORK, 0);
  Piece out{node, NONE, NONE};
  join(out, left.head, left.tail);
  join(out, right.head, right.tail);
  if (left.empty()) {
    join(out, node * 2, node * 2);
  } else {
    nodes[node].next = left.first;
  }
  if (right.empty()) {
    join(out, node * 2 + 1, node * 2 + 1);
  } else {
    nodes[node].other = right.first;
  }
  return out;
}

Piece Builder::star(const Piece &body) {
  uint32_t node = add(NODE_FORK, 0);
  point(body, node);
  nodes[node].next = body.first;
  return {node, node * 2 + 1, node * 2 + 1};
}

// Builds a part of the tree. `optional`: the part is a group that a repetition marks as
// optional (its copies from zero times on). `original`: this is the first copy of the part
// where the platform's compiler copies it out; marks survive only in first copies, since
// its copies of a part lose the marks made in the part before.
Piece Builder::build(uint32_t index, bool optional, bool original) {
  index = effective(tree, index);
  if (index == NONE) return {};
  const Ast &node = tree.items[index];
  switch (node.kind) {
    case AST_BYTE:
      return single(add(NODE_BYTE, node.value));
    case AST_SET:
      return single(add(NODE_SET, node.value));
    case AST_ANCHOR:
      return single(add(NODE_ASSERT, node.value));
    case AST_WORD_EDGE: {
      Piece a = single(add(NODE_ASSERT, node.value ? ANCHOR_INSIDE_WORD : ANCHOR_WORD_FIRST));
      Piece b = single(add(NODE_ASSERT, node.value ? ANCHOR_INSIDE_NOWORD : ANCHOR_WORD_LAST));
      return fork(a, b);
    }
    case AST_SEQUENCE: {
      Piece whole;
      for (uint32_t c = node.child; c != NONE; c = tree.items[c].next)
        whole = sequence(whole, build(c, false, original));
      return whole;
    }
    case AST_BRANCHES: {
      Piece whole = build(node.child, false, original);
      for (uint32_t c = tree.items[node.child].next; c != NONE; c = tree.items[c].next)
        whole = fork(whole, build(c, false, original));
      return whole;
    }
    case AST_GROUP: {
      uint32_t group = node.value < tracked ? node.value : NONE;
      Piece open = group == NONE ? Piece{} : single(add(NODE_OPEN, group));
      Piece body = build(node.child, false, original);
      Piece close;
      if (group != NONE) {
        close = single(add(NODE_CLOSE, group));
        nodes[close.first].optional = optional ? 1 : 0;
      }
      return sequence(sequence(open, body), close);
    }
    case AST_REPEAT: {
      // x{m,n}: m copies, then the optional ones: x* for no bound, else (((x?) x)? x)?.
      // A repeated group is marked optional in the first optional copy, which is the
      // first copy of x when m is 0 and a new one otherwise.
      uint32_t repeated = effective(tree, node.child);
      if (repeated == NONE) return {};
      bool mark = original && tree.items[repeated].kind == AST_GROUP;
      Piece whole;
      for (int i = 0; i < node.low; i++)
        whole = sequence(whole, build(node.child, false, original && i == 0));
      if (node.high == node.low) return whole;
      Piece rest;
      Piece first = build(node.child, mark, original && node.low == 0);
      if (node.high < 0) {
        rest = star(first);
      } else {
        rest = fork(first, {});
        for (int i = node.low + 2; i <= node.high; i++)
          rest = fork(sequence(rest, build(node.child, false, false)), {});
      }
      return sequence(whole, rest);
    }
    case AST_EMPTY:
      return {};
  }
  return {};
}

// The number of nodes of the graph, and that the groups that are tracked are known.
uint32_t trackedGroups(uint32_t groups) {
  return groups < (uint32_t)VELQ_REGEX_MAX_GROUPS ? groups : (uint32_t)VELQ_REGEX_MAX_GROUPS;
}

// Rounds a size up to the alignment of what may follow it in the block.
size_t aligned(size_t size) { return (size + 15) & ~(size_t)15; }

}  // namespace

VELQ_RegexStatus velqRegexCompile(const char *pattern, bool ignoreCase, VELQ_Regex **compiled,
                                  VELQ_RegexAllowance allowance, void *context) {
  *compiled = nullptr;
  Parser parser(pattern, ignoreCase);
  VELQ_RegexStatus status = parser.parse();
  if (status != VELQ_REGEX_OK) return status;

  uint32_t tracked = trackedGroups(parser.groups);
  Growing<uint32_t> reportedAs;
  for (uint32_t g = 0; g < tracked; g++)
    if (!reportedAs.push(g)) return VELQ_REGEX_NO_MEMORY;
  status = mergeGroups(parser.nodes, parser.root, reportedAs.items, tracked);
  if (status != VELQ_REGEX_OK) return status;

  Traits traits;
  if (emptyLoopWithGroup(parser.nodes, parser.root, &traits)) return VELQ_REGEX_UNSUPPORTED;

  double counted = countNodes(parser.nodes, parser.root) + 1;  // and the end
  if (counted > VELQ_REGEX_MAX_NODES) {
    // Too large to build: a budget refuses it as its own (each node takes a node, two
    // ways and two frames at least); without one, it is refused as the platform's
    // compiler would run out of memory on it.
    double least = counted * (sizeof(Node) + 2 * sizeof(Thread) + 2 * sizeof(Frame));
    if (velqBudgetAllows(least)) velqNoteAllocationFailure(VELQ_SYSTEM_REFUSED);
    return VELQ_REGEX_NO_MEMORY;
  }
  uint32_t nodeCount = (uint32_t)counted;
  size_t width = (size_t)4 * tracked;  // positions per way
  uint32_t frameCapacity = 2 * nodeCount + 2;
  size_t sizes[] = {
      aligned(sizeof(VELQ_Regex)),
      aligned((size_t)nodeCount * sizeof(Node)),
      aligned((size_t)parser.sets.count * sizeof(ByteSet)),
      aligned((size_t)tracked * sizeof(uint32_t)),
      aligned((size_t)nodeCount * sizeof(Thread)),
      aligned((size_t)nodeCount * sizeof(Thread)),
      aligned((size_t)nodeCount * width * sizeof(long long)),
      aligned((size_t)nodeCount * width * sizeof(long long)),
      aligned((size_t)frameCapacity * sizeof(Frame)),
      aligned((size_t)frameCapacity * width * sizeof(long long)),
      aligned(width * sizeof(long long)),
      aligned(width * sizeof(long long)),
      aligned((size_t)nodeCount * 2 * sizeof(uint32_t)),
      aligned((size_t)nodeCount * 2 * sizeof(uint32_t)),
  };
  size_t total = 0;
  for (size_t s : sizes) total += s;
  char *block;
  if (allowance) {
    if (!allowance((double)total, context)) return VELQ_REGEX_NO_MEMORY;
    VELQ_BudgetPause pause;
    block = static_cast<char *>(velqAllocate(total));
  } else {
    block = static_cast<char *>(velqAllocate(total));
  }
  if (!block) return VELQ_REGEX_NO_MEMORY;
  memset(block, 0, total);
  char *parts[sizeof sizes / sizeof sizes[0]];
  size_t offset = 0;
  for (size_t i = 0; i < sizeof sizes / sizeof sizes[0]; i++) {
    parts[i] = block + offset;
    offset += sizes[i];
  }
  VELQ_Regex *regex = reinterpret_cast<VELQ_Regex *>(parts[0]);
  regex->size = total;
  regex->nodes = reinterpret_cast<Node *>(parts[1]);
  ByteSet *sets = reinterpret_cast<ByteSet *>(parts[2]);
  if (parser.sets.count) memcpy(sets, parser.sets.items, parser.sets.count * sizeof(ByteSet));
  regex->sets = sets;
  regex->reportedAs = reinterpret_cast<uint32_t *>(parts[3]);
  if (tracked) memcpy(regex->reportedAs, reportedAs.items, tracked * sizeof(uint32_t));
  regex->threads[0] = reinterpret_cast<Thread *>(parts[4]);
  regex->threads[1] = reinterpret_cast<Thread *>(parts[5]);
  regex->captures[0] = reinterpret_cast<long long *>(parts[6]);
  regex->captures[1] = reinterpret_cast<long long *>(parts[7]);
  regex->frames = reinterpret_cast<Frame *>(parts[8]);
  regex->frameCaptures = reinterpret_cast<long long *>(parts[9]);
  regex->frameCapacity = frameCapacity;
  regex->current = reinterpret_cast<long long *>(parts[10]);
  regex->best = reinterpret_cast<long long *>(parts[11]);
  regex->visited = reinterpret_cast<uint32_t *>(parts[12]);
  regex->onWay = reinterpret_cast<uint32_t *>(parts[13]);
  regex->generation = 0;
  regex->groupCount = parser.groups;
  regex->tracked = tracked;
  regex->ignoreCase = ignoreCase;

  Builder builder(parser.nodes, regex->nodes, tracked);
  Piece whole = builder.build(parser.root, false, true);
  uint32_t end = builder.count;
  regex->nodes[end] = {NODE_MATCH, 0, 0, 0, NONE, NONE};
  builder.point(whole, end);
  regex->startNode = whole.empty() ? end : whole.first;
  const Node &first = regex->nodes[regex->startNode];
  regex->anchored = first.kind == NODE_ASSERT && first.value == ANCHOR_TEXT_START;
  regex->nodeCount = end + 1;
  // A fork prefers the way to the node made first; one whose ways meet is a jump.
  for (uint32_t i = 0; i < regex->nodeCount; i++) {
    Node &node = regex->nodes[i];
    if (node.kind != NODE_FORK) continue;
    if (node.next == node.other) {
      node.kind = NODE_JUMP;
    } else if (node.other < node.next) {
      uint32_t swap = node.next;
      node.next = node.other;
      node.other = swap;
    }
  }
  *compiled = regex;
  return VELQ_REGEX_OK;
}

void velqRegexFree(VELQ_Regex *regex) { velqRelease(regex); }

uint32_t velqRegexGroupCount(const VELQ_Regex *regex) { return regex->groupCount; }

size_t velqRegexSize(const VELQ_Regex *regex) { return regex->size; }
