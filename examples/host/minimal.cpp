// The smallest host: compiles a script, runs it with one argument, prints the result.
#include <stdio.h>

#include "velq.h"

int main() {
  char error[VELQ_COMPILE_ERROR_SIZE];
  VELQ_Program *program = VELQCompile("sub main(n) { return n * n; }", error, sizeof error);
  if (!program) return fprintf(stderr, "%s\n", error), 2;
  VELQ_Value *argv[] = {new VELQ_Value("12")};  // text that reads as a number is one
  if (program->run(new VELQ_Environment(), 1, argv, nullptr, nullptr, nullptr) != 0)
    return fprintf(stderr, "%s\n", program->getErrorText()), 1;
  printf("%s\n", program->getResult()->getValueAsCString());  // prints 144
  delete program;
  return 0;
}
