// The command line: every option checked, every number within its range.
#pragma once

#include "given/program.h"

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sweep {

// What stops the sweep before anything is launched: one line, status 2.
struct Refusal : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Pairs at once when --parallel is not given: each is a launcher on the
// sweep's host, and 64 keep them small while a ring of 1,000 nodes still
// ends in minutes.
constexpr std::size_t default_parallel = 64;

struct Options {
  std::string pattern = "ring";
  double timeout = 30;
  int retries = 1;
  std::size_t parallel = default_parallel;
  std::size_t worst_case = 0; // nodes to give the worst case for, or 0
  std::string json;
  std::string junit;
  std::string html;
  std::string topology;      // a file, "none", or empty: Slurm's if any
  std::string drain;         // "", "on" or "dry-run"
  std::size_t drain_max = 0; // 0: the default
  bool verbose = false;
  std::optional<Mpi> mpi;
  std::vector<std::string> hosts;
  std::string hostfile;
  std::string program;        // exchange, run when not measuring
  bool program_given = false; // named on the command line
  // Measuring: the probe (empty: beside the sweep), and its verdicts.
  bool measure = true;
  std::string probe;
  double measure_time = 0.2;
  double slow_bandwidth = 0.05;
  double slow_latency = 4;
  std::optional<double> min_bandwidth;
  std::optional<double> max_latency;
  bool drain_slow = false;
  // How pairs run: the mesh (one job of every pair) then a job a pair for
  // what it did not pass (auto), the mesh alone, or a job a pair.
  std::string engine = "auto";
  std::string mesh; // the mesh's program (empty: beside the sweep)
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
