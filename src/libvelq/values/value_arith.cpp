// Arithmetic, bitwise, shift and comparison operations of values.
//
// Each operation computes on the receiver's own type: reals in IEEE double
// arithmetic, the 32-bit integers on 32 bits and the 64-bit integers on 64 bits,
// wrapping modulo 2^32 or 2^64. The other operand must have the receiver's type
// (the machine converts both first); its number is read as that type's member.
// Signed and unsigned integers of one width add, subtract, multiply and combine
// bits alike, so those work on the unsigned member, where wrapping is defined.
//
// A receiver that is not a number is left alone. A numeric receiver loses its
// cached text after every operation but the comparisons, even one that leaves
// its number as it was, so a number read from text renders its new number.
#include "velq_value.h"

namespace {

// Arithmetic right shift of a 32- or 64-bit pattern by 0 to width-1 places.
uint32_t shiftRightSigned(uint32_t bits, unsigned count) {
  return (bits & 0x80000000u) ? ~(~bits >> count) : bits >> count;
}

uint64_t shiftRightSigned(uint64_t bits, unsigned count) {
  return (bits & 0x8000000000000000u) ? ~(~bits >> count) : bits >> count;
}

}  // namespace

void VELQ_Value::increment() {
  switch (dataType) {
    case DTYPE_REAL:
      value.real += 1.0;
      break;
    case DTYPE_INT32:
    case DTYPE_UINT32:
      value.uint32 += 1;
      break;
    case DTYPE_INT64:
    case DTYPE_UINT64:
      value.uint64 += 1;
      break;
    default:
      return;
  }
  invalidateString();
}

void VELQ_Value::decrement() {
  switch (dataType) {
    case DTYPE_REAL:
      value.real -= 1.0;
      break;
    case DTYPE_INT32:
    case DTYPE_UINT32:
      value.uint32 -= 1;
      break;
    case DTYPE_INT64:
    case DTYPE_UINT64:
      value.uint64 -= 1;
      break;
    default:
      return;
  }
  invalidateString();
}

// Negation is 0 - x on the bits; an unsigned value becomes the signed type of its
// width, so that negating uint32 5 gives int32 -5.
void VELQ_Value::negate() {
  switch (dataType) {
    case DTYPE_REAL:
      value.real = -value.real;
      break;
    case DTYPE_INT32:
    case DTYPE_UINT32:
      value.uint32 = 0u - value.uint32;
      dataType = DTYPE_INT32;
      break;
    case DTYPE_INT64:
    case DTYPE_UINT64:
      value.uint64 = 0u - value.uint64;
      dataType = DTYPE_INT64;
      break;
    default:
      return;
  }
  invalidateString();
}

// Reals have no bits to invert; they keep their number.
void VELQ_Value::bitNot() {
  switch (dataType) {
    case DTYPE_REAL:
      break;
    case DTYPE_INT32:
    case DTYPE_UINT32:
      value.uint32 = ~value.uint32;
      break;
    case DTYPE_INT64:
    case DTYPE_UINT64:
      value.uint64 = ~value.uint64;
      break;
    default:
      return;
  }
  invalidateString();
}

// The comparisons, one per operator: reals by IEEE rules (every comparison with
// NaN is false), integers signed or unsigned by their type. Any other receiver,
// and a missing other operand, compare false.
#define VELQ_COMPARISON(name, op)                       \
  int VELQ_Value::name(const VELQ_Value *other) const { \
    if (!other) return 0;                               \
    switch (dataType) {                                 \
      case DTYPE_REAL:                                  \
        return value.real op other->value.real;         \
      case DTYPE_INT32:                                 \
        return value.int32 op other->value.int32;       \
      case DTYPE_UINT32:                                \
        return value.uint32 op other->value.uint32;     \
      case DTYPE_INT64:                                 \
        return value.int64 op other->value.int64;       \
      case DTYPE_UINT64:                                \
        return value.uint64 op other->value.uint64;     \
      default:                                          \
        return 0;                                       \
    }                                                   \
  }

VELQ_COMPARISON(EQ, ==)
VELQ_COMPARISON(LT, <)
VELQ_COMPARISON(LE, <=)
VELQ_COMPARISON(GT, >)
VELQ_COMPARISON(GE, >=)

#undef VELQ_COMPARISON

// The operations that work alike on the signed and unsigned integers of one width
// (addition, subtraction and multiplication modulo 2^n, and the bitwise ones).
// realOp is the statement applied to a real receiver (the bitwise operations
// leave reals as they are).
#define VELQ_SIGN_BLIND_OPERATION(name, op, realOp)                 \
  void VELQ_Value::name(const VELQ_Value *other) {            \
    if (!isNumeric()) return;                                 \
    if (other) {                                              \
      switch (dataType) {                                     \
        case DTYPE_REAL:                                      \
          realOp;                                             \
          break;                                              \
        case DTYPE_INT32:                                     \
        case DTYPE_UINT32:                                    \
          value.uint32 = value.uint32 op other->value.uint32; \
          break;                                              \
        default:                                              \
          value.uint64 = value.uint64 op other->value.uint64; \
          break;                                              \
      }                                                       \
    }                                                         \
    invalidateString();                                       \
  }

VELQ_SIGN_BLIND_OPERATION(add, +, value.real += other->value.real)
VELQ_SIGN_BLIND_OPERATION(sub, -, value.real -= other->value.real)
VELQ_SIGN_BLIND_OPERATION(mul, *, value.real *= other->value.real)
VELQ_SIGN_BLIND_OPERATION(bitAnd, &, (void)0)
VELQ_SIGN_BLIND_OPERATION(bitOr, |, (void)0)
VELQ_SIGN_BLIND_OPERATION(bitXor, ^, (void)0)

#undef VELQ_SIGN_BLIND_OPERATION

// Integer division truncates toward zero. A zero divisor leaves the receiver's
// number as it was, and the most negative number divided by -1 gives itself (the
// true quotient wraps), where the processor would fault in both cases.
void VELQ_Value::div(const VELQ_Value *other) {
  if (!isNumeric()) return;
  if (other) {
    switch (dataType) {
      case DTYPE_REAL:
        value.real /= other->value.real;
        break;
      case DTYPE_INT32:
        if (other->value.int32 == -1) {
          value.uint32 = 0u - value.uint32;
        } else if (other->value.int32 != 0) {
          value.int32 /= other->value.int32;
        }
        break;
      case DTYPE_UINT32:
        if (other->value.uint32 != 0) value.uint32 /= other->value.uint32;
        break;
      case DTYPE_INT64:
        if (other->value.int64 == -1) {
          value.uint64 = 0u - value.uint64;
        } else if (other->value.int64 != 0) {
          value.int64 /= other->value.int64;
        }
        break;
      default:
        if (other->value.uint64 != 0) value.uint64 /= other->value.uint64;
        break;
    }
  }
  invalidateString();
}

// The remainder takes the sign of the left operand. A zero divisor leaves the
// receiver's number as it was; any number's remainder by -1 is 0. Reals keep
// their number.
void VELQ_Value::rem(const VELQ_Value *other) {
  if (!isNumeric()) return;
  if (other) {
    switch (dataType) {
      case DTYPE_REAL:
        break;
      case DTYPE_INT32:
        if (other->value.int32 == -1) {
          value.int32 = 0;
        } else if (other->value.int32 != 0) {
          value.int32 %= other->value.int32;
        }
        break;
      case DTYPE_UINT32:
        if (other->value.uint32 != 0) value.uint32 %= other->value.uint32;
        break;
      case DTYPE_INT64:
        if (other->value.int64 == -1) {
          value.int64 = 0;
        } else if (other->value.int64 != 0) {
          value.int64 %= other->value.int64;
        }
        break;
      default:
        if (other->value.uint64 != 0) value.uint64 %= other->value.uint64;
        break;
    }
  }
  invalidateString();
}

// 32-bit values shift by the low 5 bits of the count (so 32 places are none);
// 64-bit values by the low 8 bits, and 64 places or more shift every bit out.
void VELQ_Value::lshift(int32_t count) {
  switch (dataType) {
    case DTYPE_REAL:
      break;
    case DTYPE_INT32:
    case DTYPE_UINT32:
      value.uint32 <<= (uint32_t)count & 31u;
      break;
    case DTYPE_INT64:
    case DTYPE_UINT64: {
      unsigned places = (uint32_t)count & 255u;
      value.uint64 = places >= 64 ? 0 : value.uint64 << places;
      break;
    }
    default:
      return;
  }
  invalidateString();
}

// Signed values shift in copies of the sign bit, unsigned ones zeros; a 64-bit
// value shifted by 64 places or more ends as all sign bits (0 or -1).
void VELQ_Value::rshift(int32_t count) {
  const unsigned places32 = (uint32_t)count & 31u;
  const unsigned places64 = (uint32_t)count & 255u;
  switch (dataType) {
    case DTYPE_REAL:
      break;
    case DTYPE_INT32:
      value.uint32 = shiftRightSigned(value.uint32, places32);
      break;
    case DTYPE_UINT32:
      value.uint32 >>= places32;
      break;
    case DTYPE_INT64:
      value.uint64 = shiftRightSigned(value.uint64, places64 >= 64 ? 63 : places64);
      break;
    case DTYPE_UINT64:
      value.uint64 = places64 >= 64 ? 0 : value.uint64 >> places64;
      break;
    default:
      return;
  }
  invalidateString();
}
