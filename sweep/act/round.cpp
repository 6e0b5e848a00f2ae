#include "act/round.h"

#include "act/cancel.h"
#include "act/log.h"
#include "act/steps.h"
#include "act/stop.h"
#include "decide/budget.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <functional>
#include <queue>
#include <sstream>
#include <utility>

namespace sweep {

namespace {

double seconds_between(Clock::time_point from, Clock::time_point until) {
  return std::chrono::duration<double>(until - from).count();
}

Clock::time_point after(Clock::time_point from, double seconds) {
  return from + std::chrono::duration_cast<Clock::duration>(
                    std::chrono::duration<double>(seconds));
}

std::string seconds_text(double seconds) {
  std::ostringstream text;
  text.setf(std::ios::fixed);
  text.precision(3);
  text << seconds;
  return text.str();
}

// Where ending a job has got to.
enum class Stage { running, own_bound, terminated, killed };

struct Job {
  std::size_t process = Watch::none;
  std::string step;
  Stage stage = Stage::running;
  Clock::time_point next; // when it is looked at again
  bool timed_out = false;
  bool cut_short = false;
  bool ended_by_us = false;
  bool done = false;
  bool said_all = false;         // its spec's finished() came true
  Clock::time_point said_all_by; // then it is ended, if still there
  Outcome outcome;
};

} // namespace

class RoundRun {
public:
  RoundRun(const Launch &launch, std::vector<JobSpec> specs,
           const Environment &environment)
      : launch_(launch), specs_(std::move(specs)), environment_(environment),
        jobs_(specs_.size()), canceller_(launch.job, watch_, environment) {}

  // Until every job has ended and every step that had to be ended is made
  // sure of, or until the sweep is to stop.
  std::vector<Outcome> run() {
    const std::size_t most =
        launch_.parallel == 0 ? specs_.size() : launch_.parallel;
    while (true) {
      while (next_ < specs_.size() && running_ < most && !stopping()) {
        begin(next_++);
      }
      if (stopping()) {
        heed_stops();
        break;
      }
      if (ended()) {
        break;
      }
      watch_.wait(until_next());
      tend();
    }
    std::vector<Outcome> outcomes;
    const auto now = Clock::now();
    for (const auto &job : jobs_) {
      Outcome outcome = job.outcome;
      if (!job.done && job.process != Watch::none) {
        outcome.seconds = seconds_between(watch_[job.process].start, now);
      }
      outcome.timed_out = job.timed_out;
      outcome.cut_short = (job.cut_short || !job.done) && !job.timed_out;
      outcomes.push_back(std::move(outcome));
    }
    return outcomes;
  }

  // After a stop: ends every job and makes sure of its step, within the
  // bounds; asked to stop twice, kills at once and waits for nothing more.
  void finish() {
    const auto deadline =
        after(Clock::now(),
              last_resort + cancel_bound + helper_bound + streams_after_end);
    while (!ended() && Clock::now() < deadline) {
      heed_stops();
      if (stop_requests() > 1 && jobs_ended()) {
        break;
      }
      watch_.wait(until_next());
      tend();
    }
  }

  [[nodiscard]] const std::vector<std::string> &stuck() const {
    return canceller_.stuck();
  }

private:
  [[nodiscard]] bool jobs_ended() const {
    return next_ == specs_.size() && running_ == 0;
  }
  [[nodiscard]] bool ended() const { return jobs_ended() && canceller_.idle(); }

  // Asked to stop: what has not started never will, and every job is
  // ended now; asked again, killed.
  void heed_stops() {
    if (stopped_at_ == 0) {
      stopped_at_ = 1;
      for (std::size_t i = next_; i < specs_.size(); ++i) {
        jobs_[i].cut_short = true;
        jobs_[i].done = true;
      }
      next_ = specs_.size();
      for (std::size_t i = 0; i < jobs_.size(); ++i) {
        stop(i);
      }
    }
    if (stop_requests() > 1 && stopped_at_ == 1) {
      stopped_at_ = 2;
      for (auto &job : jobs_) {
        kill_now(job);
      }
    }
  }

  void begin(std::size_t index) {
    Job &job = jobs_[index];
    const JobSpec &spec = specs_[index];
    job.step = spec.step;
    std::string error;
    int code = 0;
    job.process = watch_.start(spec.argv, environment_, error, code);
    if (job.process == Watch::none) {
      if (code == EMFILE || code == ENFILE || code == EAGAIN ||
          code == ENOMEM) {
        fail_sweep("cannot start a pair's job: " + error);
        job.cut_short = true;
      } else {
        job.outcome.status = 127;
        job.outcome.err = "exchange-sweep: " + error + "\n";
      }
      job.done = true;
      return;
    }
    say(spec.name + ": started");
    if (spec.sink) {
      watch_[job.process].out.sink = spec.sink;
    }
    ++running_;
    job_of_process_.resize(watch_.size(), Watch::none);
    job_of_process_[job.process] = index;
    schedule(index, after(watch_[job.process].start,
                          spec.started ? std::min(spec.start_bound, spec.bound)
                                       : spec.bound));
  }

  void schedule(std::size_t index, Clock::time_point when) {
    jobs_[index].next = when;
    timers_.push({when, index});
  }

  double until_next() {
    while (!timers_.empty() &&
           (jobs_[timers_.top().second].done ||
            jobs_[timers_.top().second].next != timers_.top().first)) {
      timers_.pop();
    }
    double wait = canceller_.until_next();
    if (!timers_.empty()) {
      wait = std::min(wait, seconds_between(Clock::now(), timers_.top().first));
    }
    return std::max(0.0, wait);
  }

  // Sends the launcher the signal that ends its job, and looks again later.
  void terminate(std::size_t index) {
    Job &job = jobs_[index];
    Process &process = watch_[job.process];
    job.ended_by_us = true;
    process.end_group = true;
    signal_process(process.pid, SIGTERM);
    job.stage = Stage::terminated;
    schedule(index, after(Clock::now(), launch_.launcher == Launcher::srun
                                            ? step_check
                                            : last_resort - step_check));
  }

  // Kills its whole group now; one that has ended already has had its
  // group killed as it was reaped, and its pid may be another's by now.
  void kill_now(Job &job) {
    if (job.process == Watch::none || job.done || watch_[job.process].ended) {
      return;
    }
    if (launch_.launcher == Launcher::srun) {
      canceller_.want(job.step);
    }
    watch_[job.process].end_group = true;
    signal_group(watch_[job.process].pid, SIGKILL);
    job.ended_by_us = true;
    job.stage = Stage::killed;
  }

  void stop(std::size_t index) {
    Job &job = jobs_[index];
    if (job.done || job.process == Watch::none || watch_[job.process].ended) {
      return;
    }
    if (!job.timed_out) {
      job.cut_short = true;
    }
    if (job.stage == Stage::running || job.stage == Stage::own_bound) {
      terminate(index);
    }
  }

  // A job whose time has come: at its bound, then at each stage of
  // ending it.
  void due(std::size_t index) {
    Job &job = jobs_[index];
    if (watch_[job.process].ended) {
      return;
    }
    switch (job.stage) {
    case Stage::running:
      if (job.said_all && Clock::now() >= job.said_all_by) {
        say(specs_[index].name + ": said all it will, and is still there; "
                                 "ended");
        terminate(index);
        break;
      }
      if (specs_[index].started && specs_[index].started()) {
        const auto bound =
            after(watch_[job.process].start, specs_[index].bound);
        if (Clock::now() < bound) {
          // Started in time: its own bound holds.
          schedule(index,
                   job.said_all ? std::min(bound, job.said_all_by) : bound);
          break;
        }
      }
      job.timed_out = true;
      say(specs_[index].name + ": timed out");
      // Nothing it started may outlive it.
      watch_[job.process].end_group = true;
      if (launch_.launcher == Launcher::mpiexec) {
        job.stage = Stage::own_bound;
        schedule(index, after(Clock::now(), mpiexec_own_bound));
      } else {
        terminate(index);
      }
      break;
    case Stage::own_bound:
      terminate(index);
      break;
    case Stage::terminated:
      if (launch_.launcher == Launcher::srun) {
        canceller_.want(job.step);
      }
      job.stage = Stage::killed;
      schedule(index, after(Clock::now(), last_resort - step_check));
      break;
    case Stage::killed:
      kill_now(job);
      break;
    }
  }

  void tend() {
    const auto now = Clock::now();
    while (!timers_.empty() && timers_.top().first <= now) {
      const auto [when, index] = timers_.top();
      timers_.pop();
      const Job &job = jobs_[index];
      if (!job.done && job.next == when) {
        if (watch_[job.process].ended) {
          finish_if_ended(index, now);
        } else {
          due(index);
        }
      }
    }
    for (const std::size_t process : watch_.take_changed()) {
      if (process < job_of_process_.size() &&
          job_of_process_[process] != Watch::none) {
        finish_if_ended(job_of_process_[process], now);
      }
    }
    end_finished();
    canceller_.tend();
  }

  // A job that said all it will is left a moment to leave on its own,
  // then ended: a library may hang in leaving (MPICH 4.0's finalize).
  void end_finished() {
    for (std::size_t index = 0; index < jobs_.size(); ++index) {
      Job &job = jobs_[index];
      if (specs_[index].finished && !job.said_all && !job.done &&
          job.process != Watch::none && job.stage == Stage::running &&
          !watch_[job.process].ended && specs_[index].finished()) {
        job.said_all = true;
        job.said_all_by = after(Clock::now(), said_all_grace);
        say(specs_[index].name + ": said all it will");
        schedule(index, std::min(job.next, job.said_all_by));
      }
    }
  }

  void finish_if_ended(std::size_t index, Clock::time_point now) {
    Job &job = jobs_[index];
    if (job.done || job.process == Watch::none) {
      return;
    }
    Process &process = watch_[job.process];
    if (!process.ended) {
      return;
    }
    if (process.out.fd >= 0 || process.err.fd >= 0) {
      const auto last =
          after(process.start, process.ended_after + streams_after_end);
      if (now < last) {
        schedule(index, last);
        return;
      }
      watch_.close_streams(job.process);
    }
    if ((job.ended_by_us || job.timed_out) &&
        launch_.launcher == Launcher::srun) {
      // It had to be ended: its step is made sure of.
      canceller_.want(job.step);
    }
    if (process.ended_after >= specs_[index].bound) {
      job.timed_out = true;
    }
    job.outcome.status = process.status;
    job.outcome.seconds = process.ended_after;
    job.outcome.out = std::move(process.out.kept);
    job.outcome.err = std::move(process.err.kept);
    job.outcome.dropped = process.out.dropped + process.err.dropped;
    job.done = true;
    --running_;
    say(specs_[index].name + ": ended after " +
        seconds_text(process.ended_after) + " s, status " +
        std::to_string(process.status) +
        (job.timed_out ? ", past its bound" : ""));
  }

  const Launch &launch_;
  const std::vector<JobSpec> specs_; // its own: it may outlive the caller
  const Environment &environment_;
  std::vector<Job> jobs_;
  Watch watch_;
  Canceller canceller_;
  std::vector<std::size_t> job_of_process_;
  std::size_t next_ = 0; // the next pair to start
  std::size_t running_ = 0;
  int stopped_at_ = 0;
  using Timer = std::pair<Clock::time_point, std::size_t>;
  std::priority_queue<Timer, std::vector<Timer>, std::greater<>> timers_;
};

Rounds::Rounds(const Launch &launch, const Environment &environment)
    : launch_(launch), environment_(environment) {}

Rounds::~Rounds() { end_all(); }

std::vector<Outcome> Rounds::run(const Round &round) {
  static unsigned long steps = 0;
  std::vector<JobSpec> specs;
  for (const auto &pair : round) {
    JobSpec spec;
    spec.step = step_prefix() + std::to_string(++steps);
    spec.argv = job_command(launch_, pair, spec.step);
    spec.bound = launch_.timeout;
    spec.name = "pair " + pair.first + "-" + pair.second;
    specs.push_back(std::move(spec));
  }
  return run_jobs(std::move(specs));
}

std::vector<Outcome> Rounds::run_jobs(std::vector<JobSpec> specs) {
  auto running =
      std::make_unique<RoundRun>(launch_, std::move(specs), environment_);
  auto outcomes = running->run();
  if (stopping()) {
    // Its jobs are still being ended: end_all() sees to them, after the
    // reports.
    left_ = std::move(running);
  } else {
    stuck_.insert(stuck_.end(), running->stuck().begin(),
                  running->stuck().end());
  }
  return outcomes;
}

void Rounds::end_all() {
  if (!left_) {
    return;
  }
  left_->finish();
  stuck_.insert(stuck_.end(), left_->stuck().begin(), left_->stuck().end());
  left_.reset(); // kills and reaps whatever is left
}

} // namespace sweep
