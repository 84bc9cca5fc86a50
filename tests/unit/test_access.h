// The engine's internals that tests look at and hosts do not see: an array's slot count
// and reference count, a stack's capacity, whether a value holds a text, the modules a
// program merged for its run.
#ifndef VELQ_TEST_ACCESS_H
#define VELQ_TEST_ACCESS_H

#include "velq.h"
#include "vm/program_internals.h"

struct VELQ_TestAccess {
  static int32_t allocated(const VELQ_Array &array) { return array.allocated; }
  static int32_t refCount(const VELQ_Array &array) { return array.refCount; }
  static uint32_t capacity(const VELQ_Stack &stack) { return stack.capacity; }
  static bool hasCachedText(const VELQ_Value &value) { return value.stringValid != 0; }
  static uint32_t moduleCount(const VELQ_Program &program) { return program.moduleCount; }
  static const VELQ_Module *module(const VELQ_Program &program, uint32_t i) {
    return i < program.moduleCount ? &program.modules[i] : nullptr;
  }
  static VELQ_ProgramInternals &internals(VELQ_Program &program) { return *program.internals; }
};

namespace velq_test {

// Each takes the object itself, or anything that points to it (a raw or a smart pointer).
inline int32_t allocatedOf(const VELQ_Array &array) { return VELQ_TestAccess::allocated(array); }
template <typename P>
int32_t allocatedOf(const P &array) { return VELQ_TestAccess::allocated(*array); }
inline int32_t refCountOf(const VELQ_Array &array) { return VELQ_TestAccess::refCount(array); }
template <typename P>
int32_t refCountOf(const P &array) { return VELQ_TestAccess::refCount(*array); }
inline uint32_t capacityOf(const VELQ_Stack &stack) { return VELQ_TestAccess::capacity(stack); }
inline bool hasCachedText(const VELQ_Value &value) { return VELQ_TestAccess::hasCachedText(value); }
template <typename P>
bool hasCachedText(const P &value) { return VELQ_TestAccess::hasCachedText(*value); }
template <typename P>
uint32_t moduleCountOf(const P &program) { return VELQ_TestAccess::moduleCount(*program); }
template <typename P>
const VELQ_Module *moduleOf(const P &program, uint32_t i) {
  return VELQ_TestAccess::module(*program, i);
}

}  // namespace velq_test

#endif
