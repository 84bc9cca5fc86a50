// Regular-expression matching for MATCH and IMATCH, the capture variables $1 to $255,
// and the program's cache of compiled expressions.
//
// velq's own matcher (regex/regex.h) runs every pattern it takes, in time and memory
// bounded by the run's budgets; the few that it leaves to the platform (back-references,
// anchors inside groups, \B, a group inside a repetition of what may match nothing) go
// to regcomp and regexec, guarded by the estimate of vm/regex_cost.h.
#include <regex.h>
#include <string.h>

#include "regex/regex.h"
#include "runtime/memory.h"
#include "runtime/run_limits.h"
#include "runtime/variable_internals.h"
#include "values/value_internals.h"
#include "velq_program.h"
#include "velq_value.h"
#include "velq_variable.h"
#include "vm/argument_names.h"
#include "vm/program_internals.h"
#include "vm/regex_cost.h"

// One compiled expression of the cache: its pattern (a copy of its own) and flags, its
// compiled form (velq's, or the platform's when own is null), and the memory that form
// holds: its size for velq's, the estimate for the platform's.
struct VELQ_CompiledPattern {
  char *pattern;
  uint32_t length;
  bool ignoreCase;
  VELQ_Regex *own;
  regex_t platform;
  uint64_t lastUse;
  double cost;
};

namespace {

// The memory the cached expressions hold.
double heldByCache(const VELQ_PatternCache &cache) {
  double held = 0;
  for (uint32_t i = 0; i < cache.count; i++) held += cache.entries[i].cost;
  return held;
}

// Frees an entry's compiled form, which the run's budget does not count (the cache
// counts it).
void freeCompiled(VELQ_CompiledPattern &entry) {
  if (entry.own) {
    VELQ_BudgetPause pause;
    velqRegexFree(entry.own);
  } else {
    regfree(&entry.platform);
  }
  velqRelease(entry.pattern);
}

// Frees the cached expression used longest ago; the last entry takes its place.
void dropOldest(VELQ_PatternCache &cache) {
  uint32_t oldest = 0;
  for (uint32_t i = 1; i < cache.count; i++)
    if (cache.entries[i].lastUse < cache.entries[oldest].lastUse) oldest = i;
  freeCompiled(cache.entries[oldest]);
  cache.entries[oldest] = cache.entries[--cache.count];
}

// Whether a new compiled form of `bytes` fits the run's memory budget beside the cached
// ones; the ones used longest ago are dropped to make room. A refusal is noted.
bool makeRoom(VELQ_PatternCache &cache, double bytes) {
  while (cache.count > 0 && !velqBudgetHasRoom(heldByCache(cache) + bytes)) dropOldest(cache);
  return velqBudgetAllows(heldByCache(cache) + bytes);
}

// Compiles the pattern with the platform's compiler, which allocates outside the
// engine's path: its estimate stands for the memory it takes.
VELQ_RegexStatus compileOnPlatform(VELQ_PatternCache &cache, VELQ_CompiledPattern &entry) {
  entry.cost = velqRegexCompileCost(entry.pattern);
  if (!makeRoom(cache, entry.cost)) return VELQ_REGEX_NO_MEMORY;
  int status =
      regcomp(&entry.platform, entry.pattern, REG_EXTENDED | (entry.ignoreCase ? REG_ICASE : 0));
  if (status == 0) return VELQ_REGEX_OK;
  return status == REG_ESPACE ? VELQ_REGEX_NO_MEMORY : VELQ_REGEX_INVALID;
}

// Finds the compiled form of pattern in the cache, or compiles it there. Null with
// *status set when the pattern is refused.
//
// The cache counts what it holds against the run's memory budget: a new expression is
// compiled only when its size (velq's) or estimate (the platform's), beside those of the
// expressions kept, fits the budget. The ones used longest ago are dropped to make room,
// and when the cache is full.
VELQ_CompiledPattern *compiled(VELQ_PatternCache &cache, const char *pattern, uint32_t length,
                               bool ignoreCase, VELQ_RegexStatus *status) {
  cache.uses++;
  for (uint32_t i = 0; i < cache.count; i++) {
    VELQ_CompiledPattern &entry = cache.entries[i];
    if (entry.ignoreCase == ignoreCase && entry.length == length &&
        memcmp(entry.pattern, pattern, length) == 0) {
      entry.lastUse = cache.uses;
      return &entry;
    }
  }
  VELQ_CompiledPattern entry{};
  entry.pattern = velqCopyText(pattern, length);
  if (!entry.pattern) {
    *status = VELQ_REGEX_NO_MEMORY;
    return nullptr;
  }
  entry.length = length;
  entry.ignoreCase = ignoreCase;
  entry.lastUse = cache.uses;
  *status = velqRegexCompile(
      entry.pattern, ignoreCase, &entry.own,
      [](double bytes, void *context) {
        return makeRoom(*static_cast<VELQ_PatternCache *>(context), bytes);
      },
      &cache);
  if (*status == VELQ_REGEX_OK) {
    entry.cost = (double)velqRegexSize(entry.own);
  } else if (*status == VELQ_REGEX_UNSUPPORTED) {
    *status = compileOnPlatform(cache, entry);
  }
  if (*status != VELQ_REGEX_OK) {
    velqRelease(entry.pattern);
    return nullptr;
  }
  if (cache.count == VELQ_PATTERN_CACHE_SIZE) dropOldest(cache);
  cache.entries[cache.count] = entry;
  return &cache.entries[cache.count++];
}

// Matches the text with the compiled expression: 1 on a match (with spans[0 .. *slots-1]
// set, -1 for a group that took no part), 0 without, -1 when the run must stop.
int matchCompiled(VELQ_CompiledPattern &entry, const char *subject, VELQ_RegexSpan *spans,
                  uint32_t *slots) {
  if (entry.own) {
    uint32_t groups = velqRegexGroupCount(entry.own);
    uint32_t most = VELQ_REGEX_SUBMATCHES;
    *slots = groups + 1 < most ? groups + 1 : most;
    VELQ_RegexOutcome outcome =
        velqRegexExecute(entry.own, subject, strlen(subject), spans, *slots);
    return outcome == VELQ_REGEX_STOPPED ? -1 : outcome == VELQ_REGEX_MATCHED ? 1 : 0;
  }
  regmatch_t groups[VELQ_REGEX_SUBMATCHES];
  size_t count = entry.platform.re_nsub + 1;
  if (count > (size_t)VELQ_REGEX_SUBMATCHES) count = VELQ_REGEX_SUBMATCHES;
  *slots = (uint32_t)count;
  int executed = regexec(&entry.platform, subject, count, groups, 0);
  // The platform's matcher does not look at the run's limits: the run stops after it.
  if (!velqWorkMayGoOn()) return -1;
  if (executed != 0) return 0;
  for (size_t i = 0; i < count; i++) spans[i] = {groups[i].rm_so, groups[i].rm_eo};
  return 1;
}

}  // namespace

VELQ_PatternCache::~VELQ_PatternCache() {
  for (uint32_t i = 0; i < count; i++) freeCompiled(entries[i]);
  velqRelease(entries);
}

// Matches the text against the pattern as an extended regular expression. On a match the
// groups, in order, are stored into the locals $1, $2, ... as values read from their text,
// so a captured number is a number; the first group that took no part ends the list.
// Null after raising an error: 18 for a pattern the expression compiler refuses, 28
// when its compiled form would not fit the memory budget, 29 when memory is refused, and
// the run's own error when the match outlasted its deadline or met a cancel. Compiled
// expressions are kept for the program's later matches.
VELQ_Value *VELQ_Program::matchRegexp(VELQ_Value *text, VELQ_Value *pattern, int ignoreCase) {
  VELQ_PatternCache &cache = internals->patterns;
  if (!cache.entries) {
    cache.entries = static_cast<VELQ_CompiledPattern *>(
        velqAllocate(VELQ_PATTERN_CACHE_SIZE * sizeof(VELQ_CompiledPattern)));
    if (!cache.entries) {
      error(VELQ_ERR_OUT_OF_MEMORY);
      return nullptr;
    }
  }
  // The pattern is read up to its first zero byte, as the expression compiler reads it.
  const char *patternText = pattern->getValueAsCString();
  if (!patternText) patternText = "";
  VELQ_RegexStatus status = VELQ_REGEX_OK;
  VELQ_CompiledPattern *expression =
      compiled(cache, patternText, (uint32_t)strlen(patternText), ignoreCase != 0, &status);
  if (!expression) {
    int code = VELQ_ERR_REGEX;
    if (status == VELQ_REGEX_NO_MEMORY) {
      code = VELQ_ProgramInternals::allocationError();
      if (!code) code = VELQ_ERR_OUT_OF_MEMORY;  // the platform compiler's own refusal
    }
    error(code);
    return nullptr;
  }

  // The text is zero-terminated; a zero byte inside it ends what the expression sees.
  const char *subject = text->getValueAsCString();
  if (!subject) subject = "";
  VELQ_RegexSpan spans[VELQ_REGEX_SUBMATCHES];
  uint32_t slots = 0;
  int executed = matchCompiled(*expression, subject, spans, &slots);
  // A long match may outlast the deadline or meet a cancel: the run stops here, at the
  // match's line.
  if (executed < 0) {
    error(VELQ_ProgramInternals::interruption(*this));
    return nullptr;
  }
  bool matched = executed == 1;
  bool stored = true;
  if (matched && locals) {
    for (uint32_t i = 1;
         stored && i < slots && spans[i].start >= 0 && spans[i].end >= spans[i].start; i++) {
      VELQ_Value *captured =
          new VELQ_Value(subject + spans[i].start, (uint32_t)(spans[i].end - spans[i].start));
      const char *name = VELQ_SharedArgumentName((int32_t)i);
      VELQ_Variable *variable = locals->find(name);
      if (!variable) variable = VELQ_RuntimeInternals::createBorrowing(locals, name);
      if (!captured || !variable) {
        delete captured;
        stored = false;
      } else {
        VELQ_ValueInternals::replaceWith(variable->getValue(), captured);
      }
    }
  }
  VELQ_Value *outcome = stored ? new VELQ_Value((int32_t)(matched ? 1 : 0)) : nullptr;
  if (!outcome) error(VELQ_ERR_OUT_OF_MEMORY);
  return outcome;
}
