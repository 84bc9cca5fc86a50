// A host that reads what it deleted: a value it made, or a run's result after deleting
// the program that held it.
// The engine must let a memory checker see it; its object pools would otherwise keep the
// block and the read would go unnoticed (use_after_free_test.sh).
//   use_after_free value|result
#include <stdio.h>
#include <string.h>

#include "velq.h"

namespace {

// The value is read through a volatile pointer, so that the compiler keeps the read.
int readAfterDelete(VELQ_Value *value) {
  VELQ_Value *volatile deleted = value;
  delete value;
  return deleted->getValueAsInt32();
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 2 && strcmp(argv[1], "value") == 0) {
    VELQ_Value *value = new VELQ_Value((int32_t)7);
    if (!value) return 2;
    printf("read %d\n", readAfterDelete(value));
    return 0;
  }
  if (argc == 2 && strcmp(argv[1], "result") == 0) {
    char error[256];
    VELQ_Program *program = VELQCompile("sub main() { return 6 * 7; }", error, sizeof error);
    if (!program || program->run(nullptr, 0, nullptr, nullptr, nullptr, nullptr) != 0) return 2;
    // The result is the program's: deleting the program deletes it.
    VELQ_Value *volatile result = program->getResult();
    if (!result) return 2;
    delete program;
    printf("read %d\n", result->getValueAsInt32());
    return 0;
  }
  fprintf(stderr, "usage: use_after_free value|result\n");
  return 2;
}
