// The compiler object of one compilation: the lexer, the bookkeeping of open loops and
// switches, and the first error message.
#ifndef VELQ_COMPILE_STATE_H
#define VELQ_COMPILE_STATE_H

#include <stdint.h>

#include <vector>

class VELQ_Lexer;
class VELQ_Program;
class VELQ_Stack;

enum {
  VELQ_COMPILE_MESSAGE_SIZE = 1024,  // "Error in line N: ..." holds at most 1023 characters
};

class VELQ_CompileState {
 public:
  VELQ_CompileState();
  ~VELQ_CompileState();

  VELQ_CompileState(const VELQ_CompileState &) = delete;
  VELQ_CompileState &operator=(const VELQ_CompileState &) = delete;

  // Records message, prefixed with the lexer's current line, unless an error was
  // recorded before: only the first error of a compilation counts.
  void error(const char *message);

  // Compiles source into a new program, or returns null when the compilation
  // failed (the first error is then in errorText). Called once per object.
  VELQ_Program *compile(const char *source);

  // Loop start addresses, innermost on top. pop and peek give VELQ_NO_ADDRESS
  // when no loop is open; address 0 is an ordinary entry.
  void pushAddr(uint32_t address);
  uint32_t popAddr();
  uint32_t peekAddr() const;
  bool inLoop() const;

  // Switches opened inside the innermost loop and still open. A continue leaves them
  // all, so it must first drop their values under test from the data stack.
  void enterSwitch();
  void leaveSwitch();
  uint32_t switchesInLoop() const;
  // All switches still open in the function being compiled, inside loops or not. A
  // return leaves them all, so it must first drop every value under test.
  uint32_t switchesOpen() const;

  // One queue of "break" placeholders per open loop or switch, innermost on top.
  void openBreakScope();
  bool inBreakScope() const;
  // Adds a placeholder address to the innermost scope; nothing when none is open.
  void addBreakAddr(uint32_t address);
  // Closes the innermost scope: each of its placeholders becomes a jump to the
  // next address of the program's code.
  void closeBreakScope(VELQ_Program *program);

  char *errorText;
  VELQ_Lexer *lexer;
  VELQ_Stack *addrStack;
  VELQ_Stack *breakStack;
  int32_t idListOpcode;

 private:
  // One count per open loop, innermost last; the first entry counts switches outside loops.
  std::vector<uint32_t> openSwitches{0};
};

// Copies text into a buffer of size bytes (size >= 1): at most size - 1 bytes, never
// ending on part of a multibyte character of the current locale, the rest zeroed, so
// the buffer always ends terminated. VELQCompile hands its error text over this way.
void VELQ_CopyMessage(char *buffer, int size, const char *text);

#endif
