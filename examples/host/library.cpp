// Keeps a compiled module in a script library and runs scripts that use it from
// two threads at once. The library is the one object threads share, so every use
// of it, and every run that may load a module from it, happens under its lock.
#include <stdio.h>

#include <string>
#include <thread>

#include "korvat.h"
#include "velq.h"

static VELQ_Library library;

// Compiles and runs one script in the calling thread; compilations share nothing.
static std::string greetFrom(const char *who) {
  char error[VELQ_COMPILE_ERROR_SIZE];
  VELQ_Program *program =
      VELQCompile("use greeting; sub main(who) { return greet(who); }", error, sizeof error);
  if (!program) return error;

  VELQ_Environment *environment = new VELQ_Environment();
  environment->setLibrary(&library);  // `use greeting;` is looked up here first
  VELQ_Value *argv[] = {new VELQ_Value(who)};

  library.lock();  // the run reads the module from the library
  int status = program->run(environment, 1, argv, nullptr, nullptr, nullptr);
  library.unlock();

  std::string text =
      status == 0 ? program->getResult()->getValueAsCString() : program->getErrorText();
  delete program;
  return text;
}

int main() {
  char error[VELQ_COMPILE_ERROR_SIZE];
  VELQ_Program *module =
      VELQCompile("sub greet(who) { return \"hello, \" . who; }", error, sizeof error);
  if (!module) {
    fprintf(stderr, "%s\n", error);
    return 2;
  }
  library.lock();
  library.addScript(1, "greeting", module);  // the library owns the module now
  library.unlock();

  std::string first, second;
  std::thread a([&first] { first = greetFrom("Ada"); });
  std::thread b([&second] { second = greetFrom("Linus"); });
  a.join();
  b.join();
  printf("%s\n%s\n", first.c_str(), second.c_str());

  // The library's contents as a protocol message: field 206 holds the count, then
  // each script has an id field and a name field.
  KOSPMessage message;
  library.lock();
  library.fillMessage(&message);
  library.unlock();
  uint32_t count = message.GetFieldUInt32(VELQ_LIBRARY_FIELD_COUNT);
  for (uint32_t i = 0; i < count; i++)
    printf("script %u: %s\n", message.GetFieldUInt32(VELQ_LIBRARY_FIELD_FIRST + 2 * i),
           message.GetFieldText(VELQ_LIBRARY_FIELD_FIRST + 2 * i + 1));
  return 0;
}
