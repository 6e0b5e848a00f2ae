// Making sure the sweep's steps that had to be ended are gone: each is
// looked for by its name among the steps of the sweep's own job, cancelled
// by its id, and looked for again, until it is gone or cancel_bound has
// passed; then it is reported as a step that would not go. One squeue or
// scancel runs at a time, for every step wanted so far.
#pragma once

#include "act/process.h"
#include "given/slurm.h"

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace sweep {

class Canceller {
public:
  // Its helpers run in WATCH, which the caller waits on and then calls
  // tend(). Outside an allocation (no job id) it does nothing.
  Canceller(const OwnJob &job, Watch &watch, const Environment &environment);

  // A step to make sure of; one wanted or made sure of before is not
  // looked for again.
  void want(const std::string &name);
  void tend();
  // Seconds until tend() has something to do, at most 1.
  [[nodiscard]] double until_next() const;
  [[nodiscard]] bool idle() const;
  // The steps that were still there at their bound, or could not be
  // looked for, each with why.
  [[nodiscard]] const std::vector<std::string> &stuck() const { return stuck_; }

private:
  void start(const std::vector<std::string> &command);
  void listed(const Process &helper);
  void give_up_on_expired();

  const OwnJob &job_;
  Watch &watch_;
  const Environment &environment_;
  std::map<std::string, Clock::time_point> wanted_; // and since when
  std::set<std::string> seen_;  // ever wanted: never looked for twice over
  std::set<std::string> asked_; // what the running squeue looks for
  std::vector<std::string> stuck_;
  std::size_t helper_ = Watch::none;
  bool listing_ = false;
  Clock::time_point next_; // when to look again
};

} // namespace sweep
