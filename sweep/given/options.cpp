#include "given/options.h"

#include "given/hosts.h"
#include "given/text.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace sweep {

namespace {

// A number within [LOW, HIGH] (LOW itself excluded when OPEN), whole when
// WHOLE; the message names the range, so that no number can overflow what
// is computed from it.
CLI::Validator within(double low, double high, bool whole, bool open = false) {
  const auto text_of = [](double value) {
    std::string text = std::to_string(value);
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') {
      text.pop_back();
    }
    return text;
  };
  const std::string range =
      (open ? "(" : "[") + text_of(low) + ", " + text_of(high) + "]";
  return {[=](const std::string &text) {
            char *end = nullptr;
            errno = 0;
            const double value = std::strtod(text.c_str(), &end);
            const bool number = !text.empty() && *end == '\0' && errno == 0 &&
                                std::isfinite(value);
            const bool fits =
                number && (open ? value > low : value >= low) &&
                value <= high &&
                (!whole ||
                 (value == std::floor(value) &&
                  text.find_first_not_of("0123456789") == std::string::npos));
            return fits ? std::string()
                        : "'" + one_line(text, 40) + "' is not " +
                              (whole ? "a whole number" : "a number") + " in " +
                              range;
          },
          whole ? "N" : "NUMBER"};
}

} // namespace

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
                 "seconds that each pair's job may take, above 0 and at "
                 "most 86400 (default 30)")
      ->check(within(0, 86400, false, true));
  app.add_option("--retries", options.retries,
                 "further tries of a pair that did not pass, 0 to 10 "
                 "(default 1)")
      ->check(within(0, 10, true));
  app.add_option("--parallel", options.parallel,
                 "pairs at once at most, 1 to 100000 (default " +
                     std::to_string(default_parallel) + ")")
      ->check(within(1, 100000, true));
  app.add_option("--worst-case", options.worst_case,
                 "print the minutes a sweep of N nodes (2 to 1000000) can "
                 "take at worst, with the other options as given, and exit")
      ->check(within(2, 1000000, true));
  app.add_option("--json", options.json, "write the results as JSON to FILE");
  app.add_option("--junit", options.junit,
                 "write the results as JUnit XML to FILE");
  app.add_option("--html", options.html,
                 "write the sweep as a page, the matrix of pairs, to FILE");
  app.add_option("--topology", options.topology,
                 "the switch tree, in topology.conf's syntax, or none to "
                 "use no tree (default inside an allocation: scontrol show "
                 "topology)");
  std::string drain_value;
  // A flag, --drain, or --drain=dry-run: it never takes the word after it.
  auto *drain = app.add_flag("--drain{on}", drain_value,
                             "inside an allocation, drain the suspect nodes "
                             "after the sweep; --drain=dry-run says what it "
                             "would do and does nothing")
                    ->check(CLI::IsMember({"on", "dry-run"}));
  app.add_option("--drain-max", options.drain_max,
                 "drain none when more than N (1 to 1000000) would be "
                 "(default: one in 20 of the nodes, at least 1)")
      ->check(within(1, 1000000, true));
  auto *no_measure =
      app.add_flag("--no-measure", "exchange only, as exchange does: no "
                                   "latency, no bandwidth, no slow verdict");
  app.add_option("--probe", options.probe,
                 "the measuring program each pair runs (default: "
                 "exchange-probe of the sweep's MPI, beside it)")
      ->excludes(no_measure);
  app.add_option("--measure-time", options.measure_time,
                 "seconds a pair's bandwidth is measured, both ways, 0.01 "
                 "to 60 (default 0.2)")
      ->check(within(0.01, 60, false))
      ->excludes(no_measure);
  app.add_option("--slow-bandwidth", options.slow_bandwidth,
                 "a pair is slow below this share of its class's median "
                 "bandwidth, above 0 and below 1 (default 0.05)")
      ->check(within(0.001, 0.999, false))
      ->excludes(no_measure);
  app.add_option("--slow-latency", options.slow_latency,
                 "or above this multiple of its class's median latency, and "
                 "1 ms more, 1.1 to 1000 (default 4)")
      ->check(within(1.1, 1000, false))
      ->excludes(no_measure);
  auto *least = app.add_option("--min-bandwidth", options.min_bandwidth,
                               "slow below BYTES a second, whatever the "
                               "others did (a data sheet's figure)")
                    ->check(within(1, 1e15, false))
                    ->excludes(no_measure);
  auto *most = app.add_option("--max-latency", options.max_latency,
                              "slow above SECONDS of latency, whatever the "
                              "others did")
                   ->check(within(1e-9, 3600, false))
                   ->excludes(no_measure);
  least->type_name("BYTES");
  most->type_name("SECONDS");
  app.add_option("--engine", options.engine,
                 "auto: every pair in one job (the mesh), then a job a pair "
                 "for what it did not pass; mesh: the mesh alone; pairs: a "
                 "job a pair (default auto)")
      ->check(CLI::IsMember({"auto", "mesh", "pairs"}));
  app.add_option("--mesh", options.mesh,
                 "the mesh's program (default: exchange-mesh of the sweep's "
                 "MPI, beside it)");
  app.add_flag("--drain-slow", options.drain_slow,
               "with --drain, drain the slow nodes too");
  app.add_flag("--verbose", options.verbose,
               "say on standard error every command the sweep starts and "
               "when each pair starts and ends");
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
    return {std::nullopt, 2,
            std::string("exchange-sweep: ") + one_line(error.what(), 300)};
  }
  if (drain->count() > 0) {
    options.drain = drain_value;
  }
  options.measure = no_measure->count() == 0;
  options.program_given = program->count() > 0;
  if (options.program_given && !options.probe.empty()) {
    return {std::nullopt, 2,
            "exchange-sweep: PROGRAM is exchange, run with --no-measure; the "
            "measuring program is --probe"};
  }
  if (options.program_given && options.engine == "mesh") {
    return {std::nullopt, 2,
            "exchange-sweep: the mesh runs its own exchange; a PROGRAM runs "
            "a job a pair"};
  }
  if (options.drain_slow && options.drain.empty()) {
    return {std::nullopt, 2, "exchange-sweep: --drain-slow goes with --drain"};
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
