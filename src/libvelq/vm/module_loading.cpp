// Finding a module for a run: in the script library first, else as a source file in the
// places the environment's module policy names.
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include "runtime/environment_internals.h"
#include "runtime/memory.h"
#include "vm/program_internals.h"
#include "velq_compiler.h"
#include "velq_environment.h"
#include "velq_library.h"
#include "velq_program.h"

namespace {

// Room for a module's file name: a directory, "/", the module name and ".velq".
enum { MODULE_PATH_SIZE = PATH_MAX };

// The places looked in, as a module failure names them ("." for the current directory).
void listPlaces(const VELQ_Environment *environment, char *text, size_t size) {
  uint32_t count = VELQ_EnvironmentInternals::directoryCount(environment);
  text[0] = '\0';
  if (count == 0) {
    snprintf(text, size, ".");
    return;
  }
  size_t used = 0;
  for (uint32_t i = 0; i < count && used < size; i++) {
    int written = snprintf(text + used, size - used, "%s%s", i ? ", " : "",
                           VELQ_EnvironmentInternals::directory(environment, i));
    if (written < 0) break;
    used += (size_t)written;
  }
}

// Forms the file name of the module in directory (null: the current directory): the
// module name followed by ".velq", at most VELQ_MODULE_NAME_SIZE - 1 characters of it,
// behind "directory/". The module name is used unchanged, so a name holding a path
// reaches below the directory.
void moduleFileName(char (&path)[MODULE_PATH_SIZE], const char *directory, const char *name) {
  char file[VELQ_MODULE_NAME_SIZE];
  snprintf(file, sizeof file, "%s.velq", name);
  if (directory)
    snprintf(path, sizeof path, "%s/%s", directory, file);
  else
    snprintf(path, sizeof path, "%s", file);
}

// Only a regular file can hold a module. Opening a FIFO of that name to read it would
// wait, without end, for some process to write to it; a folder or a device has no
// script to read either.
bool isRegularFile(const char *path) {
  struct stat status;
  return stat(path, &status) == 0 && S_ISREG(status.st_mode);
}

// Reads and compiles the module file at path and merges it into program. 1 on success;
// 0, with the failure noted for the program, when it cannot be read or compiled.
int mergeModuleFile(VELQ_Program *program, const char *name, const char *path) {
  unsigned long size = 0;
  char *source = VELQLoadFile(path, &size);
  if (!source) {
    VELQ_ProgramInternals::noteModuleFailure(*program, "module \"%s\" (%s) cannot be read", name,
                                             path);
    return 0;
  }
  char error[VELQ_COMPILE_ERROR_SIZE];
  VELQ_Program *module = VELQCompile(source, error, sizeof error);
  velqRelease(source);
  if (!module) {
    VELQ_ProgramInternals::noteModuleFailure(*program, "module \"%s\" (%s): %s", name, path,
                                             error);
    return 0;
  }
  program->useModule(module, name);
  VELQ_ProgramInternals::noteModuleFile(*program, name, path);
  delete module;
  return 1;
}

}  // namespace

// Merges the module called name into program: the library's script of that name
// (ignoring case), else the first file "name.velq" found in the module directories (the
// current directory when none was added), compiled for this merge only. Returns 1 on
// success, 0 when the module cannot be found, read or compiled; then the program can
// tell which module failed and why. A name merged already succeeds at once: the merge
// would ignore the module anyway, and on a file system that keeps letter case a second
// spelling of the name must not fail for want of a file. The library is read without
// taking its lock; its users hold that around the run.
int VELQ_Environment::useModule(VELQ_Program *program, const char *name) {
  if (!program || !name) return 0;
  if (VELQ_ProgramInternals::moduleMerged(*program, name)) return 1;
  if (library) {
    if (VELQ_Program *module = library->findScript(name)) {
      program->useModule(module, name);
      return 1;
    }
  }
  if (!moduleFiles) {
    VELQ_ProgramInternals::noteModuleFailure(
        *program, "module \"%s\" not found (loading modules from files is turned off)", name);
    return 0;
  }
  char path[MODULE_PATH_SIZE];
  uint32_t places = directoryCount ? directoryCount : 1;
  for (uint32_t i = 0; i < places; i++) {
    moduleFileName(path, directoryCount ? directories[i] : nullptr, name);
    if (isRegularFile(path)) return mergeModuleFile(program, name, path);
  }
  char looked[VELQ_ERROR_TEXT_SIZE];
  listPlaces(this, looked, sizeof looked);
  VELQ_ProgramInternals::noteModuleFailure(*program, "module \"%s\" not found (looked in: %s)",
                                           name, looked);
  return 0;
}
