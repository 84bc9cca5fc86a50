// Finding a module for a run: in the script library first, else as a source file.
#include <stdio.h>
#include <stdlib.h>
#include <strings.h>
#include <sys/stat.h>

#include "velq_compiler.h"
#include "velq_environment.h"
#include "velq_library.h"
#include "velq_program.h"

namespace {

// Whether program has merged a module of that name in this run (ignoring case, as the
// merge itself compares names).
bool mergedAlready(const VELQ_Program *program, const char *name) {
  char cut[VELQ_MODULE_NAME_SIZE];
  snprintf(cut, sizeof cut, "%s", name);
  for (uint32_t i = 0; i < program->getModuleCount(); i++)
    if (strcasecmp(program->getModule(i)->name, cut) == 0) return true;
  return false;
}

}  // namespace

// Merges the module called name into program: the library's script of that name
// (ignoring case), else the file "name.velq" (the name cut so that the file name has at
// most VELQ_MODULE_NAME_SIZE - 1 characters), compiled for this merge only. Returns 1 on
// success, 0 when the module cannot be found, read or compiled. A name merged already
// succeeds at once: the merge would ignore the module anyway, and on a file system that
// keeps letter case a second spelling of the name must not fail for want of a file.
// The library is read without taking its lock; its users hold that around the run.
int VELQ_Environment::useModule(VELQ_Program *program, const char *name) {
  if (!program || !name) return 0;
  if (mergedAlready(program, name)) return 1;
  if (library) {
    if (VELQ_Program *module = library->findScript(name)) {
      program->useModule(module, name);
      return 1;
    }
  }
  char fileName[VELQ_MODULE_NAME_SIZE];
  snprintf(fileName, sizeof fileName, "%s.velq", name);
  // Only a regular file can hold a module. Opening a FIFO of that name to read it would
  // wait, without end, for some process to write to it; a folder or a device has no
  // script to read either.
  struct stat status;
  if (stat(fileName, &status) != 0 || !S_ISREG(status.st_mode)) return 0;
  unsigned long size = 0;
  char *source = VELQLoadFile(fileName, &size);
  if (!source) return 0;
  VELQ_Program *module = VELQCompile(source, nullptr, 0);
  free(source);
  if (!module) return 0;
  program->useModule(module, name);
  delete module;
  return 1;
}
