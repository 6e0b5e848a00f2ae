// sweep_floor: the least a sweep of stand-in pairs can cost on this
// machine, for the benchmark to weigh exchange-sweep against: the same
// pairs, in the same rounds, started in waves of at most K at once by
// posix_spawn, each wave waited for whole; nothing read, judged or told.
//   sweep_floor SRUN ring|all NODES K   (prints the seconds it took)
#include "decide/schedule.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

extern char **environ; // NOLINT: the process's own environment, from libc

int main(int argc, char **argv) {
  if (argc != 5) {
    if (std::fputs("usage: sweep_floor SRUN ring|all NODES K\n", stderr) < 0) {
      return 2;
    }
    return 2;
  }
  const std::string srun = argv[1];
  const std::string pattern = argv[2];
  const auto count = std::strtoul(argv[3], nullptr, 10);
  const auto most = std::strtoul(argv[4], nullptr, 10);
  if (most == 0) {
    // No pair at once would never end.
    (void)std::fputs("sweep_floor: K must be 1 or more\n", stderr);
    return 2;
  }
  std::vector<std::string> nodes;
  for (unsigned long i = 1; i <= count; ++i) {
    nodes.push_back("n" + std::to_string(i));
  }
  const auto rounds =
      pattern == "all" ? sweep::all_pairs(nodes) : sweep::ring(nodes);
  posix_spawn_file_actions_t quiet{};
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  unsigned long step = 0;
  for (const auto &round : rounds) {
    for (std::size_t first = 0; first < round.size(); first += most) {
      std::vector<pid_t> wave;
      for (std::size_t i = first; i < round.size() && i < first + most; ++i) {
        std::vector<std::string> words{
            "srun", "--nodelist=" + round[i].first + "," + round[i].second,
            "--job-name=floor." + std::to_string(++step)};
        std::vector<char *> args;
        args.reserve(words.size() + 1);
        std::transform(words.begin(), words.end(), std::back_inserter(args),
                       [](std::string &word) { return word.data(); });
        args.push_back(nullptr);
        pid_t pid = 0;
        if (posix_spawn(&pid, srun.c_str(), &quiet, nullptr, args.data(),
                        environ) == 0) {
          wave.push_back(pid);
        }
      }
      for (const pid_t pid : wave) {
        int status = 0;
        waitpid(pid, &status, 0);
      }
    }
  }
  std::printf("%.3f\n", std::chrono::duration<double>(
                            std::chrono::steady_clock::now() - start)
                            .count());
  posix_spawn_file_actions_destroy(&quiet);
  return 0;
}
