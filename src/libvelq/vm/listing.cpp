// The program listing: one line per instruction, for diagnostics. What follows the
// mnemonic depends on the opcode's operand kind.
#include <stdio.h>

#include "vm/opcodes.h"
#include "velq_program.h"
#include "velq_value.h"

namespace {

void writeOperand(FILE *file, VELQ_Instruction *instruction) {
  const char *name = instruction->operand.name ? instruction->operand.name : "";
  switch (velqOperandKind(instruction->opCode)) {
    case VELQ_OPERAND_ADDRESS:
      fprintf(file, "%04X\n", instruction->operand.address);
      break;
    case VELQ_OPERAND_ADDRESS_COUNT:
      fprintf(file, "%04X, %d\n", instruction->operand.address, instruction->intOperand);
      break;
    case VELQ_OPERAND_NAME_COUNT:
      fprintf(file, "%s, %d\n", name, instruction->intOperand);
      break;
    case VELQ_OPERAND_NAME:
      fprintf(file, "%s\n", name);
      break;
    case VELQ_OPERAND_VALUE: {
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
    case VELQ_OPERAND_COUNT:
      fprintf(file, "%d\n", instruction->intOperand);
      break;
    case VELQ_OPERAND_TYPE:
      fprintf(file, "[%s]\n", VELQ_TypeName(instruction->intOperand));
      break;
    case VELQ_OPERAND_NONE:
      fputs("\n", file);
      break;
  }
}

}  // namespace

void VELQ_Program::dump(FILE *file) {
  if (!file) return;
  for (uint32_t address = 0; address < codeSize; address++) {
    VELQ_Instruction *instruction = instructions[address];
    fprintf(file, "%04X  %-6s  ", address, velqMnemonic(instruction->opCode));
    writeOperand(file, instruction);
  }
}
