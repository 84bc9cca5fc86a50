// The velq REPL: each input is an expression whose value is printed, a statement that
// runs, or a definition (sub, use) that is kept; variables and functions last for the
// session.
#ifndef VELQ_CLI_REPL_H
#define VELQ_CLI_REPL_H

#include <string>

#include "run.h"

class VELQ_Program;

// Whether an input is complete: every brace it opened is closed and no block comment is
// left open. Braces inside string literals and comments do not count.
bool isInputComplete(const std::string &input);

// Reads inputs from standard input until it ends or an input runs exit, and returns the
// tool's exit status. A script that ran before (velq -i FILE) is given as script, which
// the session takes: its functions can then be called from the REPL. Errors are reported
// with the label "repl" and the session's line numbers, and the session goes on.
int runRepl(RunSetup *setup, VELQ_Program *script);

#endif
