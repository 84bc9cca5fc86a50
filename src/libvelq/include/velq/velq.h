// Everything a host needs to embed velq. It declares only names that begin with VELQ
// (and the type codes DTYPE_ and opcodes OP_); the support library's classes come with
// korvat.h, which a host that uses them includes itself.
#ifndef VELQ_H
#define VELQ_H

#define VELQ_VERSION "3.0.0"

#include "velq_export.h"
#include "velq_value.h"
#include "velq_array.h"
#include "velq_object.h"
#include "velq_stack.h"
#include "velq_variable.h"
#include "velq_environment.h"
#include "velq_instruction.h"
#include "velq_program.h"
#include "velq_library.h"
#include "velq_compiler.h"
#include "velq_toolkit.h"

#endif
