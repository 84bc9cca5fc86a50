// The structures behind the C interface's opaque handles, and the helpers its files share.
//
// A velq_value is a VELQ_Value: the handle is the engine's own value, so a host function's
// arguments reach C with no conversion. The other handles are the structures below.
// No C++ exception may leave a function of the C interface: each body runs inside
// velqGuard, which turns an exception into a status.
#ifndef VELQ_CAPI_H
#define VELQ_CAPI_H

#include <atomic>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

#include "velq.h"
#include "velq_c.h"

// A host function as the engine's set-up recorded it; the environments of the engine's
// instances hand its address to the trampoline as user data.
struct VELQ_CapiFunction {
  std::string name;
  int arity;
  velq_function function;
  void *userdata;
};

// A host class made of the C callbacks. It lives while the engine or any object made
// with it does: the engine holds one reference, and every data pointer with live object
// records holds one more, dropped when the engine reports the data's last record gone.
class VELQ_CapiClass : public VELQ_Class {
 public:
  VELQ_CapiClass(const char *className, velq_get_attribute get, velq_set_attribute set,
                 velq_destroy_object destroy, void *userdata);

  VELQ_Value *getAttr(VELQ_Object *object, const char *attribute) override;
  int setAttr(VELQ_Object *object, const char *attribute, VELQ_Value *value) override;
  void onObjectDelete(VELQ_Object *object) override;

  // A new object value of this class holding data; null when memory is refused.
  VELQ_Value *makeObject(void *data);
  void release();

 private:
  velq_get_attribute get;
  velq_set_attribute set;
  velq_destroy_object destroy;
  void *userdata;
  std::atomic<long> references{1};
  std::mutex mutex;                 // guards live
  std::unordered_set<void *> live;  // data pointers with object records
};

struct velq_engine {
  std::atomic<long> references{1};
  std::vector<std::unique_ptr<VELQ_CapiFunction>> functions;
  // The toolkit comes after the host functions added before it; -1: no toolkit.
  long toolkitPosition = -1;
  std::vector<VELQ_CapiClass *> classes;
  bool moduleFiles = true;
  std::vector<std::string> moduleDirectories;
  FILE *input = nullptr;
  FILE *output = nullptr;
};

struct velq_script {
  velq_engine *engine;
  VELQ_Program *program;
  std::string name;
};

struct velq_instance {
  velq_engine *engine;
  VELQ_Program *program;
  std::string sourceName;
  std::atomic<bool> busy{false};  // a call is in progress
};

struct velq_error {
  struct Frame {
    std::string function, module, file;
    int line;
  };
  velq_status code = VELQ_OK;
  std::string message, subject, detail, source;
  int line = 0;
  int column = 0;
  std::vector<Frame> frames;
};

// One call of a host function, on the trampoline's stack.
struct velq_host_call {
  size_t argc;
  VELQ_Value **argv;
  VELQ_Program *program;
  const char *name;
  VELQ_Value *result;  // given by velq_call_return, or null
};

inline VELQ_Value *velqValue(velq_value *value) { return reinterpret_cast<VELQ_Value *>(value); }
inline const VELQ_Value *velqValue(const velq_value *value) {
  return reinterpret_cast<const VELQ_Value *>(value);
}
inline velq_value *velqHandle(VELQ_Value *value) { return reinterpret_cast<velq_value *>(value); }

// Runs the body of a C entry point; an exception becomes a status instead of crossing
// the C frames above.
template <typename Body>
velq_status velqGuard(Body body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc &) {
    return VELQ_STATUS_NO_MEMORY;
  } catch (...) {
    return VELQ_STATUS_INVALID;
  }
}

// A copy of a value for the host or for a store: arrays are copied at every level, so
// the copy shares nothing with the source. Null when memory is refused for any part.
VELQ_Value *velqCapiCopy(const VELQ_Value *source);

void velqEngineRetain(velq_engine *engine);
void velqEngineRelease(velq_engine *engine);

// Errors as data. Each returns status, and gives a new error through *error when error is
// not null (none when memory for it is refused); velqNoError clears *error.
void velqNoError(velq_error **error);
velq_status velqFail(velq_error **error, velq_status status, const char *message,
                     const char *source = "");
velq_status velqFailCompile(velq_error **error, const VELQ_CompileError &compileError);
// The latest error of a program's load or call; sourceName names the script's source.
velq_status velqFailRun(velq_error **error, const VELQ_Program *program,
                        const std::string &sourceName);

#endif
