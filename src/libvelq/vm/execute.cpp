// The machine's data stack, variable lookup by name, one step of execute(), and the
// handlers of the print and assignment instructions.
#include <stdio.h>
#include <string.h>

#include "runtime/growth.h"
#include "runtime/variable_internals.h"
#include "values/deep_copy.h"
#include "values/value_internals.h"
#include "velq_environment.h"
#include "velq_program.h"
#include "velq_value.h"
#include "velq_variable.h"
#include "vm/opcodes.h"
#include "vm/program_internals.h"

typedef VELQ_ValueInternals V;

// The data stack grows the engine's one way; the values move with it by their bytes.
bool VELQ_ProgramInternals::reserveStack(VELQ_Program &program, uint32_t n) {
  VELQ_Machine &m = program.internals->machine;
  uint32_t depth = m.depth();
  if (m.stackCapacity - depth >= n) return true;
  VELQ_Value *stack = m.stack;
  if (!velqReserve(stack, m.stackCapacity, (size_t)depth + n)) {
    program.error(VELQ_ERR_OUT_OF_MEMORY);
    return false;
  }
  m.stack = stack;
  m.sp = stack + depth;
  return true;
}

bool VELQ_ProgramInternals::pushCopy(VELQ_Program &program, const VELQ_Value *value) {
  if (!reserveStack(program, 1)) return false;
  VELQ_Machine &m = program.internals->machine;
  if (value) {
    V::putCopy(m.sp, value);
  } else {
    V::putNull(m.sp);
  }
  m.sp++;
  return true;
}

bool VELQ_ProgramInternals::pushNew(VELQ_Program &program, VELQ_Value *value) {
  if (!value) {
    program.error(VELQ_ERR_OUT_OF_MEMORY);
    return false;
  }
  if (!reserveStack(program, 1)) {
    delete value;
    return false;
  }
  VELQ_Machine &m = program.internals->machine;
  V::putNull(m.sp);
  V::replaceWith(m.sp, value);
  m.sp++;
  return true;
}

VELQ_Value *VELQ_ProgramInternals::peekValue(VELQ_Program &program, uint32_t below) {
  VELQ_Machine &m = program.internals->machine;
  return m.depth() > below ? m.sp - 1 - below : nullptr;
}

void VELQ_ProgramInternals::popValues(VELQ_Program &program, uint32_t n) {
  VELQ_Machine &m = program.internals->machine;
  if (n > m.depth()) n = m.depth();
  for (; n > 0; n--) V::drop(--m.sp);
}

namespace {

// The first local named name, and its index; null when there is none.
VELQ_Variable *findLocalByName(VELQ_VariableSystem *locals, const char *name, uint32_t *index) {
  uint32_t count = VELQ_RuntimeInternals::count(locals);
  for (uint32_t i = 0; i < count; i++) {
    VELQ_Variable *variable = VELQ_RuntimeInternals::at(locals, i);
    if (VELQ_RuntimeInternals::hasName(variable, name)) {
      *index = i;
      return variable;
    }
  }
  return nullptr;
}

// Where a name leads by the lookup order: constants, then globals, then locals; the
// first variable of that name. Null when the name is in none of them.
VELQ_Variable *findVariable(VELQ_VariableSystem *constants, VELQ_VariableSystem *globals,
                            VELQ_VariableSystem *locals, const char *name, bool *local,
                            uint32_t *index) {
  *local = false;
  if (VELQ_Variable *variable = constants->find(name)) return variable;
  if (VELQ_Variable *variable = globals->find(name)) return variable;
  *local = true;
  return findLocalByName(locals, name, index);
}

}  // namespace

// Constants shadow globals, globals shadow locals; an unknown name becomes a local. A
// missing name (an instruction a host built without one) is the empty name, so that it
// names one variable rather than a new one at every use. Without memory for a new
// variable the spare one stands in, and the run stops after the instruction.
VELQ_Variable *VELQ_Program::findOrCreateVariable(const char *name) {
  if (!name) name = "";
  bool local;
  uint32_t index;
  VELQ_Variable *variable = findVariable(constants, globals, locals, name, &local, &index);
  if (!variable) variable = locals->create(name, nullptr);
  return variable ? variable : &internals->spareVariable;
}

bool VELQ_ProgramInternals::nameTaken(const VELQ_Program &program, const char *name) {
  return program.constants->find(name) || program.globals->find(name) || program.locals->find(name);
}

VELQ_Variable *VELQ_Program::createVariable(const char *name) {
  if (!name) name = "";
  if (VELQ_ProgramInternals::nameTaken(*this, name)) return nullptr;
  VELQ_Variable *variable = locals->create(name, nullptr);
  return variable ? variable : &internals->spareVariable;
}

// The lookup of findOrCreateVariable for an instruction, whose name is the program's
// interned copy: a new local borrows that copy, and the cache remembers where the name
// led, so that the run loop can go straight there next time.
VELQ_Variable *VELQ_ProgramInternals::lookUp(VELQ_Program &program, const char *name,
                                             VELQ_NameCache *cache) {
  VELQ_Machine &m = program.internals->machine;
  bool local;
  uint32_t index = 0;
  VELQ_Variable *variable;
  if (cache->kind == VELQ_NameCache::LOCAL && cache->stamp == m.stamp) {
    // The name led to a local since the constants and globals last changed, so neither
    // has it: only the current frame's locals are searched (a new frame lacks it yet).
    local = true;
    variable = findLocalByName(program.locals, name, &index);
  } else {
    variable =
        findVariable(program.constants, program.globals, program.locals, name, &local, &index);
  }
  if (!variable) {
    variable = VELQ_RuntimeInternals::createBorrowing(program.locals, name, &m.spares);
    if (!variable) {
      program.error(VELQ_ERR_OUT_OF_MEMORY);
      return nullptr;
    }
    index = VELQ_RuntimeInternals::count(program.locals) - 1;
  }
  cache->kind = local ? VELQ_NameCache::LOCAL : VELQ_NameCache::CONSTANT_OR_GLOBAL;
  cache->variable = variable;
  cache->index = index;
  cache->stamp = m.stamp;
  return variable;
}

void VELQ_ProgramInternals::noteShape(VELQ_Program &program) {
  VELQ_Machine &m = program.internals->machine;
  uint32_t constantCount = program.constants->getCount();
  uint32_t globalCount = program.globals->getCount();
  if (constantCount == m.constantCount && globalCount == m.globalCount) return;
  m.constantCount = constantCount;
  m.globalCount = globalCount;
  m.stamp++;
}

// One step: the instruction at currentPosition, after which currentPosition is the next
// one's address (or VELQ_NO_ADDRESS after an error). Only during a run.
void VELQ_Program::execute() {
  if (!internals || !internals->running || currentPosition >= codeSize) return;
  VELQ_Machine &m = internals->machine;
  if (!VELQ_ProgramInternals::translate(*this, true)) return;
  uint64_t steps = m.stepsUntilCheck;
  m.singleStep = true;
  m.stepsUntilCheck = 1;
  VELQ_ProgramInternals::loop<true>(this, nullptr);
  m.singleStep = false;
  m.stepsUntilCheck = steps;
}

// A variable that is not constant gets the stored copy of the value on top (an array
// copied at every level); the value stays on the stack.
void VELQ_ProgramInternals::doSet(VELQ_Program &program, VELQ_Variable *variable) {
  if (variable->isConstant()) {
    errorAbout(program, VELQ_ERR_CONSTANT_ASSIGN, variable->getName());
    return;
  }
  VELQ_Value *top = peekValue(program);
  if (!top) {
    program.error(VELQ_ERR_STACK_UNDERFLOW);
    return;
  }
  if (!top->isArray()) {
    V::assign(variable->getValue(), top);
    return;
  }
  VELQ_Value *stored = velqStoredCopy(top);
  if (!stored) {
    program.error(VELQ_ERR_OUT_OF_MEMORY);
    return;
  }
  V::replaceWith(variable->getValue(), stored);
}

// Writes the exact bytes of the value's text (zero bytes included), or "(null)" for a
// value without text; nothing without an output stream.
void VELQ_ProgramInternals::doPrint(VELQ_Program &program) {
  VELQ_Value *value = peekValue(program);
  if (!value) {
    program.error(VELQ_ERR_STACK_UNDERFLOW);
    return;
  }
  FILE *out = program.environment->getStdOut();
  if (out) {
    uint32_t length = 0;
    const char *text = V::textView(value, &length);
    if (velqAllocationFailed()) {  // a number without memory for its text
      program.error(VELQ_ERR_OUT_OF_MEMORY);
      return;
    }
    if (text) {
      fwrite(text, 1, length, out);
    } else {
      fwrite("(null)", 1, 6, out);
    }
  }
  popValues(program, 1);
}
