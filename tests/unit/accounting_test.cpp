// The memory budget's accounting, checked by amounts rather than against endless growth:
// each kind of allocation counts what it takes and gives it back when it is released;
// a script needs the budget its data takes; the estimate that guards the regular
// expression compiler charges what its model says. Also the work that runs long inside
// one instruction (a wildcard match, an array copy) against cancellation, a deadline,
// and a host's copy outside any run.
#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "regex/regex.h"
#include "regex/regex_internals.h"
#include "runtime/memory.h"
#include "test_access.h"
#include "velq.h"
#include "vm/regex_cost.h"

namespace {

// Sanitizer builds take every object from the system instead of the pools.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
const bool poolsOn = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
const bool poolsOn = false;
#else
const bool poolsOn = true;
#endif
#else
const bool poolsOn = true;
#endif

// A budget set for this thread for the life of the object.
struct Budget {
  explicit Budget(unsigned long long limit) : budget{0, limit} {
    velqClearAllocationFailure();
    saved = velqSetMemoryBudget(&budget);
  }
  ~Budget() {
    velqSetMemoryBudget(saved);
    velqClearAllocationFailure();
  }
  VELQ_MemoryBudget budget;
  VELQ_MemoryBudget *saved;
};

// What a block of the system takes: its usable size and the allocator's size word.
long long systemCost(void *block) { return (long long)malloc_usable_size(block) + 8; }

// What an object of size bytes is counted as: the system's chunk for its pool's size
// (the pool's size and a size word, rounded up to 16 bytes, at least 32), or the
// system's block.
long long objectCost(size_t size, long long pooledChunk, void *block) {
  (void)size;
  return poolsOn ? pooledChunk : systemCost(block);
}

TEST(MemoryAccounting, EachAllocationCountsWhatItTakesAndItsReleaseGivesItBack) {
  Budget b(0);
  struct Pooled {
    size_t size;
    long long chunk;
  } pooled[] = {{1, 32}, {8, 32}, {20, 32}, {24, 32}, {25, 48}, {40, 48}, {128, 144}};
  for (const Pooled &p : pooled) {
    size_t size = p.size;
    SCOPED_TRACE(size);
    void *block = velqAllocateObject(size);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(b.budget.used, objectCost(size, p.chunk, block));
    velqReleaseObject(block, size);
    EXPECT_EQ(b.budget.used, 0);
  }
  for (size_t size : {129, 4096, 1 << 20}) {  // too large for the pools
    SCOPED_TRACE(size);
    void *block = velqAllocateObject(size);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(b.budget.used, systemCost(block));
    velqReleaseObject(block, size);
    EXPECT_EQ(b.budget.used, 0);
  }
  void *block = velqAllocate(3000);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(b.budget.used, systemCost(block));
  block = velqReallocate(block, 300000);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(b.budget.used, systemCost(block));
  block = velqReallocate(block, 100);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(b.budget.used, systemCost(block));
  velqRelease(block);
  EXPECT_EQ(b.budget.used, 0);
  char *text = velqCopyText("abc", 3);
  ASSERT_NE(text, nullptr);
  EXPECT_GE(b.budget.used, 4);
  velqRelease(text);
  EXPECT_EQ(b.budget.used, 0);
  EXPECT_FALSE(velqAllocationFailed());
}

// Blocks allocated before the budget was set (a host's argument) are not credited to it
// when released under it: the count never drops below zero, so what they took cannot be
// spent again on top of the budget.
TEST(MemoryAccounting, ReleasingBlocksTheBudgetDidNotCountCreditsNothing) {
  void *foreign = velqAllocate(1 << 20);
  void *foreignObject = velqAllocateObject(64);
  ASSERT_NE(foreign, nullptr);
  ASSERT_NE(foreignObject, nullptr);
  Budget b(1 << 16);
  velqRelease(foreign);
  velqReleaseObject(foreignObject, 64);
  EXPECT_EQ(b.budget.used, 0);
  void *most = velqAllocate(60000);
  ASSERT_NE(most, nullptr);
  EXPECT_EQ(velqAllocate(8000), nullptr);
  EXPECT_EQ(velqAllocationFailure(), VELQ_BUDGET_REFUSED);
  velqRelease(most);
  EXPECT_EQ(b.budget.used, 0);
}

TEST(MemoryAccounting, AnAllocationPastTheLimitIsRefusedAndCountsNothing) {
  struct Case {
    const char *name;
    void *(*allocate)();
  } cases[] = {
      {"pooled", [] { return velqAllocateObject(64); }},
      {"large object", [] { return velqAllocateObject(4096); }},
      {"block", [] { return velqAllocate(4096); }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Budget b(40);
    b.budget.used = 10;  // 30 bytes left
    EXPECT_EQ(c.allocate(), nullptr);
    EXPECT_EQ(b.budget.used, 10);
    EXPECT_EQ(velqAllocationFailure(), VELQ_BUDGET_REFUSED);
  }
  // A block that fits exactly is given; a grown block past the limit keeps its size.
  Budget b(0);
  void *block = velqAllocate(1000);
  ASSERT_NE(block, nullptr);
  long long used = b.budget.used;
  b.budget.limit = (unsigned long long)used;
  EXPECT_EQ(velqReallocate(block, 100000), nullptr);
  EXPECT_EQ(b.budget.used, used);
  EXPECT_EQ(velqAllocationFailure(), VELQ_BUDGET_REFUSED);
  velqRelease(block);
  EXPECT_EQ(b.budget.used, 0);
  void *pooled = velqAllocateObject(24);
  ASSERT_NE(pooled, nullptr);
  long long cost = b.budget.used;
  velqReleaseObject(pooled, 24);
  b.budget.limit = (unsigned long long)cost;
  pooled = velqAllocateObject(24);
  EXPECT_NE(pooled, nullptr);
  EXPECT_EQ(b.budget.used, cost);
  velqReleaseObject(pooled, 24);
}

TEST(MemoryAccounting, ValuesTextsAndArraysGiveBackAllTheyTook) {
  Budget b(0);
  VELQ_Value *value = new VELQ_Value("a short text");
  ASSERT_NE(value, nullptr);
  EXPECT_GT(b.budget.used, (long long)sizeof(VELQ_Value));  // the value and its text
  delete value;
  EXPECT_EQ(b.budget.used, 0);

  VELQ_Array *array = new VELQ_Array();
  ASSERT_NE(array, nullptr);
  long long empty = b.budget.used;
  for (int32_t i = 0; i < 1000; i++) array->set(i, new VELQ_Value(i));
  // Every element: its value and its slot.
  EXPECT_GE(b.budget.used - empty,
            1000 * (long long)(sizeof(VELQ_Value) + sizeof(VELQ_ArrayElement)));
  VELQ_Array *copy = new VELQ_Array(array);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->getSize(), 1000);
  delete copy;
  delete array;
  EXPECT_EQ(b.budget.used, 0);
}

TEST(ArrayCopy, AHostsCopyOutsideARunGetsEveryElement) {
  // More elements than a copy copies between two looks at the run's limits.
  const int32_t count = 200000;
  VELQ_Array source;
  for (int32_t i = 0; i < count; i++) source.set(i, new VELQ_Value(i));
  VELQ_Array copy(&source);
  ASSERT_EQ(copy.getSize(), count);
  const VELQ_ArrayElement *last = copy.getElement(count - 1);
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->index, count - 1);
  ASSERT_NE(last->value, nullptr);
  EXPECT_EQ(last->value->getValueAsInt32(), count - 1);
}

// ---- Budgets as scripts see them ----

struct Compiled {
  explicit Compiled(const std::string &source) {
    char error[VELQ_COMPILE_ERROR_SIZE] = "";
    program = VELQCompile(source.c_str(), error, sizeof error);
    if (!program) ADD_FAILURE() << error << "\n" << source;
  }
  ~Compiled() { delete program; }
  VELQ_Program *program;
};

struct Outcome {
  int status;
  std::string error;
  std::string result;
};

Outcome runOnce(VELQ_Program *program) {
  VELQ_Environment *environment = new VELQ_Environment();
  VELQRegisterToolkit(environment);
  int status = program->run(environment, 0, nullptr, nullptr, nullptr, nullptr);
  VELQ_Value *result = program->getResult();
  const char *text = result ? result->getValueAsCString() : nullptr;
  return {status, program->getErrorText(), text ? text : "<none>"};
}

// Runs the program while another thread cancels it again and again, from 300 ms on: a
// script that builds its text first (a few milliseconds) is then busy with long work.
Outcome runCancelled(VELQ_Program *program) {
  std::atomic<bool> done{false};
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    while (!done.load()) {
      program->cancel();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  Outcome out = runOnce(program);
  done = true;
  canceller.join();
  return out;
}

// Whether the script, compiled afresh (a program keeps its compiled patterns from run
// to run), runs to its end under the memory limit.
bool runsUnder(const std::string &source, long long limit) {
  Compiled compiled(source);
  if (!compiled.program) return false;
  compiled.program->setMemoryLimit((unsigned long long)limit);
  return runOnce(compiled.program).status == 0;
}

// The smallest memory limit under which the script runs to its end (found by halving;
// a run needs more memory, never less, under a smaller limit).
long long smallestBudget(const std::string &source) {
  long long low = 0, high = 1LL << 25;  // low fails, high passes
  if (!runsUnder(source, high)) {
    ADD_FAILURE() << "does not run: " << source;
    return -1;
  }
  while (high - low > 1) {
    long long middle = low + (high - low) / 2;
    if (runsUnder(source, middle)) {
      high = middle;
    } else {
      low = middle;
    }
  }
  return high;
}

// A script that keeps n items of some kind alive at once, then returns.
std::string keeping(const char *item, int n) {
  return "sub main() { array a; i = 0; while (i < " + std::to_string(n) + ") { " + item +
         " i++; } return Count(a); }";
}

TEST(ScriptBudgets, EachKindOfDataNeedsTheMemoryItTakes) {
  // The budget that n more items need, between bounds per item: a kind that is not
  // counted needs nothing more, one counted twice needs too much.
  struct Case {
    const char *name;
    const char *item;
    long long least;
    long long most;
  } cases[] = {
      {"texts too large for the pools", "a[i] = left(\"x\", 4096);", 4097, 4400},
      {"short texts", "a[i] = \"t\" . i;", 24, 200},
      {"numbers in an array's slots", "a[i] = i;", (long long)sizeof(VELQ_ArrayElement), 120},
      {"copies of an array", "a[i] = i; c = a;", 24, 400},
      {"texts made and dropped", "t = left(\"x\", 4096) . i;", 0, 1},
      {"short texts made and dropped", "t = \"t\" . i; u = t . t;", 0, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    long long few = smallestBudget(keeping(c.item, 200));
    long long many = smallestBudget(keeping(c.item, 600));
    ASSERT_GT(few, 0);
    double perItem = (double)(many - few) / 400;
    EXPECT_GE(perItem, (double)c.least);
    EXPECT_LE(perItem, (double)c.most);
  }
}

TEST(ScriptBudgets, DataPastTheLimitStopsTheRunAndDataWithinItDoesNot) {
  struct Case {
    const char *name;
    std::string source;
    unsigned long long limit;
    const char *error;  // null: the run must succeed
  } cases[] = {
      {"2000 texts of 4 KB under 2 MB", keeping("a[i] = left(\"x\", 4096);", 2000), 2 << 20,
       "Error 28 in line 1: Memory limit exceeded"},
      {"200 texts of 4 KB under 2 MB", keeping("a[i] = left(\"x\", 4096);", 200), 2 << 20, nullptr},
      {"20000 short texts under 1 MB", keeping("a[i] = \"t\" . i;", 20000), 1 << 20,
       "Error 28 in line 1: Memory limit exceeded"},
      {"100000 short texts made and dropped under 1 MB",
       keeping("t = \"t\" . i; u = t . t . t;", 100000), 1 << 20, nullptr},
      {"100000 array slots under 1 MB", keeping("a[i] = i;", 100000), 1 << 20,
       "Error 28 in line 1: Memory limit exceeded"},
      {"a copy of 40000 elements under 1 MB",
       "sub main() { array a; i = 0; while (i < 40000) { a[i] = i; i++; } b = a; c = b; "
       "return 0; }",
       1 << 20, "Error 28 in line 1: Memory limit exceeded"},
      {"a pattern whose copies exceed 4 MB", "sub main() { return \"x\" match \"a{1,30000}\"; }",
       4 << 20, "Error 28 in line 1: Memory limit exceeded"},
      {"a pattern left to the platform whose estimate exceeds 4 MB",
       "sub main() { return \"x\" match \"(a{1,1000})\\1\"; }", 4 << 20,
       "Error 28 in line 1: Memory limit exceeded"},
      {"a pattern of as many plain copies under 4 MB",
       "sub main() { return \"x\" match \"a{1000}\"; }", 4 << 20, nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Compiled compiled(c.source);
    ASSERT_NE(compiled.program, nullptr);
    compiled.program->setMemoryLimit(c.limit);
    Outcome out = runOnce(compiled.program);
    if (c.error) {
      EXPECT_EQ(out.status, -1);
      EXPECT_EQ(out.error, c.error);
    } else {
      EXPECT_EQ(out.status, 0) << out.error;
    }
  }
}

TEST(ScriptBudgets, AMatchNeedsTheSizeOfItsCompiledPattern) {
  // Each node of the graph takes itself, a place in both lists of ways, two frames of the
  // walk and two marks per kind of way; and per group it follows, four positions in each
  // way and frame.
  using namespace velq_regex;
  const double perNode = sizeof(Node) + 2 * sizeof(Thread) + 2 * sizeof(Frame) + 4 * 4;
  const double perNodeAndGroup = 4 * 4 * sizeof(long long);
  long long thousand = smallestBudget("sub main() { return \"x\" match \"a{1000}\"; }");
  long long twoThousand = smallestBudget("sub main() { return \"x\" match \"a{2000}\"; }");
  EXPECT_NEAR((double)(twoThousand - thousand), 1000 * perNode, 64.0);
  // (a) is three nodes: the group's open and close, and the byte.
  thousand = smallestBudget("sub main() { return \"x\" match \"(a){1000}\"; }");
  twoThousand = smallestBudget("sub main() { return \"x\" match \"(a){2000}\"; }");
  EXPECT_NEAR((double)(twoThousand - thousand), 3000 * (perNode + perNodeAndGroup), 64.0);
}

TEST(ScriptBudgets, APatternLeftToThePlatformNeedsItsEstimate) {
  // A back-reference is the platform's: (a{1000}) and (a{2000}) differ by 1000 nodes of
  // 256 + 8 * 4 bytes each in its model (each copy reaches the next, the group's ends add
  // two).
  long long thousand = smallestBudget("sub main() { return \"x\" match \"(a{1000})\\1\"; }");
  long long twoThousand = smallestBudget("sub main() { return \"x\" match \"(a{2000})\\1\"; }");
  EXPECT_NEAR((double)(twoThousand - thousand), 288000.0, 64.0);
}

TEST(RegexCost, FollowsItsModelOfNodesAndReach) {
  // nodes * (256 + 8 * reach), where reach is the largest set of nodes reachable
  // without reading a byte.
  struct Case {
    const char *pattern;
    double nodes;
    double reach;
  } cases[] = {
      {"a", 1, 1},
      {"abc", 3, 1},
      {"a{1000}", 1000, 2},       // plain copies: each reaches only the next
      {"a{1,1000}", 1000, 1001},  // 999 optional copies nest
      {"a{3,}", 4, 3},
      {"a*", 1, 4},          // the optional copy may match nothing: the point before it reaches it
      {"(a?){10}", 30, 60},  // copies that may match nothing all reach one another
      {"a|b", 3, 3},
      {"[a-z]{2}\\.", 3, 2},
      {"((a{10}){10}){10}", 1000 + 100 * 2 + 10 * 2, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.pattern);
    double cost = velqRegexCompileCost(c.pattern);
    if (c.reach > 0) {
      EXPECT_DOUBLE_EQ(cost, c.nodes * (256 + 8 * c.reach));
    } else {
      EXPECT_GE(cost, c.nodes * 264);
    }
  }
  EXPECT_GT(velqRegexCompileCost("a{1,1000}"), 4.0 * (1 << 20));
  EXPECT_LT(velqRegexCompileCost("a{1000}"), 4.0 * (1 << 20));
}

TEST(RegexCost, ReadsIntervalsWithoutALowerBoundAndGroupsAtAnyDepth) {
  // The compiler reads a missing lower bound as 0.
  EXPECT_DOUBLE_EQ(velqRegexCompileCost("a{,1000}"), velqRegexCompileCost("a{0,1000}"));
  EXPECT_DOUBLE_EQ(velqRegexCompileCost("(ab){,}"), velqRegexCompileCost("(ab){0,}"));
  // Each group adds the two nodes where it opens and closes to both counts, however deep
  // it lies: 100 groups around a{1,1000} (1000 nodes, reach 1001).
  std::string deep = std::string(100, '(') + "a{1,1000}" + std::string(100, ')');
  EXPECT_DOUBLE_EQ(velqRegexCompileCost(deep.c_str()), 1200.0 * (256 + 8 * 1201));
  // A repeated group deep inside repeats all of its parts: 2^70 copies here.
  std::string doubled = std::string(70, '(') + "ab";
  for (int i = 0; i < 70; i++) doubled += "){2}";
  EXPECT_GT(velqRegexCompileCost(doubled.c_str()), 1e21);
  // Below 70 plain groups, a group repeated a thousand times holds both of its letters.
  std::string padded = std::string(70, '(') + "(ab){1000}" + std::string(70, ')');
  EXPECT_GE(velqRegexCompileCost(padded.c_str()), 2000.0 * 264);
}

TEST(ScriptBudgets, CachedPatternsCountAgainstTheBudgetTogether) {
  // Sixteen patterns of one size (about 3 MB each), under 3.5 times that size: each fits
  // alone, and the cache keeps only as many as fit beside one another, in either run.
  VELQ_Regex *one = nullptr;
  ASSERT_EQ(velqRegexCompile("a{1,15000}", false, &one), VELQ_REGEX_OK);
  const double each = (double)velqRegexSize(one);
  velqRegexFree(one);
  ASSERT_GT(each, 2e6);
  std::string source = "sub main() { r = 0;";
  for (char letter = 'a'; letter < 'a' + 16; letter++)
    source += std::string(" r = r + (\"x\" match \"") + letter + "{1,15000}\");";
  source += " return r; }";
  Compiled compiled(source);
  ASSERT_NE(compiled.program, nullptr);
  compiled.program->setMemoryLimit((unsigned long)(3.5 * each));
  for (int run = 0; run < 2; run++) {
    Outcome out = runOnce(compiled.program);
    EXPECT_EQ(out.status, 0) << out.error;
    uint32_t kept = VELQ_TestAccess::internals(*compiled.program).patterns.count;
    EXPECT_EQ(kept, 3u);
  }
}

// ---- Long work inside one instruction ----

TEST(LongWork, ACancelStopsAWildcardMatchWhereItRuns) {
  // The match, on a line of its own, would take seconds; a cancel that it did not see
  // would stop the run at the return, a line later.
  Compiled compiled(R"velq(
sub rep(s, n) { r = ""; while (n > 0) { if (n % 2) r = r . s; s = s . s; n = Floor(n / 2); } return r; }
sub main() {
  t = rep("a", 4194304);
  p = "*" . rep("a", 999) . "b*";
  r = t like p;
  return r;
}
)velq");
  ASSERT_NE(compiled.program, nullptr);
  Outcome out = runCancelled(compiled.program);
  EXPECT_EQ(out.status, -1);
  // Cancels come before the match too (while the text is built); only one that the
  // match itself saw names its line.
  if (out.error.find("line 6") == std::string::npos) {
    EXPECT_EQ(out.error.find("line 7"), std::string::npos) << out.error;
  }
  EXPECT_NE(out.error.find("Run cancelled"), std::string::npos) << out.error;
}

TEST(LongWork, ACancelDuringARegularExpressionMatchNamesItsLine) {
  // Some 400 ways at each of four million bytes: seconds of matching.
  Compiled compiled(R"velq(
sub rep(s, n) { r = ""; while (n > 0) { if (n % 2) r = r . s; s = s . s; n = Floor(n / 2); } return r; }
sub main() {
  t = rep("a", 4194304);
  p = "(a|b){1,200}c";
  r = t match p;
  return r;
}
)velq");
  ASSERT_NE(compiled.program, nullptr);
  Outcome out = runCancelled(compiled.program);
  EXPECT_EQ(out.status, -1);
  EXPECT_NE(out.error.find("Run cancelled"), std::string::npos) << out.error;
  if (out.error.find("line 6") == std::string::npos) {
    EXPECT_EQ(out.error.find("line 7"), std::string::npos) << out.error;
    EXPECT_EQ(out.error.find("line 0"), std::string::npos) << out.error;
  }
}

TEST(LongWork, ADeadlineDuringAnArrayCopyStopsTheRunWithoutATruncatedCopy) {
  Compiled compiled(R"velq(
sub main() {
  array a;
  n = 300000;
  i = 0;
  while (i < n) { a[i] = i; i++; }
  while (1) {
    b = a;
    if (Count(b) != n) return "a copy of " . Count(b) . " elements";
  }
}
)velq");
  ASSERT_NE(compiled.program, nullptr);
  compiled.program->setTimeLimit(300);
  Outcome out = runOnce(compiled.program);
  EXPECT_EQ(out.status, -1) << out.result;
  EXPECT_NE(out.error.find("Time limit exceeded"), std::string::npos) << out.error;
  EXPECT_EQ(out.result, "<none>");
}

}  // namespace
