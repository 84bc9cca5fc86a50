// What the engine asks of an opcode, answered from the one instruction list
// (VELQ_OPCODES in velq_instruction.h): its mnemonic, its operand kind and its operator
// family. Every question about opcodes goes through these helpers, so that adding an
// opcode takes one row in the list and a handler.
#ifndef VELQ_OPCODES_H
#define VELQ_OPCODES_H

#include "velq_instruction.h"

// What an instruction's operand holds and owns.
enum VELQ_OperandKind {
  VELQ_OPERAND_NONE,
  VELQ_OPERAND_ADDRESS,        // a code address
  VELQ_OPERAND_ADDRESS_COUNT,  // a code address and an argument count
  VELQ_OPERAND_NAME,           // an owned name
  VELQ_OPERAND_NAME_COUNT,     // an owned name and an argument count
  VELQ_OPERAND_VALUE,          // an owned constant value
  VELQ_OPERAND_COUNT,          // intOperand only
  VELQ_OPERAND_TYPE            // a type code in intOperand
};

// How an operator is carried out; OTHER for the instructions that are not operators.
enum VELQ_OperatorFamily {
  VELQ_FAMILY_OTHER,
  VELQ_FAMILY_ARITHMETIC,  // + - * on numbers, reals allowed
  VELQ_FAMILY_DIVISION,    // / on numbers, always in reals
  VELQ_FAMILY_INTEGER,     // % & | ^ << >> on integers only
  VELQ_FAMILY_EQUALITY,    // == != on any values
  VELQ_FAMILY_ORDER,       // < <= > >= on numbers
  VELQ_FAMILY_LOGICAL,     // && || on numbers
  VELQ_FAMILY_CONCAT,      // . on texts and numbers
  VELQ_FAMILY_PATTERN,     // like ilike match imatch
  VELQ_FAMILY_CASE,        // the switch comparison
  VELQ_FAMILY_UNARY,       // - ! ~ on the top value
  VELQ_FAMILY_STEP         // ++ -- on a variable
};

struct VELQ_OpCodeInfo {
  const char *mnemonic;
  VELQ_OperandKind operandKind;
  VELQ_OperatorFamily family;
};

// Indexed by opcode.
extern const VELQ_OpCodeInfo VELQ_OpCodeTable[VELQ_OPCODE_COUNT];

inline bool velqKnownOpCode(int opCode) { return opCode >= 0 && opCode < VELQ_OPCODE_COUNT; }

// The mnemonic the listing prints; "???" for an opcode outside the set.
inline const char *velqMnemonic(int opCode) {
  return velqKnownOpCode(opCode) ? VELQ_OpCodeTable[opCode].mnemonic : "???";
}

// The operand kind; NONE for an opcode outside the set, which executes as NOP.
inline VELQ_OperandKind velqOperandKind(int opCode) {
  return velqKnownOpCode(opCode) ? VELQ_OpCodeTable[opCode].operandKind : VELQ_OPERAND_NONE;
}

inline VELQ_OperatorFamily velqOperatorFamily(int opCode) {
  return velqKnownOpCode(opCode) ? VELQ_OpCodeTable[opCode].family : VELQ_FAMILY_OTHER;
}

// Jumps and calls by address: the instructions that relocation, jump resolution and the
// optimizer adjust.
inline bool velqHoldsAddress(int opCode) {
  VELQ_OperandKind kind = velqOperandKind(opCode);
  return kind == VELQ_OPERAND_ADDRESS || kind == VELQ_OPERAND_ADDRESS_COUNT;
}

// Jumps: the instructions with an address and no argument count.
inline bool velqIsJump(int opCode) { return velqOperandKind(opCode) == VELQ_OPERAND_ADDRESS; }

inline bool velqOwnsName(int opCode) {
  VELQ_OperandKind kind = velqOperandKind(opCode);
  return kind == VELQ_OPERAND_NAME || kind == VELQ_OPERAND_NAME_COUNT;
}

inline bool velqOwnsValue(int opCode) { return velqOperandKind(opCode) == VELQ_OPERAND_VALUE; }

// The operators that take two operands from the stack (CASE: one, and its constant),
// which doBinaryOperation carries out.
inline bool velqIsBinaryOperator(int opCode) {
  VELQ_OperatorFamily family = velqOperatorFamily(opCode);
  return family != VELQ_FAMILY_OTHER && family != VELQ_FAMILY_UNARY && family != VELQ_FAMILY_STEP;
}

#endif
