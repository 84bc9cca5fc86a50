// Errors of the C interface: copies of what the compiler or a run reported, kept as data
// that outlives the script and the instance it came from.
#include "capi/capi.h"

namespace {

const char *orEmpty(const char *text) { return text ? text : ""; }

// Hands a finished error to the caller, or drops it when the caller wants none.
velq_status deliver(velq_error **error, velq_error *made) {
  velq_status code = made->code;
  if (error)
    *error = made;
  else
    delete made;
  return code;
}

// The text of a status that is not a run-time error code.
const char *statusText(velq_status status) {
  switch (status) {
    case VELQ_STATUS_COMPILE_ERROR:
      return "Compile error";
    case VELQ_STATUS_INVALID:
      return "Invalid argument";
    case VELQ_STATUS_NO_MEMORY:
      return "Out of memory";
    case VELQ_STATUS_FILE_ERROR:
      return "File error";
    default:
      return VELQ_ErrorMessage(status);
  }
}

}  // namespace

void velqNoError(velq_error **error) {
  if (error) *error = nullptr;
}

velq_status velqFail(velq_error **error, velq_status status, const char *message,
                     const char *source) {
  if (!error) return status;
  *error = nullptr;
  try {
    std::unique_ptr<velq_error> made(new velq_error);
    made->code = status;
    made->message = std::string(statusText(status)) + ": " + orEmpty(message);
    made->source = orEmpty(source);
    return deliver(error, made.release());
  } catch (...) {
    return status;
  }
}

velq_status velqFailCompile(velq_error **error, const VELQ_CompileError &compileError) {
  if (!error) return VELQ_STATUS_COMPILE_ERROR;
  *error = nullptr;
  try {
    std::unique_ptr<velq_error> made(new velq_error);
    made->code = VELQ_STATUS_COMPILE_ERROR;
    made->message = compileError.text;
    made->detail = "";
    made->subject = "";
    made->source = compileError.source;
    made->line = compileError.line;
    made->column = compileError.column;
    return deliver(error, made.release());
  } catch (...) {
    return VELQ_STATUS_COMPILE_ERROR;
  }
}

velq_status velqFailRun(velq_error **error, const VELQ_Program *program,
                        const std::string &sourceName) {
  velq_status code = program->getErrorCode();
  if (code == VELQ_OK) code = VELQ_ERR_INTERNAL;  // a failure must never read as success
  if (!error) return code;
  *error = nullptr;
  try {
    std::unique_ptr<velq_error> made(new velq_error);
    made->code = code;
    made->message = program->getErrorText();
    made->subject = orEmpty(program->getErrorSubject());
    made->detail = orEmpty(program->getErrorDetail());
    if (made->detail.empty() && code == VELQ_ERR_MODULE)
      made->detail = orEmpty(program->getModuleFailure());
    made->line = program->getErrorLine();
    uint32_t count = program->getErrorFrameCount();
    made->frames.reserve(count);
    for (uint32_t i = 0; i < count; i++) {
      const VELQ_ErrorFrame *frame = program->getErrorFrame(i);
      if (!frame) break;
      made->frames.push_back(
          {orEmpty(frame->function), orEmpty(frame->module), orEmpty(frame->file), frame->line});
    }
    // A run error is placed in the module file it happened in, when there is one.
    made->source =
        !made->frames.empty() && !made->frames[0].file.empty() ? made->frames[0].file : sourceName;
    return deliver(error, made.release());
  } catch (...) {
    return code;
  }
}

extern "C" {

void velq_error_free(velq_error *error) { delete error; }

velq_status velq_error_code(const velq_error *error) {
  return error ? error->code : VELQ_STATUS_INVALID;
}

const char *velq_error_message(const velq_error *error) {
  return error ? error->message.c_str() : "";
}

const char *velq_error_subject(const velq_error *error) {
  return error ? error->subject.c_str() : "";
}

const char *velq_error_detail(const velq_error *error) {
  return error ? error->detail.c_str() : "";
}

int velq_error_line(const velq_error *error) { return error ? error->line : 0; }

int velq_error_column(const velq_error *error) { return error ? error->column : 0; }

const char *velq_error_source(const velq_error *error) {
  return error ? error->source.c_str() : "";
}

size_t velq_error_frame_count(const velq_error *error) { return error ? error->frames.size() : 0; }

velq_status velq_error_frame(const velq_error *error, size_t i, const char **function,
                             const char **module, const char **file, int *line) {
  if (!error || i >= error->frames.size()) return VELQ_STATUS_INVALID;
  const velq_error::Frame &frame = error->frames[i];
  if (function) *function = frame.function.c_str();
  if (module) *module = frame.module.c_str();
  if (file) *file = frame.file.c_str();
  if (line) *line = frame.line;
  return VELQ_OK;
}

}  // extern "C"
