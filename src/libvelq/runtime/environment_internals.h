// The engine's own access to an environment: its module policy and the note of memory
// refused to the host's operations on it.
#ifndef VELQ_ENVIRONMENT_INTERNALS_H
#define VELQ_ENVIRONMENT_INTERNALS_H

#include "velq_environment.h"

struct VELQ_EnvironmentInternals {
  static bool outOfMemory(const VELQ_Environment *environment) { return environment->outOfMemory; }
  static bool moduleFilesAllowed(const VELQ_Environment *environment) {
    return environment->moduleFiles;
  }
  static uint32_t directoryCount(const VELQ_Environment *environment) {
    return environment->directoryCount;
  }
  static const char *directory(const VELQ_Environment *environment, uint32_t i) {
    return environment->directories[i];
  }
  // The handler of a function registered with data of its own, by table position; null
  // for a record of the other kind.
  static VELQ_HostFunctionHandler hostHandler(const VELQ_Environment *environment, uint32_t i,
                                              void **userData) {
    if (i >= environment->hostCount || !environment->hosts[i].handler) return nullptr;
    *userData = environment->hosts[i].userData;
    return environment->hosts[i].handler;
  }
};

#endif
