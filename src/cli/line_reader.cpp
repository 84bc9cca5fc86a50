// Lines for the REPL, edited through readline's callback interface where it is at hand.
//
// The callback interface lets the reader wait for input itself: Ctrl-C then only notes
// the interruption (the REPL has interrupts noted, see interrupt.h) and breaks the
// wait, and the reader abandons the line outside any signal handler.
#include "line_reader.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <signal.h>
#include <sys/select.h>

#include "interrupt.h"

#ifdef VELQ_HAVE_READLINE
#include <dlfcn.h>
#include <readline/history.h>
#include <readline/readline.h>

namespace {

// readline, loaded when the REPL starts on a terminal rather than when the tool starts:
// a run of a script does not pay for mapping it (and the terminal library it brings).
// The headers give the types; the library gives the addresses.
struct Readline {
  decltype(&rl_callback_handler_install) handlerInstall;
  decltype(&rl_callback_handler_remove) handlerRemove;
  decltype(&rl_callback_read_char) readChar;
  decltype(&rl_free_line_state) freeLineState;
  decltype(&rl_callback_sigcleanup) sigCleanup;
  decltype(&add_history) addHistory;
  decltype(&rl_catch_signals) catchSignals;
  decltype(&rl_readline_name) name;
  decltype(&rl_instream) inStream;
  decltype(&rl_outstream) outStream;
};

template <typename T>
bool lookUp(void *library, const char *symbol, T *address) {
  *address = reinterpret_cast<T>(dlsym(library, symbol));
  return *address != nullptr;
}

// The library, or null when it cannot be loaded (the REPL then reads plain lines).
const Readline *loadReadline() {
  static Readline readline;
  static const bool loaded = [] {
    void *library = dlopen(VELQ_READLINE_SONAME, RTLD_NOW | RTLD_LOCAL);
    return library && lookUp(library, "rl_callback_handler_install", &readline.handlerInstall) &&
           lookUp(library, "rl_callback_handler_remove", &readline.handlerRemove) &&
           lookUp(library, "rl_callback_read_char", &readline.readChar) &&
           lookUp(library, "rl_free_line_state", &readline.freeLineState) &&
           lookUp(library, "rl_callback_sigcleanup", &readline.sigCleanup) &&
           lookUp(library, "add_history", &readline.addHistory) &&
           lookUp(library, "rl_catch_signals", &readline.catchSignals) &&
           lookUp(library, "rl_readline_name", &readline.name) &&
           lookUp(library, "rl_instream", &readline.inStream) &&
           lookUp(library, "rl_outstream", &readline.outStream);
  }();
  return loaded ? &readline : nullptr;
}

const Readline *lineEditor = nullptr;  // once a reader edits lines

}  // namespace
#endif

LineReader::LineReader(bool onTerminal) : terminal(onTerminal), editing(false) {
#ifdef VELQ_HAVE_READLINE
  if (onTerminal) lineEditor = loadReadline();
  editing = lineEditor != nullptr;
  if (editing) {
    *lineEditor->catchSignals = 0;  // Ctrl-C is the tool's own handler's to note
    *lineEditor->name = "velq";
    *lineEditor->inStream = stdin;
    *lineEditor->outStream = stdout;
  }
#endif
}

LineReader::Outcome LineReader::read(const char *prompt, std::string *line) {
  line->clear();
  takeInterrupt();  // a Ctrl-C from before the prompt is not for this line
  return editing ? readEdited(prompt, line) : readPlain(prompt, line);
}

LineReader::Outcome LineReader::readPlain(const char *prompt, std::string *line) {
  if (terminal) {
    fputs(prompt, stdout);
    fflush(stdout);
  }
  for (;;) {
    int c = getc(stdin);
    if (c == '\n') return LINE;
    if (c != EOF) {
      line->push_back((char)c);
      continue;
    }
    if (takeInterrupt()) {
      clearerr(stdin);
      if (terminal) fputc('\n', stdout);
      return INTERRUPTED;
    }
    if (ferror(stdin) && errno == EINTR) {  // another signal: keep waiting
      clearerr(stdin);
      continue;
    }
    // A last line without a line feed is a line; the end comes at the next read.
    return line->empty() ? END : LINE;
  }
}

#ifdef VELQ_HAVE_READLINE

namespace {

// What readline's line handler received for the read in progress.
struct EditedLine {
  bool done = false;
  bool ended = false;
  std::string text;
};
EditedLine *current = nullptr;

void takeLine(char *text) {
  current->done = true;
  if (text) {
    current->text = text;
    free(text);
  } else {
    current->ended = true;
  }
  lineEditor->handlerRemove();
}

}  // namespace

// SIGINT stays blocked except while the reader waits in pselect, which unblocks it
// atomically: a Ctrl-C that comes while readline works is then noticed at the next
// wait, never lost between the check of the note and the wait.
LineReader::Outcome LineReader::readEdited(const char *prompt, std::string *line) {
  sigset_t interrupt, unblocked;
  sigemptyset(&interrupt);
  sigaddset(&interrupt, SIGINT);
  sigprocmask(SIG_BLOCK, &interrupt, &unblocked);
  sigdelset(&unblocked, SIGINT);
  EditedLine edited;
  current = &edited;
  lineEditor->handlerInstall(prompt, takeLine);
  int fd = fileno(*lineEditor->inStream);
  bool interrupted = false;
  while (!edited.done) {
    if (takeInterrupt()) {
      interrupted = true;
      break;
    }
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(fd, &readable);
    int ready = pselect(fd + 1, &readable, nullptr, nullptr, nullptr, &unblocked);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) {
      lineEditor->handlerRemove();
      edited.ended = true;
      break;
    }
    if (ready > 0) lineEditor->readChar();
  }
  if (interrupted) {
    // Abandon the line: readline forgets it and gives the terminal back.
    lineEditor->freeLineState();
    lineEditor->sigCleanup();
    lineEditor->handlerRemove();
    fputc('\n', stdout);
    fflush(stdout);
  }
  sigprocmask(SIG_UNBLOCK, &interrupt, nullptr);
  current = nullptr;
  if (interrupted) return INTERRUPTED;
  if (edited.ended) {
    fputc('\n', stdout);
    return END;
  }
  *line = edited.text;
  return LINE;
}

void LineReader::remember(const std::string &input) {
  if (editing && input.find_first_not_of(" \t\n") != std::string::npos) lineEditor->addHistory(input.c_str());
}

#else

LineReader::Outcome LineReader::readEdited(const char *prompt, std::string *line) {
  return readPlain(prompt, line);
}

void LineReader::remember(const std::string &) {}

#endif
