#include "act/process.h"

#include "act/log.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iterator>

extern char **environ; // NOLINT: the process's own environment, from libc

namespace sweep {

namespace {

// Written by signal handlers to wake the loop; one per process.
std::array<int, 2> wake_pipe{-1, -1}; // NOLINT
// Pipe ends open now, and the most there ever were.
std::size_t pipes_open = 0; // NOLINT
std::size_t pipes_peak = 0; // NOLINT

void opened(std::size_t count) {
  pipes_open += count;
  pipes_peak = std::max(pipes_peak, pipes_open);
}

extern "C" void on_child(int /*signal*/) { wake(); }

double since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

int status_of(int raw) {
  if (WIFEXITED(raw)) {
    return WEXITSTATUS(raw);
  }
  if (WIFSIGNALED(raw)) {
    return 128 + WTERMSIG(raw);
  }
  return -1;
}

void close_fd(int &descriptor) {
  if (descriptor >= 0) {
    close(descriptor);
    descriptor = -1;
    --pipes_open;
  }
}

// Spawn attributes and file actions, released with their scope.
class SpawnSetup {
public:
  SpawnSetup() {
    posix_spawnattr_init(&attributes_);
    posix_spawn_file_actions_init(&actions_);
  }
  posix_spawnattr_t *attributes() { return &attributes_; }
  posix_spawn_file_actions_t *actions() { return &actions_; }
  SpawnSetup(const SpawnSetup &) = delete;
  SpawnSetup &operator=(const SpawnSetup &) = delete;
  SpawnSetup(SpawnSetup &&) = delete;
  SpawnSetup &operator=(SpawnSetup &&) = delete;
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attributes_);
  }

private:
  posix_spawnattr_t attributes_{};
  posix_spawn_file_actions_t actions_{};
};

} // namespace

Environment::Environment(const std::vector<std::string> &add,
                         const std::vector<std::string> &unset)
    : strings_(add) {
  for (char **variable = environ; *variable != nullptr; ++variable) {
    const std::string entry(*variable);
    const std::string name = entry.substr(0, entry.find('='));
    const auto named = [&](const std::string &other) {
      return other.substr(0, other.find('=')) == name;
    };
    if (std::none_of(add.begin(), add.end(), named) &&
        std::find(unset.begin(), unset.end(), name) == unset.end()) {
      strings_.push_back(entry);
    }
  }
  std::transform(strings_.begin(), strings_.end(),
                 std::back_inserter(pointers_),
                 [](std::string &text) { return text.data(); });
  pointers_.push_back(nullptr);
}

void wake() {
  const int saved = errno;
  const char byte = 0;
  if (wake_pipe[1] >= 0 && write(wake_pipe[1], &byte, 1) < 0) {
    // Full: the loop wakes all the same.
  }
  errno = saved;
}

void prepare_signals(void (*on_stop)(int)) {
  if (wake_pipe[0] < 0 &&
      pipe2(wake_pipe.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
    wake_pipe = {-1, -1};
  }
  struct sigaction child {};
  child.sa_handler = on_child;
  child.sa_flags = SA_NOCLDSTOP | SA_RESTART;
  sigaction(SIGCHLD, &child, nullptr);
  struct sigaction stop {};
  stop.sa_handler = on_stop;
  stop.sa_flags = SA_RESTART;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    sigaction(signal, &stop, nullptr);
  }
  // A pipe of a job that went away must not end the sweep.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, nullptr);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
}

void signal_group(pid_t pid, int signal) {
  if (pid > 0) {
    kill(-pid, signal);
  }
}

void signal_process(pid_t pid, int signal) {
  if (pid > 0) {
    kill(pid, signal);
  }
}

Watch::~Watch() {
  for (auto &process : processes_) {
    if (!process.ended) {
      signal_group(process.pid, SIGKILL);
      int raw = 0;
      waitpid(process.pid, &raw, 0);
    }
    close_fd(process.out.fd);
    close_fd(process.err.fd);
  }
  close_fd(epoll_);
}

std::size_t Watch::start(const std::vector<std::string> &argv,
                         const Environment &environment, std::string &error,
                         int &code, std::size_t keep) {
  std::array<int, 2> out{-1, -1};
  std::array<int, 2> err{-1, -1};
  if (pipe2(out.data(), O_CLOEXEC) == 0) {
    opened(2);
  }
  if (out[0] < 0 || pipe2(err.data(), O_CLOEXEC) != 0) {
    code = errno;
    error = std::string("pipe: ") + strerror(code);
    close_fd(out[0]);
    close_fd(out[1]);
    return none;
  }
  opened(2);
  SpawnSetup setup;
  sigset_t all;
  sigfillset(&all);
  sigset_t none_blocked;
  sigemptyset(&none_blocked);
  // A session of its own: no terminal to stop it on a prompt, and a
  // group of its own to end with it whatever it started.
  posix_spawnattr_setflags(setup.attributes(), POSIX_SPAWN_SETSID |
                                                   POSIX_SPAWN_SETSIGDEF |
                                                   POSIX_SPAWN_SETSIGMASK);
  posix_spawnattr_setsigdefault(setup.attributes(), &all);
  posix_spawnattr_setsigmask(setup.attributes(), &none_blocked);
  posix_spawn_file_actions_addopen(setup.actions(), 0, "/dev/null", O_RDONLY,
                                   0);
  posix_spawn_file_actions_adddup2(setup.actions(), out[1], 1);
  posix_spawn_file_actions_adddup2(setup.actions(), err[1], 2);
  std::vector<std::string> words = argv;
  std::vector<char *> pointers;
  std::transform(words.begin(), words.end(), std::back_inserter(pointers),
                 [](std::string &word) { return word.data(); });
  pointers.push_back(nullptr);
  Process process;
  process.start = Clock::now();
  code = posix_spawnp(&process.pid, pointers[0], setup.actions(),
                      setup.attributes(), pointers.data(), environment.get());
  close_fd(out[1]);
  close_fd(err[1]);
  say("start " + quoted(argv) +
      (code == 0 ? " (pid " + std::to_string(process.pid) + ")"
                 : ": " + std::string(strerror(code))));
  if (code != 0) {
    error = "cannot start " + argv[0] + ": " + strerror(code);
    close_fd(out[0]);
    close_fd(err[0]);
    return none;
  }
  for (const int descriptor : {out[0], err[0]}) {
    fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) | O_NONBLOCK);
  }
  process.out.fd = out[0];
  process.err.fd = err[0];
  process.out.keep = keep;
  process.err.keep = keep;
  const std::size_t index = processes_.size();
  processes_.push_back(std::move(process));
  by_pid_[processes_.back().pid] = index;
  watch(index * 2);
  watch(index * 2 + 1);
  return index;
}

void Watch::watch(std::size_t owner) {
  if (epoll_ < 0) {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    opened(1);
    epoll_event wake_event{};
    wake_event.events = EPOLLIN;
    wake_event.data.u64 = waker;
    epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_pipe[0], &wake_event);
  }
  const Process &process = processes_[owner / 2];
  const int descriptor = owner % 2 == 0 ? process.out.fd : process.err.fd;
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = owner;
  epoll_ctl(epoll_, EPOLL_CTL_ADD, descriptor, &event);
}

void Watch::unwatch(std::size_t index, Stream &stream) {
  if (stream.fd < 0) {
    return;
  }
  changed_.push_back(index);
  close_fd(stream.fd); // which takes it out of the epoll set too
}

void Watch::close_streams(std::size_t index) {
  unwatch(index, processes_[index].out);
  unwatch(index, processes_[index].err);
}

std::vector<std::size_t> Watch::take_changed() {
  std::vector<std::size_t> changed;
  changed.swap(changed_);
  return changed;
}

void Watch::wait(double seconds) {
  const int milliseconds =
      static_cast<int>(std::clamp(seconds, 0.0, 1.0) * 1000);
  if (epoll_ < 0) {
    // Nothing to watch but the ends of children; the wake pipe tells.
    pollfd wake_poll{wake_pipe[0], POLLIN, 0};
    poll(&wake_poll, 1, milliseconds);
  } else {
    events_.resize(256);
    const int ready = epoll_wait(
        epoll_, events_.data(), static_cast<int>(events_.size()), milliseconds);
    for (int i = 0; i < ready; ++i) {
      read_ready(events_[static_cast<std::size_t>(i)].data.u64);
    }
  }
  std::array<char, 256> bytes{};
  while (read(wake_pipe[0], bytes.data(), bytes.size()) > 0) {
  }
  reap();
}

void Watch::read_ready(std::uint64_t owner) {
  if (owner == waker) {
    return;
  }
  const std::size_t index = owner / 2;
  Process &process = processes_[index];
  Stream &stream = owner % 2 == 0 ? process.out : process.err;
  // A few reads at most, so that one flooding job cannot starve others.
  for (int reads = 0; reads < 4 && stream.fd >= 0; ++reads) {
    const ssize_t got = read(stream.fd, buffer_.data(), buffer_.size());
    if (got > 0 && stream.sink) {
      stream.sink(
          std::string_view(buffer_.data(), static_cast<std::size_t>(got)));
      continue;
    }
    if (got > 0) {
      const auto count = static_cast<std::size_t>(got);
      const std::size_t room =
          stream.keep - std::min(stream.keep, stream.kept.size());
      stream.kept.append(buffer_.data(), std::min(room, count));
      stream.dropped += count - std::min(room, count);
      continue;
    }
    if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
      unwatch(index, stream);
    }
    break;
  }
}

void Watch::reap() {
  for (;;) {
    // A look first, without reaping: until it is reaped, an ended child's
    // pid is still its own, and so is its process group's.
    siginfo_t info{};
    if (waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
      if (errno == ECHILD) {
        lost_all();
      }
      return;
    }
    const pid_t pid = info.si_pid;
    if (pid == 0) {
      return;
    }
    const auto found = by_pid_.find(pid);
    if (found != by_pid_.end() && processes_[found->second].end_group) {
      signal_group(pid, SIGKILL);
    }
    int raw = 0;
    if (waitpid(pid, &raw, 0) != pid || found == by_pid_.end()) {
      continue;
    }
    Process &process = processes_[found->second];
    process.ended = true;
    process.status = status_of(raw);
    process.ended_after = since(process.start);
    changed_.push_back(found->second);
  }
}

// No child is left to wait for: whatever is not reaped has ended, its
// status lost (a parent left SIGCHLD ignored, and the system reaped it).
void Watch::lost_all() {
  for (std::size_t i = 0; i < processes_.size(); ++i) {
    if (!processes_[i].ended) {
      processes_[i].ended = true;
      processes_[i].ended_after = since(processes_[i].start);
      changed_.push_back(i);
    }
  }
}

std::size_t Watch::peak_pipes() { return pipes_peak; }

std::size_t Watch::open_descriptors() {
  std::size_t count = 0;
  DIR *directory = opendir("/proc/self/fd");
  if (directory == nullptr) {
    return 0;
  }
  while (readdir(directory) != nullptr) {
    ++count;
  }
  closedir(directory);
  return count > 3 ? count - 3 : 0; // ".", ".." and the directory's own
}

Captured capture(const std::vector<std::string> &argv, double seconds,
                 Keep keep, const std::vector<std::string> &added) {
  Watch watch;
  std::string error;
  int code = 0;
  const Environment environment(added, {});
  const std::size_t index =
      watch.start(argv, environment, error, code,
                  keep == Keep::all ? all_bytes : kept_bytes);
  if (index == Watch::none) {
    return {-1, "", error, true};
  }
  Process &process = watch[index];
  bool killed = false;
  while (!process.ended || process.out.fd >= 0 || process.err.fd >= 0) {
    const double elapsed = since(process.start);
    if (!process.ended && elapsed > seconds && !killed) {
      signal_group(process.pid, SIGKILL);
      killed = true;
    }
    if (process.ended && elapsed > process.ended_after + 2) {
      watch.close_streams(index);
      break;
    }
    watch.wait(0.1);
  }
  return {process.status, process.out.kept, process.err.kept,
          process.out.dropped == 0 && process.err.dropped == 0};
}

} // namespace sweep
