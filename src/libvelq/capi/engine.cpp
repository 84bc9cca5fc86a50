// Engines of the C interface: the host functions, classes, module policy and streams
// that every instance's environment is built from, and the calls of host functions.
#include <string.h>

#include "capi/capi.h"
#include "values/value_internals.h"

namespace {

// The engine's names are the engine's sizes: a function or class name of 1 to 63 bytes.
bool validName(const char *name, size_t size) {
  return name && name[0] && strnlen(name, size) < size;
}

// Turns a status that a host function returned into the run's error code: a run-time
// code as it is, memory refused as 29, anything else as a host exception.
int32_t runErrorOf(velq_status status, VELQ_Program *program) {
  if (status > 0 && status <= VELQ_ERROR_CODE_LAST) return status;
  if (status == VELQ_STATUS_NO_MEMORY) return VELQ_ERR_OUT_OF_MEMORY;
  char detail[64];
  snprintf(detail, sizeof detail, "host function returned status %d", status);
  program->setErrorDetail(detail);
  return VELQ_ERR_HOST_EXCEPTION;
}

// The handler of every C host function: it wraps the machine's arguments into a call on
// its stack, and the C function's result and status into the machine's.
int32_t callHostFunction(int32_t argc, VELQ_Value **argv, VELQ_Value **result,
                         VELQ_Program *program, void *userData) {
  const VELQ_CapiFunction *record = static_cast<const VELQ_CapiFunction *>(userData);
  velq_host_call call = {(size_t)(argc > 0 ? argc : 0), argv, program, record->name.c_str(),
                         nullptr};
  velq_status status = record->function(&call, record->userdata);
  if (status != VELQ_OK) {
    delete call.result;
    return runErrorOf(status, program);
  }
  *result = call.result ? call.result : new VELQ_Value();
  return *result ? 0 : VELQ_ERR_OUT_OF_MEMORY;
}

VELQ_CapiClass *findClass(const velq_engine *engine, const char *name) {
  for (VELQ_CapiClass *hostClass : engine->classes)
    if (strcmp(hostClass->getName(), name) == 0) return hostClass;
  return nullptr;
}

void registerToolkitAt(VELQ_Environment *environment, const velq_engine *engine, size_t i) {
  if (engine->toolkitPosition == (long)i) VELQRegisterToolkit(environment);
}

}  // namespace

VELQ_CapiClass::VELQ_CapiClass(const char *className, velq_get_attribute get,
                               velq_set_attribute set, velq_destroy_object destroy, void *userdata)
    : get(get), set(set), destroy(destroy), userdata(userdata) {
  setName(className);
}

VELQ_Value *VELQ_CapiClass::getAttr(VELQ_Object *object, const char *attribute) {
  if (!get) return nullptr;
  velq_value *value = nullptr;
  if (get(object->getData(), attribute, &value, userdata) != VELQ_OK) {
    velq_value_free(value);
    return nullptr;  // the machine raises error 15
  }
  return value ? velqValue(value) : new VELQ_Value();
}

int VELQ_CapiClass::setAttr(VELQ_Object *object, const char *attribute, VELQ_Value *value) {
  if (!set) return 0;
  return set(object->getData(), attribute, velqHandle(value), userdata) == VELQ_OK;
}

// The engine calls this once the last record of the data is gone, in whatever thread
// released it. The class may go with it, after the engine.
void VELQ_CapiClass::onObjectDelete(VELQ_Object *object) {
  void *data = object->getData();
  if (destroy) destroy(data, userdata);
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (live.erase(data) == 0) return;
  }
  release();
}

// Null data is never counted by the engine, and so never destroyed: it holds no reference.
// The value's block is taken first, so that once the record exists nothing can fail: a
// record dropped after it was counted would destroy the host's data.
VELQ_Value *VELQ_CapiClass::makeObject(void *data) {
  bool first = false;
  if (data) {
    std::lock_guard<std::mutex> lock(mutex);
    first = live.insert(data).second;
    if (first) references.fetch_add(1, std::memory_order_relaxed);
  }
  void *block = VELQ_Value::operator new(sizeof(VELQ_Value));
  VELQ_Object *record = block ? new VELQ_Object(this, data) : nullptr;
  if (record && (!data || VELQ_ValueInternals::isCounted(record)))
    return ::new (block) VELQ_Value(record);
  // An uncounted record never reports its end, so it is refused as memory is.
  delete record;
  if (block) VELQ_Value::operator delete(block, sizeof(VELQ_Value));
  if (first) {
    std::lock_guard<std::mutex> lock(mutex);
    live.erase(data);
  }
  if (first) release();
  return nullptr;
}

void VELQ_CapiClass::release() {
  if (references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

void velqEngineRetain(velq_engine *engine) {
  engine->references.fetch_add(1, std::memory_order_relaxed);
}

void velqEngineRelease(velq_engine *engine) {
  if (!engine || engine->references.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  for (VELQ_CapiClass *hostClass : engine->classes) hostClass->release();
  delete engine;
}

// A fresh environment for one instance, made of the engine's set-up. Null when memory is
// refused (the environment notes a failure of its own and fails the first run with 29).
VELQ_Environment *velqCapiEnvironment(const velq_engine *engine) {
  VELQ_Environment *environment = new VELQ_Environment();
  if (!environment) return nullptr;
  size_t count = engine->functions.size();
  for (size_t i = 0; i < count; i++) {
    registerToolkitAt(environment, engine, i);
    const VELQ_CapiFunction *record = engine->functions[i].get();
    environment->registerFunction(record->name.c_str(), callHostFunction,
                                  const_cast<VELQ_CapiFunction *>(record), record->arity);
  }
  registerToolkitAt(environment, engine, count);
  environment->setModuleFiles(engine->moduleFiles);
  for (const std::string &directory : engine->moduleDirectories)
    environment->addModuleDirectory(directory.c_str());
  environment->setIO(engine->input ? engine->input : stdin,
                     engine->output ? engine->output : stdout);
  return environment;
}

extern "C" {

velq_status velq_engine_new(velq_engine **out) {
  if (!out) return VELQ_STATUS_INVALID;
  *out = nullptr;
  return velqGuard([&] {
    *out = new velq_engine;
    return VELQ_OK;
  });
}

void velq_engine_free(velq_engine *engine) { velqEngineRelease(engine); }

velq_status velq_engine_add_function(velq_engine *engine, const char *name, int arity,
                                     velq_function function, void *userdata) {
  if (!engine || !validName(name, VELQ_FUNCTION_NAME_SIZE) || !function || arity < -1)
    return VELQ_STATUS_INVALID;
  return velqGuard([&] {
    engine->functions.push_back(
        std::unique_ptr<VELQ_CapiFunction>(new VELQ_CapiFunction{name, arity, function, userdata}));
    return VELQ_OK;
  });
}

velq_status velq_engine_add_toolkit(velq_engine *engine) {
  if (!engine) return VELQ_STATUS_INVALID;
  if (engine->toolkitPosition < 0) engine->toolkitPosition = (long)engine->functions.size();
  return VELQ_OK;
}

velq_status velq_engine_add_class(velq_engine *engine, const char *name, velq_get_attribute get,
                                  velq_set_attribute set, velq_destroy_object destroy,
                                  void *userdata) {
  if (!engine || !validName(name, VELQ_CLASS_NAME_SIZE) || findClass(engine, name))
    return VELQ_STATUS_INVALID;
  return velqGuard([&] {
    engine->classes.reserve(engine->classes.size() + 1);
    engine->classes.push_back(new VELQ_CapiClass(name, get, set, destroy, userdata));
    return VELQ_OK;
  });
}

velq_status velq_engine_set_module_files(velq_engine *engine, int allowed) {
  if (!engine) return VELQ_STATUS_INVALID;
  engine->moduleFiles = allowed != 0;
  return VELQ_OK;
}

velq_status velq_engine_add_module_directory(velq_engine *engine, const char *directory) {
  if (!engine || !directory) return VELQ_STATUS_INVALID;
  return velqGuard([&] {
    engine->moduleDirectories.push_back(directory);
    return VELQ_OK;
  });
}

velq_status velq_engine_set_io(velq_engine *engine, FILE *input, FILE *output) {
  if (!engine) return VELQ_STATUS_INVALID;
  engine->input = input;
  engine->output = output;
  return VELQ_OK;
}

velq_status velq_value_object(velq_engine *engine, const char *class_name, void *object,
                              velq_value **out) {
  if (!engine || !class_name || !out) return VELQ_STATUS_INVALID;
  VELQ_CapiClass *hostClass = findClass(engine, class_name);
  if (!hostClass) return VELQ_STATUS_INVALID;
  return velqGuard([&] {
    VELQ_Value *value = hostClass->makeObject(object);
    if (!value) return VELQ_STATUS_NO_MEMORY;
    *out = velqHandle(value);
    return VELQ_OK;
  });
}

size_t velq_call_argc(const velq_host_call *call) { return call ? call->argc : 0; }

const velq_value *velq_call_arg(const velq_host_call *call, size_t i) {
  return call && i < call->argc ? velqHandle(call->argv[i]) : nullptr;
}

const char *velq_call_name(const velq_host_call *call) { return call ? call->name : ""; }

velq_status velq_call_return(velq_host_call *call, velq_value *result) {
  if (!call) {
    velq_value_free(result);
    return VELQ_STATUS_INVALID;
  }
  if (call->result != velqValue(result)) delete call->result;
  call->result = velqValue(result);
  return VELQ_OK;
}

velq_status velq_call_fail(velq_host_call *call, const char *message) {
  if (!call) return VELQ_STATUS_INVALID;
  call->program->setErrorDetail(message ? message : "");
  return VELQ_STATUS_HOST_EXCEPTION;
}

}  // extern "C"
