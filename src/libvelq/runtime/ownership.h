// Ownership during a run, and the one test that tells whether the engine holds a pointer
// already.
//
// Who owns what. The host owns its programs, the script library and the streams. A
// program owns its instructions, function table, constants and globals; during a run it
// also owns the environment it was handed (or made), the argument values (they become the
// locals $1, $2, ...), the locals system, the data stack with every value on it, the
// control stack with the saved locals of every open frame, the code merged from modules
// and, once the run ends, its result. A host function owns only what it creates: its
// arguments are values on the program's data stack, and its result passes to the program.
// A variable owns its value, a variable system its variables, a value its text and object
// record, an array its elements.
//
// A pointer that is owned already cannot change owner a second time. Wherever a host may
// hand the engine something the engine holds already (a handler returning one of its own
// arguments, a global set to a value the program holds, a run started from inside a run
// with the running program's own systems or values, a set of function records taken from
// the environment's own table), the engine recognises it with velqPointsInto (through
// VELQ_ProgramInternals::holds for what a program holds) and uses a copy, or leaves it to
// its owner, instead of taking it. Texts need no such test: values share text blocks by
// counting their references (values/text.cpp).
#ifndef VELQ_OWNERSHIP_H
#define VELQ_OWNERSHIP_H

#include <stddef.h>
#include <stdint.h>

// Whether pointer lies within the count objects that begin at first. Compared as
// addresses, so it is defined for any two pointers.
template <typename T>
bool velqPointsInto(const void *pointer, const T *first, size_t count) {
  uintptr_t at = (uintptr_t)pointer;
  uintptr_t start = (uintptr_t)first;
  return first && at >= start && at - start < count * sizeof(T);
}

#endif
