// Two host functions for scripts: one takes numbers and gives a number, the other takes
// a text and gives an array. Their parameter types say how the arguments convert.
#include <cmath>
#include <iostream>
#include <iterator>
#include <sstream>

#include "velq.hpp"

int main() try {
  velq::Engine engine;
  engine.function("hypot", [](double x, double y) { return std::sqrt(x * x + y * y); });
  engine.function("words", [](const std::string &text) {
    std::istringstream in(text);  // the words, at 0, 1, 2, ... of an array
    return std::vector<std::string>(std::istream_iterator<std::string>(in), {});
  });
  engine.compile_file("functions.velq").run();
} catch (const velq::Error &error) {
  std::cerr << error.what() << "\n";
  return 1;
}
