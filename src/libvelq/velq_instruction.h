// One instruction of the virtual machine and the instruction set.
#ifndef VELQ_INSTRUCTION_H
#define VELQ_INSTRUCTION_H

#include <stdint.h>

class VELQ_Value;

// Operand kinds: what an instruction's operand holds and what it owns.
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

// The instruction set: enumerator, mnemonic, operand kind. Stack effects are noted
// with the top of the stack on the right.
#define VELQ_OPCODES(X)                                                                    \
  X(NOP, "NOP", NONE)                 /* nothing */                                         \
  X(RET, "RET", NONE)                 /* return; the value on top stays for the caller */   \
  X(JMP, "JMP", ADDRESS)              /* continue at the address */                         \
  X(CALL, "CALL", ADDRESS_COUNT)      /* args -> (frame opened) */                          \
  X(CALL_EXT, "CALL", NAME_COUNT)     /* args -> result, by name */                         \
  X(PUSH_CONST, "PUSH", VALUE)        /* -> copy of the constant */                         \
  X(PUSH_VAR, "PUSH", NAME)           /* -> copy of the variable's value */                 \
  X(EXIT, "EXIT", NONE)               /* value -> value, and the run ends */                \
  X(POP, "POP", COUNT)                /* n values -> */                                     \
  X(SET, "SET", NAME)                 /* value -> value, copied into the variable */        \
  X(ADD, "ADD", NONE)                 /* a b -> a+b */                                      \
  X(SUB, "SUB", NONE)                 /* a b -> a-b */                                      \
  X(MUL, "MUL", NONE)                 /* a b -> a*b */                                      \
  X(DIV, "DIV", NONE)                 /* a b -> a/b, in reals */                            \
  X(REM, "REM", NONE)                 /* a b -> a%b */                                      \
  X(EQ, "EQ", NONE)                   /* a b -> a==b */                                     \
  X(NE, "NE", NONE)                   /* a b -> a!=b */                                     \
  X(LT, "LT", NONE)                   /* a b -> a<b */                                      \
  X(LE, "LE", NONE)                   /* a b -> a<=b */                                     \
  X(GT, "GT", NONE)                   /* a b -> a>b */                                      \
  X(GE, "GE", NONE)                   /* a b -> a>=b */                                     \
  X(BITAND, "BITAND", NONE)           /* a b -> a&b */                                      \
  X(BITOR, "BITOR", NONE)             /* a b -> a|b */                                      \
  X(BITXOR, "BITXOR", NONE)           /* a b -> a^b */                                      \
  X(AND, "AND", NONE)                 /* a b -> a&&b, both evaluated */                     \
  X(OR, "OR", NONE)                   /* a b -> a||b, both evaluated */                     \
  X(LSHIFT, "LSHIFT", NONE)           /* a b -> a<<b */                                     \
  X(RSHIFT, "RSHIFT", NONE)           /* a b -> a>>b */                                     \
  X(NRET, "NRET", NONE)               /* -> null, then as RET */                            \
  X(JZ, "JZ", ADDRESS)                /* c -> ; jump if zero */                             \
  X(PRINT, "PRINT", NONE)             /* v -> ; written to the output stream */             \
  X(CONCAT, "CONCAT", NONE)           /* a b -> a.b */                                      \
  X(BIND, "BIND", NAME)               /* next positional argument -> parameter */           \
  X(INC, "INC", NAME)                 /* -> old value; variable incremented */              \
  X(DEC, "DEC", NAME)                 /* -> old value; variable decremented */              \
  X(NEG, "NEG", NONE)                 /* v -> -v, in place */                               \
  X(NOT, "NOT", NONE)                 /* v -> !v, in place */                               \
  X(BITNOT, "BITNOT", NONE)           /* v -> ~v, in place */                               \
  X(CAST, "CAST", TYPE)               /* v -> v converted, in place */                      \
  X(AGET, "AGET", NAME)               /* object -> attribute */                             \
  X(INCP, "INCP", NAME)               /* variable incremented; -> new value */              \
  X(DECP, "DECP", NAME)               /* variable decremented; -> new value */              \
  X(JNZ, "JNZ", ADDRESS)              /* c -> ; jump if not zero */                         \
  X(LIKE, "LIKE", NONE)               /* text pattern -> matched, case-sensitive */         \
  X(ILIKE, "ILIKE", NONE)             /* text pattern -> matched, ignoring case */          \
  X(MATCH, "MATCH", NONE)             /* text regexp -> matched; sets $1.. */               \
  X(IMATCH, "IMATCH", NONE)           /* text regexp -> matched, ignoring case */           \
  X(CASE, "CASE", VALUE)              /* v -> v (v==constant) */                            \
  X(ARRAY, "ARRAY", NAME)             /* declares a local holding a new array */            \
  X(EGET, "EGET", NONE)               /* array index -> element */                          \
  X(ESET, "ESET", NONE)               /* array index value -> value */                      \
  X(ASET, "ASET", NAME)               /* object value -> value */

enum VELQ_OpCode {
#define VELQ_OPCODE_ENUM(name, mnemonic, kind) OP_##name,
  VELQ_OPCODES(VELQ_OPCODE_ENUM)
#undef VELQ_OPCODE_ENUM
  VELQ_OPCODE_COUNT
};

struct VELQ_OpCodeInfo {
  const char *mnemonic;
  VELQ_OperandKind operandKind;
};

// Mnemonic and operand kind of every opcode, indexed by opcode.
extern const VELQ_OpCodeInfo VELQ_OpCodeTable[VELQ_OPCODE_COUNT];

// The operand kind of an opcode; NONE for an opcode outside the set.
inline VELQ_OperandKind VELQ_OperandKindOf(int opCode) {
  return (opCode >= 0 && opCode < VELQ_OPCODE_COUNT) ? VELQ_OpCodeTable[opCode].operandKind
                                                      : VELQ_OPERAND_NONE;
}

// No address: an unresolved jump, a function not found, a stopped run.
const uint32_t VELQ_NO_ADDRESS = 0xFFFFFFFFu;

class VELQ_Instruction {
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
