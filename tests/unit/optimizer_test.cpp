// The jump optimizer: threading through chains of JMPs and deleting jumps to the next
// instruction, with every address that pointed behind a deletion corrected.
#include <gtest/gtest.h>

#include "program_builder.h"

using namespace velq_test;

namespace {

std::vector<Op> nops(int count) { return std::vector<Op>(count, Op(OP_NOP)); }

uint32_t target(const ProgramPtr &program, unsigned long at) {
  return program->getInstruction(at)->operand.address;
}

}  // namespace

TEST(Optimizer, DeletingAJumpMovesEveryAddressBehindIt) {
  std::vector<Op> code = nops(22);
  code[4] = {OP_JMP, 5};
  code[9] = {OP_JZ, 12};
  code[10] = {OP_CALL, 20, 0};
  code[11] = {OP_JNZ, 2};  // points before the deletion: unchanged
  code[13] = {OP_JMP, 4};  // threaded past the deleted jump to 5, which then moves to 4
  ProgramPtr program = buildProgram(code, {{"main", 0}, {"early", 4}, {"f", 20}});
  program->optimize();
  ASSERT_EQ(program->getCodeSize(), 21u);
  EXPECT_EQ(program->getInstruction(8)->opCode, OP_JZ);
  EXPECT_EQ(target(program, 8), 11u);
  EXPECT_EQ(target(program, 9), 19u);
  EXPECT_EQ(target(program, 10), 2u);
  EXPECT_EQ(target(program, 12), 4u);
  EXPECT_EQ(program->getFunction(0)->address, 0u);
  EXPECT_EQ(program->getFunction(1)->address, 4u);
  EXPECT_EQ(program->getFunction(2)->address, 19u);
}

TEST(Optimizer, JumpsAreThreadedToTheEndOfAChainOfJmps) {
  std::vector<Op> code = nops(22);
  code[3] = {OP_JMP, 10};
  code[5] = {OP_JZ, 10};
  code[6] = {OP_JNZ, 15};
  code[7] = {OP_CALL, 10, 0};  // calls are not threaded
  code[10] = {OP_JMP, 15};
  code[15] = {OP_JMP, 20};
  code[20] = {OP_PUSH_CONST, 1};
  ProgramPtr program = buildProgram(code);
  program->optimize();
  ASSERT_EQ(program->getCodeSize(), 22u);
  EXPECT_EQ(target(program, 3), 20u);
  EXPECT_EQ(target(program, 5), 20u);
  EXPECT_EQ(target(program, 6), 20u);
  EXPECT_EQ(target(program, 7), 10u);
  EXPECT_EQ(program->getInstruction(10)->opCode, OP_JMP);  // still there, threaded too
  EXPECT_EQ(target(program, 10), 20u);
}

TEST(Optimizer, OnlyUnconditionalJumpsToTheNextInstructionGo) {
  std::vector<Op> code = nops(12);
  code[7] = {OP_JZ, 8};
  code[9] = {OP_JNZ, 10};
  ProgramPtr program = buildProgram(code);
  std::string before = listing(program.get());
  program->optimize();
  EXPECT_EQ(listing(program.get()), before);
}

TEST(Optimizer, ConsecutiveJumpsToTheNextInstructionAllGo) {
  std::vector<Op> code = nops(9);
  code[5] = {OP_JMP, 6};
  code[6] = {OP_JMP, 7};
  code[7] = {OP_PUSH_CONST, "formerly at 7"};
  code[8] = {OP_JZ, 7};
  ProgramPtr program = buildProgram(code);
  program->optimize();
  ASSERT_EQ(program->getCodeSize(), 7u);
  EXPECT_EQ(valueText(program->getInstruction(5)->operand.value), "formerly at 7");
  EXPECT_EQ(target(program, 6), 5u);
}

TEST(Optimizer, ChainsThatComeBackOnThemselvesEnd) {
  struct Case {
    std::vector<Op> code;
    std::string listing;
  } cases[] = {
      // A JMP to itself, JMPs that target each other, and jumps into such a loop keep
      // their targets.
      {{{OP_JMP, 3}, {OP_JZ, 3}, {OP_JMP, 2}, {OP_JMP, 5}, {OP_NOP}, {OP_JMP, 3}, {OP_NRET}},
       "0000  JMP     0003\n"
       "0001  JZ      0003\n"
       "0002  JMP     0002\n"
       "0003  JMP     0005\n"
       "0004  NOP     \n"
       "0005  JMP     0003\n"
       "0006  NRET    \n"},
      // 0 -> 1 -> 2 -> 1 -> ...: the jumps to the next instruction go, and what is left
      // loops on itself as before.
      {{{OP_JMP, 1}, {OP_JMP, 2}, {OP_JMP, 1}, {OP_NRET}},
       "0000  JMP     0000\n"
       "0001  NRET    \n"},
  };
  for (const Case &c : cases) {
    ProgramPtr program = buildProgram(c.code);
    program->optimize();
    EXPECT_EQ(listing(program.get()), c.listing);
  }
}

TEST(Optimizer, AnUnresolvedJumpStaysUnresolved) {
  ProgramPtr program = buildProgram({{OP_JMP, -1}, {OP_JMP, 2}, {OP_JZ, -1}, {OP_NRET}});
  program->optimize();
  EXPECT_EQ(listing(program.get()),
            "0000  JMP     FFFFFFFF\n"
            "0001  JZ      FFFFFFFF\n"
            "0002  NRET    \n");
}

TEST(Optimizer, AProgramWithoutJumpsIsUnchanged) {
  ProgramPtr program = buildProgram(
      {{OP_PUSH_CONST, 1}, {OP_SET, "x"}, {OP_CALL_EXT, "f", 1}, {OP_PRINT}, {OP_NRET}},
      {{"main", 0}, {"f", 4}});
  std::string before = listing(program.get());
  program->optimize();
  EXPECT_EQ(listing(program.get()), before);
  EXPECT_EQ(program->getFunction(1)->address, 4u);
}

TEST(Optimizer, AFunctionAfterAnEmptyElseStillStartsAtItsFirstInstruction) {
  // f(c) { if (c) print "then"; else {} print "end"; } followed by main.
  std::vector<Op> code = {
      {OP_BIND, "c"},  // f
      {OP_PUSH_VAR, "c"},
      {OP_JZ, 6},
      {OP_PUSH_CONST, "then"},
      {OP_PRINT},
      {OP_JMP, 6},  // the then branch ends with a jump over the empty else
      {OP_PUSH_CONST, "end"},
      {OP_PRINT},
      {OP_NRET},
      {OP_PUSH_CONST, 1},  // main
      {OP_CALL, 0, 1},
      {OP_POP, 1},
      {OP_PUSH_CONST, 0},
      {OP_CALL, 0, 1},
      {OP_NRET},
  };
  ProgramPtr program = buildProgram(code, {{"f", 0}, {"main", 9}});
  RunOutcome before = runProgram(program.get());
  program->optimize();
  ASSERT_EQ(program->getCodeSize(), code.size() - 1);
  EXPECT_EQ(program->getFunction(1)->address, 8u);
  EXPECT_EQ(program->getInstruction(8)->opCode, OP_PUSH_CONST);
  RunOutcome after = runProgram(program.get());
  EXPECT_EQ(before.output, "thenendend");
  EXPECT_EQ(after.output, before.output);
  EXPECT_EQ(after.rc, 0) << after.error;
}
