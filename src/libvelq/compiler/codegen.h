// Code generation: what the parser's actions append to the program as each rule of
// the grammar is recognised. There is no syntax tree; the code of a construct follows
// the code of its parts. A forward jump is emitted without a target (VELQ_NO_ADDRESS);
// the generator keeps its address as a pending jump and patches the target in once the
// construct reaches it, as a one-pass compiler keeps its pending jumps in locals.
//
// Every instruction is stamped with the lexer's current line at the moment it is
// emitted: the line of the token the parser read last.
//
// Names and values passed in belong to the generator from then on. Where the grammar
// keeps a symbol on its stack after handing its text or value over (mid-rule actions),
// the generator takes it by reference and clears the caller's pointer, so that the
// parser's clean-up after a later syntax error cannot release it a second time.
//
// When memory is refused the generator records "memory exhausted" (which fails the
// compilation) and emits nothing more.
#ifndef VELQ_CODEGEN_H
#define VELQ_CODEGEN_H

#include <stdint.h>

#include "runtime/growth.h"

class VELQ_CompileState;
class VELQ_Instruction;
class VELQ_Program;
class VELQ_Value;

class VELQ_CodeGen {
 public:
  VELQ_CodeGen(VELQ_CompileState *state, VELQ_Program *program);

  int line() const;
  VELQ_CompileState *getState() const { return state; }

  // Expressions.
  void emit(int opCode);                  // an instruction without operand
  void emitName(int opCode, char *name);  // SET, PUSH_VAR, INC, AGET, ...
  void emitConstant(VELQ_Value *value);   // PUSH_CONST
  void emitCast(int type);                // CAST to a type code
  void emitCall(char *name, int count);   // CALL_EXT; resolved after the parse
  void conditionalTest();                 // E1 ? ... : after E1
  void conditionalElse();                 // after the middle expression
  void conditionalEnd();                  // after the last expression

  // Constants: new values for PUSH_CONST and CASE.
  VELQ_Value *stringConstant(char *text);  // frees the token's text
  VELQ_Value *int32Constant(int32_t n);
  VELQ_Value *uint32Constant(uint32_t n);
  VELQ_Value *int64Constant(int64_t n);
  VELQ_Value *uint64Constant(uint64_t n);
  VELQ_Value *realConstant(double d);
  VELQ_Value *nullConstant();

  // Scripts, modules and functions.
  void expressionScript();  // a script that is one expression: "main"
  void useModule(char *name);
  void beginFunction(char *&name);  // registers the function at the next address
  void endFunction();
  void listName(char *&name);  // one name of a parameter or "array" list
  void beginArrayList();

  // Statements.
  void expressionStatement();
  void emptyStatement();
  VELQ_Instruction *statementKeyword(int opCode);  // EXIT, RET or PRINT, not yet placed
  void simpleStatement(VELQ_Instruction *keyword, bool hasValue);
  void printlnStatement(bool hasValue);
  void breakStatement();
  void continueStatement();

  // if (c) S [else S]
  void ifCondition();
  void ifEnd();
  void elseStart();
  void elseEnd();

  // while (c) S
  void whileStart();
  void whileCondition();
  void whileEnd();

  // do S while (c);
  void doStart();
  void doEnd();

  // switch (e) { case K: ... default: ... }
  void switchStart();
  void caseLabel(VELQ_Value *&constant);
  void caseFallThrough();  // another case follows
  void lastCaseEnd();
  void switchEnd();

  // Reports a syntax error or another message of the parser.
  void parserError(const char *message);

 private:
  // A loop or a switch being compiled. A break inside it is a NOP placeholder until the
  // construct ends; a continue jumps to the loop's start.
  struct Construct {
    bool loop;
    uint32_t start;       // a loop's first address
    uint32_t firstBreak;  // its placeholders are breaks[firstBreak ..]
  };

  void append(VELQ_Instruction *instruction);
  void emitJump(int opCode, uint32_t target);
  // Emits a jump without a target and keeps it as the innermost pending jump.
  void openJump(int opCode);
  // The innermost pending jump gets the current address as its target.
  void resolvePendingJump();
  void openConstruct(bool loop);
  // Ends the innermost construct: each of its break placeholders becomes a jump to the
  // current address.
  void closeConstruct();
  // The switches open inside the innermost loop (all of them with everything = true):
  // their values under test must be dropped by a continue (a return).
  uint32_t openSwitches(bool everything) const;
  uint32_t here() const;
  void semanticError(const char *message);
  void outOfMemory();

  VELQ_CompileState *state;
  VELQ_Program *program;
  int listOpcode;  // what a name of an identifier list becomes: BIND or ARRAY
  bool failed;     // memory was refused: nothing more is emitted
  VELQ_GrowingList<uint32_t> pendingJumps;  // if, else, ?:, case; innermost last
  VELQ_GrowingList<Construct> constructs;   // loops and switches; innermost last
  VELQ_GrowingList<uint32_t> breaks;        // the open constructs' placeholders
};

#endif
