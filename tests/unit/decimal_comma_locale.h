// Tests that numbers are read and written the same whatever locale the host chose: the
// host's LC_NUMERIC switched to one with a decimal comma for as long as this lives.
#ifndef VELQ_TEST_DECIMAL_COMMA_LOCALE_H
#define VELQ_TEST_DECIMAL_COMMA_LOCALE_H

#include <locale.h>
#include <stdio.h>
#include <string.h>

#include <string>

class DecimalCommaLocale {
 public:
  DecimalCommaLocale() : previous(setlocale(LC_NUMERIC, nullptr)) {
    for (const char *name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "fr_FR"}) {
      if (!setlocale(LC_NUMERIC, name)) continue;
      char probe[32];
      snprintf(probe, sizeof probe, "%f", 1.5);
      if (strcmp(probe, "1,500000") == 0) {
        chosen = name;
        return;
      }
    }
    restore();
  }
  ~DecimalCommaLocale() { restore(); }
  DecimalCommaLocale(const DecimalCommaLocale &) = delete;
  DecimalCommaLocale &operator=(const DecimalCommaLocale &) = delete;

  // Whether a locale with a decimal comma is in force (none may be installed).
  bool active() const { return chosen != nullptr; }
  // Puts the host's locale back before the destructor would.
  void restore() { setlocale(LC_NUMERIC, previous.c_str()); }

 private:
  std::string previous;
  const char *chosen = nullptr;
};

#endif
