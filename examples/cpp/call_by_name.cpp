// Loads a script once and calls its functions by name with arguments, reading a number,
// a text and an array back.
#include <iostream>

#include "velq.hpp"

int main() try {
  velq::Engine engine;
  velq::Instance shop = engine.compile_file("call_by_name.velq").load();
  std::cout << "price: " << shop.call<double>("price", "apple", 3) << "\n";
  std::cout << "label: " << shop.call<std::string>("label", "pear", 2) << "\n";
  for (const std::string &line : shop.call<std::vector<std::string>>("receipt", "apple", 3))
    std::cout << "receipt: " << line << "\n";
} catch (const velq::Error &error) {
  std::cerr << error.what() << "\n";
  return 1;
}
