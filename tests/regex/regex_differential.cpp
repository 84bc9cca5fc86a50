// Compares velq's regular-expression matcher with the platform's regcomp and regexec (in
// the C locale, as velq runs them) over generated patterns and texts: the same patterns
// must be refused, and every accepted one must give the same match and the same groups.
//
//   regex_differential [--pairs N] [--seed S] [--show K]
//
// A pair is one pattern with one text (a refused pattern counts as one pair). Patterns
// are built from a small grammar over a small alphabet, so that matches are frequent,
// and some are mutated byte by byte to reach the compiler's errors; half are matched
// ignoring case. Disagreements are printed (the first K, default 20) with the pattern,
// the text and both results, and make the exit status 1. Patterns with back-references,
// which velq leaves to the platform, are counted and skipped; so are the pairs on which
// the platform's regcomp or regexec does not return within a second (regexec loops for
// ever on some patterns with groups repeated empty), which are printed and counted apart.
// Such a call is abandoned, maybe inside the allocator, so the program then runs itself
// again (--resume, with its counts) to go on with a fresh heap.
#include <locale.h>
#include <regex.h>
#include <setjmp.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "regex/regex.h"

namespace {

// The groups compared at most, as velq asks for them.
const int SLOTS = 256;

// A small, fast generator, so that a seed gives the same run everywhere.
struct Random {
  unsigned long long state;
  explicit Random(unsigned long long seed) : state(seed * 2654435761ULL + 1) {}
  unsigned next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return (unsigned)(state >> 11);
  }
  int below(int n) { return (int)(next() % (unsigned)n); }
  bool chance(int percent) { return below(100) < percent; }
};

const char *const BRACKETS[] = {
    "[ab]",         "[^a]",  "[a-c]",       "[[:alpha:]]",  "[[:upper:]]", "[[:lower:]]",
    "[^[:alpha:]]", "[]a]",  "[a-]",        "[[:space:]_]", "[[.a.]b]",    "[[=b=]]",
    "[A-Z]",        "[^-b]", "[[:punct:]]", "[[:digit:]x]", "[B-a]",       "[.-]",
};
const char *const ESCAPES[] = {"\\w", "\\W", "\\s", "\\S", "\\b", "\\B", "\\<", "\\>",
                               "\\`", "\\'", "\\.", "\\a", "\\*", "\\{", "\\("};
const char *const REPEATS[] = {"*",   "+",   "?",     "{2}",   "{1,}", "{0,2}", "{,2}", "{1,3}",
                               "{0}", "{,}", "{0,1}", "{2,3}", "**",   "+?",    "{1}"};

void expression(Random &random, std::string &out, int depth);

void atom(Random &random, std::string &out, int depth) {
  int kind = random.below(100);
  if (kind < 35) {
    out += "abcA"[random.below(4)];
  } else if (kind < 42) {
    out += '.';
  } else if (kind < 52) {
    out += BRACKETS[random.below(sizeof BRACKETS / sizeof *BRACKETS)];
  } else if (kind < 78 && depth < 3) {
    out += '(';
    if (random.chance(90)) expression(random, out, depth + 1);
    out += ')';
  } else if (kind < 86) {
    out += "^$"[random.below(2)];
  } else if (kind < 96) {
    out += ESCAPES[random.below(sizeof ESCAPES / sizeof *ESCAPES)];
  } else {
    out += "ab"[random.below(2)];
  }
}

void branch(Random &random, std::string &out, int depth) {
  int items = random.below(4);
  for (int i = 0; i < items; i++) {
    atom(random, out, depth);
    if (random.chance(35)) out += REPEATS[random.below(sizeof REPEATS / sizeof *REPEATS)];
  }
}

void expression(Random &random, std::string &out, int depth) {
  branch(random, out, depth);
  while (random.chance(30)) {
    out += '|';
    branch(random, out, depth);
  }
}

// The longest pattern generated: longer ones, with their repetitions nested, take the
// platform's compiler seconds.
const size_t LONGEST_PATTERN = 32;

// A generated pattern, sometimes with bytes of the syntax inserted, removed or changed.
std::string pattern(Random &random) {
  std::string p;
  do {
    p.clear();
    expression(random, p, 0);
  } while (p.size() > LONGEST_PATTERN);
  if (random.chance(25)) {
    static const char special[] = "ab()|*+?{},[]^$-.:=\\0123_ ";
    int edits = 1 + random.below(3);
    for (int i = 0; i < edits; i++) {
      size_t at = p.empty() ? 0 : (size_t)random.below((int)p.size() + 1);
      char c = special[random.below((int)sizeof special - 1)];
      switch (random.below(3)) {
        case 0:
          p.insert(p.begin() + at, c);
          break;
        case 1:
          if (at < p.size()) p.erase(at, 1);
          break;
        default:
          if (at < p.size()) p[at] = c;
          break;
      }
    }
  }
  return p;
}

std::string text(Random &random) {
  static const char alphabet[] = "aaabbbcAB_ -.";
  std::string t;
  int length = random.below(9);
  for (int i = 0; i < length; i++) t += alphabet[random.below((int)sizeof alphabet - 1)];
  return t;
}

// The pattern or text with its non-printing bytes escaped, for the report.
std::string shown(const std::string &s) {
  std::string out;
  for (unsigned char c : s) {
    if (c >= 0x20 && c < 0x7f) {
      out += (char)c;
    } else {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

sigjmp_buf stuck;

void onAlarm(int) { siglongjmp(stuck, 1); }

// regcomp, given a second: false when it has not returned by then (it is abandoned).
bool platformCompile(regex_t *platform, const char *pattern, int flags, int *status) {
  if (sigsetjmp(stuck, 1)) return false;
  alarm(1);
  *status = regcomp(platform, pattern, flags);
  alarm(0);
  return true;
}

// regexec, given a second: false when it has not returned by then (it is abandoned).
bool platformMatch(const regex_t *platform, const char *text, int slots, regmatch_t *groups,
                   int *status) {
  if (sigsetjmp(stuck, 1)) return false;
  alarm(1);
  *status = regexec(platform, text, (size_t)slots, groups, 0);
  alarm(0);
  return true;
}

std::string spans(const regmatch_t *m, int count) {
  std::string out;
  for (int i = 0; i < count; i++) {
    char one[48];
    snprintf(one, sizeof one, "(%ld,%ld)", (long)m[i].rm_so, (long)m[i].rm_eo);
    out += one;
  }
  return out;
}

std::string spans(const VELQ_RegexSpan *s, int count) {
  std::string out;
  for (int i = 0; i < count; i++) {
    char one[48];
    snprintf(one, sizeof one, "(%lld,%lld)", s[i].start, s[i].end);
    out += one;
  }
  return out;
}

}  // namespace

int main(int argc, char **argv) {
  long done = 0, patterns = 0, refused = 0, leftToPlatform = 0, matched = 0, disagreements = 0;
  long platformStuck = 0;
  long resumeAt = 0;  // patterns to draw without trying them, after a restart
  long pairs = 20000;
  unsigned long long seed = 1;
  long show = 20;
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--pairs") == 0 && i + 1 < argc) {
      pairs = atol(argv[++i]);
    } else if (strcmp(argv[i], "--seed") == 0 && i + 1 < argc) {
      seed = strtoull(argv[++i], nullptr, 10);
    } else if (strcmp(argv[i], "--show") == 0 && i + 1 < argc) {
      show = atol(argv[++i]);
    } else if (strcmp(argv[i], "--resume") == 0 && i + 1 < argc) {
      sscanf(argv[++i], "%ld,%ld,%ld,%ld,%ld,%ld,%ld,%ld", &resumeAt, &done, &refused, &matched,
             &leftToPlatform, &platformStuck, &disagreements, &patterns);
    } else {
      fprintf(stderr, "usage: %s [--pairs N] [--seed S] [--show K]\n", argv[0]);
      return 2;
    }
  }
  setlocale(LC_ALL, "C");
  signal(SIGALRM, onAlarm);
  Random random(seed);
  auto report = [&](const std::string &p, bool icase, const std::string &what) {
    disagreements++;
    if (disagreements <= show)
      printf("DISAGREE%s /%s/: %s\n", icase ? " (ignoring case)" : "", shown(p).c_str(),
             what.c_str());
  };
  // Runs the program again from the pattern after the current one, with the counts so far.
  auto restart = [&](long drawn) {
    char counts[256];
    snprintf(counts, sizeof counts, "%ld,%ld,%ld,%ld,%ld,%ld,%ld,%ld", drawn, done, refused,
             matched, leftToPlatform, platformStuck, disagreements, patterns);
    char pairsText[32], seedText[32], showText[32];
    snprintf(pairsText, sizeof pairsText, "%ld", pairs);
    snprintf(seedText, sizeof seedText, "%llu", seed);
    snprintf(showText, sizeof showText, "%ld", show);
    fflush(stdout);
    execl("/proc/self/exe", argv[0], "--pairs", pairsText, "--seed", seedText, "--show", showText,
          "--resume", counts, (char *)nullptr);
    perror("regex_differential: cannot run itself again");
    exit(2);
  };
  long drawn = 0;
  while (done < pairs) {
    // Every pattern draws its texts, used or not, so that a restart can skip it.
    std::string p = pattern(random);
    bool icase = random.chance(50);
    std::string texts[4];
    for (std::string &t : texts) t = text(random);
    if (++drawn <= resumeAt) continue;
    patterns++;
    regex_t platform;
    int status = 0;
    if (!platformCompile(&platform, p.c_str(), REG_EXTENDED | (icase ? REG_ICASE : 0), &status)) {
      platformStuck++;
      printf("STUCK%s /%s/: the platform's regcomp does not return\n",
             icase ? " (ignoring case)" : "", shown(p).c_str());
      restart(drawn);
    }
    VELQ_Regex *mine = nullptr;
    VELQ_RegexStatus compiled = velqRegexCompile(p.c_str(), icase, &mine);
    if (compiled == VELQ_REGEX_UNSUPPORTED) {
      leftToPlatform++;
      if (status == 0) regfree(&platform);
      continue;
    }
    if (status == REG_ESPACE) {
      if (mine) velqRegexFree(mine);
      continue;
    }
    if ((status != 0) != (compiled != VELQ_REGEX_OK)) {
      report(p, icase,
             status != 0 ? "the platform refuses it, velq accepts it"
                         : "the platform accepts it, velq refuses it");
      done++;
      if (status == 0) regfree(&platform);
      if (mine) velqRegexFree(mine);
      continue;
    }
    if (status != 0) {
      refused++;
      done++;
      continue;
    }
    int slots = (int)platform.re_nsub + 1 < SLOTS ? (int)platform.re_nsub + 1 : SLOTS;
    if (velqRegexGroupCount(mine) != platform.re_nsub) report(p, icase, "group counts differ");
    for (int k = 0; k < 4 && done < pairs; k++, done++) {
      const std::string &t = texts[k];
      regmatch_t theirs[SLOTS];
      VELQ_RegexSpan ours[SLOTS];
      int executed = 0;
      if (!platformMatch(&platform, t.c_str(), slots, theirs, &executed)) {
        platformStuck++;
        printf("STUCK%s /%s/: text \"%s\": the platform's regexec does not return\n",
               icase ? " (ignoring case)" : "", shown(p).c_str(), shown(t).c_str());
        done++;
        restart(drawn);
      }
      VELQ_RegexOutcome outcome = velqRegexExecute(mine, t.c_str(), t.size(), ours, slots);
      bool same = (executed == 0) == (outcome == VELQ_REGEX_MATCHED);
      if (same && executed == 0) {
        matched++;
        for (int i = 0; i < slots; i++)
          if (theirs[i].rm_so != ours[i].start || theirs[i].rm_eo != ours[i].end) same = false;
      }
      if (!same) {
        report(p, icase,
               "text \"" + shown(t) + "\": platform " +
                   (executed == 0 ? spans(theirs, slots) : std::string("no match")) + ", velq " +
                   (outcome == VELQ_REGEX_MATCHED ? spans(ours, slots) : std::string("no match")));
      }
    }
    regfree(&platform);
    velqRegexFree(mine);
  }
  printf(
      "%ld pairs over %ld patterns: %ld refused by both, %ld matches compared, %ld patterns "
      "left to the platform, %ld where the platform does not return, %ld disagreements\n",
      done, patterns, refused, matched, leftToPlatform, platformStuck, disagreements);
  return disagreements == 0 ? 0 : 1;
}
