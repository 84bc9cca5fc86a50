// Building a program the way the compiler does, the instruction record, and the listing.
#include <gtest/gtest.h>

#include "test_access.h"
#include "program_builder.h"

using namespace velq_test;

TEST(Instruction, ConstructorsFillTheOperandByKind) {
  VELQ_Instruction jump(4, OP_JMP, (unsigned long)0x100000005ul);
  EXPECT_EQ(jump.operand.address, 5u);  // addresses are 32-bit
  EXPECT_EQ(jump.sourceLine, 4);
  VELQ_Instruction unresolved(1, OP_JZ, (unsigned long)-1);
  EXPECT_EQ(unresolved.operand.address, VELQ_NO_ADDRESS);

  VELQ_Instruction call(2, OP_CALL_EXT, strdup("f"), 3);
  EXPECT_STREQ(call.operand.name, "f");
  EXPECT_EQ(call.intOperand, 3);
  VELQ_Instruction pop(2, OP_POP, 4);
  EXPECT_EQ(pop.intOperand, 4);
  VELQ_Instruction plain(7, OP_ADD);
  EXPECT_EQ(plain.opCode, OP_ADD);
  EXPECT_EQ(plain.intOperand, 0);
  EXPECT_EQ(plain.sourceLine, 7);
}

TEST(Instruction, CopiesOwnTheirNamesAndConstants) {
  std::vector<Op> cases = {{OP_PUSH_VAR, "x"}, {OP_CALL_EXT, "f", 2}, {OP_PUSH_CONST, "text"},
                           {OP_CASE, 1.5},     {OP_CALL, 9, 2},       {OP_CAST, DTYPE_UINT64}};
  for (const Op &op : cases) {
    SCOPED_TRACE(op.opCode);
    VELQ_OperandKind kind = velqOperandKind(op.opCode);
    bool ownsName = kind == VELQ_OPERAND_NAME || kind == VELQ_OPERAND_NAME_COUNT;
    VELQ_Instruction *source = makeInstruction(atLine(6, op));
    VELQ_Instruction *copy = new VELQ_Instruction(source);
    EXPECT_EQ(copy->opCode, source->opCode);
    EXPECT_EQ(copy->intOperand, source->intOperand);
    EXPECT_EQ(copy->sourceLine, 6);
    std::string before;
    if (ownsName) {
      EXPECT_NE(copy->operand.name, source->operand.name);
      before = copy->operand.name;
      EXPECT_EQ(before, source->operand.name);
    } else if (kind == VELQ_OPERAND_VALUE) {
      EXPECT_NE(copy->operand.value, source->operand.value);
      before = valueText(copy->operand.value);
      EXPECT_EQ(before, valueText(source->operand.value));
    } else {
      EXPECT_EQ(copy->operand.address, source->operand.address);
    }
    delete source;  // the copy must not depend on anything the source released
    if (ownsName) {
      EXPECT_EQ(before, copy->operand.name);
    } else if (kind == VELQ_OPERAND_VALUE) {
      EXPECT_EQ(before, valueText(copy->operand.value));
    }
    delete copy;
  }
}

TEST(Instruction, ACopyOfNothingIsANop) {
  VELQ_Instruction copy(static_cast<const VELQ_Instruction *>(nullptr));
  EXPECT_EQ(copy.opCode, OP_NOP);
  EXPECT_EQ(copy.intOperand, 0);
  EXPECT_EQ(copy.sourceLine, 0);
  EXPECT_EQ(copy.operand.value, nullptr);
}

// An operand of another kind than the opcode takes is released by the constructor, never
// kept to be read or freed as the wrong thing: a value or name opcode gets no operand, a
// jump no address. Running and destroying such instructions is then harmless (the
// sanitizers watch).
TEST(Instruction, AnOperandOfTheWrongKindIsDropped) {
  VELQ_Instruction constantAsAddress(1, OP_PUSH_CONST, (unsigned long)5);
  EXPECT_EQ(constantAsAddress.operand.value, nullptr);
  VELQ_Instruction nameAsAddress(1, OP_PUSH_VAR, (unsigned long)5);
  EXPECT_EQ(nameAsAddress.operand.name, nullptr);
  VELQ_Instruction nameAsConstant(1, OP_PUSH_CONST, strdup("x"));
  EXPECT_EQ(nameAsConstant.operand.value, nullptr);
  VELQ_Instruction callAsConstant(1, OP_CALL_EXT, new VELQ_Value(1));
  EXPECT_EQ(callAsConstant.operand.name, nullptr);
  VELQ_Instruction valueAsJump(1, OP_JMP, new VELQ_Value(1));
  EXPECT_EQ(valueAsJump.operand.address, VELQ_NO_ADDRESS);
  VELQ_Instruction nameAsCall(1, OP_CALL, strdup("f"), 2);
  EXPECT_EQ(nameAsCall.operand.address, VELQ_NO_ADDRESS);
  EXPECT_EQ(nameAsCall.intOperand, 2);
  VELQ_Instruction nameForNop(1, OP_NOP, strdup("n"));
  VELQ_Instruction valueForUnknown(1, 99, new VELQ_Value("v"));
  EXPECT_EQ(valueForUnknown.operand.value, nullptr);

  // A program of such instructions runs: both PUSH_CONSTs push null (null == null is 1),
  // SET and PUSH_VAR name the same variable, the empty name; a jump without an address
  // lists as unresolved.
  ProgramPtr program(new VELQ_Program());
  program->addInstruction(new VELQ_Instruction(1, OP_PUSH_CONST, strdup("x")));
  program->addInstruction(new VELQ_Instruction(1, OP_PUSH_CONST, (unsigned long)7));
  program->addInstruction(new VELQ_Instruction(1, OP_EQ));
  program->addInstruction(new VELQ_Instruction(1, OP_SET, (unsigned long)7));
  program->addInstruction(new VELQ_Instruction(1, OP_POP, 1));
  program->addInstruction(new VELQ_Instruction(1, OP_PUSH_VAR, new VELQ_Value(2)));
  program->addInstruction(new VELQ_Instruction(1, OP_RET));
  program->addInstruction(new VELQ_Instruction(1, OP_JMP, strdup("target")));
  char message[128];
  program->addFunction("main", 0, message);
  RunOutcome out = runProgram(program.get());
  EXPECT_EQ(out.error, "");
  EXPECT_EQ(out.result, "1");
  std::string text = listing(program.get());
  EXPECT_EQ(text.substr(text.rfind("0007")), "0007  JMP     FFFFFFFF\n");
}

// The read accessors of the program image answer null for a position beyond their count.
TEST(CodeBuilding, ReadAccessorsAnswerNullBeyondTheirCounts) {
  ProgramPtr program = buildProgram({{OP_NRET}});
  program->addPreload(strdup("module"));
  EXPECT_NE(program->getFunction(0), nullptr);
  EXPECT_NE(program->getPreload(0), nullptr);
  EXPECT_NE(program->getInstruction(0), nullptr);
  for (uint32_t beyond : {1u, 1000u, UINT32_MAX}) {
    EXPECT_EQ(program->getFunction(beyond), nullptr);
    EXPECT_EQ(program->getPreload(beyond), nullptr);
    EXPECT_EQ(program->getInstruction(beyond), nullptr);
  }
  EXPECT_EQ(velq_test::moduleOf(program, 0), nullptr);  // modules are merged during runs only
}

TEST(CodeBuilding, AddFunctionRefusesDuplicatesAndPlacesFunctions) {
  ProgramPtr program = buildProgram({{OP_NOP}, {OP_NOP}, {OP_NOP}}, {});
  char message[256] = "";
  EXPECT_EQ(program->addFunction("f", 0, message), 1);
  EXPECT_EQ(program->addFunction("F", 1, message), 1);  // names are case-sensitive
  EXPECT_EQ(program->addFunction("g", (unsigned long)-1, message), 1);
  EXPECT_EQ(message[0], '\0');
  EXPECT_EQ(program->addFunction("f", 2, message), 0);
  EXPECT_STREQ(message, "Duplicate function name: \"f\"");

  ASSERT_EQ(program->getFunctionCount(), 3u);
  EXPECT_STREQ(program->getFunction(0)->name, "f");
  EXPECT_EQ(program->getFunction(0)->address, 0u);  // not moved by the duplicate
  EXPECT_EQ(program->getFunction(1)->address, 1u);
  EXPECT_EQ(program->getFunction(2)->address, 3u);  // -1: the current address
}

TEST(CodeBuilding, ResolveLastJumpResolvesTheInnermostOpenJumpOfThatOpcode) {
  ProgramPtr program = buildProgram({{OP_NOP},
                                     {OP_NOP},
                                     {OP_NOP},
                                     {OP_JZ, -1},
                                     {OP_JMP, -1},
                                     {OP_NOP},
                                     {OP_NOP},
                                     {OP_JZ, -1},
                                     {OP_JZ, 2},
                                     {OP_PUSH_VAR, "v"}},
                                    {});
  auto target = [&](unsigned long at) { return program->getInstruction(at)->operand.address; };
  program->resolveLastJump(OP_JZ);
  EXPECT_EQ(target(7), 10u);
  EXPECT_EQ(target(3), VELQ_NO_ADDRESS);
  program->addInstruction(makeInstruction({OP_NOP}));
  program->resolveLastJump(OP_JZ);
  EXPECT_EQ(target(3), 11u);
  EXPECT_EQ(target(4), VELQ_NO_ADDRESS);  // a JMP is not a JZ
  EXPECT_EQ(target(8), 2u);

  // Nothing left to resolve, or an opcode whose operand is no address: nothing changes.
  program->resolveLastJump(OP_JZ);
  program->resolveLastJump(OP_JNZ);
  program->resolveLastJump(OP_PUSH_VAR);
  EXPECT_EQ(target(4), VELQ_NO_ADDRESS);
  EXPECT_STREQ(program->getInstruction(9)->operand.name, "v");
  program->resolveLastJump(OP_JMP);
  EXPECT_EQ(target(4), 11u);
}

// Open jumps are remembered as they are added; the answers must stay those of a search
// backwards through the code when placeholders are replaced, created out of order, or
// the code is optimized.
TEST(CodeBuilding, ResolveLastJumpFollowsReplacedAndLatePlaceholders) {
  ProgramPtr program = buildProgram({{OP_JZ, -1}, {OP_JZ, -1}, {OP_NOP}, {OP_JMP, -1}, {OP_NOP}}, {});
  auto target = [&](unsigned long at) { return program->getInstruction(at)->operand.address; };

  program->createJumpAt(1, 4);  // the open JZ at 1 is replaced by a jump with a target
  program->resolveLastJump(OP_JZ);
  EXPECT_EQ(target(0), 5u);

  program->createJumpAt(2, (unsigned long)-1);  // an open JMP below the open JMP at 3
  program->addInstruction(makeInstruction({OP_NOP}));
  program->resolveLastJump(OP_JMP);
  EXPECT_EQ(target(3), 6u);
  EXPECT_EQ(target(2), VELQ_NO_ADDRESS);
  program->resolveLastJump(OP_JMP);
  EXPECT_EQ(target(2), 6u);

  program->optimize();
  program->addInstruction(makeInstruction({OP_JNZ, -1}));
  unsigned long open = program->getCodeSize() - 1;
  program->addInstruction(makeInstruction({OP_NOP}));
  program->resolveLastJump(OP_JNZ);
  EXPECT_EQ(target(open), (uint32_t)program->getCodeSize());
}

TEST(CodeBuilding, CreateJumpAtReplacesAPlaceholderInsideTheCodeOnly) {
  std::vector<Op> code;
  for (int i = 0; i < 7; i++) code.push_back(atLine(i + 1, {OP_NOP}));
  code[5] = atLine(42, {OP_PUSH_VAR, "placeholder"});
  ProgramPtr program = buildProgram(code, {});
  program->createJumpAt(5, 9);
  VELQ_Instruction *jump = program->getInstruction(5);
  EXPECT_EQ(jump->opCode, OP_JMP);
  EXPECT_EQ(jump->operand.address, 9u);
  EXPECT_EQ(jump->sourceLine, 42);

  std::string before = listing(program.get());
  program->createJumpAt(7, 1);
  program->createJumpAt((unsigned long)-1, 1);
  EXPECT_EQ(listing(program.get()), before);
  EXPECT_EQ(program->getCodeSize(), 7u);
}

TEST(CodeBuilding, PreloadsKeepTheirOrder) {
  ProgramPtr program = buildProgram({}, {});
  program->addPreload(strdup("first"));
  program->addPreload(strdup("second"));
  ASSERT_EQ(program->getPreloadCount(), 2u);
  EXPECT_STREQ(program->getPreload(0), "first");
  EXPECT_STREQ(program->getPreload(1), "second");
}

TEST(CodeBuilding, ResolveFunctionsTurnsCallsOfOwnFunctionsIntoCallsByAddress) {
  ProgramPtr program = buildProgram({{OP_CALL_EXT, "f", 2},
                                     {OP_CALL_EXT, "length", 1},
                                     {OP_CALL_EXT, "F", 0},
                                     {OP_PUSH_VAR, "f"},
                                     {OP_RET},
                                     {OP_NRET}},
                                    {{"main", 0}, {"f", 5}});
  program->resolveFunctions();
  EXPECT_EQ(listing(program.get()),
            "0000  CALL    0005, 2\n"
            "0001  CALL    length, 1\n"
            "0002  CALL    F, 0\n"
            "0003  PUSH    f\n"
            "0004  RET     \n"
            "0005  NRET    \n");
  EXPECT_EQ(program->getInstruction(0)->opCode, OP_CALL);
  EXPECT_EQ(program->getInstruction(1)->opCode, OP_CALL_EXT);
}

TEST(Listing, EveryOpcodeListsItsMnemonic) {
  const char *mnemonics[] = {
      "NOP",    "RET",    "JMP",  "CALL",   "CALL",   "PUSH",   "PUSH", "EXIT", "POP",
      "SET",    "ADD",    "SUB",  "MUL",    "DIV",    "REM",    "EQ",   "NE",   "LT",
      "LE",     "GT",     "GE",   "BITAND", "BITOR",  "BITXOR", "AND",  "OR",   "LSHIFT",
      "RSHIFT", "NRET",   "JZ",   "PRINT",  "CONCAT", "BIND",   "INC",  "DEC",  "NEG",
      "NOT",    "BITNOT", "CAST", "AGET",   "INCP",   "DECP",   "JNZ",  "LIKE", "ILIKE",
      "MATCH",  "IMATCH", "CASE", "ARRAY",  "EGET",   "ESET",   "ASET"};
  static_assert(sizeof mnemonics / sizeof *mnemonics == VELQ_OPCODE_COUNT, "one per opcode");
  for (int op = 0; op < VELQ_OPCODE_COUNT; op++) {
    SCOPED_TRACE(op);
    ProgramPtr program = buildProgram({{op}}, {});
    char expected[32];
    snprintf(expected, sizeof expected, "0000  %-6s  ", mnemonics[op]);
    EXPECT_EQ(listing(program.get()).substr(0, 14), expected);
  }
}

TEST(Listing, EachOperandKindHasItsFormat) {
  std::vector<Op> code = {
      {OP_NOP},
      {OP_JMP, 0x12345},
      {OP_JZ, -1},
      {OP_JNZ, 3},
      {OP_CALL, 12, 2},
      {OP_CALL_EXT, "abs", 1},
      {OP_PUSH_CONST, 1},
      {OP_PUSH_CONST, 1.5},
      {OP_PUSH_CONST, "0x1F"},
      {OP_PUSH_CONST, "two words"},
      {OP_PUSH_CONST, null()},
      {OP_CASE, "abc"},
      {OP_CASE, null()},
      {OP_PUSH_VAR, "x"},
      {OP_SET, "x"},
      {OP_BIND, "p"},
      {OP_INC, "i"},
      {OP_DEC, "i"},
      {OP_AGET, "hour"},
      {OP_INCP, "i"},
      {OP_DECP, "i"},
      {OP_ARRAY, "a"},
      {OP_ASET, "min"},
      {OP_POP, 3},
      {OP_POP, -1},
      {OP_CAST, DTYPE_REAL},
      {OP_CAST, DTYPE_STRING},
      {OP_CAST, DTYPE_UINT64},
      {OP_CAST, 42},
      {OP_ADD},
      {OP_PRINT},
      {99},
      {-7},
  };
  ProgramPtr program = buildProgram(code, {});
  EXPECT_EQ(listing(program.get()),
            "0000  NOP     \n"
            "0001  JMP     12345\n"
            "0002  JZ      FFFFFFFF\n"
            "0003  JNZ     0003\n"
            "0004  CALL    000C, 2\n"
            "0005  CALL    abs, 1\n"
            "0006  PUSH    \"1\"\n"
            "0007  PUSH    \"1.500000\"\n"
            "0008  PUSH    \"0x1F\"\n"
            "0009  PUSH    \"two words\"\n"
            "000A  PUSH    <null>\n"
            "000B  CASE    \"abc\"\n"
            "000C  CASE    <null>\n"
            "000D  PUSH    x\n"
            "000E  SET     x\n"
            "000F  BIND    p\n"
            "0010  INC     i\n"
            "0011  DEC     i\n"
            "0012  AGET    hour\n"
            "0013  INCP    i\n"
            "0014  DECP    i\n"
            "0015  ARRAY   a\n"
            "0016  ASET    min\n"
            "0017  POP     3\n"
            "0018  POP     -1\n"
            "0019  CAST    [real]\n"
            "001A  CAST    [string]\n"
            "001B  CAST    [uint64]\n"
            "001C  CAST    [unknown]\n"
            "001D  ADD     \n"
            "001E  PRINT   \n"
            "001F  ???     \n"
            "0020  ???     \n");
}

TEST(Listing, AddressesGrowBeyondFourDigits) {
  std::vector<Op> code(0x10001, Op(OP_NOP));
  code.back() = {OP_JMP, 0x10000};
  ProgramPtr program = buildProgram(code, {});
  std::string text = listing(program.get());
  EXPECT_EQ(text.substr(text.rfind('\n', text.size() - 2) + 1), "10000  JMP     10000\n");
}
