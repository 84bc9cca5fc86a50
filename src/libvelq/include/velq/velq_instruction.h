// One instruction of the virtual machine and the instruction set.
#ifndef VELQ_INSTRUCTION_H
#define VELQ_INSTRUCTION_H

#include <stddef.h>
#include <stdint.h>

#include "velq_export.h"

class VELQ_Value;

// The instruction set, one row per opcode in opcode order: enumerator, mnemonic (what
// the listing prints), operand kind and operator family. Everything the engine knows
// about an opcode derives from this list (vm/opcodes.h): the listing, which operands an
// instruction owns, which hold a code address, and how an operator is carried out.
//
// Operand kinds: NONE; ADDRESS, a code address; ADDRESS_COUNT, an address and an argument
// count; NAME, an owned name; NAME_COUNT, an owned name and an argument count; VALUE, an
// owned constant; COUNT, intOperand only; TYPE, a type code in intOperand.
//
// Operator families, for the operators: ARITHMETIC (+ - *, reals allowed), DIVISION
// (always in reals), INTEGER (integers only), EQUALITY and ORDER (comparisons), LOGICAL,
// CONCAT, PATTERN (wildcard and regular-expression matching), CASE, UNARY (one operand,
// in place) and STEP (++ and -- on a variable); OTHER for every other instruction.
//
// Stack effects are noted with the top of the stack on the right.
#define VELQ_OPCODES(X)                                                                         \
  X(NOP, "NOP", NONE, OTHER)                 /* nothing */                                        \
  X(RET, "RET", NONE, OTHER)                 /* return; the value on top stays for the caller */  \
  X(JMP, "JMP", ADDRESS, OTHER)              /* continue at the address */                        \
  X(CALL, "CALL", ADDRESS_COUNT, OTHER)      /* args -> (frame opened) */                         \
  X(CALL_EXT, "CALL", NAME_COUNT, OTHER)     /* args -> result, by name */                        \
  X(PUSH_CONST, "PUSH", VALUE, OTHER)        /* -> copy of the constant */                        \
  X(PUSH_VAR, "PUSH", NAME, OTHER)           /* -> copy of the variable's value */                \
  X(EXIT, "EXIT", NONE, OTHER)               /* value -> value, and the run ends */               \
  X(POP, "POP", COUNT, OTHER)                /* n values -> */                                    \
  X(SET, "SET", NAME, OTHER)                 /* value -> value, copied into the variable */       \
  X(ADD, "ADD", NONE, ARITHMETIC)            /* a b -> a+b */                                     \
  X(SUB, "SUB", NONE, ARITHMETIC)            /* a b -> a-b */                                     \
  X(MUL, "MUL", NONE, ARITHMETIC)            /* a b -> a*b */                                     \
  X(DIV, "DIV", NONE, DIVISION)              /* a b -> a/b, in reals */                           \
  X(REM, "REM", NONE, INTEGER)               /* a b -> a%b */                                     \
  X(EQ, "EQ", NONE, EQUALITY)                /* a b -> a==b */                                    \
  X(NE, "NE", NONE, EQUALITY)                /* a b -> a!=b */                                    \
  X(LT, "LT", NONE, ORDER)                   /* a b -> a<b */                                     \
  X(LE, "LE", NONE, ORDER)                   /* a b -> a<=b */                                    \
  X(GT, "GT", NONE, ORDER)                   /* a b -> a>b */                                     \
  X(GE, "GE", NONE, ORDER)                   /* a b -> a>=b */                                    \
  X(BITAND, "BITAND", NONE, INTEGER)         /* a b -> a&b */                                     \
  X(BITOR, "BITOR", NONE, INTEGER)           /* a b -> a|b */                                     \
  X(BITXOR, "BITXOR", NONE, INTEGER)         /* a b -> a^b */                                     \
  X(AND, "AND", NONE, LOGICAL)               /* a b -> a&&b, both evaluated */                    \
  X(OR, "OR", NONE, LOGICAL)                 /* a b -> a||b, both evaluated */                    \
  X(LSHIFT, "LSHIFT", NONE, INTEGER)         /* a b -> a<<b */                                    \
  X(RSHIFT, "RSHIFT", NONE, INTEGER)         /* a b -> a>>b */                                    \
  X(NRET, "NRET", NONE, OTHER)               /* -> null, then as RET */                           \
  X(JZ, "JZ", ADDRESS, OTHER)                /* c -> ; jump if zero */                            \
  X(PRINT, "PRINT", NONE, OTHER)             /* v -> ; written to the output stream */            \
  X(CONCAT, "CONCAT", NONE, CONCAT)          /* a b -> a.b */                                     \
  X(BIND, "BIND", NAME, OTHER)               /* next positional argument -> parameter */          \
  X(INC, "INC", NAME, STEP)                  /* -> old value; variable incremented */             \
  X(DEC, "DEC", NAME, STEP)                  /* -> old value; variable decremented */             \
  X(NEG, "NEG", NONE, UNARY)                 /* v -> -v, in place */                              \
  X(NOT, "NOT", NONE, UNARY)                 /* v -> !v, in place */                              \
  X(BITNOT, "BITNOT", NONE, UNARY)           /* v -> ~v, in place */                              \
  X(CAST, "CAST", TYPE, OTHER)               /* v -> v converted, in place */                     \
  X(AGET, "AGET", NAME, OTHER)               /* object -> attribute */                            \
  X(INCP, "INCP", NAME, STEP)                /* variable incremented; -> new value */             \
  X(DECP, "DECP", NAME, STEP)                /* variable decremented; -> new value */             \
  X(JNZ, "JNZ", ADDRESS, OTHER)              /* c -> ; jump if not zero */                        \
  X(LIKE, "LIKE", NONE, PATTERN)             /* text pattern -> matched, case-sensitive */        \
  X(ILIKE, "ILIKE", NONE, PATTERN)           /* text pattern -> matched, ignoring case */         \
  X(MATCH, "MATCH", NONE, PATTERN)           /* text regexp -> matched; sets $1.. */              \
  X(IMATCH, "IMATCH", NONE, PATTERN)         /* text regexp -> matched, ignoring case */          \
  X(CASE, "CASE", VALUE, CASE)               /* v -> v (v==constant) */                           \
  X(ARRAY, "ARRAY", NAME, OTHER)             /* declares a local holding a new array */           \
  X(EGET, "EGET", NONE, OTHER)               /* array index -> element */                         \
  X(ESET, "ESET", NONE, OTHER)               /* array index value -> value */                     \
  X(ASET, "ASET", NAME, OTHER)               /* object value -> value */

enum VELQ_OpCode {
#define VELQ_OPCODE_ENUM(name, mnemonic, kind, family) OP_##name,
  VELQ_OPCODES(VELQ_OPCODE_ENUM)
#undef VELQ_OPCODE_ENUM
  VELQ_OPCODE_COUNT
};

// No address: an unresolved jump, a function not found, a stopped run.
const uint32_t VELQ_NO_ADDRESS = 0xFFFFFFFFu;

class VELQ_API VELQ_Instruction {
public:
  VELQ_Instruction(int line, int opCode);
  VELQ_Instruction(int line, int opCode, VELQ_Value *value);           // takes the value
  VELQ_Instruction(int line, int opCode, char *name);                  // takes the name (malloc'd)
  VELQ_Instruction(int line, int opCode, char *name, int count);       // takes the name (malloc'd)
  VELQ_Instruction(int line, int opCode, unsigned long address);       // low 32 bits kept
  VELQ_Instruction(int line, int opCode, int value);
  explicit VELQ_Instruction(const VELQ_Instruction *source);           // deep copy
  ~VELQ_Instruction();

  VELQ_Instruction(const VELQ_Instruction &) = delete;
  VELQ_Instruction &operator=(const VELQ_Instruction &) = delete;

  // The engine allocates instructions itself: new yields null when memory is refused.
  static void *operator new(size_t size) noexcept;
  static void operator delete(void *block, size_t size) noexcept;

  int32_t opCode;
  union {
    VELQ_Value *value;
    char *name;
    uint32_t address;
  } operand;
  int32_t intOperand;
  int32_t sourceLine;
};

#endif
