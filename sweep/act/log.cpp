#include "act/log.h"

#include "given/text.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace sweep {

namespace {

bool on = false; // NOLINT: set once, from the options

std::chrono::steady_clock::time_point began() {
  static const auto start = std::chrono::steady_clock::now();
  return start;
}

} // namespace

void set_verbose(bool value) {
  on = value;
  began();
}

bool verbose() { return on; }

void say(const std::string &line) {
  if (!on) {
    return;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began())
          .count();
  char stamp[32];
  (void)std::snprintf(stamp, sizeof stamp, "%.3f", seconds);
  const std::string whole =
      "exchange-sweep: " + std::string(stamp) + " s: " + line + "\n";
  // One write, so that the line is never split by another's.
  if (write(STDERR_FILENO, whole.data(), whole.size()) < 0) {
    on = false;
  }
}

std::string quoted(const std::vector<std::string> &argv) {
  std::string line;
  for (const auto &word : argv) {
    if (!line.empty()) {
      line += ' ';
    }
    const std::string safe = one_line(word, 1000);
    if (!safe.empty() &&
        safe.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRS"
                               "TUVWXYZ0123456789-_./=,:+%@") ==
            std::string::npos) {
      line += safe;
      continue;
    }
    line += '\'';
    for (const char character : safe) {
      line +=
          character == '\'' ? std::string("'\\''") : std::string(1, character);
    }
    line += '\'';
  }
  return line;
}

} // namespace sweep
