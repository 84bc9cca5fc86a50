// What compiling a regular expression would cost in memory, judged from the pattern.
#ifndef VELQ_REGEX_COST_H
#define VELQ_REGEX_COST_H

// The memory, in bytes, that the system's expression compiler would take for the
// extended regular expression pattern (zero-terminated): an estimate from its counted
// repetitions and optional parts, made in one pass without compiling it. The pass needs a
// block as deep as the pattern nests groups; when memory for it is refused (the refusal
// is noted for the run), the pattern costs HUGE_VAL.
double velqRegexCompileCost(const char *pattern);

#endif
