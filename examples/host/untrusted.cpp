// A host that runs scripts its users wrote: every run has budgets of steps, time and
// memory, module files are out of reach, and Ctrl-C cancels the run in progress instead
// of ending the host. It prints how each run ended.
#include <signal.h>
#include <stdio.h>

#include <atomic>

#include "velq.h"

// The program running now, for the signal handler.
static std::atomic<VELQ_Program *> running{nullptr};

// cancel() only sets an atomic flag: it may be called from a signal handler.
static void onInterrupt(int) {
  if (VELQ_Program *program = running.load()) program->cancel();
}

static const char *const scripts[] = {
    "sub main() { while (1); }",                                    // never ends
    "sub main() { s = \"x\"; while (1) s = s . s; }",               // takes all memory
    "sub main() { return \"x\" match \"((a{1000}){1000}){10}\"; }",  // a huge expression
    "use secrets; sub main() { return 1; }",                        // reads a module file
    "sub main() { return 6 * 7; }",                                 // behaves
};

int main() {
  signal(SIGINT, onInterrupt);
  for (const char *source : scripts) {
    char error[VELQ_COMPILE_ERROR_SIZE];
    VELQ_Program *program = VELQCompile(source, error, sizeof error);
    if (!program) return fprintf(stderr, "%s\n", error), 2;

    program->setStepLimit(10000000);       // instructions a run may execute
    program->setTimeLimit(2000);           // milliseconds of wall-clock time
    program->setMemoryLimit(64ull << 20);  // bytes its values, texts, arrays, variables
                                           // and stacks may hold at once
    VELQ_Environment *environment = new VELQ_Environment();
    environment->setModuleFiles(false);  // `use` is served by a script library only

    running = program;
    int status = program->run(environment, 0, nullptr, nullptr, nullptr, nullptr);
    running = nullptr;
    if (status == 0) {
      printf("result: %s\n", program->getResult()->getValueAsCString());
    } else {
      printf("%s\n", program->getErrorText());  // "Error 26 in line 1: Step limit exceeded"
    }
    delete program;
  }
  return 0;
}
