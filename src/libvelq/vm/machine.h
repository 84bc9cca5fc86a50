// The state of a run as the machine keeps it: the data stack of values held in place,
// the frames of open calls, and the program's code translated for the run loop, with a
// cache per instruction for what it looks up by name.
#ifndef VELQ_MACHINE_H
#define VELQ_MACHINE_H

#include <stdint.h>

#include <atomic>

#include "runtime/growth.h"
#include "runtime/variable_internals.h"
#include "velq_environment.h"
#include "velq_instruction.h"
#include "velq_value.h"

class VELQ_Instruction;

// The operators that the run loop's fast paths carry out, each by a handler of its own
// and in fused handlers with the instruction before it (and, for the comparisons, the
// conditional jump after it).
#define VELQ_FAST_ARITHMETIC(X) \
  X(ADD) X(SUB) X(MUL) X(DIV) X(REM) X(BITAND) X(BITOR) X(BITXOR) X(LSHIFT) X(RSHIFT)
#define VELQ_FAST_COMPARISONS(X) X(EQ) X(NE) X(LT) X(LE) X(GT) X(GE)

// The run loop's handlers: one per opcode, one for the end of the translated code, and
// the fused handlers, each of which carries out a sequence of instructions at once.
enum VELQ_Handler {
  VELQ_END_HANDLER = VELQ_OPCODE_COUNT,
  VELQ_FUSED_SET_POP,    // SET x; POP 1
  VELQ_FUSED_STEP_POP,   // INC, DEC, INCP or DECP x; POP 1
  VELQ_FUSED_CASE_JUMP,  // CASE k; JZ
#define VELQ_FUSED_ARITHMETIC_IDS(op) VELQ_FUSED_K_##op, VELQ_FUSED_V_##op,
  VELQ_FAST_ARITHMETIC(VELQ_FUSED_ARITHMETIC_IDS)  // PUSH_CONST k or PUSH_VAR x; op
#undef VELQ_FUSED_ARITHMETIC_IDS
#define VELQ_FUSED_COMPARISON_IDS(op) \
  VELQ_FUSED_JUMP_##op, VELQ_FUSED_VV_##op, VELQ_FUSED_VK_##op,
  // op; JZ or JNZ, with PUSH_VAR a; PUSH_VAR b or PUSH_VAR a; PUSH_CONST k before it
  VELQ_FAST_COMPARISONS(VELQ_FUSED_COMPARISON_IDS)
#undef VELQ_FUSED_COMPARISON_IDS
  // The plain machine's handlers of the name instructions, which look the name up every
  // time instead of asking the cache (see VELQ_PlainMachine).
  VELQ_PLAIN_PUSH_VAR,
  VELQ_PLAIN_SET,
  VELQ_PLAIN_STEP,  // INC, DEC, INCP, DECP
  VELQ_HANDLER_COUNT
};

// Whether the process runs the plain machine: every instruction by the general path,
// without fused handlers, fast paths or name caches. It is the reference that the fast
// machine must agree with; the script tests run both ways. Set by the environment
// variable VELQ_PLAIN_MACHINE=1, read once per process.
bool VELQ_PlainMachine();

// Where a name last led: a constant or a global (the variable itself, valid while the
// run's shape stamp is the same), or a local (its position among the frame's locals,
// checked against the interned name on every use).
struct VELQ_NameCache {
  enum Kind : uint32_t { UNKNOWN, CONSTANT_OR_GLOBAL, LOCAL };
  const char *name;  // the program's interned copy of the instruction's name
  VELQ_Variable *variable;
  uint32_t kind;
  uint32_t stamp;
  uint32_t index;
};

// Which external function a call by name last reached: valid while the run's stamp and
// the environment's function table (its place and its number of records) are the same.
struct VELQ_CallCache {
  const void *table;
  uint32_t count;
  uint32_t index;
  uint32_t stamp;
  bool external;
};

// One instruction as the run loop executes it: where its handler is, its operand, and
// the cache of its lookups. Its position in the translated code is its address.
struct VELQ_Op {
  const void *handler;
  union {
    VELQ_Value *constant;
    const char *name;  // interned
    uint32_t target;   // an address
  } operand;
  int32_t count;   // the instruction's intOperand
  int32_t opCode;  // as the instruction has it (one outside the set runs as NOP)
  union {
    VELQ_NameCache names;  // PUSH_VAR, SET, BIND, INC, DEC, INCP, DECP
    VELQ_CallCache calls;  // CALL_EXT
  } cache;
};

// What the translation of an instruction was made from; an instruction that no longer
// matches (a host changed it, or another took its place) is translated again.
struct VELQ_OpSource {
  const VELQ_Instruction *instruction;
  int32_t opCode;
  int32_t count;
  uint64_t operand;
};

// A script function call: where to return to and the caller's locals.
struct VELQ_Frame {
  uint32_t returnAddress;
  VELQ_VariableSystem *callerLocals;
};

struct VELQ_Machine {
  // ---- The data stack: values held in place, the top at sp - 1 ----
  VELQ_Value *stack = nullptr;
  VELQ_Value *sp = nullptr;
  uint32_t stackCapacity = 0;

  // ---- The frames of the open calls; the program's subLevel counts them ----
  VELQ_GrowingList<VELQ_Frame> frames;
  VELQ_FrameSpares spares;

  // ---- The code, translated for the run loop ----
  VELQ_Op *code = nullptr;
  VELQ_OpSource *sources = nullptr;
  uint32_t codeCapacity = 0;
  uint32_t translated = 0;  // ops 0 .. translated-1 are for the current code

  // ---- The program's interned names (kept for the program's life) ----
  char **interned = nullptr;  // open addressing; null for a free slot
  uint32_t internedCapacity = 0;
  uint32_t internedCount = 0;

  // ---- The run in progress ----
  // Changes whenever the constants or globals might have changed shape (a new run, a
  // host function that added a variable), which invalidates the caches of them.
  uint32_t stamp = 1;
  uint32_t constantCount = 0;
  uint32_t globalCount = 0;
  // Set by cancel(), by a refused allocation and by a deadline found passed: the loop
  // stops at its next jump, call or return, whose target is then beyond `reach` (0;
  // translated + 1 otherwise). See runtime/run_limits.h.
  std::atomic<bool> interrupt{false};
  std::atomic<uint32_t> reach{0};
  // The counting loop runs this many more instructions of the steps granted last before
  // it looks at its budgets again.
  uint64_t stepsUntilCheck = 0;
  uint64_t stepsGranted = 0;
  bool singleStep = false;  // execute(): stop after one instruction
  // Pointers to the arguments of a host function, when there are more than fit on the
  // machine stack's own frame.
  VELQ_GrowingList<VELQ_Value *> argumentPointers;

  ~VELQ_Machine();

  uint32_t depth() const { return (uint32_t)(sp - stack); }
};

#endif
