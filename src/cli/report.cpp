// What the velq tool writes about a compilation or a run.
#include "report.h"

#include <ctype.h>
#include <stdio.h>

#include "velq.h"

namespace {

// A failure deep in a recursion has as many frames as calls; the report shows this many
// of the innermost, then the outermost one.
enum { INNER_FRAMES_SHOWN = 10 };

std::string lowerCase(const char *text) {
  std::string lower = text ? text : "";
  for (char &c : lower) c = (char)tolower((unsigned char)c);
  return lower;
}

// The file a frame's code came from: the module's file as the engine read it or as the
// tool was given it, else the script's label.
std::string fileOf(const VELQ_ErrorFrame *frame, const std::string &label,
                   const ModuleFiles &modules) {
  if (frame->file) return frame->file;
  if (!frame->module) return label;
  ModuleFiles::const_iterator found = modules.find(lowerCase(frame->module));
  return found != modules.end() ? found->second : std::string(frame->module);
}

void writeFrame(const char *how, const VELQ_ErrorFrame *frame, const std::string &label,
                const ModuleFiles &modules) {
  fprintf(stderr, "  %s %s (%s:%d)\n", how, frame->function ? frame->function : "?",
          fileOf(frame, label, modules).c_str(), frame->line);
}

}  // namespace

void reportCompileError(const std::string &label, const char *errorText) {
  int line = 0;
  if (sscanf(errorText, "Error in line %d:", &line) == 1)
    fprintf(stderr, "%s:%d: %s\n", label.c_str(), line, errorText);
  else
    fprintf(stderr, "%s: %s\n", label.c_str(), errorText);
}

namespace {

// Longest source line shown under a compile error; a longer one is shown around the column.
enum { SOURCE_LINE_SHOWN = 160 };

// Line number `line` (1-based) of source, without its line end; false past the last line.
bool sourceLine(const std::string &source, int line, std::string *text) {
  size_t start = 0;
  for (int n = 1; n < line; n++) {
    start = source.find('\n', start);
    if (start == std::string::npos) return false;
    start++;
  }
  if (line < 1 || start > source.size()) return false;
  size_t end = source.find('\n', start);
  *text = source.substr(start, end == std::string::npos ? std::string::npos : end - start);
  if (!text->empty() && text->back() == '\r') text->pop_back();
  return true;
}

// The length of the well-formed UTF-8 sequence of two to four bytes that starts at
// text[at], or 0 when none starts there.
size_t utf8SequenceLength(const std::string &text, size_t at) {
  unsigned char lead = (unsigned char)text[at];
  size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (length == 0 || at + length > text.size()) return 0;
  unsigned char second = (unsigned char)text[at + 1];
  // The second byte's range excludes overlong forms, surrogates and code points past U+10FFFF.
  unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
  unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
  if (second < low || second > high) return 0;
  for (size_t i = 2; i < length; i++)
    if (((unsigned char)text[at + i] & 0xC0) != 0x80) return 0;
  return length;
}

}  // namespace

void reportCompileError(const std::string &label, const VELQ_CompileError &error,
                        const std::string &source) {
  reportCompileError(label, error.text);
  std::string line;
  if (error.column < 1 || !sourceLine(source, error.line, &line) || line.empty()) return;
  size_t caret = (size_t)error.column - 1;
  if (caret > line.size()) caret = line.size();
  // A long line is shown from a little before the column.
  size_t from = caret > SOURCE_LINE_SHOWN / 2 ? caret - SOURCE_LINE_SHOWN / 2 : 0;
  line = line.substr(from, SOURCE_LINE_SHOWN);
  caret -= from;
  std::string marks;
  for (size_t i = 0; i < line.size();) {
    unsigned char c = (unsigned char)line[i];
    size_t length = c < 0x80 ? 1 : utf8SequenceLength(line, i);
    // Bytes that would act on the terminal, and bytes of no UTF-8 character, are shown
    // as '?'; a UTF-8 character takes one column.
    if (length == 0 || (c != '\t' && (c < 0x20 || c == 0x7f))) {
      line[i] = '?';
      length = 1;
    }
    if (i < caret) marks += c == '\t' ? '\t' : ' ';
    i += length;
  }
  fprintf(stderr, "  %s\n  %s^\n", line.c_str(), marks.c_str());
}

void reportRunError(VELQ_Program *program, const std::string &label, const ModuleFiles &modules) {
  const char *text = program->getErrorText();
  if (!text[0]) text = "the run stopped without an error text";
  const char *failure = program->getModuleFailure();
  bool moduleLine = failure && failure[0];
  // The subject and detail, unless the module's own line names it below.
  std::string about;
  if (!moduleLine && program->getErrorSubject()[0]) about = program->getErrorSubject();
  if (program->getErrorDetail()[0])
    about += (about.empty() ? "" : ": ") + std::string(program->getErrorDetail());
  if (!about.empty()) about = " (" + about + ")";
  uint32_t count = program->getErrorFrameCount();
  const VELQ_ErrorFrame *where = count > 0 ? program->getErrorFrame(0) : nullptr;
  if (where)
    fprintf(stderr, "%s:%d: %s%s\n", fileOf(where, label, modules).c_str(), where->line, text,
            about.c_str());
  else
    fprintf(stderr, "%s: %s%s\n", label.c_str(), text, about.c_str());
  if (moduleLine) fprintf(stderr, "  %s\n", failure);
  if (count == 0) return;
  // The engine keeps the innermost frames and the outermost one of a deep chain.
  unsigned long depth = program->getErrorCallDepth();
  uint32_t inner = count - 1;
  if (inner > INNER_FRAMES_SHOWN && depth > INNER_FRAMES_SHOWN + 1) inner = INNER_FRAMES_SHOWN;
  for (uint32_t i = 0; i < inner; i++)
    writeFrame(i == 0 ? "in" : "called from", program->getErrorFrame(i), label, modules);
  if (depth > (unsigned long)inner + 1)
    fprintf(stderr, "  ... %lu more calls ...\n", depth - inner - 1);
  writeFrame(count == 1 ? "in" : "called from", program->getErrorFrame(count - 1), label, modules);
}

void writeResult(VELQ_Value *result, FILE *out) {
  if (result && result->isString()) {
    uint32_t length = 0;
    const char *text = result->getValueAsString(&length);
    fwrite(text, 1, length, out);
  } else {
    fputs(VELQ_TypeName(result ? result->getDataType() : DTYPE_NULL), out);
  }
  fputc('\n', out);
}
