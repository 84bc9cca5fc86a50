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

#include "runtime/force_inline.h"
#include "runtime/variable_internals.h"
#include "values/value_internals.h"
#include "velq_array.h"
#include "velq_program.h"
#include "velq_value.h"
#include "velq_variable.h"
#include "vm/opcodes.h"
#include "vm/program_internals.h"

#define LIKELY(x) __builtin_expect(!!(x), 1)
#define UNLIKELY(x) __builtin_expect(!!(x), 0)

namespace {

typedef VELQ_ValueInternals V;

// The variable a name instruction means, when its cache can tell at once; null when the
// full lookup must decide.
VELQ_FORCE_INLINE VELQ_Variable *cachedVariable(const VELQ_Machine &machine,
                                                const VELQ_NameCache *cache,
                                                const VELQ_VariableSystem *locals) {
  if (cache->stamp != machine.stamp) return nullptr;
  if (cache->kind == VELQ_NameCache::CONSTANT_OR_GLOBAL) return cache->variable;
  if (cache->kind == VELQ_NameCache::LOCAL && cache->index < VELQ_RuntimeInternals::count(locals)) {
    VELQ_Variable *variable = VELQ_RuntimeInternals::at(locals, cache->index);
    if (VELQ_RuntimeInternals::nameOf(variable) == cache->name) return variable;
  }
  return nullptr;
}

// The common type of two 32-bit integers (int32, unless both are uint32: an unsigned
// operand counts as signed beside a signed one), or 0 when an operand is not a 32-bit
// integer. Types 5 and 7 are the two, and differ in one bit.
VELQ_FORCE_INLINE int bits32Pair(const VELQ_Value *left, const VELQ_Value *right) {
  int leftType = V::typeOf(left), rightType = V::typeOf(right);
  if ((leftType & ~2) != DTYPE_INT32 || (rightType & ~2) != DTYPE_INT32) return 0;
  return leftType == DTYPE_UINT32 && rightType == DTYPE_UINT32 ? DTYPE_UINT32 : DTYPE_INT32;
}

VELQ_FORCE_INLINE uint32_t bitsOf(const VELQ_Value *value) {
  return (uint32_t)V::int32Of(const_cast<VELQ_Value *>(value));
}

// The common type of two integers of which one at least is 64 bits wide, as the general
// path's promotion finds it (an unsigned operand beside a signed one counts as the signed
// type of its width, and the greater code wins), or 0 when an operand is not an integer.
// Types 5 to 8 are the integers.
VELQ_FORCE_INLINE int bits64Pair(const VELQ_Value *left, const VELQ_Value *right) {
  int leftType = V::typeOf(left), rightType = V::typeOf(right);
  if ((unsigned)(leftType - DTYPE_INT32) > 3 || (unsigned)(rightType - DTYPE_INT32) > 3) return 0;
  bool leftUnsigned = leftType >= DTYPE_UINT32, rightUnsigned = rightType >= DTYPE_UINT32;
  if (leftUnsigned != rightUnsigned) {
    if (leftUnsigned) leftType -= DTYPE_UINT32 - DTYPE_INT32;
    if (rightUnsigned) rightType -= DTYPE_UINT32 - DTYPE_INT32;
  }
  return leftType > rightType ? leftType : rightType;
}

// An integer's two's-complement bits on 64 bits, as its conversion to a 64-bit type
// gives them: an int32 extends its sign, a uint32 zeros.
VELQ_FORCE_INLINE uint64_t bits64Of(const VELQ_Value *value) {
  VELQ_Value *v = const_cast<VELQ_Value *>(value);
  switch (V::typeOf(value)) {
    case DTYPE_INT32:
      return (uint64_t)(int64_t)V::int32Of(v);
    case DTYPE_UINT32:
      return (uint32_t)V::int32Of(v);
    default:
      return V::uint64Of(v);
  }
}

// A real, an int32, an int64 or a uint32 (types 4 to 7): the numbers whose mixes the
// fast paths carry out in reals. A uint64 has no conversion to a real.
VELQ_FORCE_INLINE bool isRealMix(int type) { return (unsigned)(type - DTYPE_REAL) <= 3; }

VELQ_FORCE_INLINE double realOf(const VELQ_Value *value) {
  VELQ_Value *v = const_cast<VELQ_Value *>(value);
  int type = V::typeOf(value);
  if (LIKELY(type == DTYPE_REAL)) return V::realOf(v);
  if (type == DTYPE_INT32) return V::int32Of(v);
  if (type == DTYPE_INT64) return (double)(int64_t)V::uint64Of(v);
  return (uint32_t)V::int32Of(v);
}

// The result of an integer operator on 64-bit operands of the common type `type` (int64
// or uint64) into out, as the general path computes it on the converted operands (values/
// value_arith.cpp). False when the general path must decide (a zero divisor of %, /).
VELQ_FORCE_INLINE bool integer64(int opCode, int type, uint64_t l, uint64_t r, uint64_t *out) {
  unsigned places = (uint32_t)r & 255u;  // the count of a shift, as the general path reads it
  switch (opCode) {
    case OP_ADD:
      *out = l + r;
      return true;
    case OP_SUB:
      *out = l - r;
      return true;
    case OP_MUL:
      *out = l * r;
      return true;
    case OP_REM:
      if (r == 0) return false;  // error 9 from the general path
      if (type == DTYPE_UINT64)
        *out = l % r;
      else  // the most negative int64 by -1 has the remainder 0 (and no trap)
        *out = r == UINT64_MAX ? 0 : (uint64_t)((int64_t)l % (int64_t)r);
      return true;
    case OP_BITAND:
      *out = l & r;
      return true;
    case OP_BITOR:
      *out = l | r;
      return true;
    case OP_BITXOR:
      *out = l ^ r;
      return true;
    case OP_LSHIFT:
      *out = places >= 64 ? 0 : l << places;
      return true;
    case OP_RSHIFT:
      if (type == DTYPE_UINT64) {
        *out = places >= 64 ? 0 : l >> places;
      } else {
        if (places >= 64) places = 63;
        *out = (l & 0x8000000000000000u) ? ~(~l >> places) : l >> places;
      }
      return true;
    default:
      return false;
  }
}

// left := left op right in place, for the arithmetic, bitwise and shift operators, when
// the operands are two integers, or (for + - * /) any two of int32, int64, uint32 and
// real, one of which is a real; and for / whenever both are of those four. right is only
// read. These are the results the general path gives (vm/operators.cpp) without its
// conversions. False, with nothing changed, when the general path must decide (other
// types, a zero divisor of %, a real where integers are wanted).
VELQ_FORCE_INLINE bool fastArithmetic(int opCode, VELQ_Value *left, const VELQ_Value *right) {
  int type = bits32Pair(left, right);
  if (type && opCode != OP_DIV) {
    uint32_t l = bitsOf(left), r = bitsOf(right), out;
    switch (opCode) {
      case OP_ADD:
        out = l + r;
        break;
      case OP_SUB:
        out = l - r;
        break;
      case OP_MUL:
        out = l * r;
        break;
      case OP_REM:
        if (r == 0) return false;  // error 9 from the general path
        if (type == DTYPE_UINT32)
          out = l % r;
        else  // the most negative int32 by -1 has the remainder 0 (and no trap)
          out = r == 0xFFFFFFFFu ? 0 : (uint32_t)((int32_t)l % (int32_t)r);
        break;
      case OP_BITAND:
        out = l & r;
        break;
      case OP_BITOR:
        out = l | r;
        break;
      case OP_BITXOR:
        out = l ^ r;
        break;
      case OP_LSHIFT:
        out = l << (r & 31);
        break;
      case OP_RSHIFT:
        out = type == DTYPE_INT32 && (l & 0x80000000u) ? ~(~l >> (r & 31)) : l >> (r & 31);
        break;
      default:
        return false;
    }
    if (UNLIKELY(!V::isPlain(left))) V::releaseText(left);
    V::int32Of(left) = (int32_t)out;
    V::setType(left, type);
    return true;
  }
  // Reals before the 64-bit integers: a real operand is the more common, and its test
  // the cheaper.
  int leftType = V::typeOf(left), rightType = V::typeOf(right);
  if (opCode == OP_DIV || leftType == DTYPE_REAL || rightType == DTYPE_REAL) {
    double l, r, out;
    if (LIKELY(leftType == DTYPE_REAL && rightType == DTYPE_REAL)) {
      l = V::realOf(left);
      r = V::realOf(const_cast<VELQ_Value *>(right));
    } else {
      if (!isRealMix(leftType) || !isRealMix(rightType)) return false;
      l = realOf(left);
      r = realOf(right);
    }
    switch (opCode) {
      case OP_ADD:
        out = l + r;
        break;
      case OP_SUB:
        out = l - r;
        break;
      case OP_MUL:
        out = l * r;
        break;
      case OP_DIV:
        out = l / r;
        break;
      default:
        return false;  // error 10 from the general path
    }
    if (UNLIKELY(!V::isPlain(left))) V::releaseText(left);
    V::setType(left, DTYPE_REAL);
    V::realOf(left) = out;
    return true;
  }
  // Two int64 need neither the promotion nor the conversions.
  uint64_t out;
  if (LIKELY(leftType == DTYPE_INT64 && rightType == DTYPE_INT64)) {
    type = DTYPE_INT64;
    if (!integer64(opCode, type, V::uint64Of(left), V::uint64Of(const_cast<VELQ_Value *>(right)),
                   &out))
      return false;
  } else {
    type = bits64Pair(left, right);
    if (!type || !integer64(opCode, type, bits64Of(left), bits64Of(right), &out)) return false;
  }
  if (UNLIKELY(!V::isPlain(left))) V::releaseText(left);
  V::uint64Of(left) = out;
  V::setType(left, type);
  return true;
}

// The outcome (1 or 0) of comparing l and r: unsigned numbers in their order, or reals
// (a NaN is unequal to everything, so != is true and the others false).
template <typename Number>
VELQ_FORCE_INLINE int compareOrdered(int opCode, Number l, Number r) {
  switch (opCode) {
    case OP_EQ:
      return l == r;
    case OP_NE:
      return l != r;
    case OP_LT:
      return l < r;
    case OP_LE:
      return l <= r;
    case OP_GT:
      return l > r;
    case OP_GE:
      return l >= r;
    default:
      return -1;
  }
}

// The outcome (1 or 0) of a comparison of two integers, or of any two of int32, int64,
// uint32 and real (compared as reals); -1 when the general path must decide.
VELQ_FORCE_INLINE int fastComparison(int opCode, const VELQ_Value *left, const VELQ_Value *right) {
  int type = bits32Pair(left, right);
  if (type) {
    uint32_t l = bitsOf(left), r = bitsOf(right);
    if (type == DTYPE_INT32) {
      l ^= 0x80000000u;  // signed order as unsigned order
      r ^= 0x80000000u;
    }
    return compareOrdered(opCode, l, r);
  }
  // Reals before the 64-bit integers, as in fastArithmetic; two integers of which none
  // is a real compare as integers.
  int leftType = V::typeOf(left), rightType = V::typeOf(right);
  if (leftType == DTYPE_REAL || rightType == DTYPE_REAL) {
    if (!isRealMix(leftType) || !isRealMix(rightType)) return -1;
    return compareOrdered(opCode, realOf(left), realOf(right));
  }
  type = bits64Pair(left, right);
  if (!type) return -1;
  uint64_t l = bits64Of(left), r = bits64Of(right);
  if (type == DTYPE_INT64) {
    l ^= 0x8000000000000000u;
    r ^= 0x8000000000000000u;
  }
  return compareOrdered(opCode, l, r);
}

// value := value + 1 or value - 1 on an int32 or an int64 (int32 tested first, the more
// common); false, with nothing changed, for any other type.
VELQ_FORCE_INLINE bool stepInteger(VELQ_Value *value, bool up) {
  int type = V::typeOf(value);
  if (LIKELY(type == DTYPE_INT32)) {
    V::int32Of(value) = (int32_t)((uint32_t)V::int32Of(value) + (up ? 1u : 0xFFFFFFFFu));
    return true;
  }
  if (type == DTYPE_INT64) {
    V::uint64Of(value) += up ? 1u : UINT64_MAX;
    return true;
  }
  return false;
}

// Room for a value kept aside for a moment, outside the stack.
struct HeldValue {
  alignas(VELQ_Value) unsigned char bytes[sizeof(VELQ_Value)];
  VELQ_Value *get() { return reinterpret_cast<VELQ_Value *>(bytes); }
};

}  // namespace

template <bool Counting>
void VELQ_ProgramInternals::loop(VELQ_Program *program, const void *const **table) {
#define VELQ_LOOP_LABEL(name, mnemonic, kind, family) &&do_##name,
#define VELQ_ARITHMETIC_LABELS(op) &&do_k_##op, &&do_v_##op,
#define VELQ_COMPARISON_LABELS(op) &&do_jump_##op, &&do_vv_##op, &&do_vk_##op,
  static const void *const labels[VELQ_HANDLER_COUNT] = {
      VELQ_OPCODES(VELQ_LOOP_LABEL) && do_end,
      &&do_set_pop,
      &&do_step_pop,
      &&do_case_jump,
      VELQ_FAST_ARITHMETIC(VELQ_ARITHMETIC_LABELS) VELQ_FAST_COMPARISONS(VELQ_COMPARISON_LABELS) &&
          plain_push_var,
      &&plain_set,
      &&plain_step};
#undef VELQ_ARITHMETIC_LABELS
#undef VELQ_COMPARISON_LABELS
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
#define DISPATCH()                                           \
  do {                                                       \
    if (Counting && UNLIKELY(steps-- == 0)) goto checkSteps; \
    goto * op->handler;                                      \
  } while (0)
// A jump, call or return to target: the loop leaves for an address outside the
// translated code (one not resolved, or code added while the run goes on), and for any
// address once the run has been interrupted (its reach is then 0).
#define GO_TO(target)                                              \
  do {                                                             \
    uint32_t to = (target);                                        \
    if (UNLIKELY(to >= m.reach.load(std::memory_order_relaxed))) { \
      SAVE();                                                      \
      p.currentPosition = to;                                      \
      goto leave;                                                  \
    }                                                              \
    op = code + to;                                                \
  } while (0)
#define NEXT()  \
  do {          \
    op++;       \
    DISPATCH(); \
  } while (0)
#define INTERRUPTIBLE()                                                          \
  do {                                                                           \
    if (UNLIKELY(m.interrupt.load(std::memory_order_relaxed))) goto interrupted; \
  } while (0)
// Calls a handler of the other vm files: it finds the machine as the loop left it.
#define CALL_OUT(call)        \
  do {                        \
    SAVE();                   \
    call;                     \
    LOAD();                   \
    if (FAILED()) goto leave; \
  } while (0)
#define ROOM(n)                                                        \
  do {                                                                 \
    if (UNLIKELY(stackEnd - sp < (n))) CALL_OUT(reserveStack(p, (n))); \
  } while (0)
#define LOCALS() (p.locals)

  DISPATCH();

do_NOP:
  NEXT();

do_PUSH_CONST : {
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

do_PUSH_VAR : {
  ROOM(1);
  VELQ_Variable *variable = cachedVariable(m, &op->cache.names, LOCALS());
  if (UNLIKELY(!variable)) CALL_OUT(variable = lookUp(p, op->operand.name, &op->cache.names));
  V::putCopy(sp, variable->getValue());
  sp++;
  NEXT();
}

do_POP : {
  int32_t count = op->count;
  int32_t depth = (int32_t)(sp - m.stack);
  if (count > depth) count = depth;
  for (; count > 0; count--) V::drop(--sp);
  NEXT();
}

do_SET : {
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

// Each fast arithmetic operator: its own handler, and the fused ones with the constant or
// the variable pushed before it.
#define VELQ_ARITHMETIC_HANDLERS(OP)                                                              \
  do_##OP : if (LIKELY(sp - m.stack >= 2) && fastArithmetic(OP_##OP, sp - 2, sp - 1)) {           \
    V::drop(--sp);                                                                                \
    NEXT();                                                                                       \
  }                                                                                               \
  goto binary;                                                                                    \
  do_k_##OP : {                                                                                   \
    const VELQ_Value *k = op[0].operand.constant;                                                 \
    if (UNLIKELY(!k || sp == m.stack || !fastArithmetic(OP_##OP, sp - 1, k))) goto do_PUSH_CONST; \
    op += 2;                                                                                      \
    DISPATCH();                                                                                   \
  }                                                                                               \
  do_v_##OP : {                                                                                   \
    VELQ_Variable *variable = cachedVariable(m, &op->cache.names, LOCALS());                      \
    if (UNLIKELY(!variable || sp == m.stack ||                                                    \
                 !fastArithmetic(OP_##OP, sp - 1, variable->getValue())))                         \
      goto do_PUSH_VAR;                                                                           \
    op += 2;                                                                                      \
    DISPATCH();                                                                                   \
  }
  VELQ_FAST_ARITHMETIC(VELQ_ARITHMETIC_HANDLERS)
#undef VELQ_ARITHMETIC_HANDLERS

// Each comparison: its own handler, and the fused ones that jump on its outcome: from
// the two values on top, from two variables, from a variable and a constant.
#define VELQ_JUMP_ON(outcome, jump)                   \
  do {                                                \
    if ((jump.opCode == OP_JZ) == ((outcome) == 0)) { \
      GO_TO(jump.operand.target);                     \
    } else {                                          \
      op = &jump + 1;                                 \
    }                                                 \
    DISPATCH();                                       \
  } while (0)
#define VELQ_COMPARISON_HANDLERS(OP)                                                        \
  do_##OP : {                                                                               \
    int outcome = LIKELY(sp - m.stack >= 2) ? fastComparison(OP_##OP, sp - 2, sp - 1) : -1; \
    if (UNLIKELY(outcome < 0)) goto binary;                                                 \
    V::drop(--sp);                                                                          \
    V::drop(sp - 1);                                                                        \
    V::putInt32(sp - 1, outcome);                                                           \
    NEXT();                                                                                 \
  }                                                                                         \
  do_jump_##OP : {                                                                          \
    int outcome = LIKELY(sp - m.stack >= 2) ? fastComparison(OP_##OP, sp - 2, sp - 1) : -1; \
    if (UNLIKELY(outcome < 0)) goto binary;                                                 \
    V::drop(--sp);                                                                          \
    V::drop(--sp);                                                                          \
    VELQ_JUMP_ON(outcome, op[1]);                                                           \
  }                                                                                         \
  do_vv_##OP : {                                                                            \
    VELQ_Variable *a = cachedVariable(m, &op[0].cache.names, LOCALS());                     \
    VELQ_Variable *b = a ? cachedVariable(m, &op[1].cache.names, LOCALS()) : nullptr;       \
    int outcome = b ? fastComparison(OP_##OP, a->getValue(), b->getValue()) : -1;           \
    if (UNLIKELY(outcome < 0)) goto do_PUSH_VAR;                                            \
    VELQ_JUMP_ON(outcome, op[3]);                                                           \
  }                                                                                         \
  do_vk_##OP : {                                                                            \
    VELQ_Variable *a = cachedVariable(m, &op[0].cache.names, LOCALS());                     \
    const VELQ_Value *k = op[1].operand.constant;                                           \
    int outcome = a && k ? fastComparison(OP_##OP, a->getValue(), k) : -1;                  \
    if (UNLIKELY(outcome < 0)) goto do_PUSH_VAR;                                            \
    VELQ_JUMP_ON(outcome, op[3]);                                                           \
  }
  VELQ_FAST_COMPARISONS(VELQ_COMPARISON_HANDLERS)
#undef VELQ_COMPARISON_HANDLERS
#undef VELQ_JUMP_ON

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

do_CASE : {
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
  DISPATCH();

do_JZ:
do_JNZ : {
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

// Output and calls of external functions are seen outside: a run that must stop (memory
// refused to an instruction before) stops before them.
do_PRINT:
  INTERRUPTIBLE();
  CALL_OUT(doPrint(p));
  NEXT();

do_CALL:
  CALL_OUT(p.callFunction(op->count));
  GO_TO(op->operand.target);
  DISPATCH();

do_CALL_EXT : {
  INTERRUPTIBLE();
  state.nextPosition = (uint32_t)(op - code) + 1;
  CALL_OUT(doCallByName(p, op->operand.name, op->count, &op->cache.calls));
  GO_TO(state.nextPosition);
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
  DISPATCH();

do_BIND:
  CALL_OUT(doBind(p, op->operand.name, &op->cache.names));
  NEXT();

do_INC:
do_DEC:
do_INCP:
do_DECP : {
  VELQ_Variable *variable = cachedVariable(m, &op->cache.names, LOCALS());
  if (UNLIKELY(!variable)) CALL_OUT(variable = lookUp(p, op->operand.name, &op->cache.names));
  ROOM(1);
  VELQ_Value *value = variable->getValue();
  // An int32 or int64 without a text: x++ and x-- push the value as it was, and one with
  // a text (" 7", "0x10") must keep it in that copy, which the general path makes.
  if (LIKELY(V::isPlain(value))) {
    bool postfix = op->opCode == OP_INC || op->opCode == OP_DEC;
    if (postfix) V::move(sp, value);  // a plain value is copied by its bytes
    if (LIKELY(stepInteger(value, op->opCode == OP_INC || op->opCode == OP_INCP))) {
      if (!postfix) V::move(sp, value);
      sp++;
      NEXT();
    }
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
    if (V::typeOf(value) == DTYPE_INT64) {
      V::uint64Of(value) = 0u - V::uint64Of(value);
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

do_EGET : {
  // An int32 index into an array: the element's copy (or null) takes the array's place.
  // The copy is made before the array value goes, which may hold the array's last
  // reference.
  if (LIKELY(sp - m.stack >= 2)) {
    VELQ_Value *arrayValue = sp - 2, *index = sp - 1;
    VELQ_Array *array = arrayValue->getValueAsArray();
    if (LIKELY(array && V::typeOf(index) == DTYPE_INT32)) {
      HeldValue element;
      const VELQ_Value *stored = V::element(array, V::int32Of(index));
      if (stored) {
        V::putCopy(element.get(), stored);
      } else {
        V::putNull(element.get());  // a missing element reads as null
      }
      V::drop(index);
      V::drop(arrayValue);
      V::move(arrayValue, element.get());
      sp--;
      NEXT();
    }
  }
  CALL_OUT(doElementGet(p));
  NEXT();
}

do_ESET : {
  // A value without anything to copy stored under an int32 index: an element that holds
  // such a value takes its bytes in place; a new one gets a value of its own. The value
  // stays as the value of the assignment, in the array's place.
  if (LIKELY(sp - m.stack >= 3)) {
    VELQ_Value *arrayValue = sp - 3, *index = sp - 2, *value = sp - 1;
    VELQ_Array *array = arrayValue->getValueAsArray();
    if (LIKELY(array && V::typeOf(index) == DTYPE_INT32 && V::isPlain(value))) {
      VELQ_Value *stored = V::element(array, V::int32Of(index));
      if (stored && V::isPlain(stored)) {
        V::move(stored, value);  // a plain value is copied by its bytes
      } else {
        VELQ_Value *fresh = new VELQ_Value();
        if (fresh) V::move(fresh, value);
        if (UNLIKELY(!fresh || !V::store(array, V::int32Of(index), fresh))) {
          delete fresh;
          CALL_OUT(refuseElementSet(p));
        }
      }
      V::drop(index);
      V::drop(arrayValue);
      V::move(arrayValue, value);
      sp -= 2;
      NEXT();
    }
  }
  CALL_OUT(doElementSet(p));
  NEXT();
}

// ---- Fused handlers (vm/translation.cpp puts them where a sequence of instructions
// allows) ----
// Each carries out its whole sequence when its operands allow the fast path; otherwise it
// carries out the first instruction alone, by that instruction's own handler, and the
// others follow in their turn. The instructions of the sequence keep their own ops, for
// jumps that lead into the middle of it.

// SET x; POP 1: the value moves into the variable.
do_set_pop : {
  VELQ_Variable *variable = cachedVariable(m, &op->cache.names, LOCALS());
  if (UNLIKELY(!variable || variable->isConstant() || sp == m.stack ||
               V::typeOf(sp - 1) == DTYPE_ARRAY))
    goto *labels[OP_SET];
  VELQ_Value *target = variable->getValue();
  V::drop(target);
  V::move(target, --sp);
  op += 2;
  DISPATCH();
}

// INC, DEC, INCP or DECP x; POP 1: the variable steps, nothing is pushed.
do_step_pop : {
  VELQ_Variable *variable = cachedVariable(m, &op->cache.names, LOCALS());
  VELQ_Value *value = variable ? variable->getValue() : nullptr;
  if (UNLIKELY(!value || !stepInteger(value, op->opCode == OP_INC || op->opCode == OP_INCP)))
    goto *labels[op->opCode];
  if (UNLIKELY(!V::isPlain(value))) V::releaseText(value);
  op += 2;
  DISPATCH();
}

// CASE k; JZ: the value under test stays, the outcome decides the jump.
do_case_jump : {
  const VELQ_Value *k = op[0].operand.constant;
  if (UNLIKELY(!k || sp == m.stack || V::typeOf(k) != DTYPE_INT32 ||
               V::typeOf(sp - 1) != DTYPE_INT32))
    goto *labels[OP_CASE];
  if (V::int32Of(const_cast<VELQ_Value *>(k)) != V::int32Of(sp - 1)) {
    GO_TO(op[1].operand.target);
  } else {
    op += 2;
  }
  DISPATCH();
}

  // ---- The plain machine's handlers (see VELQ_PlainMachine): a lookup by name on every
  // use, and the general path of the instruction ----

plain_push_var : {
  VELQ_Variable *variable;
  CALL_OUT(variable = lookUp(p, op->operand.name, &op->cache.names));
  CALL_OUT(pushCopy(p, variable->getValue()));
  NEXT();
}

plain_set : {
  VELQ_Variable *variable;
  CALL_OUT(variable = lookUp(p, op->operand.name, &op->cache.names));
  CALL_OUT(doSet(p, variable));
  NEXT();
}

plain_step : {
  VELQ_Variable *variable;
  CALL_OUT(variable = lookUp(p, op->operand.name, &op->cache.names));
  CALL_OUT(doVariableStep(p, op->opCode, variable));
  NEXT();
}

// The end of the translated code: the run goes on (or ends) outside the loop.
do_end:
  SAVE();
  goto leave;

checkSteps:
  SAVE();
  if (!budgetsAllowMore(p)) goto leave;
  LOAD();
  goto * op->handler;

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
