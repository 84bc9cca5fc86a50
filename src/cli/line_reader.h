// Lines for the REPL: with line editing and history through GNU readline when the tool
// was built with it and standard input is a terminal, else plain lines from standard
// input.
#ifndef VELQ_CLI_LINE_READER_H
#define VELQ_CLI_LINE_READER_H

#include <string>

class LineReader {
 public:
  enum Outcome {
    LINE,         // a line was read
    INTERRUPTED,  // Ctrl-C abandoned the line being typed
    END           // the input ended (Ctrl-D on a terminal)
  };

  // On a terminal the reader writes prompts and, where it can, edits lines.
  explicit LineReader(bool terminal);

  // Reads one line, without its line feed, after writing the prompt. Ctrl-C abandons
  // the line when interrupts are noted (see interrupt.h).
  Outcome read(const char *prompt, std::string *line);

  // Keeps a complete input in the history of this session.
  void remember(const std::string &input);

  // Whether lines are edited with history (built with readline, on a terminal).
  bool edits() const { return editing; }

 private:
  Outcome readPlain(const char *prompt, std::string *line);
  Outcome readEdited(const char *prompt, std::string *line);

  bool terminal;
  bool editing;
};

#endif
