#include "launch.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

extern char **environ; // NOLINT: the process's own environment, from libc

namespace sweep {

namespace {

using Clock = std::chrono::steady_clock;

// Set by stop_all() from a signal handler, so a flag of the process's own.
volatile std::sig_atomic_t stopping = 0; // NOLINT

// How long a launcher that outlived its bound is given to end its job
// before its whole process group is killed.
constexpr double grace = 10;

double since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A job in flight: its launcher's process, which leads a process group of
// its own, and the pipes of its two output streams.
struct Job {
  pid_t pid = -1;
  std::array<int, 2> pipes{-1, -1};
  Clock::time_point start;
  double exited_at = -1;
  std::string step;
  int stage = 0; // how far ending it has gone: 0 not at all, 2 SIGKILL
  Outcome outcome;
};

bool running(const Job &job) { return job.pid > 0 && job.exited_at < 0; }
bool reading(const Job &job) { return job.pipes[0] >= 0 || job.pipes[1] >= 0; }

// Whole strings as the C arrays that exec wants; they live as long as this.
class Strings {
public:
  explicit Strings(std::vector<std::string> strings)
      : strings_(std::move(strings)) {
    std::transform(strings_.begin(), strings_.end(),
                   std::back_inserter(pointers_),
                   [](std::string &text) { return text.data(); });
    pointers_.push_back(nullptr);
  }
  char **get() { return pointers_.data(); }

private:
  std::vector<std::string> strings_;
  std::vector<char *> pointers_;
};

// Starts ARGV with its output to two pipes, in a process group of its own
// so that what it starts can be signalled with it, with EXTRA (NAME=VALUE,
// or nothing) added to its environment.
Job start(const std::vector<std::string> &argv, const std::string &extra) {
  Job job;
  std::array<int, 2> out{-1, -1};
  std::array<int, 2> err{-1, -1};
  if (pipe2(out.data(), O_CLOEXEC) != 0 || pipe2(err.data(), O_CLOEXEC) != 0) {
    job.outcome.status = 127;
    job.outcome.err = std::string("exchange-sweep: pipe: ") + strerror(errno);
    return job;
  }
  Strings args(argv);
  std::vector<std::string> environment;
  if (!extra.empty()) {
    environment.push_back(extra);
  }
  for (char **variable = environ; *variable != nullptr; ++variable) {
    environment.emplace_back(*variable);
  }
  Strings envp(environment);
  job.start = Clock::now();
  job.pid = fork();
  if (job.pid == 0) {
    setpgid(0, 0);
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    execvpe(args.get()[0], args.get(), envp.get());
    (void)std::fprintf(stderr, "exchange-sweep: cannot start %s: %s\n",
                       argv[0].c_str(), strerror(errno));
    _exit(127);
  }
  if (job.pid > 0) {
    // Also here, so that the group exists before it is ever signalled.
    setpgid(job.pid, job.pid);
  } else {
    job.outcome.status = 127;
    job.outcome.err = std::string("exchange-sweep: fork: ") + strerror(errno);
  }
  close(out[1]);
  close(err[1]);
  job.pipes = {out[0], err[0]};
  return job;
}

void close_pipes(Job &job) {
  for (int &pipe : job.pipes) {
    if (pipe >= 0) {
      close(pipe);
      pipe = -1;
    }
  }
}

// Reads what there is on one of a job's pipes; closes it at its end.
void drain(int &pipe, std::string &into) {
  std::array<char, 4096> buffer{};
  const ssize_t got = read(pipe, buffer.data(), buffer.size());
  if (got > 0) {
    into.append(buffer.data(), static_cast<std::size_t>(got));
  } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
    close(pipe);
    pipe = -1;
  }
}

void reap(Job &job) {
  int status = 0;
  if (!running(job) || waitpid(job.pid, &status, WNOHANG) != job.pid) {
    return;
  }
  job.exited_at = since(job.start);
  job.outcome.seconds = job.exited_at;
  job.outcome.status = WIFEXITED(status)     ? WEXITSTATUS(status)
                       : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                             : 1;
}

// Waits up to MILLISECONDS for output from the jobs, and reads it.
void read_output(std::vector<Job> &jobs, int milliseconds) {
  std::vector<pollfd> watched;
  for (const auto &job : jobs) {
    for (const int pipe : job.pipes) {
      if (pipe >= 0) {
        watched.push_back({pipe, POLLIN, 0});
      }
    }
  }
  poll(watched.data(), watched.size(), milliseconds);
  for (const auto &ready : watched) {
    if (ready.revents == 0) {
      continue;
    }
    for (auto &job : jobs) {
      if (job.pipes[0] == ready.fd) {
        drain(job.pipes[0], job.outcome.out);
      } else if (job.pipes[1] == ready.fd) {
        drain(job.pipes[1], job.outcome.err);
      }
    }
  }
}

// Cancels the srun step named NAME through Slurm, which ends its tasks on
// every node; killing srun alone would leave them running.
void cancel_step(const std::string &name) {
  const Captured found = capture(
      {"squeue", "--noheader", "--steps", "--name=" + name, "--format=%i"}, 10);
  std::size_t from = 0;
  while (from < found.out.size()) {
    const std::size_t end = found.out.find('\n', from);
    const std::string step = found.out.substr(from, end - from);
    if (!step.empty()) {
      capture({"scancel", "--signal=KILL", step}, 10);
    }
    from = end == std::string::npos ? end : end + 1;
  }
}

// Ends a job that outlived its bound, a step further at each call: an
// srun step is cancelled through Slurm at once; mpiexec is given a few
// seconds for its own time bound, which ends the ranks on the other node
// too, then a SIGTERM that it passes on; last, the whole group is killed.
void escalate(Job &job, const Launch &launch, double elapsed) {
  if (job.stage == 0 && launch.launcher == Launcher::srun) {
    cancel_step(job.step);
    job.stage = 1;
  } else if (job.stage == 0 && elapsed >= launch.timeout + 3) {
    kill(-job.pid, SIGTERM);
    job.stage = 1;
  } else if (job.stage == 1 && elapsed >= launch.timeout + grace) {
    kill(-job.pid, SIGKILL);
    job.stage = 2;
  }
}

// One look at a job: reaped if it ended, pushed towards its end if it
// outlived its bound. Something the launcher started may hold its output
// open after it ended; what comes after that is not the job's.
void tend(Job &job, const Launch &launch) {
  reap(job);
  const double elapsed = since(job.start);
  if (running(job) && (elapsed >= launch.timeout || stopping != 0)) {
    escalate(job, launch, stopping != 0 ? launch.timeout + grace : elapsed);
  } else if (!running(job) && elapsed > job.exited_at + 2) {
    close_pipes(job);
  }
}

std::string whole_seconds(double seconds) {
  return std::to_string(static_cast<long>(std::ceil(seconds)));
}

} // namespace

void stop_all() { stopping = 1; }

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

std::vector<Outcome> run_round(const Launch &launch, const Round &round) {
  static int steps = 0;
  std::vector<Job> jobs;
  for (const auto &pair : round) {
    const std::string step = "exchange-sweep." + std::to_string(getpid()) +
                             "." + std::to_string(++steps);
    std::string extra;
    if (launch.launcher == Launcher::mpiexec && launch.mpi == Mpi::mpich) {
      // Hydra takes its bound from the environment only.
      extra = "MPIEXEC_TIMEOUT=" + whole_seconds(launch.timeout);
    }
    jobs.push_back(start(job_command(launch, pair, step), extra));
    jobs.back().step = step;
  }
  for (;;) {
    bool busy = false;
    for (auto &job : jobs) {
      tend(job, launch);
      busy = busy || running(job) || reading(job);
    }
    if (!busy) {
      break;
    }
    read_output(jobs, 100);
  }
  std::vector<Outcome> outcomes;
  for (auto &job : jobs) {
    job.outcome.timed_out = job.exited_at >= launch.timeout || job.stage > 0;
    outcomes.push_back(job.outcome);
  }
  return outcomes;
}

Captured capture(const std::vector<std::string> &argv, double seconds) {
  std::vector<Job> jobs{start(argv, "")};
  Job &job = jobs.front();
  while (running(job) || reading(job)) {
    reap(job);
    if (running(job) && since(job.start) > seconds && job.stage == 0) {
      kill(-job.pid, SIGKILL);
      job.stage = 2;
    }
    if (!running(job) && since(job.start) > job.exited_at + 2) {
      break;
    }
    read_output(jobs, 100);
  }
  close_pipes(job);
  return {job.outcome.status, job.outcome.out};
}

} // namespace sweep
