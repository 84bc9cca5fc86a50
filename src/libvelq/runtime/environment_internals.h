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
};

#endif
