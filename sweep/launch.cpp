#include "launch.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

namespace sweep {

namespace {

using Clock = std::chrono::steady_clock;

volatile std::sig_atomic_t stopping = 0;

double since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A job in flight: its launcher's process, which leads a process group of
// its own, and the pipes of its two output streams.
struct Job {
  pid_t pid = -1;
  std::array<int, 2> fds{-1, -1};
  Clock::time_point start;
  double exited_at = -1;
  std::string step;
  int stage = 0; // signals sent so far: 0 none, 1 the gentle one, 2 KILL
  Outcome outcome;
};

// Starts ARGV with its output to two pipes, in a process group of its own,
// so that what it starts can be signalled with it. EXTRA is set in its
// environment.
Job start(const std::vector<std::string> &argv, const std::string &extra) {
  Job job;
  std::array<int, 2> out{-1, -1};
  std::array<int, 2> err{-1, -1};
  if (pipe2(out.data(), O_CLOEXEC) != 0 || pipe2(err.data(), O_CLOEXEC) != 0) {
    job.outcome.status = 127;
    job.outcome.err = std::string("exchange-sweep: pipe: ") + strerror(errno);
    return job;
  }
  std::vector<char *> args;
  args.reserve(argv.size() + 1);
  for (const auto &arg : argv) {
    args.push_back(const_cast<char *>(arg.c_str()));
  }
  args.push_back(nullptr);
  job.start = Clock::now();
  job.pid = fork();
  if (job.pid == 0) {
    setpgid(0, 0);
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    if (!extra.empty()) {
      putenv(const_cast<char *>(extra.c_str()));
    }
    execvp(args[0], args.data());
    (void)std::fprintf(stderr, "exchange-sweep: cannot start %s: %s\n",
                       args[0], strerror(errno));
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
  job.fds = {out[0], err[0]};
  return job;
}

// Reads what is there; closes a pipe at its end.
void drain(Job &job, int which) {
  std::array<char, 4096> buffer{};
  const ssize_t got = read(job.fds[which], buffer.data(), buffer.size());
  if (got > 0) {
    (which == 0 ? job.outcome.out : job.outcome.err)
        .append(buffer.data(), static_cast<std::size_t>(got));
  } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
    close(job.fds[which]);
    job.fds[which] = -1;
  }
}

void reap(Job &job) {
  int status = 0;
  if (job.exited_at >= 0 || job.pid <= 0 ||
      waitpid(job.pid, &status, WNOHANG) != job.pid) {
    return;
  }
  job.exited_at = since(job.start);
  job.outcome.seconds = job.exited_at;
  job.outcome.status = WIFEXITED(status)     ? WEXITSTATUS(status)
                       : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                             : 1;
}

// Cancels the srun step named NAME through Slurm, which ends its tasks on
// every node; killing srun alone would leave them running.
void cancel_step(const std::string &name) {
  const Captured found =
      capture({"squeue", "--noheader", "--steps", "--name=" + name,
               "--format=%i"},
              10);
  std::size_t at = 0;
  while (at < found.out.size()) {
    const std::size_t end = found.out.find('\n', at);
    const std::string step = found.out.substr(at, end - at);
    if (!step.empty()) {
      capture({"scancel", "--signal=KILL", step}, 10);
    }
    at = end == std::string::npos ? end : end + 1;
  }
}

// Ends a job that outlived its bound, a step further at each call:
// mpiexec is given a few seconds for its own time bound, then a SIGTERM
// that it passes on to its ranks, then a SIGKILL for the whole group.
void escalate(Job &job, const Launch &launch, double elapsed) {
  const double grace = 10;
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
    return {"srun",
            launch.mpi == Mpi::mpich ? "--mpi=pmi2" : "--mpi=pmix",
            "--nodes=2",
            "--ntasks=2",
            "--ntasks-per-node=1",
            "--nodelist=" + hosts,
            "--kill-on-bad-exit=1",
            "--job-name=" + step,
            "--time=" + std::to_string(static_cast<long>(
                            std::ceil(launch.timeout / 60)) + 1),
            launch.program};
  }
  if (launch.mpi == Mpi::openmpi) {
    return {"mpiexec.openmpi", "--host",    hosts,
            "--map-by",        "node",      "-n",
            "2",               "--timeout", whole_seconds(launch.timeout),
            launch.program};
  }
  return {"mpiexec.mpich", "-hosts", hosts,         "-ppn",
          "1",             "-n",     "2",           launch.program};
}

std::vector<Outcome> run_round(const Launch &launch, const Round &round) {
  static int steps = 0;
  std::vector<Job> jobs;
  for (const auto &pair : round) {
    const std::string step = "exchange-sweep." + std::to_string(getpid()) +
                             "." + std::to_string(++steps);
    // Hydra takes its bound from the environment only.
    const std::string extra =
        launch.launcher == Launcher::mpiexec && launch.mpi == Mpi::mpich
            ? "MPIEXEC_TIMEOUT=" + whole_seconds(launch.timeout)
            : "";
    jobs.push_back(start(job_command(launch, pair, step), extra));
    jobs.back().step = step;
  }

  for (;;) {
    std::vector<pollfd> watched;
    bool running = false;
    for (auto &job : jobs) {
      reap(job);
      const double elapsed = since(job.start);
      if (job.exited_at < 0 && job.pid > 0) {
        running = true;
        if (elapsed >= launch.timeout || stopping != 0) {
          escalate(job, launch, stopping != 0 ? launch.timeout + 10 : elapsed);
        }
      } else if (job.exited_at >= 0 && elapsed > job.exited_at + 2) {
        // Something the launcher started still holds its output open; what
        // it says after the launcher ended is not the job's.
        for (int &fd : job.fds) {
          if (fd >= 0) {
            close(fd);
            fd = -1;
          }
        }
      }
      for (const int fd : job.fds) {
        if (fd >= 0) {
          watched.push_back({fd, POLLIN, 0});
        }
      }
    }
    if (!running && watched.empty()) {
      break;
    }
    poll(watched.data(), watched.size(), 100);
    for (const auto &ready : watched) {
      if (ready.revents == 0) {
        continue;
      }
      for (auto &job : jobs) {
        for (int which = 0; which < 2; ++which) {
          if (job.fds[which] == ready.fd) {
            drain(job, which);
          }
        }
      }
    }
  }

  std::vector<Outcome> outcomes;
  for (auto &job : jobs) {
    job.outcome.timed_out = job.exited_at >= launch.timeout || job.stage > 0;
    outcomes.push_back(job.outcome);
  }
  return outcomes;
}

Captured capture(const std::vector<std::string> &argv, double seconds) {
  Job job = start(argv, "");
  while (job.pid > 0 && (job.exited_at < 0 || job.fds[0] >= 0)) {
    reap(job);
    if (job.exited_at < 0 && since(job.start) > seconds && job.stage == 0) {
      kill(-job.pid, SIGKILL);
      job.stage = 2;
    }
    std::array<pollfd, 2> watched{{{job.fds[0], POLLIN, 0},
                                   {job.fds[1], POLLIN, 0}}};
    poll(watched.data(), watched.size(), 100);
    for (int which = 0; which < 2; ++which) {
      if (job.fds[which] >= 0 && watched[which].revents != 0) {
        drain(job, which);
      }
    }
    if (job.exited_at >= 0 && since(job.start) > job.exited_at + 2) {
      break;
    }
  }
  for (const int fd : job.fds) {
    if (fd >= 0) {
      close(fd);
    }
  }
  return {job.outcome.status, job.outcome.out};
}

} // namespace sweep
