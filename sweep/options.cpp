#include "options.h"

#include "limits.h"
#include "nodes.h"

#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdlib>

namespace sweep {

Parsed parse_options(int argc, const char *const *argv,
                     const std::string &default_program) {
  CLI::App app{"Runs exchange between pairs of nodes, in rounds, each pair "
               "bounded in time, and names the nodes and links that fail.",
               "exchange-sweep"};
  Options options;
  std::string mpi;
  std::string hosts;
  app.add_option("--pattern", options.pattern,
                 "ring: every node with its successor; all: every pair")
      ->check(CLI::IsMember({"ring", "all"}));
  app.add_option("--timeout", options.timeout,
                 "seconds that each pair's job may take (default 30)")
      ->check(CLI::Validator(
          [](const std::string &text) {
            char *end = nullptr;
            const double seconds = std::strtod(text.c_str(), &end);
            return *end == '\0' && std::isfinite(seconds) && seconds > 0
                       ? std::string()
                       : "'" + text + "' is not a positive number of seconds";
          },
          "SECONDS"));
  app.add_option("--retries", options.retries,
                 "further tries of a pair that did not pass (default 1)")
      ->check(CLI::Range(0, 10));
  app.add_option("--parallel", options.parallel,
                 "pairs at once at most (default " +
                     std::to_string(default_parallel) + ")")
      ->check(CLI::Range(std::size_t{1}, std::size_t{100000}));
  app.add_option("--worst-case", options.worst_case,
                 "print the minutes a sweep of N nodes can take at worst, "
                 "with the other options as given, and exit")
      ->check(CLI::Range(std::size_t{2}, std::size_t{1000000}));
  app.add_option("--json", options.json, "write the results as JSON to FILE");
  app.add_option("--junit", options.junit,
                 "write the results as JUnit XML to FILE");
  app.add_option("--html", options.html,
                 "write the sweep as a page, the matrix of pairs, to FILE");
  app.add_option("--topology", options.topology,
                 "the switch tree, in topology.conf's syntax (default inside "
                 "an allocation: scontrol show topology)");
  std::string drain_value;
  // A flag, --drain, or --drain=dry-run: it never takes the word after it.
  auto *drain = app.add_flag("--drain{on}", drain_value,
                             "inside an allocation, drain the suspect nodes "
                             "after the sweep; --drain=dry-run says what it "
                             "would do and does nothing")
                    ->check(CLI::IsMember({"on", "dry-run"}));
  app.add_option("--drain-max", options.drain_max,
                 "drain none when more than N would be (default: one in 20 "
                 "of the nodes, at least 1)")
      ->check(CLI::Range(std::size_t{1}, std::size_t{1000000}));
  app.add_option("--mpi", mpi,
                 "the program's MPI (default: read off the program)")
      ->check(CLI::IsMember({"mpich", "openmpi"}));
  auto *list = app.add_option("--hosts", hosts, "the nodes, H1,H2,...");
  app.add_option("--hostfile", options.hostfile, "the nodes, one a line")
      ->excludes(list);
  auto *program = app.add_option("PROGRAM", options.program,
                                 "the exchange program each pair runs");
  if (default_program.empty()) {
    program->required();
  } else {
    options.program = default_program;
    program->description("the exchange program each pair runs (default " +
                         default_program + ")");
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp &) {
    return {std::nullopt, 0, app.help()};
  } catch (const CLI::ParseError &error) {
    return {std::nullopt, 2, std::string("exchange-sweep: ") + error.what()};
  }
  if (drain->count() > 0) {
    options.drain = drain_value;
  }
  if (options.parallel == 0) {
    options.parallel = default_parallel;
  }
  if (!mpi.empty()) {
    options.mpi = mpi == "mpich" ? Mpi::mpich : Mpi::openmpi;
  }
  options.hosts = split_hosts(hosts);
  if (!hosts.empty() && options.hosts.empty()) {
    return {std::nullopt, 2, "exchange-sweep: --hosts names no host"};
  }
  return {options, 0, ""};
}

} // namespace sweep
