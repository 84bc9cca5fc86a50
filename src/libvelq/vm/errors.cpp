// Run-time error codes: their messages, the error text of a run and where it happened.
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "runtime/memory.h"
#include "velq_program.h"
#include "velq_stack.h"
#include "vm/program_internals.h"

namespace {

// Indexed by code; entry 0 is unused.
const char *const errorMessages[VELQ_ERROR_CODE_LAST + 1] = {
    nullptr,
    "Data stack underflow",
    "Control stack underflow",
    "Condition value is not a number",
    "Bad arithmetic conversion",
    "Invalid operation with NULL value",
    "Internal error",
    "main() function not presented",
    "Control stack overflow",
    "Divide by zero",
    "Invalid operation with real numbers",
    "Function not found",
    "Invalid number of function's arguments",
    "Cannot do automatic type cast",
    "Left argument of -> must be a reference to object",
    "Unknown object's attribute",
    "Requested module not found or cannot be loaded",
    "Argument is not of string type and cannot be converted to string",
    "Invalid regular expression",
    "Function or operation argument is not a whole number",
    "Invalid operation on object",
    "Bad (or incompatible) object class",
    "Variable already exist",
    "Array index is not an integer",
    "Attempt to use array element access operation on non-array",
    "Cannot assign to a variable that is constant",
    "Step limit exceeded",
    "Time limit exceeded",
    "Memory limit exceeded",
    "Out of memory",
    "Run cancelled",
    "Host exception",
};

// Copies text into a field of size bytes, cut to fit and always terminated.
template <size_t size>
void copyField(char (&field)[size], const char *text) {
  size_t length = text ? strnlen(text, size - 1) : 0;
  memcpy(field, text ? text : "", length);
  field[length] = '\0';
}

}  // namespace

const char *VELQ_ErrorMessage(int code) {
  if (code < 1 || code > VELQ_ERROR_CODE_LAST) return "Unknown error code";
  return errorMessages[code];
}

// Records the error with the source line of the instruction being executed, and the
// chain of calls that led there, and stops the run: currentPosition becomes
// VELQ_NO_ADDRESS, which ends the run loop. The text is written into the program's own
// buffer, so that reporting an error never needs memory. Memory that the run's memory
// budget refused, rather than the system, is reported as the budget's error.
void VELQ_Program::error(int code) {
  // Memory refused during the run is what stopped it, whatever went wrong after: an
  // instruction that got no memory may leave an incomplete value for the next one.
  if (internals && internals->running && velqAllocationFailed())
    code = VELQ_ProgramInternals::allocationError();
  int line = currentPosition < codeSize ? instructions[currentPosition]->sourceLine : 0;
  if (internals) {
    // A subject named for another error than the one raised names nothing of it.
    if (code != internals->errorCode) internals->errorSubject[0] = '\0';
    internals->errorCode = code;
    internals->errorLine = line;
    VELQ_ProgramInternals::recordErrorFrames(*this);
    snprintf(internals->errorBuffer, sizeof internals->errorBuffer, "Error %d in line %d: %s", code,
             line, VELQ_ErrorMessage(code));
    errorText = internals->errorBuffer;
  }
  currentPosition = VELQ_NO_ADDRESS;
}

void VELQ_ProgramInternals::errorAbout(VELQ_Program &program, int code, const char *subject) {
  if (program.internals) {
    copyField(program.internals->errorSubject, subject);
    program.internals->errorCode = code;
  }
  program.error(code);
}

void VELQ_ProgramInternals::forgetError(VELQ_Program &program) {
  VELQ_ProgramInternals &state = *program.internals;
  state.errorCode = 0;
  state.errorLine = 0;
  state.errorSubject[0] = '\0';
  state.errorDetail[0] = '\0';
  state.moduleFailure[0] = '\0';
  forgetErrorFrames(program);
}

int VELQ_Program::getErrorCode() const { return internals ? internals->errorCode : 0; }

int VELQ_Program::getErrorLine() const { return internals ? internals->errorLine : 0; }

const char *VELQ_Program::getErrorSubject() const {
  return internals ? internals->errorSubject : "";
}

const char *VELQ_Program::getErrorDetail() const { return internals ? internals->errorDetail : ""; }

void VELQ_Program::setErrorDetail(const char *text) {
  if (internals) copyField(internals->errorDetail, text);
}

namespace {

// The function whose code holds address: the record with the greatest address not above
// it (the first such record when several share it); null when none.
const VELQ_Function *functionAt(const VELQ_Program &program, uint32_t address) {
  const VELQ_Function *found = nullptr;
  for (uint32_t i = 0; i < program.getFunctionCount(); i++) {
    const VELQ_Function *function = program.getFunction(i);
    if (function->address <= address && (!found || function->address > found->address))
      found = function;
  }
  return found;
}

}  // namespace

// Frame 0 is the instruction being executed; each open frame of the control stack adds
// the call that opened it (the instruction before its return address). A chain longer
// than the frames kept keeps its innermost frames and its outermost one.
void VELQ_ProgramInternals::recordErrorFrames(VELQ_Program &program) {
  VELQ_BudgetPause reportMemory;  // a run stopped by its memory budget is reported too
  forgetErrorFrames(program);
  if (program.currentPosition >= program.codeSize || !program.internals->running) return;
  VELQ_ProgramInternals &state = *program.internals;
  unsigned long depth = (unsigned long)state.machine.frames.count + 1;
  uint32_t kept =
      depth < VELQ_ERROR_FRAMES_KEPT ? (uint32_t)depth : (uint32_t)VELQ_ERROR_FRAMES_KEPT;
  state.frames = static_cast<VELQ_StoredFrame *>(velqAllocate(kept * sizeof(VELQ_StoredFrame)));
  state.frameViews = static_cast<VELQ_ErrorFrame *>(velqAllocate(kept * sizeof(VELQ_ErrorFrame)));
  if (!state.frames || !state.frameViews) {
    forgetErrorFrames(program);
    return;
  }
  const VELQ_GrowingList<VELQ_Frame> &open = state.machine.frames;
  for (uint32_t k = 0; k < kept; k++) {
    // Frame k of the kept ones stands for frame `from` of the whole chain.
    unsigned long from = (k == kept - 1) ? depth - 1 : k;
    uint32_t address = program.currentPosition;
    if (from > 0) {
      // The call that opened frame from - 1, counted from the innermost.
      unsigned long slot = open.count - from;
      address = slot < open.count ? open.items[slot].returnAddress - 1 : 0;
    }
    VELQ_StoredFrame &frame = state.frames[k];
    const VELQ_Instruction *instruction = program.getInstruction(address);
    const VELQ_Function *function = functionAt(program, address);
    copyField(frame.function, function ? function->name : "");
    frame.module[0] = '\0';
    frame.file = nullptr;
    for (uint32_t m = 0; m < program.moduleCount; m++) {
      const VELQ_Module &module = program.modules[m];
      if (address >= module.codeStart && address - module.codeStart < module.codeCount) {
        copyField(frame.module, module.name);
        if (state.moduleFiles[m]) frame.file = velqCopyName(state.moduleFiles[m]);
        break;
      }
    }
    frame.line = instruction ? instruction->sourceLine : 0;
    state.frameViews[k] = {frame.function, frame.module[0] ? frame.module : nullptr, frame.file,
                           frame.line};
    state.frameCount = k + 1;
  }
  state.callDepth = depth;
}

void VELQ_ProgramInternals::forgetErrorFrames(VELQ_Program &program) {
  VELQ_BudgetPause reportMemory;
  VELQ_ProgramInternals &state = *program.internals;
  for (uint32_t i = 0; i < state.frameCount; i++) velqRelease(state.frames[i].file);
  velqRelease(state.frames);
  velqRelease(state.frameViews);
  state.frames = nullptr;
  state.frameViews = nullptr;
  state.frameCount = 0;
  state.callDepth = 0;
}

uint32_t VELQ_Program::getErrorFrameCount() const { return internals ? internals->frameCount : 0; }

const VELQ_ErrorFrame *VELQ_Program::getErrorFrame(uint32_t i) const {
  return internals && i < internals->frameCount ? &internals->frameViews[i] : nullptr;
}

unsigned long VELQ_Program::getErrorCallDepth() const {
  return internals ? internals->callDepth : 0;
}

const char *VELQ_Program::getModuleFailure() const {
  return internals ? internals->moduleFailure : "";
}

void VELQ_ProgramInternals::noteModuleFailure(VELQ_Program &program, const char *format, ...) {
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(program.internals->moduleFailure, sizeof program.internals->moduleFailure, format,
            arguments);
  va_end(arguments);
}
