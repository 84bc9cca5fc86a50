// Marks the helpers of the machine's hot paths that must be inlined wherever they are
// used. Link-time optimisation weighs inlining across the whole program and, left to
// itself, stops inlining these small helpers into the run loop's large function, which
// made the counting loop about half again as slow; the attribute keeps the decision with
// the code. VELQ_NO_INLINE marks the rare steps kept out of a hot function, which then
// needs fewer registers saved on every call.
#ifndef VELQ_FORCE_INLINE_H
#define VELQ_FORCE_INLINE_H

#if defined(__GNUC__) || defined(__clang__)
#define VELQ_FORCE_INLINE inline __attribute__((always_inline))
#define VELQ_NO_INLINE __attribute__((noinline))
#else
#define VELQ_FORCE_INLINE inline
#define VELQ_NO_INLINE
#endif

#endif
