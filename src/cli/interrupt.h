// Ctrl-C in the velq tool. During a run it cancels the run, which then stops with error
// 30 after its output so far is written; at the REPL's prompt it abandons the line being
// typed; anywhere else it ends the tool as SIGINT would.
#ifndef VELQ_CLI_INTERRUPT_H
#define VELQ_CLI_INTERRUPT_H

class VELQ_Program;

// Installs the SIGINT handler. System calls it interrupts are not restarted.
void installInterruptHandler();

// Marks program as the one whose run Ctrl-C cancels, or none (null).
void setRunningProgram(VELQ_Program *program);

// Whether Ctrl-C should be noted rather than end the tool while no run is in progress
// (in the REPL).
void setInterruptsNoted(bool noted);

// Whether Ctrl-C came since the last call; clears the note.
bool takeInterrupt();

#endif
