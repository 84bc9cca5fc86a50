// Everything a host needs to embed velq.
#ifndef VELQ_H
#define VELQ_H

#define VELQ_VERSION "2.0.0"

#include "korvat.h"
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
