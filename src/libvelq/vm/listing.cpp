// The program listing: one line per instruction, for diagnostics. Each line is the
// address in hexadecimal (at least four digits), the mnemonic left-aligned in six
// places, and what follows by the opcode's operand kind. The lines are formatted here
// rather than by printf, which would take most of the time of listing a long program.
#include <stdio.h>
#include <string.h>

#include "values/number_text.h"
#include "values/value_internals.h"
#include "vm/opcodes.h"
#include "velq_program.h"
#include "velq_value.h"

namespace {

// A line under construction; a text longer than its room is written out in pieces.
class Line {
 public:
  explicit Line(FILE *file) : file(file), length(0) {}
  ~Line() { flush(); }

  void text(const char *text) { bytes(text, strlen(text)); }
  void bytes(const char *text, size_t count) {
    if (count > sizeof buffer - length) {
      flush();
      if (count > sizeof buffer) {
        fwrite(text, 1, count, file);
        return;
      }
    }
    memcpy(buffer + length, text, count);
    length += count;
  }
  // Upper-case hexadecimal, zero-padded to at least four digits ("%04X").
  void hex(uint32_t n) {
    char digits[8];
    int count = 0;
    do {
      digits[count++] = "0123456789ABCDEF"[n & 15];
      n >>= 4;
    } while (n != 0);
    for (int pad = count; pad < 4; pad++) bytes("0", 1);
    while (count > 0) bytes(&digits[--count], 1);
  }
  void decimal(int32_t n) {
    char digits[VELQ_INTEGER_TEXT_SIZE];
    bytes(digits, VELQ_FormatInt64(n, digits));
  }
  // Left-aligned in width places ("%-6s").
  void padded(const char *text, size_t width) {
    size_t count = strlen(text);
    bytes(text, count);
    for (; count < width; count++) bytes(" ", 1);
  }
  void flush() {
    if (length) fwrite(buffer, 1, length, file);
    length = 0;
  }

 private:
  FILE *file;
  size_t length;
  char buffer[4096];
};

void writeOperand(Line &line, VELQ_Instruction *instruction) {
  const char *name = instruction->operand.name ? instruction->operand.name : "";
  switch (velqOperandKind(instruction->opCode)) {
    case VELQ_OPERAND_ADDRESS:
      line.hex(instruction->operand.address);
      break;
    case VELQ_OPERAND_ADDRESS_COUNT:
      line.hex(instruction->operand.address);
      line.text(", ");
      line.decimal(instruction->intOperand);
      break;
    case VELQ_OPERAND_NAME_COUNT:
      line.text(name);
      line.text(", ");
      line.decimal(instruction->intOperand);
      break;
    case VELQ_OPERAND_NAME:
      line.text(name);
      break;
    case VELQ_OPERAND_VALUE: {
      VELQ_Value *constant = instruction->operand.value;
      if (!constant || constant->isNull()) {
        line.text("<null>");
      } else {
        // An object or array constant has no text form; it lists as empty text. The
        // text is written up to its first zero byte, as "%s" writes it. A number not
        // rendered yet is rendered here, without giving the constant a text.
        char rendered[VELQ_REAL_TEXT_SIZE];
        uint32_t length = 0;
        const char *text;
        if (constant->isNumeric() && !VELQ_ValueInternals::hasText(constant)) {
          text = rendered;
          length = (uint32_t)VELQ_ValueInternals::renderNumber(constant, rendered);
        } else {
          text = VELQ_ValueInternals::textView(constant, &length);
        }
        const void *zero = text ? memchr(text, '\0', length) : nullptr;
        if (zero) length = (uint32_t)(static_cast<const char *>(zero) - text);
        line.text("\"");
        if (text) line.bytes(text, length);
        line.text("\"");
      }
      break;
    }
    case VELQ_OPERAND_COUNT:
      line.decimal(instruction->intOperand);
      break;
    case VELQ_OPERAND_TYPE:
      line.text("[");
      line.text(VELQ_TypeName(instruction->intOperand));
      line.text("]");
      break;
    case VELQ_OPERAND_NONE:
      break;
  }
  line.text("\n");
}

}  // namespace

void VELQ_Program::dump(FILE *file) {
  if (!file) return;
  Line line(file);
  for (uint32_t address = 0; address < codeSize; address++) {
    VELQ_Instruction *instruction = instructions[address];
    line.hex(address);
    line.text("  ");
    line.padded(velqMnemonic(instruction->opCode), 6);
    line.text("  ");
    writeOperand(line, instruction);
  }
}
