// Regular-expression matching for MATCH and IMATCH, the capture variables $1 to $255,
// and the program's cache of compiled expressions.
#include <regex.h>
#include <string.h>

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

// One compiled expression of the cache: its pattern (a copy of its own) and flags, and
// the estimate of the memory the expression compiler took for it.
struct VELQ_CompiledPattern {
  char *pattern;
  uint32_t length;
  int flags;
  regex_t expression;
  uint64_t lastUse;
  double cost;
};

namespace {

// The memory the cached expressions hold, by their estimates.
double heldByCache(const VELQ_PatternCache &cache) {
  double held = 0;
  for (uint32_t i = 0; i < cache.count; i++) held += cache.entries[i].cost;
  return held;
}

// Frees the cached expression used longest ago; the last entry takes its place.
void dropOldest(VELQ_PatternCache &cache) {
  uint32_t oldest = 0;
  for (uint32_t i = 1; i < cache.count; i++)
    if (cache.entries[i].lastUse < cache.entries[oldest].lastUse) oldest = i;
  VELQ_CompiledPattern &entry = cache.entries[oldest];
  regfree(&entry.expression);
  velqRelease(entry.pattern);
  entry = cache.entries[--cache.count];
}

// Finds the compiled form of pattern in the cache, or compiles it there. Null with
// *status set to the compiler's refusal (REG_ESPACE when memory is refused, by the system
// or by the budget).
//
// The expression compiler allocates outside the engine's path, so the cache counts what
// it holds by the estimates of its expressions: a new one is compiled only when its
// estimate, beside those of the expressions kept, fits the run's memory budget. The ones
// used longest ago are dropped to make room, and when the cache is full.
regex_t *compiled(VELQ_PatternCache &cache, const char *pattern, uint32_t length, int flags,
                  int *status) {
  cache.uses++;
  for (uint32_t i = 0; i < cache.count; i++) {
    VELQ_CompiledPattern &entry = cache.entries[i];
    if (entry.flags == flags && entry.length == length &&
        memcmp(entry.pattern, pattern, length) == 0) {
      entry.lastUse = cache.uses;
      return &entry.expression;
    }
  }
  char *copy = velqCopyText(pattern, length);
  double cost = copy ? velqRegexCompileCost(copy) : 0;
  while (copy && cache.count > 0 && !velqBudgetHasRoom(heldByCache(cache) + cost))
    dropOldest(cache);
  if (!copy || !velqBudgetAllows(heldByCache(cache) + cost)) {
    velqRelease(copy);
    *status = REG_ESPACE;
    return nullptr;
  }
  regex_t expression;
  *status = regcomp(&expression, copy, flags);
  if (*status != 0) {
    velqRelease(copy);
    return nullptr;
  }
  if (cache.count == VELQ_PATTERN_CACHE_SIZE) dropOldest(cache);
  VELQ_CompiledPattern *entry = &cache.entries[cache.count++];
  *entry = {copy, length, flags, expression, cache.uses, cost};
  return &entry->expression;
}

}  // namespace

VELQ_PatternCache::~VELQ_PatternCache() {
  for (uint32_t i = 0; i < count; i++) {
    regfree(&entries[i].expression);
    velqRelease(entries[i].pattern);
  }
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
  int status = 0;
  regex_t *expression = compiled(cache, patternText, (uint32_t)strlen(patternText),
                                 REG_EXTENDED | (ignoreCase ? REG_ICASE : 0), &status);
  if (!expression) {
    int code = VELQ_ERR_REGEX;
    if (status == REG_ESPACE) {
      code = VELQ_ProgramInternals::allocationError();
      if (!code) code = VELQ_ERR_OUT_OF_MEMORY;  // the expression compiler's own refusal
    }
    error(code);
    return nullptr;
  }

  // The text is zero-terminated; a zero byte inside it ends what the expression sees.
  const char *subject = text->getValueAsCString();
  if (!subject) subject = "";
  regmatch_t groups[VELQ_REGEX_SUBMATCHES];
  size_t slots = expression->re_nsub + 1;
  if (slots > (size_t)VELQ_REGEX_SUBMATCHES) slots = VELQ_REGEX_SUBMATCHES;
  int executed = regexec(expression, subject, slots, groups, 0);
  // A long match may outlast the deadline or meet a cancel: the run stops here, at the
  // match's line.
  if (!velqWorkMayGoOn()) {
    error(VELQ_ProgramInternals::interruption(*this));
    return nullptr;
  }
  bool matched = executed == 0;
  bool stored = executed != REG_ESPACE;
  if (matched && locals) {
    for (size_t i = 1; stored && i < slots && groups[i].rm_so != -1; i++) {
      VELQ_Value *captured =
          new VELQ_Value(subject + groups[i].rm_so, (uint32_t)(groups[i].rm_eo - groups[i].rm_so));
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
