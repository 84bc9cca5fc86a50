// Test helper: builds a VELQ_Program from a compact list of instructions and runs it,
// capturing what PRINT writes.
//
//   auto program = velq_test::buildProgram({{OP_PUSH_CONST, 1}, {OP_PUSH_CONST, 2}, {OP_ADD},
//   {OP_RET}}); velq_test::RunOutcome out = velq_test::runProgram(program.get());
//   EXPECT_EQ(out.result, "3");
//
// How an Op's arguments are read depends on the opcode's operand kind:
//   value          {OP_PUSH_CONST, 7} int32, {.., 7u} uint32, {.., int64_t(7)} int64,
//                  {.., uint64_t(7)} uint64, {.., 1.5} real, {.., "abc"} text (read as a
//                  number when it is one), {.., k} with k a Const (str, text, null, ...)
//   address        {OP_JMP, 5}; {OP_JMP, -1} or {OP_JMP, VELQ_NO_ADDRESS} is unresolved
//   address, count {OP_CALL, 5, 2}
//   name           {OP_PUSH_VAR, "x"}
//   name, count    {OP_CALL_EXT, "f", 2}
//   count, type    {OP_POP, 2}, {OP_CAST, DTYPE_REAL}
//   none           {OP_ADD}; any other integer goes to intOperand, so {99} is opcode 99
// Every instruction has source line 1 unless wrapped: atLine(4, {OP_SET, "x"}).
#ifndef VELQ_TEST_PROGRAM_BUILDER_H
#define VELQ_TEST_PROGRAM_BUILDER_H

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "velq.h"
#include "vm/opcodes.h"

namespace velq_test {

// A constant of any type: a factory that makes a new value each time it is called.
struct Const {
  std::function<VELQ_Value *()> make;
};

inline Const i32(int32_t n) {
  return {[n] { return new VELQ_Value(n); }};
}
inline Const i64(int64_t n) {
  return {[n] { return new VELQ_Value(n); }};
}
inline Const u32(uint32_t n) {
  return {[n] { return new VELQ_Value(n); }};
}
inline Const u64(uint64_t n) {
  return {[n] { return new VELQ_Value(n); }};
}
inline Const real(double d) {
  return {[d] { return new VELQ_Value(d); }};
}
inline Const null() {
  return {[] { return new VELQ_Value(); }};
}
// Text given zero-terminated; it becomes a number when it reads as one.
inline Const str(const char *s) {
  std::string copy(s);
  return {[copy] { return new VELQ_Value(copy.c_str()); }};
}
// Counted text, zero bytes kept.
inline Const text(const char *s, uint32_t length) {
  std::string copy(s, length);
  return {[copy] { return new VELQ_Value(copy.data(), (uint32_t)copy.size()); }};
}
// A value holding a new array, empty or filled by fill.
inline Const array(std::function<void(VELQ_Array *)> fill = nullptr) {
  return {[fill] {
    VELQ_Array *a = new VELQ_Array();
    if (fill) fill(a);
    return new VELQ_Value(a);
  }};
}

// One instruction in compact form.
struct Op {
  enum Arg { NONE, INT, UINT32, INT64, UINT64, REAL, TEXT, CONST };

  int opCode;
  Arg arg = NONE;
  int64_t n = 0;   // INT, UINT32, INT64, UINT64; an address or an intOperand
  uint64_t u = 0;  // UINT64
  double d = 0;    // REAL
  std::string s;   // TEXT: a name, or the text of a constant
  Const k;         // CONST
  int count = 0;   // the second number of {OP_CALL, a, n} and {OP_CALL_EXT, "f", n}
  int line = 1;

  Op(int op) : opCode(op) {}
  Op(int op, int value) : opCode(op), arg(INT), n(value) {}
  Op(int op, uint32_t value) : opCode(op), arg(UINT32), n(value) {}
  Op(int op, int64_t value) : opCode(op), arg(INT64), n(value) {}
  Op(int op, uint64_t value) : opCode(op), arg(UINT64), u(value) {}
  Op(int op, double value) : opCode(op), arg(REAL), d(value) {}
  Op(int op, const char *text) : opCode(op), arg(TEXT), s(text) {}
  Op(int op, Const value) : opCode(op), arg(CONST), k(std::move(value)) {}
  Op(int op, const char *name, int argc) : opCode(op), arg(TEXT), s(name), count(argc) {}
  Op(int op, int address, int argc) : opCode(op), arg(INT), n(address), count(argc) {}
};

inline Op atLine(int line, Op op) {
  op.line = line;
  return op;
}

inline char *dupName(const std::string &s) { return strdup(s.c_str()); }

// The constant an Op with a value operand stands for.
inline VELQ_Value *makeConstant(const Op &op) {
  switch (op.arg) {
    case Op::NONE:
      return new VELQ_Value();
    case Op::INT:
      return new VELQ_Value((int32_t)op.n);
    case Op::UINT32:
      return new VELQ_Value((uint32_t)op.n);
    case Op::INT64:
      return new VELQ_Value((int64_t)op.n);
    case Op::UINT64:
      return new VELQ_Value((uint64_t)op.u);
    case Op::REAL:
      return new VELQ_Value(op.d);
    case Op::TEXT:
      return new VELQ_Value(op.s.c_str());
    case Op::CONST:
      return op.k.make();
  }
  return new VELQ_Value();
}

// A new instruction for an Op.
inline VELQ_Instruction *makeInstruction(const Op &op) {
  int line = op.line;
  unsigned long address = op.arg == Op::UINT64 ? (unsigned long)op.u : (unsigned long)op.n;
  switch (velqOperandKind(op.opCode)) {
    case VELQ_OPERAND_VALUE:
      return new VELQ_Instruction(line, op.opCode, makeConstant(op));
    case VELQ_OPERAND_NAME:
      return new VELQ_Instruction(line, op.opCode, dupName(op.s));
    case VELQ_OPERAND_NAME_COUNT:
      return new VELQ_Instruction(line, op.opCode, dupName(op.s), op.count);
    case VELQ_OPERAND_ADDRESS:
      return new VELQ_Instruction(line, op.opCode, address);
    case VELQ_OPERAND_ADDRESS_COUNT: {
      VELQ_Instruction *ins = new VELQ_Instruction(line, op.opCode, address);
      ins->intOperand = op.count;
      return ins;
    }
    case VELQ_OPERAND_COUNT:
    case VELQ_OPERAND_TYPE:
      return new VELQ_Instruction(line, op.opCode, (int)op.n);
    case VELQ_OPERAND_NONE:
      if (op.arg == Op::INT) return new VELQ_Instruction(line, op.opCode, (int)op.n);
      return new VELQ_Instruction(line, op.opCode);
  }
  return new VELQ_Instruction(line, op.opCode);
}

struct Fn {
  const char *name;
  uint32_t address;
};

using ProgramPtr = std::unique_ptr<VELQ_Program>;

// Appends the instructions to a program.
inline void appendCode(VELQ_Program *program, const std::vector<Op> &code) {
  for (const Op &op : code) program->addInstruction(makeInstruction(op));
}

// A program holding the code and the functions ("main" at 0 unless others are given).
inline ProgramPtr buildProgram(const std::vector<Op> &code,
                               const std::vector<Fn> &functions = {{"main", 0}}) {
  ProgramPtr program(new VELQ_Program());
  appendCode(program.get(), code);
  char message[256];
  for (const Fn &f : functions) program->addFunction(f.name, f.address, message);
  return program;
}

// The text form of a value as the script tests write it: the text for strings and
// numbers, the type name for null, object and array; "" for no value at all.
inline std::string valueText(VELQ_Value *value) {
  if (!value) return "";
  if (value->getDataType() < DTYPE_STRING) return VELQ_TypeName(value->getDataType());
  uint32_t length = 0;
  const char *s = value->getValueAsString(&length);
  return s ? std::string(s, length) : std::string();
}

// The text of a variable's value in a system; "<none>" when the system or the name is missing.
inline std::string variableText(VELQ_VariableSystem *system, const char *name) {
  if (!system) return "<none>";
  VELQ_Variable *v = system->find(name);
  return v ? valueText(v->getValue()) : "<none>";
}

inline VELQ_ExtFunction hostFunction(const char *name, VELQ_ExtFunctionHandler handler,
                                     int32_t argCount) {
  VELQ_ExtFunction f;
  memset(&f, 0, sizeof f);
  snprintf(f.name, sizeof f.name, "%s", name);
  f.handler = handler;
  f.argCount = argCount;
  return f;
}

// What one run gave.
struct RunOutcome {
  int rc = 0;           // run's return: 0 or -1
  std::string output;   // everything PRINT wrote
  std::string result;   // valueText of getResult()
  int resultType = -1;  // type code of getResult(), -1 when there is none
  std::string error;    // getErrorText()
};

struct RunOptions {
  std::vector<Const> args;                  // $1, $2, ...
  std::vector<VELQ_ExtFunction> functions;  // host functions registered for the run
  VELQ_Environment *environment = nullptr;  // used instead of a new one; the run takes it
  bool noOutput = false;                    // leave the output stream unset
  VELQ_VariableSystem *locals = nullptr;    // userLocals; the run takes it
  VELQ_VariableSystem **globalsOut = nullptr;
  VELQ_VariableSystem *constants = nullptr;  // stays the caller's
};

// Runs the program once and collects the outcome.
inline RunOutcome runProgram(VELQ_Program *program, const RunOptions &options = RunOptions()) {
  VELQ_Environment *env = options.environment ? options.environment : new VELQ_Environment();
  if (!options.functions.empty())
    env->registerFunctionSet(options.functions.size(), options.functions.data());
  char *buffer = nullptr;
  size_t size = 0;
  FILE *out = nullptr;
  if (!options.noOutput) {
    out = open_memstream(&buffer, &size);
    env->setIO(env->getStdIn(), out);
  }
  std::vector<VELQ_Value *> argv;
  for (const Const &c : options.args) argv.push_back(c.make());

  RunOutcome outcome;
  outcome.rc = program->run(env, argv.size(), argv.empty() ? nullptr : argv.data(), options.locals,
                            options.globalsOut, options.constants);
  if (out) {
    fclose(out);
    outcome.output.assign(buffer, size);
    free(buffer);
  }
  VELQ_Value *result = program->getResult();
  outcome.result = valueText(result);
  outcome.resultType = result ? result->getDataType() : -1;
  outcome.error = program->getErrorText();
  return outcome;
}

// Builds the code with "main" at 0 and runs it once.
inline RunOutcome run(const std::vector<Op> &code, const RunOptions &options = RunOptions()) {
  ProgramPtr program = buildProgram(code);
  return runProgram(program.get(), options);
}

// The listing dump() writes.
inline std::string listing(VELQ_Program *program) {
  char *buffer = nullptr;
  size_t size = 0;
  FILE *out = open_memstream(&buffer, &size);
  program->dump(out);
  fclose(out);
  std::string text(buffer, size);
  free(buffer);
  return text;
}

}  // namespace velq_test

#endif
