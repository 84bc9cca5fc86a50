// Scripts and instances of the C interface. A script is a compiled program; an instance is
// a loaded copy of it with an environment of its own, whose globals persist between calls.
#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "capi/capi.h"
#include "runtime/memory.h"

VELQ_Environment *velqCapiEnvironment(const velq_engine *engine);

namespace {

// Claims an instance for one call; false when another call holds it.
bool claim(velq_instance *instance) {
  bool idle = false;
  return instance->busy.compare_exchange_strong(idle, true, std::memory_order_acquire);
}

struct ReleaseClaim {
  velq_instance *instance;
  ~ReleaseClaim() { instance->busy.store(false, std::memory_order_release); }
};

bool validArguments(size_t argc, const velq_value *const *argv) {
  if (argc > 0 && !argv) return false;
  if (argc > ULONG_MAX) return false;
  for (size_t i = 0; i < argc; i++)
    if (!argv[i]) return false;
  return true;
}

velq_status newScript(velq_engine *engine, VELQ_Program *program, const char *name,
                      velq_script **out) {
  std::unique_ptr<VELQ_Program> owned(program);
  velq_script *script = new velq_script{engine, program, name ? name : ""};
  owned.release();
  velqEngineRetain(engine);
  *out = script;
  return VELQ_OK;
}

velq_status compileText(velq_engine *engine, const char *text, size_t length, const char *name,
                        velq_script **out, velq_error **error) {
  VELQ_CompileError compileError;
  memset(&compileError, 0, sizeof compileError);
  VELQ_Program *program = VELQCompileSource(text, length, name, &compileError);
  if (!program) return velqFailCompile(error, compileError);
  return newScript(engine, program, name, out);
}

// Calls a function of a loaded instance and hands its result over.
velq_status callFunction(velq_instance *instance, const char *function, size_t argc,
                         const velq_value *const *argv, velq_value **result, velq_error **error) {
  VELQ_Program *program = instance->program;
  // The program copies the arguments and never changes the values it is given.
  VELQ_Value *const *values =
      reinterpret_cast<VELQ_Value *const *>(const_cast<velq_value **>(argv));
  if (program->call(function, (unsigned long)argc, values) != 0)
    return velqFailRun(error, program, instance->sourceName);
  VELQ_Value *value = program->takeResult();
  if (!result) {
    delete value;
    return VELQ_OK;
  }
  if (!value) value = new VELQ_Value();
  if (!value) return velqFail(error, VELQ_STATUS_NO_MEMORY, "the result");
  *result = velqHandle(value);
  return VELQ_OK;
}

// A copy of a compiled program for an instance. The copy tells a failure of its parts by
// the thread's allocation note, which an earlier run (one stopped by its memory budget,
// say) may have left set: the note is cleared for the copy and put back after it, so
// that a host function loading a script does not take the note from its own run.
VELQ_Program *copyProgram(const VELQ_Program *source) {
  VELQ_AllocationFailure before = velqAllocationFailure();
  velqClearAllocationFailure();
  VELQ_Program *copy = new VELQ_Program(source);
  if (before != VELQ_ALLOCATION_OK) velqNoteAllocationFailure(before);
  return copy;
}

}  // namespace

extern "C" {

velq_status velq_compile(velq_engine *engine, const char *text, size_t length, const char *name,
                         velq_script **out, velq_error **error) {
  velqNoError(error);
  if (out) *out = nullptr;
  if (!engine || !out || (!text && length > 0))
    return velqFail(error, VELQ_STATUS_INVALID, "velq_compile needs an engine, a text and out");
  velq_status status =
      velqGuard([&] { return compileText(engine, text ? text : "", length, name, out, error); });
  if (status == VELQ_STATUS_NO_MEMORY && error && !*error)
    velqFail(error, status, "compiling", name ? name : "");
  return status;
}

velq_status velq_compile_file(velq_engine *engine, const char *path, velq_script **out,
                              velq_error **error) {
  velqNoError(error);
  if (out) *out = nullptr;
  if (!engine || !path || !out)
    return velqFail(error, VELQ_STATUS_INVALID,
                    "velq_compile_file needs an engine, a path and out");
  unsigned long size = 0;
  errno = 0;
  char *text = VELQLoadFile(path, &size);
  if (!text) {
    std::string why = std::string("cannot read ") + path;
    if (errno) why = why + ": " + strerror(errno);
    return velqFail(error, VELQ_STATUS_FILE_ERROR, why.c_str(), path);
  }
  velq_status status = velqGuard([&] { return compileText(engine, text, size, path, out, error); });
  free(text);
  if (status == VELQ_STATUS_NO_MEMORY && error && !*error)
    velqFail(error, status, "compiling", path);
  return status;
}

void velq_script_free(velq_script *script) {
  if (!script) return;
  delete script->program;
  velqEngineRelease(script->engine);
  delete script;
}

velq_status velq_load(velq_script *script, velq_instance **out, velq_error **error) {
  velqNoError(error);
  if (out) *out = nullptr;
  if (!script || !out)
    return velqFail(error, VELQ_STATUS_INVALID, "velq_load needs a script and out");
  velq_status status = velqGuard([&]() -> velq_status {
    std::unique_ptr<velq_instance> instance(new velq_instance);
    instance->sourceName = script->name;
    instance->engine = script->engine;
    std::unique_ptr<VELQ_Program> program(copyProgram(script->program));
    if (!program) return velqFail(error, VELQ_STATUS_NO_MEMORY, "loading", script->name.c_str());
    VELQ_Environment *environment = velqCapiEnvironment(script->engine);
    if (!environment)
      return velqFail(error, VELQ_STATUS_NO_MEMORY, "loading", script->name.c_str());
    // The program takes the environment, whether the load succeeds or not.
    if (program->load(environment, nullptr) != 0)
      return velqFailRun(error, program.get(), script->name);
    instance->program = program.release();
    velqEngineRetain(script->engine);
    *out = instance.release();
    return VELQ_OK;
  });
  if (status == VELQ_STATUS_NO_MEMORY && error && !*error)
    velqFail(error, status, "loading", script->name.c_str());
  return status;
}

void velq_instance_free(velq_instance *instance) {
  if (!instance) return;
  // The program's environment points into the engine's records: it goes first.
  delete instance->program;
  velqEngineRelease(instance->engine);
  delete instance;
}

velq_status velq_load_file(velq_engine *engine, const char *path, velq_instance **out,
                           velq_error **error) {
  velqNoError(error);
  if (out) *out = nullptr;
  if (!engine || !path || !out)
    return velqFail(error, VELQ_STATUS_INVALID, "velq_load_file needs an engine, a path and out");
  velq_script *script = nullptr;
  velq_status status = velq_compile_file(engine, path, &script, error);
  if (status == VELQ_OK) status = velq_load(script, out, error);
  velq_script_free(script);  // the instance keeps what it needs
  return status;
}

velq_status velq_run(velq_instance *instance, size_t argc, const velq_value *const *argv,
                     velq_value **result, velq_error **error) {
  return velq_call(instance, "main", argc, argv, result, error);
}

velq_status velq_call(velq_instance *instance, const char *function, size_t argc,
                      const velq_value *const *argv, velq_value **result, velq_error **error) {
  velqNoError(error);
  if (result) *result = nullptr;
  if (!instance || !function || !validArguments(argc, argv))
    return velqFail(error, VELQ_STATUS_INVALID,
                    "velq_call needs an instance, a name and arguments");
  if (!claim(instance))
    return velqFail(error, VELQ_STATUS_INVALID, "the instance is busy with another call");
  ReleaseClaim claimed{instance};
  velq_status status =
      velqGuard([&] { return callFunction(instance, function, argc, argv, result, error); });
  if (status == VELQ_STATUS_NO_MEMORY && error && !*error) velqFail(error, status, "calling");
  return status;
}

velq_status velq_set_global(velq_instance *instance, const char *name, const velq_value *value) {
  if (!instance || !name || !value) return VELQ_STATUS_INVALID;
  if (!claim(instance)) return VELQ_STATUS_INVALID;
  ReleaseClaim claimed{instance};
  VELQ_Value *copy = velqCapiCopy(velqValue(value));
  if (!copy) return VELQ_STATUS_NO_MEMORY;
  instance->program->setGlobalVariable(name, copy);
  VELQ_Variable *variable = instance->program->findGlobalVariable(name);
  return variable && variable->getValue() == copy ? VELQ_OK : VELQ_STATUS_NO_MEMORY;
}

velq_status velq_get_global(velq_instance *instance, const char *name, velq_value **out) {
  if (!instance || !name || !out) return VELQ_STATUS_INVALID;
  *out = nullptr;
  if (!claim(instance)) return VELQ_STATUS_INVALID;
  ReleaseClaim claimed{instance};
  VELQ_Variable *variable = instance->program->findGlobalVariable(name);
  if (!variable) return VELQ_STATUS_INVALID;
  VELQ_Value *copy = velqCapiCopy(variable->getValue());
  if (!copy) return VELQ_STATUS_NO_MEMORY;
  *out = velqHandle(copy);
  return VELQ_OK;
}

velq_status velq_set_step_limit(velq_instance *instance, uint64_t steps) {
  if (!instance) return VELQ_STATUS_INVALID;
  instance->program->setStepLimit(steps);
  return VELQ_OK;
}

velq_status velq_set_time_limit(velq_instance *instance, uint64_t milliseconds) {
  if (!instance) return VELQ_STATUS_INVALID;
  instance->program->setTimeLimit(milliseconds > ULONG_MAX ? ULONG_MAX
                                                           : (unsigned long)milliseconds);
  return VELQ_OK;
}

velq_status velq_set_memory_limit(velq_instance *instance, uint64_t bytes) {
  if (!instance) return VELQ_STATUS_INVALID;
  instance->program->setMemoryLimit(bytes);
  return VELQ_OK;
}

velq_status velq_cancel(velq_instance *instance) {
  if (!instance) return VELQ_STATUS_INVALID;
  instance->program->cancel();
  return VELQ_OK;
}

}  // extern "C"
