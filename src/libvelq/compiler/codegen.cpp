// Code generation for expressions, statements and control flow.
#include "codegen.h"

#include <stdio.h>
#include <string.h>

#include "compile_state.h"
#include "lexer.h"
#include "runtime/memory.h"
#include "vm/opcodes.h"
#include "velq_instruction.h"
#include "velq_program.h"
#include "velq_value.h"

namespace {

const char BREAK_OUTSIDE_LOOP[] =
    "\"break\" statement can be used only within loops and \"switch\" statements";
const char CONTINUE_OUTSIDE_LOOP[] = "\"continue\" statement can be used only within loops";
const char MEMORY_EXHAUSTED[] = "memory exhausted";

// The line feed that println appends to what it prints.
const char LINE_FEED[] = "\n";

}  // namespace

VELQ_CodeGen::VELQ_CodeGen(VELQ_CompileState *compileState, VELQ_Program *target)
    : state(compileState), program(target), listOpcode(OP_BIND), failed(false) {}

int VELQ_CodeGen::line() const { return state->lexer ? state->lexer->currentLine : 0; }

uint32_t VELQ_CodeGen::here() const { return (uint32_t)program->getCodeSize(); }

// An instruction that could not be made, or not be added, fails the compilation.
void VELQ_CodeGen::append(VELQ_Instruction *instruction) {
  if (failed) {
    delete instruction;
    return;
  }
  uint32_t before = here();
  program->addInstruction(instruction);
  if (!instruction || here() == before) outOfMemory();
}

void VELQ_CodeGen::emitJump(int opCode, uint32_t target) {
  append(new VELQ_Instruction(line(), opCode, (unsigned long)target));
}

void VELQ_CodeGen::openJump(int opCode) {
  uint32_t at = here();
  emitJump(opCode, VELQ_NO_ADDRESS);
  if (!failed && !pendingJumps.push(at)) outOfMemory();
}

// Patches through the program's instruction access. After a refused allocation the
// pending jumps no longer match the code, and nothing is patched.
void VELQ_CodeGen::resolvePendingJump() {
  if (failed || pendingJumps.count == 0) return;
  VELQ_Instruction *jump = program->getInstruction(pendingJumps.items[--pendingJumps.count]);
  if (jump && velqHoldsAddress(jump->opCode)) jump->operand.address = here();
}

void VELQ_CodeGen::openConstruct(bool loop) {
  if (!failed && !constructs.push({loop, here(), breaks.count})) outOfMemory();
}

void VELQ_CodeGen::closeConstruct() {
  if (failed || constructs.count == 0) return;
  Construct &construct = constructs.items[--constructs.count];
  for (uint32_t i = construct.firstBreak; i < breaks.count; i++) {
    uint32_t at = breaks.items[i];
    program->createJumpAt(at, here());
    VELQ_Instruction *jump = program->getInstruction(at);
    if (!jump || jump->opCode != OP_JMP) outOfMemory();  // the placeholder stayed a NOP
  }
  breaks.count = construct.firstBreak;
}

uint32_t VELQ_CodeGen::openSwitches(bool everything) const {
  uint32_t count = 0;
  for (uint32_t i = constructs.count; i-- > 0;) {
    if (constructs.items[i].loop) {
      if (!everything) break;
    } else {
      count++;
    }
  }
  return count;
}

void VELQ_CodeGen::semanticError(const char *message) {
  state->error(message);
  if (state->lexer) state->lexer->errorState = 1;
}

void VELQ_CodeGen::outOfMemory() {
  state->error(MEMORY_EXHAUSTED);
  failed = true;
}

void VELQ_CodeGen::parserError(const char *message) { state->error(message); }

// ---- Expressions ----

void VELQ_CodeGen::emit(int opCode) { append(new VELQ_Instruction(line(), opCode)); }

void VELQ_CodeGen::emitName(int opCode, char *name) {
  VELQ_Instruction *instruction = new VELQ_Instruction(line(), opCode, name);
  if (!instruction) velqRelease(name);
  append(instruction);
}

void VELQ_CodeGen::emitConstant(VELQ_Value *value) {
  if (!value) {
    outOfMemory();
    return;
  }
  VELQ_Instruction *instruction = new VELQ_Instruction(line(), OP_PUSH_CONST, value);
  if (!instruction) delete value;
  append(instruction);
}

void VELQ_CodeGen::emitCast(int type) { append(new VELQ_Instruction(line(), OP_CAST, type)); }

void VELQ_CodeGen::emitCall(char *name, int count) {
  VELQ_Instruction *instruction = new VELQ_Instruction(line(), OP_CALL_EXT, name, count);
  if (!instruction) velqRelease(name);
  append(instruction);
}

// c ? a : b  is  c; JZ else; a; JMP end; else: b; end:
void VELQ_CodeGen::conditionalTest() { openJump(OP_JZ); }

void VELQ_CodeGen::conditionalElse() {
  uint32_t jumpToEnd = here();
  emitJump(OP_JMP, VELQ_NO_ADDRESS);
  resolvePendingJump();
  if (!failed && !pendingJumps.push(jumpToEnd)) outOfMemory();
}

void VELQ_CodeGen::conditionalEnd() { resolvePendingJump(); }

// ---- Constants ----

VELQ_Value *VELQ_CodeGen::stringConstant(char *text) {
  VELQ_Value *value = new VELQ_Value(static_cast<const char *>(text));
  velqRelease(text);
  return value;
}

VELQ_Value *VELQ_CodeGen::int32Constant(int32_t n) { return new VELQ_Value(n); }
VELQ_Value *VELQ_CodeGen::uint32Constant(uint32_t n) { return new VELQ_Value(n); }
VELQ_Value *VELQ_CodeGen::int64Constant(int64_t n) { return new VELQ_Value(n); }
VELQ_Value *VELQ_CodeGen::uint64Constant(uint64_t n) { return new VELQ_Value(n); }
VELQ_Value *VELQ_CodeGen::realConstant(double d) { return new VELQ_Value(d); }
VELQ_Value *VELQ_CodeGen::nullConstant() { return new VELQ_Value(); }

// ---- Scripts, modules and functions ----

namespace {

// Registers name at address (VELQ_NO_ADDRESS: the next address); a duplicate is an error.
void registerFunction(VELQ_CodeGen *gen, VELQ_Program *program, const char *name,
                             uint32_t address) {
  char message[VELQ_ERROR_TEXT_SIZE] = {0};
  unsigned long at = address == VELQ_NO_ADDRESS ? (unsigned long)-1 : (unsigned long)address;
  if (program->addFunction(name, at, message)) return;
  // addFunction refuses a duplicate with its message, and a record without memory silently.
  gen->getState()->error(message[0] ? message : MEMORY_EXHAUSTED);
  if (message[0] && gen->getState()->lexer) gen->getState()->lexer->errorState = 1;
}

}  // namespace

// A script that is one expression becomes the function "main" at address 0, which
// returns the expression's value.
void VELQ_CodeGen::expressionScript() {
  emit(OP_RET);
  registerFunction(this, program, "main", 0);
}

void VELQ_CodeGen::useModule(char *name) {
  uint32_t before = program->getPreloadCount();
  program->addPreload(name);
  if (program->getPreloadCount() == before) outOfMemory();
}

void VELQ_CodeGen::beginFunction(char *&name) {
  registerFunction(this, program, name, VELQ_NO_ADDRESS);
  velqRelease(name);
  name = nullptr;
  listOpcode = OP_BIND;
}

void VELQ_CodeGen::endFunction() { emit(OP_NRET); }

void VELQ_CodeGen::listName(char *&name) {
  emitName(listOpcode, name);
  name = nullptr;
}

void VELQ_CodeGen::beginArrayList() { listOpcode = OP_ARRAY; }

// ---- Statements ----

void VELQ_CodeGen::expressionStatement() { append(new VELQ_Instruction(line(), OP_POP, 1)); }

void VELQ_CodeGen::emptyStatement() { emit(OP_NOP); }

// The keyword is recognised before its value is parsed, so a return from inside
// switches can first drop their values under test. Left on the data stack, they would
// lie under the returned value, and the caller's next operator would take one as its
// operand (f(1) + f(1) would add a value under test). An exit ends the run with the
// value on top, so it needs nothing.
VELQ_Instruction *VELQ_CodeGen::statementKeyword(int opCode) {
  uint32_t switches = opCode == OP_RET ? openSwitches(true) : 0;
  if (switches > 0) append(new VELQ_Instruction(line(), OP_POP, (int)switches));
  VELQ_Instruction *keyword = new VELQ_Instruction(line(), opCode);
  if (!keyword) outOfMemory();
  return keyword;
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
  if (constructs.count == 0) {
    semanticError(BREAK_OUTSIDE_LOOP);
    return;
  }
  uint32_t at = here();
  emit(OP_NOP);
  if (!failed && !breaks.push(at)) outOfMemory();
}

void VELQ_CodeGen::continueStatement() {
  const Construct *loop = nullptr;
  for (uint32_t i = constructs.count; i-- > 0 && !loop;)
    if (constructs.items[i].loop) loop = &constructs.items[i];
  if (!loop) {
    semanticError(CONTINUE_OUTSIDE_LOOP);
    return;
  }
  // Leaving switches drops their values under test; otherwise each pass of the loop
  // would leave one more value on the data stack.
  uint32_t switches = openSwitches(false);
  if (switches > 0) append(new VELQ_Instruction(line(), OP_POP, (int)switches));
  emitJump(OP_JMP, loop->start);
}

// ---- if ----

void VELQ_CodeGen::ifCondition() { openJump(OP_JZ); }

void VELQ_CodeGen::ifEnd() { resolvePendingJump(); }

// The then branch ends with a jump over the else branch, which is where the condition's
// jump leads.
void VELQ_CodeGen::elseStart() { conditionalElse(); }

void VELQ_CodeGen::elseEnd() { resolvePendingJump(); }

// ---- while ----

void VELQ_CodeGen::whileStart() { openConstruct(true); }

void VELQ_CodeGen::whileCondition() { openJump(OP_JZ); }

void VELQ_CodeGen::whileEnd() {
  emitJump(OP_JMP, constructs.count ? constructs.last().start : 0);
  resolvePendingJump();
  closeConstruct();
}

// ---- do ... while ----

void VELQ_CodeGen::doStart() { openConstruct(true); }

void VELQ_CodeGen::doEnd() {
  emitJump(OP_JNZ, constructs.count ? constructs.last().start : 0);
  closeConstruct();
}

// ---- switch ----
//
// The value under test stays on the data stack for the whole statement. Each case
// is CASE k; JZ next-case; statements; and, when another case follows, a JMP over
// that case's CASE and JZ, so control falls through into its statements.

void VELQ_CodeGen::switchStart() { openConstruct(false); }

void VELQ_CodeGen::caseLabel(VELQ_Value *&constant) {
  VELQ_Instruction *instruction = constant ? new VELQ_Instruction(line(), OP_CASE, constant) : nullptr;
  if (!instruction) delete constant;
  append(instruction);
  constant = nullptr;
  openJump(OP_JZ);
}

void VELQ_CodeGen::caseFallThrough() {
  emitJump(OP_JMP, here() + 3);
  resolvePendingJump();
}

void VELQ_CodeGen::lastCaseEnd() { resolvePendingJump(); }

void VELQ_CodeGen::switchEnd() {
  closeConstruct();
  append(new VELQ_Instruction(line(), OP_POP, 1));
}
