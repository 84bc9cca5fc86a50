// The growable pointer stack shared by the machine and the compiler.
#include "velq_stack.h"

#include "runtime/growth.h"
#include "runtime/memory.h"

VELQ_DEFINE_ENGINE_ALLOCATION(VELQ_Stack)

// Without memory for the first slots the stack starts with none and grows on its first push.
VELQ_Stack::VELQ_Stack() : capacity(0), size(0), items(nullptr) { velqReserve(items, capacity, VELQ_STACK_INITIAL); }

VELQ_Stack::~VELQ_Stack() { velqRelease(items); }

// Called by push when every slot is taken; the storage never shrinks.
bool VELQ_Stack::grow() { return velqReserve(items, capacity, (size_t)capacity + 1); }
