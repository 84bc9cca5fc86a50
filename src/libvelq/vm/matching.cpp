// Regular-expression matching for MATCH and IMATCH, and the capture variables $1 to $255.
#include <regex.h>

#include "vm/argument_names.h"
#include "vm/program_internals.h"
#include "velq_program.h"
#include "velq_value.h"
#include "velq_variable.h"

// Matches the text against the pattern as an extended regular expression. On a match the
// groups, in order, are stored into the locals $1, $2, ... as values read from their text,
// so a captured number is a number; the first group that took no part ends the list.
// Null after raising an error: 18 for a pattern the expression compiler refuses, 29
// when memory is refused.
VELQ_Value *VELQ_Program::matchRegexp(VELQ_Value *text, VELQ_Value *pattern, int ignoreCase) {
  const char *patternText = pattern->getValueAsCString();
  regex_t expression;
  int compiled = regcomp(&expression, patternText ? patternText : "",
                        REG_EXTENDED | (ignoreCase ? REG_ICASE : 0));
  if (compiled != 0) {
    error(compiled == REG_ESPACE ? VELQ_ERR_OUT_OF_MEMORY : VELQ_ERR_REGEX);
    return nullptr;
  }

  // The text is zero-terminated; a zero byte inside it ends what the expression sees.
  const char *subject = text->getValueAsCString();
  if (!subject) subject = "";
  regmatch_t groups[VELQ_REGEX_SUBMATCHES];
  int executed = regexec(&expression, subject, VELQ_REGEX_SUBMATCHES, groups, 0);
  bool matched = executed == 0;
  bool stored = executed != REG_ESPACE;
  if (matched && locals) {
    char name[VELQ_ARGUMENT_NAME_SIZE];
    for (int i = 1; stored && i < VELQ_REGEX_SUBMATCHES && groups[i].rm_so != -1; i++) {
      VELQ_Value *captured =
          new VELQ_Value(subject + groups[i].rm_so, (uint32_t)(groups[i].rm_eo - groups[i].rm_so));
      VELQ_Variable *variable = locals->find(VELQ_FormatArgumentName(name, i));
      if (!captured) {
        stored = false;
      } else if (variable) {
        variable->setValue(captured);
      } else {
        stored = locals->create(name, captured) != nullptr;
      }
    }
  }
  regfree(&expression);
  VELQ_Value *outcome = stored ? new VELQ_Value((int32_t)(matched ? 1 : 0)) : nullptr;
  if (!outcome) error(VELQ_ERR_OUT_OF_MEMORY);
  return outcome;
}
