// Running the jobs of a round side by side, each bounded in time, and
// ending whatever outlives its bound: only what the sweep started.
#pragma once

#include "act/flavour.h"
#include "act/process.h"
#include "decide/schedule.h"
#include "decide/verdict.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sweep {

class RoundRun;

// One job to run: its command, the step it is (inside an allocation), its
// bound, a name for --verbose, and where its standard output goes as it
// comes (kept, bounded, when none).
struct JobSpec {
  std::vector<std::string> argv;
  std::string step;
  double bound = 30;
  std::string name;
  std::function<void(std::string_view)> sink;
  // When set, the job must have STARTED by START_BOUND, or it is ended
  // then as at its bound.
  std::function<bool()> started;
  double start_bound = 0;
  // When set and true, the job has said all it will: if it has not ended
  // a few seconds later, it is ended as at its bound, but not counted
  // past it.
  std::function<bool()> finished;
};

class Rounds {
public:
  Rounds(const Launch &launch, const Environment &environment);
  Rounds(const Rounds &) = delete;
  Rounds &operator=(const Rounds &) = delete;
  Rounds(Rounds &&) = delete;
  Rounds &operator=(Rounds &&) = delete;
  // Ends what is left, as end_all() does.
  ~Rounds();

  // Runs the jobs of ROUND, at most launch.parallel at once, and says how
  // each ended. A job still running at its bound is ended through its
  // launcher: srun is sent SIGTERM, which it passes on to its step as a
  // kill; mpiexec is first left a few seconds for its own bound, which
  // also ends the ranks on the other node, then sent SIGTERM. A step that
  // had to be ended is then made sure of (cancel.h); last, the launcher's
  // process group is killed. The round ends when every job has ended and
  // every such step is gone or given up on.
  //
  // When the sweep is to stop (stop.h), it returns at once: the jobs still
  // running are sent their end and cut short, those not started never
  // will be; end_all() then ends them, so that the reports can be written
  // first. When the sweep itself cannot start a job (out of descriptors or
  // processes), that is no pair's failure: the sweep fails so.
  std::vector<Outcome> run(const Round &round);
  // Runs SPECS as run() runs a round's pairs: at most launch.parallel at
  // once, each ended at its own bound.
  std::vector<Outcome> run_jobs(std::vector<JobSpec> specs);
  // Ends whatever a round cut short left running, within its bounds; a
  // second signal kills it all at once.
  void end_all();
  // The steps that would not go, each with why.
  [[nodiscard]] const std::vector<std::string> &stuck_steps() const {
    return stuck_;
  }

private:
  const Launch &launch_;
  const Environment &environment_;
  std::unique_ptr<RoundRun> left_; // a round cut short, still ending
  std::vector<std::string> stuck_;
};

} // namespace sweep
