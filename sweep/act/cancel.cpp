#include "act/cancel.h"

#include "act/log.h"
#include "act/steps.h"
#include "decide/budget.h"
#include "given/text.h"

#include <algorithm>
#include <csignal>

namespace sweep {

namespace {

// A step cancelled is looked for again this long after.
constexpr double recheck = 1;

Clock::time_point after(Clock::time_point from, double seconds) {
  return from + std::chrono::duration_cast<Clock::duration>(
                    std::chrono::duration<double>(seconds));
}

double seconds_between(Clock::time_point from, Clock::time_point until) {
  return std::chrono::duration<double>(until - from).count();
}

} // namespace

Canceller::Canceller(const OwnJob &job, Watch &watch,
                     const Environment &environment)
    : job_(job), watch_(watch), environment_(environment) {}

void Canceller::want(const std::string &name) {
  if (job_.id.empty() || !seen_.insert(name).second) {
    return;
  }
  const auto now = Clock::now();
  if (wanted_.empty() && helper_ == Watch::none) {
    // The stuck steps of a round come close together: looked for at once.
    next_ = after(now, gather_steps);
  }
  wanted_.emplace(name, now);
}

bool Canceller::idle() const {
  return wanted_.empty() && helper_ == Watch::none;
}

double Canceller::until_next() const {
  if (helper_ != Watch::none) {
    return 0.1;
  }
  if (wanted_.empty()) {
    return 1;
  }
  return std::clamp(seconds_between(Clock::now(), next_), 0.0, 1.0);
}

void Canceller::start(const std::vector<std::string> &command) {
  std::string error;
  int code = 0;
  helper_ = watch_.start(command, environment_, error, code);
  if (helper_ == Watch::none) {
    say("cannot start " + command.front() + ": " + error);
    next_ = after(Clock::now(), recheck);
  }
}

void Canceller::give_up_on_expired() {
  const auto now = Clock::now();
  for (auto wanted = wanted_.begin(); wanted != wanted_.end();) {
    if (seconds_between(wanted->second, now) >= cancel_bound) {
      stuck_.push_back(wanted->first + ": not seen gone " +
                       std::to_string(static_cast<long>(cancel_bound)) +
                       " s after it had to be ended");
      wanted = wanted_.erase(wanted);
    } else {
      ++wanted;
    }
  }
}

void Canceller::listed(const Process &helper) {
  if (helper.status != 0) {
    say("squeue failed (status " + std::to_string(helper.status) +
        "): " + one_line(helper.err.kept));
    next_ = after(Clock::now(), recheck);
    return;
  }
  std::set<std::string> twice;
  const auto found = steps_to_cancel(helper.out.kept, job_, asked_, &twice);
  for (const auto &name : asked_) {
    if (twice.count(name) > 0) {
      stuck_.push_back(name + ": squeue shows two steps of that name, so "
                              "neither was cancelled");
      wanted_.erase(name);
    } else if (found.count(name) == 0) {
      wanted_.erase(name); // gone
    }
  }
  std::vector<std::string> ids;
  for (const auto &[name, id] : found) {
    if (wanted_.count(name) > 0) {
      ids.push_back(id);
    }
  }
  if (!ids.empty()) {
    start(cancel_command(ids));
  }
}

void Canceller::tend() {
  if (job_.id.empty()) {
    return;
  }
  if (helper_ != Watch::none) {
    Process &process = watch_[helper_];
    const double elapsed = seconds_between(process.start, Clock::now());
    if (!process.ended && elapsed > helper_bound) {
      signal_group(process.pid, SIGKILL);
    }
    if (!process.ended || ((process.out.fd >= 0 || process.err.fd >= 0) &&
                           elapsed < process.ended_after + streams_after_end)) {
      return;
    }
    watch_.close_streams(helper_);
    helper_ = Watch::none;
    if (listing_) {
      listing_ = false;
      listed(process);
      asked_.clear();
      if (helper_ != Watch::none) {
        return; // scancel is on its way
      }
    } else {
      if (process.status != 0) {
        say("scancel failed (status " + std::to_string(process.status) +
            "): " + one_line(process.err.kept));
      }
      // Cancelled, or not: it is looked for again either way.
      next_ = after(Clock::now(), recheck);
    }
  }
  if (helper_ != Watch::none || wanted_.empty() || Clock::now() < next_) {
    return;
  }
  give_up_on_expired();
  if (wanted_.empty()) {
    return;
  }
  for (const auto &wanted : wanted_) {
    asked_.insert(wanted.first);
  }
  listing_ = true;
  start(list_steps_command(job_));
  if (helper_ == Watch::none) {
    listing_ = false;
    asked_.clear();
  }
}

} // namespace sweep
