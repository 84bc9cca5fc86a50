// Code generation for expressions, statements and control flow.
#include "codegen.h"

#include <stdlib.h>
#include <string.h>

#include <string>

#include "compile_state.h"
#include "lexer.h"
#include "velq_instruction.h"
#include "velq_program.h"
#include "velq_value.h"

static const char BREAK_OUTSIDE_LOOP[] =
    "\"break\" statement can be used only within loops and \"switch\" statements";
static const char CONTINUE_OUTSIDE_LOOP[] = "\"continue\" statement can be used only within loops";

// The line feed that println appends to what it prints.
static const char LINE_FEED[] = "\n";

VELQ_CodeGen::VELQ_CodeGen(VELQ_CompileState *compileState, VELQ_Program *target)
    : state(compileState), program(target) {}

int VELQ_CodeGen::line() const { return state->lexer ? state->lexer->currentLine : 0; }

uint32_t VELQ_CodeGen::here() const { return (uint32_t)program->getCodeSize(); }

void VELQ_CodeGen::append(VELQ_Instruction *instruction) { program->addInstruction(instruction); }

void VELQ_CodeGen::emitJump(int opCode, uint32_t target) {
  append(new VELQ_Instruction(line(), opCode, (unsigned long)target));
}

void VELQ_CodeGen::semanticError(const char *message) {
  state->error(message);
  if (state->lexer) state->lexer->errorState = 1;
}

void VELQ_CodeGen::parserError(const char *message) { state->error(message); }

// ---- Expressions ----

void VELQ_CodeGen::emit(int opCode) { append(new VELQ_Instruction(line(), opCode)); }

void VELQ_CodeGen::emitName(int opCode, char *name) {
  append(new VELQ_Instruction(line(), opCode, name));
}

void VELQ_CodeGen::emitConstant(VELQ_Value *value) {
  append(new VELQ_Instruction(line(), OP_PUSH_CONST, value));
}

void VELQ_CodeGen::emitCast(int type) { append(new VELQ_Instruction(line(), OP_CAST, type)); }

void VELQ_CodeGen::emitCall(char *name, int count) {
  append(new VELQ_Instruction(line(), OP_CALL_EXT, name, count));
}

// c ? a : b  is  c; JZ else; a; JMP end; else: b; end:
void VELQ_CodeGen::conditionalTest() { emitJump(OP_JZ, VELQ_NO_ADDRESS); }

void VELQ_CodeGen::conditionalElse() {
  emitJump(OP_JMP, VELQ_NO_ADDRESS);
  program->resolveLastJump(OP_JZ);
}

void VELQ_CodeGen::conditionalEnd() { program->resolveLastJump(OP_JMP); }

// ---- Constants ----

VELQ_Value *VELQ_CodeGen::stringConstant(char *text) {
  VELQ_Value *value = new VELQ_Value(static_cast<const char *>(text));
  free(text);
  return value;
}

VELQ_Value *VELQ_CodeGen::int32Constant(int32_t n) { return new VELQ_Value(n); }
VELQ_Value *VELQ_CodeGen::uint32Constant(uint32_t n) { return new VELQ_Value(n); }
VELQ_Value *VELQ_CodeGen::int64Constant(int64_t n) { return new VELQ_Value(n); }
VELQ_Value *VELQ_CodeGen::uint64Constant(uint64_t n) { return new VELQ_Value(n); }
VELQ_Value *VELQ_CodeGen::realConstant(double d) { return new VELQ_Value(d); }
VELQ_Value *VELQ_CodeGen::nullConstant() { return new VELQ_Value(); }

// ---- Scripts, modules and functions ----

// Registers name at address (VELQ_NO_ADDRESS: the next address); a duplicate is an
// error. The message buffer is sized for the whole name, however long.
static bool registerFunction(VELQ_Program *program, const char *name, uint32_t address,
                             std::string *message) {
  static const char format[] = "Duplicate function name: \"\"";
  message->assign(strlen(name) + sizeof format + 1, '\0');
  unsigned long at = address == VELQ_NO_ADDRESS ? (unsigned long)-1 : (unsigned long)address;
  if (program->addFunction(name, at, &(*message)[0])) return true;
  message->resize(strlen(message->c_str()));
  return false;
}

// A script that is one expression becomes the function "main" at address 0, which
// returns the expression's value.
void VELQ_CodeGen::expressionScript() {
  emit(OP_RET);
  std::string message;
  if (!registerFunction(program, "main", 0, &message)) semanticError(message.c_str());
}

void VELQ_CodeGen::useModule(char *name) { program->addPreload(name); }

void VELQ_CodeGen::beginFunction(char *&name) {
  std::string message;
  if (!registerFunction(program, name, VELQ_NO_ADDRESS, &message)) semanticError(message.c_str());
  free(name);
  name = nullptr;
  state->idListOpcode = OP_BIND;
}

void VELQ_CodeGen::endFunction() { emit(OP_NRET); }

void VELQ_CodeGen::listName(char *&name) {
  emitName(state->idListOpcode, name);
  name = nullptr;
}

void VELQ_CodeGen::beginArrayList() { state->idListOpcode = OP_ARRAY; }

// ---- Statements ----

void VELQ_CodeGen::expressionStatement() { append(new VELQ_Instruction(line(), OP_POP, 1)); }

void VELQ_CodeGen::emptyStatement() { emit(OP_NOP); }

// The keyword is recognised before its value is parsed, so a return from inside
// switches can first drop their values under test. Left on the data stack, they would
// lie under the returned value, and the caller's next operator would take one as its
// operand (f(1) + f(1) would add a value under test). An exit ends the run with the
// value on top, so it needs nothing.
VELQ_Instruction *VELQ_CodeGen::statementKeyword(int opCode) {
  uint32_t switches = opCode == OP_RET ? state->switchesOpen() : 0;
  if (switches > 0) append(new VELQ_Instruction(line(), OP_POP, (int)switches));
  return new VELQ_Instruction(line(), opCode);
}

// exit, return and print without a value act on null.
void VELQ_CodeGen::simpleStatement(VELQ_Instruction *keyword, bool hasValue) {
  if (!hasValue) emitConstant(nullConstant());
  append(keyword);
}

// println prints its value and a line feed as one text.
void VELQ_CodeGen::printlnStatement(bool hasValue) {
  emitConstant(new VELQ_Value(LINE_FEED));
  if (hasValue) emit(OP_CONCAT);
  emit(OP_PRINT);
}

// A break is a NOP placeholder until its loop or switch ends.
void VELQ_CodeGen::breakStatement() {
  if (!state->inBreakScope()) {
    semanticError(BREAK_OUTSIDE_LOOP);
    return;
  }
  uint32_t at = here();
  emit(OP_NOP);
  state->addBreakAddr(at);
}

void VELQ_CodeGen::continueStatement() {
  if (!state->inLoop()) {
    semanticError(CONTINUE_OUTSIDE_LOOP);
    return;
  }
  // Leaving switches drops their values under test; otherwise each pass of the loop
  // would leave one more value on the data stack.
  uint32_t switches = state->switchesInLoop();
  if (switches > 0) append(new VELQ_Instruction(line(), OP_POP, (int)switches));
  emitJump(OP_JMP, state->peekAddr());
}

// ---- if ----

void VELQ_CodeGen::ifCondition() { emitJump(OP_JZ, VELQ_NO_ADDRESS); }

void VELQ_CodeGen::ifEnd() { program->resolveLastJump(OP_JZ); }

void VELQ_CodeGen::elseStart() {
  emitJump(OP_JMP, VELQ_NO_ADDRESS);
  program->resolveLastJump(OP_JZ);
}

void VELQ_CodeGen::elseEnd() { program->resolveLastJump(OP_JMP); }

// ---- while ----

void VELQ_CodeGen::whileStart() {
  state->pushAddr(here());
  state->openBreakScope();
}

void VELQ_CodeGen::whileCondition() { emitJump(OP_JZ, VELQ_NO_ADDRESS); }

void VELQ_CodeGen::whileEnd() {
  emitJump(OP_JMP, state->popAddr());
  program->resolveLastJump(OP_JZ);
  state->closeBreakScope(program);
}

// ---- do ... while ----

void VELQ_CodeGen::doStart() {
  state->pushAddr(here());
  state->openBreakScope();
}

void VELQ_CodeGen::doEnd() {
  emitJump(OP_JNZ, state->popAddr());
  state->closeBreakScope(program);
}

// ---- switch ----
//
// The value under test stays on the data stack for the whole statement. Each case
// is CASE k; JZ next-case; statements; and, when another case follows, a JMP over
// that case's CASE and JZ, so control falls through into its statements.

void VELQ_CodeGen::switchStart() {
  state->openBreakScope();
  state->enterSwitch();
}

void VELQ_CodeGen::caseLabel(VELQ_Value *&constant) {
  append(new VELQ_Instruction(line(), OP_CASE, constant));
  constant = nullptr;
  emitJump(OP_JZ, VELQ_NO_ADDRESS);
}

void VELQ_CodeGen::caseFallThrough() {
  emitJump(OP_JMP, here() + 3);
  program->resolveLastJump(OP_JZ);
}

void VELQ_CodeGen::lastCaseEnd() { program->resolveLastJump(OP_JZ); }

void VELQ_CodeGen::switchEnd() {
  state->leaveSwitch();
  state->closeBreakScope(program);
  append(new VELQ_Instruction(line(), OP_POP, 1));
}
