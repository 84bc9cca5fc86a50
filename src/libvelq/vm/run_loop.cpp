// The run loop: it executes the translated code (vm/translation.cpp) with its hot state,
// the current instruction and the top of the data stack, in locals, and jumps from one
// instruction's handler straight to the next one's (computed goto, where the compiler
// has it). Short instructions, and the common cases of the operators (two int32 or two
// reals without texts), are carried out here; the rest by the handlers of the other vm
// files, which work on the machine's state.
//
// The rule for leaving the loop's locals: before anything that may raise an error, call
// a host function or change the stack, SAVE() writes them back (the stack top and
// currentPosition, from which an error takes its line); afterwards LOAD() reads the
// stack top again, and the loop leaves when an error was raised (currentPosition is then
// VELQ_NO_ADDRESS). Jumps, calls and returns look at the interrupt (cancel() or a
// refused allocation) before they go on; the counting loop also counts every
// instruction against the step and time budgets.
#include <stdint.h>

#include "values/value_internals.h"
#include "vm/opcodes.h"
#include "vm/program_internals.h"
#include "runtime/variable_internals.h"
#include "velq_program.h"
#include "velq_value.h"
#include "velq_variable.h"

#define LIKELY(x) __builtin_expect(!!(x), 1)
#define UNLIKELY(x) __builtin_expect(!!(x), 0)

namespace {

typedef VELQ_ValueInternals V;

// The variable a name instruction means, when its cache can tell at once; null when the
// full lookup must decide.
inline VELQ_Variable *cachedVariable(const VELQ_Machine &machine, const VELQ_NameCache *cache,
                                     const VELQ_VariableSystem *locals) {
  if (cache->stamp != machine.stamp) return nullptr;
  if (cache->kind == VELQ_NameCache::CONSTANT_OR_GLOBAL) return cache->variable;
  if (cache->kind == VELQ_NameCache::LOCAL && cache->index < VELQ_RuntimeInternals::count(locals)) {
    VELQ_Variable *variable = VELQ_RuntimeInternals::at(locals, cache->index);
    if (VELQ_RuntimeInternals::nameOf(variable) == cache->name) return variable;
  }
  return nullptr;
}

// Both operands of the type (int32 or real): the case the fast paths take. Their texts,
// if they have any, go when the result is in place (finishBinary).
inline bool bothOf(const VELQ_Value *left, const VELQ_Value *right, int type) {
  return V::typeOf(left) == type && V::typeOf(right) == type;
}

// The common type of two 32-bit integers (int32, unless both are uint32: an unsigned
// operand counts as signed beside a signed one), or 0 when an operand is not a 32-bit
// integer. Types 5 and 7 are the two, and differ in one bit.
inline int bits32Pair(const VELQ_Value *left, const VELQ_Value *right) {
  int leftType = V::typeOf(left), rightType = V::typeOf(right);
  if ((leftType & ~2) != DTYPE_INT32 || (rightType & ~2) != DTYPE_INT32) return 0;
  return leftType == DTYPE_UINT32 && rightType == DTYPE_UINT32 ? DTYPE_UINT32 : DTYPE_INT32;
}

inline uint32_t &bitsOf(VELQ_Value *value) { return reinterpret_cast<uint32_t &>(V::int32Of(value)); }

// After a fast path left its result's number in left: left's text was that of its old
// number, and right is done with.
inline void finishBinary(VELQ_Value *left, VELQ_Value *right) {
  if (UNLIKELY(!V::isPlain(left))) V::releaseText(left);
  if (UNLIKELY(!V::isPlain(right))) V::releaseText(right);
}

}  // namespace

template <bool Counting>
void VELQ_ProgramInternals::loop(VELQ_Program *program, const void *const **table) {
#define VELQ_LOOP_LABEL(name, mnemonic, kind, family) &&do_##name,
  static const void *const labels[VELQ_HANDLER_COUNT] = {VELQ_OPCODES(VELQ_LOOP_LABEL) &&do_end};
#undef VELQ_LOOP_LABEL
  if (table) {
    *table = labels;
    return;
  }

  VELQ_Program &p = *program;
  VELQ_ProgramInternals &state = *p.internals;
  VELQ_Machine &m = state.machine;
  VELQ_Op *const code = m.code;
  VELQ_Op *op = code + p.currentPosition;
  VELQ_Value *sp = m.sp;
  VELQ_Value *stackEnd = m.stack + m.stackCapacity;
  uint64_t steps = m.stepsUntilCheck;

#define SAVE() (m.sp = sp, m.stepsUntilCheck = steps, p.currentPosition = (uint32_t)(op - code))
#define LOAD() (sp = m.sp, steps = m.stepsUntilCheck, stackEnd = m.stack + m.stackCapacity)
#define FAILED() (p.currentPosition == VELQ_NO_ADDRESS)
#define DISPATCH()                                               \
  do {                                                           \
    if (Counting && UNLIKELY(steps-- == 0)) goto checkSteps;     \
    goto *op->handler;                                           \
  } while (0)
// A jump, call or return to target: the loop leaves for an address outside the
// translated code (one not resolved, or code added while the run goes on).
#define GO_TO(target)                                            \
  do {                                                           \
    uint32_t to = (target);                                      \
    if (UNLIKELY(to > m.translated)) {                           \
      SAVE();                                                    \
      p.currentPosition = to;                                    \
      goto leave;                                                \
    }                                                            \
    op = code + to;                                              \
  } while (0)
#define NEXT() \
  do {         \
    op++;      \
    DISPATCH(); \
  } while (0)
#define INTERRUPTIBLE()                                                     \
  do {                                                                      \
    if (UNLIKELY(m.interrupt.load(std::memory_order_relaxed))) goto interrupted; \
  } while (0)
// Calls a handler of the other vm files: it finds the machine as the loop left it.
#define CALL_OUT(call) \
  do {                 \
    SAVE();            \
    call;              \
    LOAD();            \
    if (FAILED()) goto leave; \
  } while (0)
#define ROOM(n)                                                             \
  do {                                                                      \
    if (UNLIKELY(stackEnd - sp < (n))) CALL_OUT(reserveStack(p, (n)));      \
  } while (0)
#define LOCALS() (p.locals)

  DISPATCH();

do_NOP:
  NEXT();

do_PUSH_CONST: {
  ROOM(1);
  const VELQ_Value *constant = op->operand.constant;
  if (constant) {
    V::putCopy(sp, constant);
  } else {
    V::putNull(sp);
  }
  sp++;
  NEXT();
}

do_PUSH_VAR: {
  ROOM(1);
  VELQ_Variable *variable = cachedVariable(m, &op->cache.names, LOCALS());
  if (UNLIKELY(!variable)) CALL_OUT(variable = lookUp(p, op->operand.name, &op->cache.names));
  V::putCopy(sp, variable->getValue());
  sp++;
  NEXT();
}

do_POP: {
  int32_t count = op->count;
  int32_t depth = (int32_t)(sp - m.stack);
  if (count > depth) count = depth;
  for (; count > 0; count--) V::drop(--sp);
  NEXT();
}

do_SET: {
  VELQ_Variable *variable = cachedVariable(m, &op->cache.names, LOCALS());
  if (UNLIKELY(!variable)) CALL_OUT(variable = lookUp(p, op->operand.name, &op->cache.names));
  VELQ_Value *target = variable->getValue();
  if (LIKELY(sp > m.stack && !variable->isConstant() && V::isPlain(sp - 1) && V::isPlain(target))) {
    V::move(target, sp - 1);  // a plain value is copied by its bytes
    V::putCopy(sp - 1, target);
    NEXT();
  }
  CALL_OUT(doSet(p, variable));
  NEXT();
}

do_ADD: {
  if (LIKELY(sp - m.stack >= 2)) {
    VELQ_Value *right = sp - 1, *left = sp - 2;
    if (int type = bits32Pair(left, right)) {
      bitsOf(left) = bitsOf(left) + bitsOf(right);
      V::setType(left, type);
      finishBinary(left, right);
      sp--;
      NEXT();
    }
    if (bothOf(left, right, DTYPE_REAL)) {
      V::realOf(left) += V::realOf(right);
      finishBinary(left, right);
      sp--;
      NEXT();
    }
  }
  goto binary;
}

do_SUB: {
  if (LIKELY(sp - m.stack >= 2)) {
    VELQ_Value *right = sp - 1, *left = sp - 2;
    if (int type = bits32Pair(left, right)) {
      bitsOf(left) = bitsOf(left) - bitsOf(right);
      V::setType(left, type);
      finishBinary(left, right);
      sp--;
      NEXT();
    }
    if (bothOf(left, right, DTYPE_REAL)) {
      V::realOf(left) -= V::realOf(right);
      finishBinary(left, right);
      sp--;
      NEXT();
    }
  }
  goto binary;
}

do_MUL: {
  if (LIKELY(sp - m.stack >= 2)) {
    VELQ_Value *right = sp - 1, *left = sp - 2;
    if (int type = bits32Pair(left, right)) {
      bitsOf(left) = bitsOf(left) * bitsOf(right);
      V::setType(left, type);
      finishBinary(left, right);
      sp--;
      NEXT();
    }
    if (bothOf(left, right, DTYPE_REAL)) {
      V::realOf(left) *= V::realOf(right);
      finishBinary(left, right);
      sp--;
      NEXT();
    }
  }
  goto binary;
}

do_DIV: {
  // Division is in reals: two plain int32 or reals give a plain real.
  if (LIKELY(sp - m.stack >= 2)) {
    VELQ_Value *right = sp - 1, *left = sp - 2;
    int leftType = V::typeOf(left), rightType = V::typeOf(right);
    if ((leftType == DTYPE_REAL || leftType == DTYPE_INT32) &&
        (rightType == DTYPE_REAL || rightType == DTYPE_INT32)) {
      double l = leftType == DTYPE_REAL ? V::realOf(left) : (double)V::int32Of(left);
      double r = rightType == DTYPE_REAL ? V::realOf(right) : (double)V::int32Of(right);
      V::setType(left, DTYPE_REAL);
      V::realOf(left) = l / r;
      finishBinary(left, right);
      sp--;
      NEXT();
    }
  }
  goto binary;
}

do_REM: {
  if (LIKELY(sp - m.stack >= 2)) {
    VELQ_Value *right = sp - 1, *left = sp - 2;
    int type = bits32Pair(left, right);
    if (LIKELY(type && bitsOf(right) != 0)) {
      if (type == DTYPE_UINT32) {
        bitsOf(left) %= bitsOf(right);
      } else {
        int32_t divisor = V::int32Of(right);
        // The most negative int32 by -1 has the remainder 0 (and no trap).
        V::int32Of(left) = divisor == -1 ? 0 : V::int32Of(left) % divisor;
      }
      V::setType(left, type);
      finishBinary(left, right);
      sp--;
      NEXT();
    }
  }
  goto binary;
}

#define VELQ_COMPARISON_HANDLER(name, test)                                  \
  do_##name : {                                                              \
    if (LIKELY(sp - m.stack >= 2)) {                                         \
      VELQ_Value *right = sp - 1, *left = sp - 2;                            \
      if (int type = bits32Pair(left, right)) {                              \
        bool outcome;                                                        \
        if (type == DTYPE_UINT32) {                                          \
          uint32_t l = bitsOf(left), r = bitsOf(right);                      \
          outcome = (test);                                                  \
        } else {                                                             \
          int32_t l = V::int32Of(left), r = V::int32Of(right);               \
          outcome = (test);                                                  \
        }                                                                    \
        finishBinary(left, right);                                           \
        V::putInt32(left, outcome ? 1 : 0);                                  \
        sp--;                                                                \
        NEXT();                                                              \
      }                                                                      \
      if (bothOf(left, right, DTYPE_REAL)) {                                 \
        double l = V::realOf(left), r = V::realOf(right);                    \
        finishBinary(left, right);                                           \
        V::putInt32(left, (test) ? 1 : 0);                                   \
        sp--;                                                                \
        NEXT();                                                              \
      }                                                                      \
    }                                                                        \
    goto binary;                                                             \
  }
  VELQ_COMPARISON_HANDLER(EQ, l == r)
  VELQ_COMPARISON_HANDLER(NE, !(l == r))
  VELQ_COMPARISON_HANDLER(LT, l < r)
  VELQ_COMPARISON_HANDLER(LE, l <= r)
  VELQ_COMPARISON_HANDLER(GT, l > r)
  VELQ_COMPARISON_HANDLER(GE, l >= r)
#undef VELQ_COMPARISON_HANDLER

#define VELQ_BITS_HANDLER(name, operation)                                   \
  do_##name : {                                                              \
    if (LIKELY(sp - m.stack >= 2)) {                                         \
      VELQ_Value *right = sp - 1, *left = sp - 2;                            \
      if (int type = bits32Pair(left, right)) {                              \
        uint32_t l = bitsOf(left), r = bitsOf(right);                        \
        bool isSigned = type == DTYPE_INT32;                                 \
        (void)isSigned;                                                      \
        bitsOf(left) = (operation);                                          \
        V::setType(left, type);                                              \
        finishBinary(left, right);                                           \
        sp--;                                                                \
        NEXT();                                                              \
      }                                                                      \
    }                                                                        \
    goto binary;                                                             \
  }
  VELQ_BITS_HANDLER(BITAND, l & r)
  VELQ_BITS_HANDLER(BITOR, l | r)
  VELQ_BITS_HANDLER(BITXOR, l ^ r)
  VELQ_BITS_HANDLER(LSHIFT, l << (r & 31))
  VELQ_BITS_HANDLER(RSHIFT, isSigned && (l & 0x80000000u) ? ~(~l >> (r & 31)) : l >> (r & 31))
#undef VELQ_BITS_HANDLER

do_AND:
do_OR:
do_CONCAT:
do_LIKE:
do_ILIKE:
do_MATCH:
do_IMATCH:
binary:
  CALL_OUT(p.doBinaryOperation(op->opCode));
  NEXT();

do_CASE: {
  if (LIKELY(sp > m.stack)) {
    const VELQ_Value *constant = op->operand.constant;
    VELQ_Value *tested = sp - 1;
    if (constant && V::typeOf(constant) == DTYPE_INT32 && V::typeOf(tested) == DTYPE_INT32) {
      ROOM(1);
      tested = sp - 1;
      V::putInt32(sp, V::int32Of(const_cast<VELQ_Value *>(constant)) == V::int32Of(tested));
      sp++;
      NEXT();
    }
  }
  CALL_OUT(compareCase(p));
  NEXT();
}

do_JMP:
  GO_TO(op->operand.target);
  INTERRUPTIBLE();
  DISPATCH();

do_JZ:
do_JNZ: {
  if (UNLIKELY(sp == m.stack)) {
    SAVE();
    p.error(VELQ_ERR_STACK_UNDERFLOW);
    goto leave;
  }
  VELQ_Value *condition = --sp;
  bool zero;
  int type = V::typeOf(condition);
  if (LIKELY(type == DTYPE_INT32)) {
    zero = V::int32Of(condition) == 0;
    V::drop(condition);
  } else if (type <= DTYPE_STRING) {
    V::drop(condition);
    SAVE();
    p.error(VELQ_ERR_CONDITION_NOT_NUMBER);
    goto leave;
  } else {
    zero = condition->isZero();  // NaN is not zero
    V::drop(condition);
  }
  if (op->opCode == OP_JZ ? zero : !zero) {
    GO_TO(op->operand.target);
  } else {
    op++;
  }
  INTERRUPTIBLE();
  DISPATCH();
}

do_EXIT:
  if (UNLIKELY(sp == m.stack)) {
    SAVE();
    p.error(VELQ_ERR_STACK_UNDERFLOW);
    goto leave;
  }
  state.endedByExit = true;
  SAVE();
  p.currentPosition = p.codeSize;
  goto leave;

do_PRINT:
  CALL_OUT(doPrint(p));
  NEXT();

do_CALL:
  CALL_OUT(p.callFunction(op->count));
  GO_TO(op->operand.target);
  INTERRUPTIBLE();
  DISPATCH();

do_CALL_EXT: {
  state.nextPosition = (uint32_t)(op - code) + 1;
  CALL_OUT(doCallByName(p, op->operand.name, op->count, &op->cache.calls));
  GO_TO(state.nextPosition);
  INTERRUPTIBLE();
  DISPATCH();
}

do_NRET:
  ROOM(1);
  V::putNull(sp);
  sp++;
  /* fall through to RET */
do_RET:
  if (p.subLevel == 0) {
    SAVE();
    p.currentPosition = p.codeSize;
    goto leave;
  }
  CALL_OUT(doReturn(p));
  GO_TO(state.nextPosition);
  INTERRUPTIBLE();
  DISPATCH();

do_BIND:
  CALL_OUT(doBind(p, op->operand.name, &op->cache.names));
  NEXT();

do_INC:
do_DEC:
do_INCP:
do_DECP: {
  VELQ_Variable *variable = cachedVariable(m, &op->cache.names, LOCALS());
  if (UNLIKELY(!variable)) CALL_OUT(variable = lookUp(p, op->operand.name, &op->cache.names));
  ROOM(1);
  VELQ_Value *value = variable->getValue();
  if (LIKELY(V::typeOf(value) == DTYPE_INT32)) {
    if (UNLIKELY(!V::isPlain(value))) V::releaseText(value);
    int32_t before = V::int32Of(value);
    int32_t after = (int32_t)((uint32_t)before + (op->opCode == OP_INC || op->opCode == OP_INCP
                                                      ? 1u
                                                      : 0xFFFFFFFFu));
    V::int32Of(value) = after;
    V::putInt32(sp, op->opCode == OP_INC || op->opCode == OP_DEC ? before : after);
    sp++;
    NEXT();
  }
  CALL_OUT(doVariableStep(p, op->opCode, variable));
  NEXT();
}

do_NEG:
  if (LIKELY(sp > m.stack)) {
    VELQ_Value *value = sp - 1;
    if (V::typeOf(value) == DTYPE_INT32) {
      V::int32Of(value) = (int32_t)(0u - (uint32_t)V::int32Of(value));
      if (UNLIKELY(!V::isPlain(value))) V::releaseText(value);
      NEXT();
    }
    if (V::typeOf(value) == DTYPE_REAL) {
      V::realOf(value) = -V::realOf(value);
      if (UNLIKELY(!V::isPlain(value))) V::releaseText(value);
      NEXT();
    }
  }
  /* fall through */
do_NOT:
do_BITNOT:
  CALL_OUT(p.doUnaryOperation(op->opCode));
  NEXT();

do_CAST:
  CALL_OUT(doCast(p, op->count));
  NEXT();

do_AGET:
  CALL_OUT(doAttributeGet(p, op->operand.name));
  NEXT();

do_ASET:
  CALL_OUT(doAttributeSet(p, op->operand.name));
  NEXT();

do_ARRAY:
  CALL_OUT(doArrayDeclare(p, op->operand.name));
  NEXT();

do_EGET:
  CALL_OUT(doElementGet(p));
  NEXT();

do_ESET:
  CALL_OUT(doElementSet(p));
  NEXT();

// The end of the translated code: the run goes on (or ends) outside the loop.
do_end:
  SAVE();
  goto leave;

checkSteps:
  SAVE();
  if (!budgetsAllowMore(p)) goto leave;
  LOAD();
  goto *op->handler;

interrupted:
  SAVE();
  p.error(interruption(p));
  goto leave;

leave:
  return;

#undef SAVE
#undef LOAD
#undef FAILED
#undef DISPATCH
#undef GO_TO
#undef NEXT
#undef INTERRUPTIBLE
#undef CALL_OUT
#undef ROOM
#undef LOCALS
}

template void VELQ_ProgramInternals::loop<false>(VELQ_Program *, const void *const **);
template void VELQ_ProgramInternals::loop<true>(VELQ_Program *, const void *const **);

const void *const *VELQ_ProgramInternals::handlers(bool counting) {
  const void *const *table = nullptr;
  if (counting) {
    loop<true>(nullptr, &table);
  } else {
    loop<false>(nullptr, &table);
  }
  return table;
}
