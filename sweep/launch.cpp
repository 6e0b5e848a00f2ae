#include "launch.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <queue>
#include <set>

namespace sweep {

namespace {

// Set from signal handlers: how often the sweep was asked to stop.
volatile std::sig_atomic_t stops = 0; // NOLINT

std::string &failure_text() {
  static std::string text;
  return text;
}

// After its bound: how long mpiexec is left to end the job by its own
// bound, when a step still there is looked for, and when what is left of
// a launcher's group is killed.
constexpr double mpiexec_own_bound = 3;
constexpr double step_check = 3;
constexpr double last_resort = 10;
// A launcher's streams are read this long after it ended; what something
// it started writes later is not the job's.
constexpr double streams_after_end = 2;
// squeue and scancel are bounded too; steps to look for are gathered this
// long, so that the stuck steps of a round are looked for at once.
constexpr double helper_bound = 10;
constexpr double gather_steps = 0.25;

double seconds_between(Clock::time_point from, Clock::time_point until) {
  return std::chrono::duration<double>(until - from).count();
}

Clock::time_point after(Clock::time_point from, double seconds) {
  return from + std::chrono::duration_cast<Clock::duration>(
                    std::chrono::duration<double>(seconds));
}

std::string whole_seconds(double seconds) {
  return std::to_string(static_cast<long>(std::ceil(seconds)));
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
  Outcome outcome;
};

class RoundRun {
public:
  RoundRun(const Launch &launch, const sweep::Round &pairs,
           const Environment &environment)
      : launch_(launch), pairs_(pairs), environment_(environment),
        jobs_(pairs.size()) {}

  std::vector<Outcome> run() {
    const std::size_t most =
        launch_.parallel == 0 ? pairs_.size() : launch_.parallel;
    while (true) {
      while (next_ < pairs_.size() && running_ < most && stops == 0 &&
             failure_text().empty()) {
        begin(next_++);
      }
      heed_stops();
      if (next_ == pairs_.size() && running_ == 0 && helpers_idle()) {
        break;
      }
      watch_.wait(until_next());
      tend();
    }
    std::vector<Outcome> outcomes;
    for (auto &job : jobs_) {
      job.outcome.timed_out = job.timed_out;
      job.outcome.cut_short = job.cut_short && !job.timed_out;
      outcomes.push_back(std::move(job.outcome));
    }
    return outcomes;
  }

private:
  // Asked to stop: what has not started never will, and every job is
  // ended now; asked again, killed.
  void heed_stops() {
    const bool stopping = stops != 0 || !failure_text().empty();
    if (stopping && stopped_at_ == 0) {
      stopped_at_ = 1;
      for (std::size_t i = next_; i < pairs_.size(); ++i) {
        jobs_[i].cut_short = true;
        jobs_[i].done = true;
      }
      next_ = pairs_.size();
      for (auto &job : jobs_) {
        stop(job);
      }
    }
    if (stops > 1 && stopped_at_ == 1) {
      stopped_at_ = 2;
      for (auto &job : jobs_) {
        kill_now(job);
      }
    }
  }

  void begin(std::size_t index) {
    static unsigned long steps = 0;
    Job &job = jobs_[index];
    job.step = "exchange-sweep." + std::to_string(getpid()) + "." +
               std::to_string(++steps);
    std::string error;
    int code = 0;
    job.process = watch_.start(job_command(launch_, pairs_[index], job.step),
                               environment_, error, code);
    if (job.process == Watch::none) {
      if (code == EMFILE || code == ENFILE || code == EAGAIN ||
          code == ENOMEM) {
        failure_text() = "cannot start a pair's job: " + error;
        job.cut_short = true;
      } else {
        job.outcome.status = 127;
        job.outcome.err = "exchange-sweep: " + error + "\n";
      }
      job.done = true;
      return;
    }
    ++running_;
    job_of_process_.resize(watch_.size(), Watch::none);
    job_of_process_[job.process] = index;
    schedule(index, after(watch_[job.process].start, launch_.timeout));
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
    double wait = 1;
    if (!timers_.empty()) {
      wait = seconds_between(Clock::now(), timers_.top().first);
    }
    if (helper_ == Watch::none && !wanted_.empty()) {
      wait = std::min(wait, gather_steps -
                                seconds_between(wanted_since_, Clock::now()));
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
      want(job.step);
    }
    watch_[job.process].end_group = true;
    signal_group(watch_[job.process].pid, SIGKILL);
    job.ended_by_us = true;
    job.stage = Stage::killed;
  }

  void stop(Job &job) {
    if (job.done || job.process == Watch::none || watch_[job.process].ended) {
      return;
    }
    if (!job.timed_out) {
      job.cut_short = true;
    }
    if (job.stage == Stage::running || job.stage == Stage::own_bound) {
      terminate(static_cast<std::size_t>(&job - jobs_.data()));
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
      job.timed_out = true;
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
        want(job.step);
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
    tend_helpers();
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
      // It had to be ended: a step that is still there is cancelled.
      want(job.step);
    }
    if (process.ended_after >= launch_.timeout) {
      job.timed_out = true;
    }
    job.outcome.status = process.status;
    job.outcome.seconds = process.ended_after;
    job.outcome.out = std::move(process.out.kept);
    job.outcome.err = std::move(process.err.kept);
    job.outcome.dropped = process.out.dropped + process.err.dropped;
    job.done = true;
    --running_;
  }

  // A step to look for and cancel, unless it was cancelled already.
  void want(const std::string &step) {
    if (cancelled_.count(step) > 0) {
      return;
    }
    if (wanted_.empty()) {
      wanted_since_ = Clock::now();
    }
    wanted_.insert(step);
  }

  // squeue and scancel, one at a time, each for every step wanted so far.
  bool helpers_idle() const {
    return helper_ == Watch::none &&
           (wanted_.empty() || launch_.job.id.empty());
  }

  void tend_helpers() {
    if (launch_.job.id.empty()) {
      wanted_.clear();
      return;
    }
    if (helper_ != Watch::none) {
      Process &process = watch_[helper_];
      const double elapsed = seconds_between(process.start, Clock::now());
      if (!process.ended && elapsed > helper_bound) {
        signal_group(process.pid, SIGKILL);
      }
      if (!process.ended ||
          ((process.out.fd >= 0 || process.err.fd >= 0) &&
           elapsed < process.ended_after + streams_after_end)) {
        return;
      }
      watch_.close_streams(helper_);
      helper_ = Watch::none;
      if (listing_) {
        listing_ = false;
        const auto found =
            steps_to_cancel(process.out.kept, launch_.job, asked_);
        asked_.clear();
        std::vector<std::string> ids;
        for (const auto &[name, id] : found) {
          cancelled_.insert(name);
          ids.push_back(id);
        }
        if (!ids.empty()) {
          start_helper(cancel_command(ids));
        }
        return;
      }
    }
    if (helper_ == Watch::none && !wanted_.empty() &&
        seconds_between(wanted_since_, Clock::now()) >= gather_steps) {
      asked_.swap(wanted_);
      wanted_.clear();
      listing_ = true;
      start_helper(list_steps_command(launch_.job));
    }
  }

  void start_helper(const std::vector<std::string> &command) {
    std::string error;
    int code = 0;
    helper_ = watch_.start(command, environment_, error, code);
    if (helper_ == Watch::none) {
      listing_ = false;
      asked_.clear();
    }
  }

  const Launch &launch_;
  const sweep::Round &pairs_;
  const Environment &environment_;
  std::vector<Job> jobs_;
  Watch watch_;
  std::vector<std::size_t> job_of_process_;
  std::size_t next_ = 0; // the next pair to start
  std::size_t running_ = 0;
  int stopped_at_ = 0;
  using Timer = std::pair<Clock::time_point, std::size_t>;
  std::priority_queue<Timer, std::vector<Timer>, std::greater<>> timers_;
  std::set<std::string> wanted_;    // steps to look for and cancel
  std::set<std::string> asked_;     // those the running squeue looks for
  std::set<std::string> cancelled_; // looked for once, and cancelled if found
  Clock::time_point wanted_since_;
  std::size_t helper_ = Watch::none;
  bool listing_ = false;
};

} // namespace

int stop_requests() { return stops; }

void request_stop() {
  if (stops < 2) {
    stops = stops + 1;
  }
  wake();
}

const std::string &failure() { return failure_text(); }

std::vector<std::string> job_command(const Launch &launch, const Pair &pair,
                                     const std::string &step) {
  const std::string hosts = pair.first + "," + pair.second;
  if (launch.launcher == Launcher::srun) {
    // --time only backs up the bound here; Slurm counts in minutes.
    const long minutes = static_cast<long>(std::ceil(launch.timeout / 60)) + 1;
    return {"srun",
            launch.mpi == Mpi::mpich ? "--mpi=pmi2" : "--mpi=pmix",
            "--nodes=2",
            "--ntasks=2",
            "--ntasks-per-node=1",
            "--nodelist=" + hosts,
            "--kill-on-bad-exit=1",
            "--job-name=" + step,
            "--time=" + std::to_string(minutes),
            launch.program};
  }
  if (launch.mpi == Mpi::openmpi) {
    return {"mpiexec.openmpi",
            "--host",
            hosts,
            "--map-by",
            "node",
            "-n",
            "2",
            "--timeout",
            whole_seconds(launch.timeout),
            launch.program};
  }
  return {"mpiexec.mpich", "-hosts", hosts, "-ppn", "1", "-n", "2",
          launch.program};
}

std::vector<std::string> added_environment(const Launch &launch) {
  if (launch.launcher == Launcher::srun && launch.mpi == Mpi::openmpi &&
      std::getenv("SLURM_PMIX_FENCE") == nullptr) {
    // Slurm's PMIx plugin ends a fence that collects no data by its tree
    // by default; then Open MPI 5 now and then takes a message before its
    // world is set up, and crashes. Its ring does not (unless the site
    // chose otherwise).
    return {"SLURM_PMIX_FENCE=ring"};
  }
  if (launch.launcher == Launcher::mpiexec && launch.mpi == Mpi::mpich) {
    // Hydra takes its bound from the environment only, and counts it in
    // whole seconds of the clock: a job that ends just after a second
    // turns may find its bound a second short, and its launcher ends it in
    // error. A second more keeps the sweep's own bound the one that holds.
    return {"MPIEXEC_TIMEOUT=" +
            std::to_string(static_cast<long>(std::ceil(launch.timeout)) + 1)};
  }
  return {};
}

std::vector<std::string> removed_environment(const Launch &launch) {
  if (launch.launcher == Launcher::srun) {
    // Without them srun gives each step its own two nodes as the job's.
    // With them, Slurm's PMIx plugin counts a node by its place in the
    // whole allocation in some places and in the step in others, and the
    // two stepds of a pair that does not hold the allocation's first nodes
    // can wait for each other for ever.
    return {"SLURM_JOB_NODELIST", "SLURM_NODELIST"};
  }
  return {};
}

std::vector<Outcome> run_round(const Launch &launch, const sweep::Round &round,
                               const Environment &environment) {
  return RoundRun(launch, round, environment).run();
}

} // namespace sweep
