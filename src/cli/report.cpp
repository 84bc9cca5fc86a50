// What the velq tool writes about a compilation or a run.
#include "report.h"

#include <ctype.h>
#include <stdio.h>

#include "velq.h"

namespace {

// A failure deep in a recursion has as many frames as calls; the report shows the
// innermost and the outermost of them.
enum { FRAMES_SHOWN_FIRST = 10, FRAMES_SHOWN_LAST = 5 };

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

void reportRunError(VELQ_Program *program, const std::string &label, const ModuleFiles &modules) {
  const char *text = program->getErrorText();
  if (!text[0]) text = "the run stopped without an error text";
  uint32_t count = program->getErrorFrameCount();
  const VELQ_ErrorFrame *where = count > 0 ? program->getErrorFrame(0) : nullptr;
  if (where)
    fprintf(stderr, "%s:%d: %s\n", fileOf(where, label, modules).c_str(), where->line, text);
  else
    fprintf(stderr, "%s: %s\n", label.c_str(), text);
  if (const char *failure = program->getModuleFailure()) fprintf(stderr, "  %s\n", failure);
  for (uint32_t i = 0; i < count; i++) {
    if (count > FRAMES_SHOWN_FIRST + FRAMES_SHOWN_LAST && i == FRAMES_SHOWN_FIRST) {
      uint32_t skipped = count - FRAMES_SHOWN_FIRST - FRAMES_SHOWN_LAST;
      fprintf(stderr, "  ... %u more calls ...\n", skipped);
      i += skipped - 1;
      continue;
    }
    writeFrame(i == 0 ? "in" : "called from", program->getErrorFrame(i), label, modules);
  }
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
