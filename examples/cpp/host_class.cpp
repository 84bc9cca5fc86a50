// A host class made from a C++ type: scripts get accounts from the host function open,
// read and write their attributes and hand them back to the host function deposit.
#include <iostream>

#include "velq.hpp"

struct Account {
  std::string owner;
  double balance;
};

int main() try {
  velq::Engine engine;
  auto account = engine.type<Account>("Account");  // attributes from data members
  account.attribute("owner", &Account::owner).attribute("balance", &Account::balance);
  // A script's new object: a copy of the Account, destroyed when the script drops it.
  engine.function("open", [](std::string owner) { return Account{owner, 0}; });
  engine.function("deposit", [](Account &to, double amount) { to.balance += amount; });
  engine.compile_file("host_class.velq").run();
} catch (const velq::Error &error) {
  std::cerr << error.what() << "\n";
  return 1;
}
