#include "act/steps.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <sstream>

namespace sweep {

namespace {

bool all_digits(const std::string &text) {
  return !text.empty() &&
         text.find_first_not_of("0123456789") == std::string::npos;
}

// Whether ID is a numbered step of the job whose id is PREFIX.
bool step_of(const std::string &step, const std::string &prefix) {
  return !prefix.empty() && step.size() > prefix.size() + 1 &&
         step.compare(0, prefix.size(), prefix) == 0 &&
         step[prefix.size()] == '.' &&
         all_digits(step.substr(prefix.size() + 1));
}

// 64 random bits: from the kernel, or else from the clock and the pid.
std::uint64_t random_bits() {
  std::uint64_t bits = 0;
  const int source = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  const bool read_all = source >= 0 && read(source, &bits, sizeof bits) ==
                                           static_cast<ssize_t>(sizeof bits);
  if (source >= 0) {
    close(source);
  }
  if (!read_all) {
    bits = static_cast<std::uint64_t>(
               std::chrono::system_clock::now().time_since_epoch().count()) ^
           (static_cast<std::uint64_t>(getpid()) << 32U);
  }
  return bits;
}

} // namespace

std::string step_prefix() {
  // Sweeps on two hosts of one job may have the same pid; never the same
  // 64 random bits.
  static const std::string prefix = [] {
    std::array<char, 17> hex{};
    (void)std::snprintf(hex.data(), hex.size(), "%016llx",
                        static_cast<unsigned long long>(random_bits()));
    return "exchange-sweep." + std::string(hex.data()) + ".";
  }();
  return prefix;
}

std::vector<std::string> list_steps_command(const OwnJob &job) {
  return {"squeue", "--noheader", "--steps", "--jobs=" + job.id,
          "--format=%i %j"};
}

std::map<std::string, std::string>
steps_to_cancel(const std::string &listing, const OwnJob &job,
                const std::set<std::string> &names,
                std::set<std::string> *twice) {
  std::map<std::string, std::vector<std::string>> ids_of;
  std::istringstream lines(listing);
  for (std::string line; std::getline(lines, line);) {
    const auto blank = line.find(' ');
    if (blank == std::string::npos) {
      continue;
    }
    const std::string step = line.substr(0, blank);
    std::string name = line.substr(blank + 1);
    name.erase(name.find_last_not_of(" \t\r") + 1);
    if (names.count(name) > 0 &&
        (step_of(step, job.id) || step_of(step, job.array_id))) {
      ids_of[name].push_back(step);
    }
  }
  std::map<std::string, std::string> ids;
  for (const auto &[name, found] : ids_of) {
    if (found.size() == 1) {
      ids[name] = found.front();
    } else if (twice != nullptr) {
      twice->insert(name);
    }
  }
  return ids;
}

std::vector<std::string> cancel_command(const std::vector<std::string> &ids) {
  std::vector<std::string> command{"scancel", "--quiet"};
  command.insert(command.end(), ids.begin(), ids.end());
  return command;
}

} // namespace sweep
