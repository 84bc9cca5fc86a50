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

// Sets the handler; restart tells whether system calls it interrupts go on.
void setHandler(bool restart) {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = restart ? SA_RESTART : 0;
  sigaction(SIGINT, &action, nullptr);
}

}  // namespace

// A SIGINT that was ignored when the tool started (as a shell ignores it for a command
// it runs in the background) stays ignored.
void installInterruptHandler() {
  struct sigaction current;
  if (sigaction(SIGINT, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) return;
  setHandler(true);
}

void setRunningProgram(VELQ_Program *program) { runningProgram = program; }

// While interrupts are noted, a read that waits for input returns with EINTR at Ctrl-C;
// otherwise interrupted calls go on, so that a run's output is not cut by a cancel.
void setInterruptsNoted(bool noted) {
  interruptsNoted = noted;
  struct sigaction current;
  if (sigaction(SIGINT, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) return;
  setHandler(!noted);
}

bool takeInterrupt() { return interrupted.exchange(false); }
