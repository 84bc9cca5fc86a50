// Marks the helpers of the machine's hot paths that must be inlined wherever they are
// used. Link-time optimisation weighs inlining across the whole program and, left to
// itself, stops inlining these small helpers into the run loop's large function, which
// made the counting loop about half again as slow; the attribute keeps the decision with
// the code.
#ifndef VELQ_FORCE_INLINE_H
#define VELQ_FORCE_INLINE_H

#if defined(__GNUC__) || defined(__clang__)
#define VELQ_FORCE_INLINE inline __attribute__((always_inline))
#else
#define VELQ_FORCE_INLINE inline
#endif

#endif
