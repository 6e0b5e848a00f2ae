// exchange-sweep: runs exchange between pairs of nodes, in rounds of
// disjoint pairs, each pair bounded in time; tries again what did not
// pass and confirms each failing node with a known-good partner; reports
// every pair, and names the nodes, links, uplinks and switches that the
// evidence points at.
//
// The story of one sweep, room by room: what it is given is checked
// (given/), the rounds are run (act/) as the sweep decides them (decide/),
// the findings are decided (decide/) and acted on (act/drain), and every
// report is written (tell/) before anything left running is ended.
#include "act/log.h"
#include "act/process.h"
#include "act/round.h"
#include "act/stop.h"
#include "given/options.h"
#include "given/text.h"
#include "setup.h"
#include "tell/progress.h"

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <iostream>

namespace {

using namespace sweep;

int status_of(const Report &report, std::size_t lost) {
  if (!sweep_failure().empty()) {
    std::cerr << "exchange-sweep: " << sweep_failure() << "\n";
    return 2;
  }
  if (stop_signal() != 0) {
    return 128 + stop_signal();
  }
  if (report.findings.global_fault) {
    return 3;
  }
  if (!all_clear(report)) {
    return 1;
  }
  // Nothing to blame, but not every report could be written.
  return lost > 0 ? 4 : 0;
}

int sweep_with(const Options &options) {
  const auto start = std::chrono::steady_clock::now();
  Setup setup = prepare(options);
  const Environment environment(added_environment(setup.launch),
                                removed_environment(setup.launch));
  Rounds rounds(setup.launch, environment);
  const Swept swept = run_sweep(
      setup.plan, [&](const Round &round) { return rounds.run(round); },
      stopping,
      [](int number, const char *kind, const Round &round,
         const std::vector<Attempt> &tries) {
        std::cerr << round_line(number, kind, round, tries) << "\n";
      });
  Report report = report_of(options, setup, swept, start);
  report.stuck_steps = rounds.stuck_steps();
  // The reports first, then the ending of what a stop left running: Slurm
  // allows a job only KillWait after its SIGTERM.
  const auto lost = deliver(report, setup.files, STDOUT_FILENO);
  for (const auto &why : lost) {
    std::cerr << "exchange-sweep: report lost: " << one_line(why, 400) << "\n";
  }
  const std::size_t known = rounds.stuck_steps().size();
  rounds.end_all();
  for (std::size_t i = known; i < rounds.stuck_steps().size(); ++i) {
    std::cerr << "exchange-sweep: warning: a step would not go: "
              << rounds.stuck_steps()[i] << "\n";
  }
  return status_of(report, lost.size());
}

} // namespace

int main(int argc, char **argv) {
  install_stop_handlers();
  try {
    const Parsed parsed = parse_options(argc, argv, program_beside_me());
    if (!parsed.options) {
      (parsed.status == 0 ? std::cout : std::cerr) << parsed.message << "\n";
      return parsed.status;
    }
    const Options &options = *parsed.options;
    set_verbose(options.verbose);
    if (options.worst_case > 0) {
      const bool steps = options.hosts.empty() && options.hostfile.empty();
      std::cout << static_cast<long>(std::ceil(
                       worst_case(options, options.worst_case, steps) / 60))
                << "\n";
      return 0;
    }
    return sweep_with(options);
  } catch (const Refusal &refusal) {
    std::cerr << "exchange-sweep: " << refusal.what() << "\n";
  } catch (const std::exception &error) {
    std::cerr << "exchange-sweep: " << one_line(error.what()) << "\n";
  }
  return 2;
}
