// The program listing: one line per instruction, for diagnostics.
#include <stdio.h>

#include "velq_program.h"
#include "velq_value.h"

void VELQ_Program::dump(FILE *file) {
  if (!file) return;
  for (uint32_t address = 0; address < codeSize; address++) {
    VELQ_Instruction *instruction = instructions[address];
    int opCode = instruction->opCode;
    bool known = opCode >= 0 && opCode < VELQ_OPCODE_COUNT;
    fprintf(file, "%04X  %-6s  ", address, known ? VELQ_OpCodeTable[opCode].mnemonic : "???");
    switch (opCode) {
      case OP_JMP:
      case OP_JZ:
      case OP_JNZ:
        fprintf(file, "%04X\n", instruction->operand.address);
        break;
      case OP_CALL:
        fprintf(file, "%04X, %d\n", instruction->operand.address, instruction->intOperand);
        break;
      case OP_CALL_EXT:
        fprintf(file, "%s, %d\n", instruction->operand.name ? instruction->operand.name : "",
                instruction->intOperand);
        break;
      case OP_PUSH_CONST:
      case OP_CASE: {
        VELQ_Value *constant = instruction->operand.value;
        if (!constant || constant->isNull()) {
          fputs("<null>\n", file);
        } else {
          // An object or array constant has no text form; it lists as empty text.
          const char *text = constant->getValueAsCString();
          fprintf(file, "\"%s\"\n", text ? text : "");
        }
        break;
      }
      case OP_PUSH_VAR:
      case OP_SET:
      case OP_BIND:
      case OP_INC:
      case OP_DEC:
      case OP_AGET:
      case OP_INCP:
      case OP_DECP:
      case OP_ARRAY:
      case OP_ASET:
        fprintf(file, "%s\n", instruction->operand.name ? instruction->operand.name : "");
        break;
      case OP_POP:
        fprintf(file, "%d\n", instruction->intOperand);
        break;
      case OP_CAST:
        fprintf(file, "[%s]\n", VELQ_TypeName(instruction->intOperand));
        break;
      default:
        fputs("\n", file);
        break;
    }
  }
}
