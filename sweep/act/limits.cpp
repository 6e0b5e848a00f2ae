#include "act/limits.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

namespace sweep {

namespace {

// Descriptors a pair holds: the read ends of its two pipes (both ends of
// both, for one pair at a time, while its launcher starts).
constexpr std::size_t descriptors_a_pair = 2;
// Tasks (the limit counts threads) a pair's launcher may be: srun is two
// processes of up to five threads (measured on the test cluster); mpiexec
// is itself and an ssh or a proxy for each node.
constexpr std::size_t processes_a_pair = 12;
// Room for the sweep's own: squeue, scancel, and what it has open.
constexpr std::size_t spare = 32;

std::string refusal(std::size_t parallel, std::size_t needed, const char *what,
                    rlim_t limit, const char *flag) {
  return "--parallel " + std::to_string(parallel) + " needs " +
         std::to_string(needed) + " " + what + ", and the limit is " +
         std::to_string(limit) + " (ulimit " + flag +
         "): give a smaller --parallel";
}

// The processes (threads, as the limit counts them) of this user now.
std::size_t user_processes() {
  const uid_t uid = getuid();
  std::size_t count = 0;
  DIR *proc = opendir("/proc");
  if (proc == nullptr) {
    return 0;
  }
  while (const dirent *entry = readdir(proc)) {
    std::ifstream status(std::string("/proc/") + entry->d_name + "/status");
    std::size_t threads = 0;
    long owner = -1;
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("Uid:", 0) == 0) {
        owner = std::strtol(line.c_str() + 4, nullptr, 10);
      } else if (line.rfind("Threads:", 0) == 0) {
        threads = std::strtoul(line.c_str() + 8, nullptr, 10);
      }
    }
    count += owner == static_cast<long>(uid) ? threads : 0;
  }
  closedir(proc);
  return count;
}

} // namespace

std::string room_for(std::size_t parallel, std::size_t open_now) {
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 &&
      files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    getrlimit(RLIMIT_NOFILE, &files);
  }
  const std::size_t descriptors =
      open_now + parallel * descriptors_a_pair + spare;
  if (files.rlim_cur != RLIM_INFINITY && descriptors > files.rlim_cur) {
    return refusal(parallel, descriptors, "open descriptors", files.rlim_cur,
                   "-n");
  }
  rlimit processes{};
  if (geteuid() != 0 && getrlimit(RLIMIT_NPROC, &processes) == 0 &&
      processes.rlim_cur != RLIM_INFINITY) {
    const std::size_t needed =
        user_processes() + parallel * processes_a_pair + spare;
    if (needed > processes.rlim_cur) {
      return refusal(parallel, needed, "processes of this user",
                     processes.rlim_cur, "-u");
    }
  }
  return "";
}

} // namespace sweep
