// Runs a script file (run_file.velq, or the one named on the command line) and prints
// its result.
#include <iostream>

#include "velq.hpp"

int main(int argc, char **argv) try {
  velq::Engine engine;
  velq::Value result = engine.compile_file(argc > 1 ? argv[1] : "run_file.velq").run();
  std::cout << "result: " << result.to_string() << " (" << result.type_name() << ")\n";
} catch (const velq::Error &error) {  // "run_file.velq:3: Error ...", and the call chain
  std::cerr << error.what() << "\n";
  return 1;
}
