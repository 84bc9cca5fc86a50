// Reading the text of scripts and modules for the velq tool.
#include "script_text.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "velq.h"

namespace {

const char BYTE_ORDER_MARK[] = "\xEF\xBB\xBF";
const size_t STDIN_PIECE = 16384;  // bytes read from standard input at a time

}  // namespace

void skipScriptHeader(std::string *text) {
  if (text->compare(0, 3, BYTE_ORDER_MARK) == 0) text->erase(0, 3);
  if (text->compare(0, 2, "#!") != 0) return;
  size_t end = text->find('\n');
  if (end == std::string::npos) end = text->size();
  text->erase(0, end);
}

bool loadScriptFile(const std::string &name, std::string *text) {
  struct stat info;
  if (stat(name.c_str(), &info) != 0) {
    fprintf(stderr, "velq: cannot read %s: %s\n", name.c_str(), strerror(errno));
    return false;
  }
  if (S_ISDIR(info.st_mode)) {
    fprintf(stderr, "velq: cannot read %s: %s\n", name.c_str(), strerror(EISDIR));
    return false;
  }
  unsigned long size = 0;
  char *loaded = VELQLoadFile(name.c_str(), &size);
  if (!loaded) {
    fprintf(stderr, "velq: cannot read %s\n", name.c_str());
    return false;
  }
  text->assign(loaded, size);
  free(loaded);
  skipScriptHeader(text);
  return true;
}

bool loadStandardInput(std::string *text) {
  text->clear();
  char buffer[STDIN_PIECE];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, stdin)) > 0) text->append(buffer, n);
  if (ferror(stdin)) {
    fprintf(stderr, "velq: cannot read standard input\n");
    return false;
  }
  // The compiler reads up to the first zero byte; spaces let it see the whole text.
  for (char &c : *text)
    if (c == '\0') c = ' ';
  skipScriptHeader(text);
  return true;
}

namespace {

// The number of the last line of a text that does not end with a line feed, and that
// line's length.
int lastLineOf(const std::string &text, size_t *length) {
  int line = 1;
  for (char c : text)
    if (c == '\n') line++;
  size_t start = text.rfind('\n');
  *length = text.size() - (start == std::string::npos ? 0 : start + 1);
  return line;
}

}  // namespace

VELQ_Program *compileScriptText(const std::string &text, const std::string &label,
                                VELQ_CompileError *error) {
  if (text.empty() || text.back() == '\n')
    return VELQCompileSource(text.data(), text.size(), label.c_str(), error);
  std::string ended = text + '\n';
  VELQ_Program *program = VELQCompileSource(ended.data(), ended.size(), label.c_str(), error);
  size_t lastLength = 0;
  int lastLine = lastLineOf(text, &lastLength);
  if (program || error->line != lastLine + 1) return program;
  // Only the end of the text lies on the line after the added line feed.
  error->line = lastLine;
  error->column = (int)lastLength + 1;
  snprintf(error->text, sizeof error->text, "Error in line %d: %.*s", lastLine,
           (int)sizeof error->text - 32, error->message);
  return nullptr;
}
