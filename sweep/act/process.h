// Starting programs and watching them end: each in a session of its own,
// standard input from /dev/null, its two output streams on pipes of which
// only a bounded part is kept.
#pragma once

#include <sys/epoll.h>
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace sweep {

using Clock = std::chrono::steady_clock;

// What is kept of each stream; the rest is read and dropped.
constexpr std::size_t kept_bytes = 64 * 1024;

struct Stream {
  int fd = -1;
  std::size_t keep = kept_bytes;
  std::string kept;
  std::size_t dropped = 0;
  // When set, every byte read goes here, as it comes, and none is kept.
  std::function<void(std::string_view)> sink;
};

struct Process {
  pid_t pid = -1;
  Stream out;
  Stream err;
  Clock::time_point start;
  bool ended = false;
  int status = -1; // exit status, 128 + the signal; -1 when it was lost
  double ended_after = 0;
  // Set when it had to be ended: when it does, whatever is left of its
  // process group is killed, while its pid still names that group.
  bool end_group = false;
};

// An environment as exec wants it: this process's own, less the variables
// named in UNSET, with ADD (NAME=VALUE each) put first.
class Environment {
public:
  Environment(const std::vector<std::string> &add,
              const std::vector<std::string> &unset);
  [[nodiscard]] char *const *get() const { return pointers_.data(); }

private:
  std::vector<std::string> strings_;
  std::vector<char *> pointers_;
};

// Once, at start: SIGCHLD back to its default (a parent may have left it
// ignored, and then no child could be waited for), no signal blocked, and
// ON_STOP for SIGINT, SIGTERM and SIGHUP. ON_STOP must call wake().
void prepare_signals(void (*on_stop)(int));
// Wakes whatever waits in Watch::wait; safe in a signal handler.
void wake();

// The processes of one piece of work, watched together. Only one Watch
// waits at a time: it reaps every child of this process that has ended.
class Watch {
public:
  Watch() = default;
  Watch(const Watch &) = delete;
  Watch &operator=(const Watch &) = delete;
  Watch(Watch &&) = delete;
  Watch &operator=(Watch &&) = delete;
  // Kills and reaps whatever is still running.
  ~Watch();

  // Starts ARGV (found on PATH) and returns its index; on failure, sets
  // ERROR to why (errno in CODE) and returns none.
  static constexpr std::size_t none = static_cast<std::size_t>(-1);
  std::size_t start(const std::vector<std::string> &argv,
                    const Environment &environment, std::string &error,
                    int &code, std::size_t keep = kept_bytes);
  Process &operator[](std::size_t index) { return processes_[index]; }
  [[nodiscard]] std::size_t size() const { return processes_.size(); }

  // Waits up to SECONDS for output, an end or a wake-up, reads what is
  // ready and reaps what has ended.
  void wait(double seconds);
  // Stops reading the process's streams: what comes later is not its own.
  void close_streams(std::size_t index);
  // The processes that ended, or whose streams ended, since the last call.
  std::vector<std::size_t> take_changed();
  // The open descriptors of this process, counted now.
  static std::size_t open_descriptors();
  // The most pipe ends the watches ever held open at once.
  static std::size_t peak_pipes();

private:
  void watch(std::size_t owner); // index * 2 + stream
  void unwatch(std::size_t index, Stream &stream);
  void read_ready(std::uint64_t owner);
  void reap();
  void lost_all();
  static constexpr std::uint64_t waker = ~std::uint64_t{0};
  std::vector<Process> processes_;
  int epoll_ = -1; // the streams, and the wake pipe
  std::unordered_map<pid_t, std::size_t> by_pid_;
  std::vector<std::size_t> changed_;
  std::vector<char> buffer_ = std::vector<char>(65536); // one read's worth
  std::vector<epoll_event> events_;
};

// Runs ARGV with its output captured, killed after SECONDS; of each
// stream, as much as a job's is kept, or with Keep::all up to all_bytes;
// COMPLETE says whether that was all of it.
enum class Keep { some, all };
constexpr std::size_t all_bytes = 64 << 20;
struct Captured {
  int status = -1;
  std::string out;
  std::string err;
  bool complete = true;
};
Captured capture(const std::vector<std::string> &argv, double seconds,
                 Keep keep = Keep::some,
                 const std::vector<std::string> &added = {});

// Signals the process group PID leads, or PID alone.
void signal_group(pid_t pid, int signal);
void signal_process(pid_t pid, int signal);

} // namespace sweep
