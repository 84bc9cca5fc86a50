// The velq REPL, built on the public API alone.
//
// The session keeps the text of the definitions entered so far (inputs starting with
// sub or use) and compiles every other input together with them into a program whose
// main runs the input: as `return (INPUT);` when the input is an expression, else as
// statements. Each piece of text stands at the session line it was typed on (the
// composed source is padded with empty lines), so the engine's line numbers are the
// session's.
//
// Variables last as the program's globals. Before a run, every variable that the
// input's own code names becomes a global holding the session's value of that name;
// after the run, the globals as the run left them go back into the session.
#include "repl.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <vector>

#include "interrupt.h"
#include "line_reader.h"
#include "report.h"
#include "velq.h"

namespace {

const char *const REPL_LABEL = "repl";
const char *const PROMPT = "velq> ";
const char *const CONTINUATION_PROMPT = "....> ";
const char *const MAIN_TAKEN =
    "main is the function each input of the REPL runs in: it cannot be defined or called";
// The library entry under which a script run before the REPL offers its functions. The
// name is not one a script would use, and the id follows those of the -m modules.
const char *const SCRIPT_MODULE = "velq_repl_script";
const unsigned long SCRIPT_MODULE_ID = 0x7fffffff;

// The words that start a statement and never an expression.
const char *const STATEMENT_WORDS[] = {"print", "println", "if",    "while", "do",    "switch",
                                       "return", "exit",   "break", "continue", "array"};

// A piece of the composed source: a definition, or the input being run.
struct Piece {
  int line;                        // the session line its text starts on
  std::string text;                // ends with a line feed
  std::vector<std::string> names;  // the functions it defines
};

// How an input that is no definition is wrapped into main.
enum InputForm {
  EXPRESSION,        // its value is returned, and printed unless it is null
  STATEMENTS,        // it runs as it is
  STATEMENTS_ENDED,  // it runs with a ';' added, for a last statement typed without one
};

std::string trimmed(const std::string &text) {
  size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

// The identifier, keyword or single character the text starts with, after blanks.
std::string firstWord(const std::string &text) {
  size_t start = text.find_first_not_of(" \t\r\n");
  if (start == std::string::npos) return std::string();
  size_t end = start;
  while (end < text.size() && (isalnum((unsigned char)text[end]) || text[end] == '_')) end++;
  return text.substr(start, end > start ? end - start : 1);
}

int countLines(const std::string &text) { return (int)std::count(text.begin(), text.end(), '\n'); }

// The source made of the prefix and the pieces, each piece starting on its line.
std::string composeSource(const std::string &prefix, const std::vector<const Piece *> &pieces) {
  std::string source = prefix;
  int line = 1;
  for (const Piece *piece : pieces) {
    if (piece->line > line) source.append((size_t)(piece->line - line), '\n');
    line = std::max(line, piece->line) + countLines(piece->text);
    source += piece->text;
  }
  return source;
}

// The address of the program's main, or VELQ_NO_ADDRESS.
uint32_t mainAddress(const VELQ_Program *program) {
  for (uint32_t i = 0; i < program->getFunctionCount(); i++)
    if (strcmp(program->getFunction(i)->name, "main") == 0) return program->getFunction(i)->address;
  return VELQ_NO_ADDRESS;
}

// Whether an instruction names a variable of the function it is in. Names that start
// with '$' are the function's arguments and match groups, which stay its own.
bool namesVariable(const VELQ_Instruction *instruction) {
  switch (instruction->opCode) {
    case OP_PUSH_VAR:
    case OP_SET:
    case OP_INC:
    case OP_DEC:
    case OP_INCP:
    case OP_DECP:
    case OP_ARRAY:
      return instruction->operand.name && instruction->operand.name[0] != '$';
    default:
      return false;
  }
}

// Whether main's value is that of an assignment, which is not worth printing: the
// instruction before main's last RET stores a variable, an element or an attribute.
bool endsInAssignment(const VELQ_Program *program, uint32_t start) {
  for (uint32_t at = program->getCodeSize(); at-- > start + 1;) {
    if (program->getInstruction(at)->opCode != OP_RET) continue;
    int before = program->getInstruction(at - 1)->opCode;
    return before == OP_SET || before == OP_ESET || before == OP_ASET;
  }
  return false;
}

// Whether main's code calls main, which in the REPL is the input itself: the call
// would only recurse until the stack is full.
bool callsMain(const VELQ_Program *program, uint32_t start) {
  for (uint32_t at = start; at < program->getCodeSize(); at++) {
    const VELQ_Instruction *instruction = program->getInstruction(at);
    if ((instruction->opCode == OP_CALL && instruction->operand.address == start) ||
        (instruction->opCode == OP_CALL_EXT && instruction->operand.name &&
         strcmp(instruction->operand.name, "main") == 0))
      return true;
  }
  return false;
}

class Session {
 public:
  Session(RunSetup *runSetup, VELQ_Program *script);

  // Handles one complete input that starts on the given session line. Returns false when
  // the input ended the session, with the tool's exit status in *status.
  bool handle(const std::string &input, int line, int *status);

 private:
  bool define(const Piece &piece);
  VELQ_Program *compileWith(const Piece *extra, std::string *error);
  VELQ_Program *compileInput(const std::string &input, int line, InputForm *form);
  void prepareGlobals(VELQ_Program *program, uint32_t start);
  void keepGlobals(VELQ_VariableSystem *globals);

  RunSetup *setup;
  std::string prefix;  // the use statements that reach the script run before, if any
  std::vector<Piece> definitions;
  VELQ_VariableSystem variables;
};

Session::Session(RunSetup *runSetup, VELQ_Program *script) : setup(runSetup) {
  if (!script) return;
  // The script becomes a module of the library; the modules it used itself must be used
  // by every input as well, since a module's own use statements are not followed.
  prefix = std::string("use ") + SCRIPT_MODULE + "; ";
  for (uint32_t i = 0; i < script->getPreloadCount(); i++)
    prefix += std::string("use ") + script->getPreload(i) + "; ";
  if (!setup->library->addScript(SCRIPT_MODULE_ID, SCRIPT_MODULE, script)) {
    delete script;
    prefix.clear();
    return;
  }
  setup->moduleFiles[SCRIPT_MODULE] = setup->label;
}

// Compiles the definitions with one more piece after them (none when extra is null).
VELQ_Program *Session::compileWith(const Piece *extra, std::string *error) {
  std::vector<const Piece *> pieces;
  for (const Piece &definition : definitions) pieces.push_back(&definition);
  if (extra) pieces.push_back(extra);
  char message[VELQ_COMPILE_ERROR_SIZE];
  VELQ_Program *program = VELQCompile(composeSource(prefix, pieces).c_str(), message, sizeof message);
  if (!program && error) *error = message;
  return program;
}

// Keeps a definition. Earlier definitions of the same functions give way to it, unless
// they define other functions too; the compiler then reports the duplicate.
bool Session::define(const Piece &piece) {
  char message[VELQ_COMPILE_ERROR_SIZE];
  std::string alone = composeSource("", {&piece});
  VELQ_Program *own = VELQCompile(alone.c_str(), message, sizeof message);
  if (!own) {
    reportCompileError(REPL_LABEL, message);
    return false;
  }
  Piece kept = piece;
  for (uint32_t i = 0; i < own->getFunctionCount(); i++) kept.names.push_back(own->getFunction(i)->name);
  bool usesModules = own->getPreloadCount() > 0;
  delete own;
  if (std::find(kept.names.begin(), kept.names.end(), "main") != kept.names.end()) {
    fprintf(stderr, "velq: %s\n", MAIN_TAKEN);
    return false;
  }

  std::vector<Piece> before = definitions;
  definitions.erase(
      std::remove_if(definitions.begin(), definitions.end(),
                     [&kept](const Piece &old) {
                       if (old.names.empty()) return old.text == kept.text;  // the same use
                       for (const std::string &name : old.names)
                         if (std::find(kept.names.begin(), kept.names.end(), name) == kept.names.end())
                           return false;
                       return true;
                     }),
      definitions.end());
  definitions.push_back(kept);
  std::string error;
  VELQ_Program *all = compileWith(nullptr, &error);
  if (!all) {
    definitions = before;
    reportCompileError(REPL_LABEL, error.c_str());
    return false;
  }
  // A module that cannot be loaded would fail every later input: a run of the
  // definitions alone loads the modules before it finds no main, and shows the failure.
  const char *failure = nullptr;
  if (usesModules && runWithBudgets(all, *setup, nullptr) != 0) failure = all->getModuleFailure();
  if (failure && failure[0]) {
    definitions = before;
    reportRunError(all, REPL_LABEL, setup->moduleFiles);
    delete all;
    return false;
  }
  delete all;
  return true;
}

// Compiles an input as the first of its forms that compiles. When none does, reports
// the error of the form the input looks like it was meant as, and returns null.
VELQ_Program *Session::compileInput(const std::string &input, int line, InputForm *form) {
  // The wrapper closes on the input's last line, so that an error at the end of the
  // input names that line, unless a line comment there would hide the closing.
  std::string body = input.substr(0, input.size() - 1);
  size_t lastLine = body.rfind('\n');
  bool comment = body.find("//", lastLine == std::string::npos ? 0 : lastLine) != std::string::npos;
  body += comment ? "\n" : " ";
  const std::string wrapped[] = {
      "sub main() { return (" + body + "); }\n",
      "sub main() { " + body + "}\n",
      "sub main() { " + body + ";}\n",
  };
  for (int f = EXPRESSION; f <= STATEMENTS_ENDED; f++) {
    Piece piece{line, wrapped[f], {}};
    if (VELQ_Program *program = compileWith(&piece, nullptr)) {
      *form = (InputForm)f;
      return program;
    }
  }
  std::string text = trimmed(input);
  std::string word = firstWord(text);
  bool statement = word == "{";
  for (const char *keyword : STATEMENT_WORDS) statement = statement || word == keyword;
  char last = text.empty() ? ';' : text.back();
  std::string error;
  if (last == ';' || last == '}') {
    Piece piece{line, wrapped[STATEMENTS], {}};
    compileWith(&piece, &error);
  } else if (statement) {
    Piece piece{line, wrapped[STATEMENTS_ENDED], {}};
    compileWith(&piece, &error);
  } else {
    // An expression alone is a whole script; its error is the one velq -e would give.
    // Without its line feed, an expression cut short ends on its own line.
    Piece piece{line, comment ? input : input.substr(0, input.size() - 1), {}};
    char message[VELQ_COMPILE_ERROR_SIZE];
    VELQ_Program *program = VELQCompile(composeSource("", {&piece}).c_str(), message, sizeof message);
    delete program;
    error = program ? "the input is neither an expression nor statements" : message;
  }
  reportCompileError(REPL_LABEL, error.c_str());
  return nullptr;
}

// Makes every variable that main's code names a global holding the session's value.
// A declaration `array NAME` gives the session a new empty array under NAME, and is
// then taken out of the code, since declaring a name that exists is an error and a
// session variable exists from one input to the next.
void Session::prepareGlobals(VELQ_Program *program, uint32_t start) {
  std::set<std::string> names;
  for (uint32_t at = start; at < program->getCodeSize(); at++) {
    VELQ_Instruction *instruction = program->getInstruction(at);
    if (!namesVariable(instruction)) continue;
    std::string name = instruction->operand.name;
    if (instruction->opCode == OP_ARRAY) {
      free(instruction->operand.name);
      instruction->operand.name = nullptr;
      instruction->opCode = OP_NOP;
      program->setGlobalVariable(name.c_str(), new VELQ_Value(new VELQ_Array()));
      names.insert(name);
    } else if (names.insert(name).second) {
      VELQ_Variable *variable = variables.find(name.c_str());
      program->setGlobalVariable(name.c_str(), variable ? new VELQ_Value(variable->getValue())
                                                        : new VELQ_Value());
    }
  }
}

void Session::keepGlobals(VELQ_VariableSystem *globals) {
  if (!globals) return;
  for (uint32_t i = 0; i < globals->getCount(); i++) {
    VELQ_Variable *global = globals->getVariable(i);
    VELQ_Value *value = new VELQ_Value(global->getValue());
    if (VELQ_Variable *variable = variables.find(global->getName()))
      variable->setValue(value);
    else
      variables.create(global->getName(), value);
  }
  delete globals;
}

bool Session::handle(const std::string &input, int line, int *status) {
  std::string text = trimmed(input);
  if (text.empty()) return true;
  std::string word = firstWord(text);
  if (word == "sub" || word == "use") {
    define(Piece{line, input, {}});
    return true;
  }
  // "exit" alone is the exit statement a user means by it.
  InputForm form = STATEMENTS;
  VELQ_Program *program = compileInput(text == "exit" ? "exit;\n" : input, line, &form);
  if (!program) return true;

  uint32_t start = mainAddress(program);
  if (callsMain(program, start)) {
    fprintf(stderr, "velq: %s\n", MAIN_TAKEN);
    delete program;
    return true;
  }
  bool printValue = form == EXPRESSION && !endsInAssignment(program, start);
  prepareGlobals(program, start);
  VELQ_VariableSystem *globals = nullptr;
  int outcome = runWithBudgets(program, *setup, &globals);
  keepGlobals(globals);
  bool ended = false;
  if (outcome == 0) {
    ended = program->endedByExit();
    if (ended) {
      *status = exitStatusOfRun(program);
    } else if (printValue && program->getResult() && !program->getResult()->isNull()) {
      writeResult(program->getResult(), stdout);
    }
  } else {
    fflush(stdout);
    reportRunError(program, REPL_LABEL, setup->moduleFiles);
    takeInterrupt();  // a Ctrl-C that cancelled the run is spent
  }
  fflush(stdout);
  delete program;
  return !ended;
}

}  // namespace

bool isInputComplete(const std::string &input) {
  int depth = 0;
  int commentLevel = 0;  // block comments nest
  bool inString = false;
  for (size_t i = 0; i < input.size(); i++) {
    char c = input[i];
    char next = i + 1 < input.size() ? input[i + 1] : '\0';
    if (commentLevel > 0) {
      if (c == '/' && next == '*') {
        commentLevel++;
        i++;
      } else if (c == '*' && next == '/') {
        commentLevel--;
        i++;
      }
    } else if (inString) {
      // A backslash escapes only a quote; a literal cannot go past its line.
      if (c == '\\' && next == '"') {
        i++;
      } else if (c == '"' || c == '\n') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '/' && next == '/') {
      size_t end = input.find('\n', i);
      if (end == std::string::npos) break;
      i = end;
    } else if (c == '/' && next == '*') {
      commentLevel = 1;
      i++;
    } else if (c == '{') {
      depth++;
    } else if (c == '}') {
      depth--;
    }
  }
  return depth <= 0 && commentLevel == 0;
}

int runRepl(RunSetup *setup, VELQ_Program *script) {
  // Ctrl-C never ends the session: it abandons a line or cancels a run, and one that
  // comes between the two is dropped.
  setInterruptsNoted(true);
  bool terminal = isatty(STDIN_FILENO);
  LineReader reader(terminal);
  Session session(setup, script);
  if (terminal) printf("velq %s: Ctrl-D ends the session, Ctrl-C abandons a line\n", VELQ_VERSION);

  int nextLine = 1;  // the session line the next line read is
  int inputLine = 1;
  std::string input;
  for (;;) {
    std::string line;
    LineReader::Outcome outcome = reader.read(input.empty() ? PROMPT : CONTINUATION_PROMPT, &line);
    if (outcome == LineReader::INTERRUPTED) {
      input.clear();
      continue;
    }
    if (outcome == LineReader::END) {
      // An input left open at the end is handled as it is, and its error reported.
      int status = VELQ_EXIT_OK;
      if (!input.empty()) session.handle(input, inputLine, &status);
      return status;
    }
    if (input.empty()) inputLine = nextLine;
    input += line + "\n";
    nextLine += 1 + countLines(line);  // a line from the history may hold several
    if (!isInputComplete(input)) continue;
    reader.remember(input.substr(0, input.size() - 1));
    int status = VELQ_EXIT_OK;
    if (!session.handle(input, inputLine, &status)) return status;
    input.clear();
  }
}
