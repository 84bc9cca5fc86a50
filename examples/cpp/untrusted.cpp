// Runs scripts that users wrote under budgets of steps, time and memory, with module
// files out of reach, and reports how each ended: the error's file, line, subject and
// call chain.
#include <iostream>

#include "velq.hpp"

int main() {
  velq::Engine engine;
  engine.module_files(false);  // `use NAME` may not read NAME.velq
  for (const char *path : {"untrusted.velq", "untrusted_module.velq"}) {
    try {
      velq::Instance instance = engine.compile_file(path).load();
      instance.limits({1000000, std::chrono::milliseconds(2000), 16 << 20});  // steps, time, bytes
      std::cout << "result: " + instance.run().to_string() << "\n";
    } catch (const velq::Error &error) {
      std::cout << error.source() << ":" << error.line() << ": error " << error.code() << ": "
                << error.message() << " [" << error.subject() << "]\n";
      for (auto &f : error.frames()) std::cout << "  at " << f.function << ":" << f.line << "\n";
    }
  }
}
