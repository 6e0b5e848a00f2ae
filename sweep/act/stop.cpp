#include "act/stop.h"

#include "act/process.h"

#include <csignal>

namespace sweep {

namespace {

// Set from the signal handler.
volatile std::sig_atomic_t stops = 0;  // NOLINT
volatile std::sig_atomic_t caught = 0; // NOLINT

std::string &failure_text() {
  static std::string text;
  return text;
}

extern "C" void on_signal(int signal) {
  if (caught == 0) {
    caught = signal;
  }
  if (stops < 2) {
    stops = stops + 1;
  }
  wake();
}

} // namespace

void install_stop_handlers() { prepare_signals(on_signal); }

int stop_requests() { return stops; }

int stop_signal() { return caught; }

const std::string &sweep_failure() { return failure_text(); }

void fail_sweep(const std::string &why) {
  if (failure_text().empty()) {
    failure_text() = why;
  }
  wake();
}

bool stopping() { return stops > 0 || !failure_text().empty(); }

} // namespace sweep
