// The command line.
#pragma once

#include "launch.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace sweep {

struct Options {
  std::string pattern = "ring";
  double timeout = 30;
  int retries = 1;
  std::size_t parallel = 0;   // 0: the default
  std::size_t worst_case = 0; // nodes to give the worst case for, or 0
  std::string json;
  std::string junit;
  std::string html;
  std::string topology;
  std::string drain;         // "", "on" or "dry-run"
  std::size_t drain_max = 0; // 0: the default
  std::optional<Mpi> mpi;
  std::vector<std::string> hosts;
  std::string hostfile;
  std::string program;
};

// The options, or what to print and the status to exit with: help (0), or
// one line on bad usage (2).
struct Parsed {
  std::optional<Options> options;
  int status = 0;
  std::string message;
};
Parsed parse_options(int argc, const char *const *argv,
                     const std::string &default_program);

} // namespace sweep
