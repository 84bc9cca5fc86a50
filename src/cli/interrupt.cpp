// Ctrl-C in the velq tool: a SIGINT handler that cancels the running program or notes
// the interruption. Everything it touches is a lock-free atomic, and VELQ_Program::cancel
// may be called from a signal handler.
#include "interrupt.h"

#include <signal.h>
#include <string.h>

#include <atomic>

#include "velq.h"

namespace {

std::atomic<VELQ_Program *> runningProgram{nullptr};
std::atomic<bool> interruptsNoted{false};
std::atomic<bool> interrupted{false};

void onInterrupt(int signalNumber) {
  interrupted = true;
  if (VELQ_Program *program = runningProgram.load()) {
    program->cancel();
  } else if (!interruptsNoted.load()) {
    // Nothing to cancel and nobody waiting for the note: end as SIGINT does by default.
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
  }
}

}  // namespace

// No SA_RESTART: a read waiting for input (the REPL's, or a script's ReadLine) returns
// at Ctrl-C, so that the line is abandoned or the cancelled run stops at once. A SIGINT
// that was ignored when the tool started (as a shell ignores it for a command it runs
// in the background) stays ignored.
void installInterruptHandler() {
  struct sigaction action;
  if (sigaction(SIGINT, nullptr, &action) == 0 && action.sa_handler == SIG_IGN) return;
  memset(&action, 0, sizeof action);
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
}

void setRunningProgram(VELQ_Program *program) { runningProgram = program; }

void setInterruptsNoted(bool noted) { interruptsNoted = noted; }

bool takeInterrupt() { return interrupted.exchange(false); }
