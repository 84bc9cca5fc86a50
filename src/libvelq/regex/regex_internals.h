// The compiled form of a regular expression, shared by its compiler (regex_compile.cpp)
// and its matcher (regex_match.cpp).
//
// The compiled form is a graph of nodes, numbered and linked as the platform's compiler
// numbers and links the nodes of its own automaton: the nodes are made in the order of
// a post-order walk of the expression's tree, where a counted repetition stands for its
// copies. A node that can go two ways without reading (an alternative, a repetition)
// lists the node with the lower number first, and the matcher prefers that way; this
// order is what decides which of the ways to match the same text sets the groups.
#ifndef VELQ_REGEX_INTERNALS_H
#define VELQ_REGEX_INTERNALS_H

#include <stdint.h>

#include "regex/regex.h"

namespace velq_regex {

const uint32_t NONE = 0xFFFFFFFFu;

enum NodeKind : uint8_t {
  NODE_BYTE,    // reads the byte `value`, then goes to `next`
  NODE_SET,     // reads a byte of set number `value`
  NODE_FORK,    // goes to `next` or, less preferred, to `other`, without reading
  NODE_JUMP,    // goes to `next` without reading
  NODE_ASSERT,  // goes to `next` when the position has the context `value` (AnchorKind)
  NODE_OPEN,    // group `value` (from 0) starts here
  NODE_CLOSE,   // group `value` ends here; `optional` when it is the optional copy
  NODE_MATCH,   // the end of the expression
};

enum AnchorKind : uint8_t {
  ANCHOR_TEXT_START,     // ^ and \`
  ANCHOR_TEXT_END,       // $ and \'
  ANCHOR_WORD_FIRST,     // \<, and one way of \b
  ANCHOR_WORD_LAST,      // \>, and the other way of \b
  ANCHOR_INSIDE_WORD,    // one way of \B
  ANCHOR_INSIDE_NOWORD,  // the other way of \B
};

struct Node {
  NodeKind kind;
  uint8_t optional;  // NODE_CLOSE: the group repeated from zero times
  uint16_t unused;
  uint32_t value;  // the byte, set, anchor or group
  uint32_t next;
  uint32_t other;  // NODE_FORK only
};

// 256 bits, one per byte value.
struct ByteSet {
  uint64_t bits[4];
  bool has(unsigned char c) const { return (bits[c >> 6] >> (c & 63)) & 1; }
  void add(unsigned char c) { bits[c >> 6] |= (uint64_t)1 << (c & 63); }
};

// One way the matcher is following: the node where it waits for the next byte, where
// its match started, and (in the capture store) its groups.
struct Thread {
  uint32_t node;
  uint32_t unused;
  long long start;
};

// A pending piece of work of the walk that follows the ways without reading: a way to
// try later (a node, with groups in the capture store) or the end of a fork's first way.
struct Frame {
  uint32_t node;
  uint8_t endsFork;  // 1: only clears the node's mark of being on the current way
  uint8_t anchored;  // the way passed an anchor since its last byte
  uint16_t unused;
  long long start;
};

}  // namespace velq_regex

// Everything lives in one block: the struct, then the arrays it points into.
struct VELQ_Regex {
  size_t size;  // of the whole block
  velq_regex::Node *nodes;
  uint32_t nodeCount;
  uint32_t startNode;
  const velq_regex::ByteSet *sets;
  uint32_t groupCount;   // all groups of the pattern
  uint32_t tracked;      // the groups whose texts are followed: at most VELQ_REGEX_MAX_GROUPS
  uint32_t *reportedAs;  // per tracked group: the group whose span it reports
  bool ignoreCase;
  bool anchored;  // every match starts with ^ or \`: only at the text's start

  // The working memory of a match. Each way carries 4 * tracked positions: each group's
  // start and end, and the same as they were at the last group that closed on a
  // non-empty text (a group repeated from zero times that closes empty goes back to it).
  velq_regex::Thread *threads[2];
  long long *captures[2];
  velq_regex::Frame *frames;
  long long *frameCaptures;
  uint32_t frameCapacity;
  long long *current;  // the groups of the way being followed
  long long *best;     // those of the best match so far
  // Per node and per kind of way (anchored or not, see regex_match.cpp): the generation
  // that reached it at this position, and the one whose current way passes through it.
  uint32_t *visited;
  uint32_t *onWay;
  uint32_t generation;
};

#endif
