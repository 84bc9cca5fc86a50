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
