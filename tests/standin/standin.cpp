// A stand-in for what the sweep starts, driven by a scenario, so that
// sweeps of many nodes and many faults run on one machine in seconds.
// Called as srun, it is a whole step: it takes its pair from --nodelist,
// registers the step where the stand-in squeue and scancel find it, and
// prints both lines itself. Called as anything else, it is one rank of an
// exchange under Hydra, whose stand-in ssh tells it its host
// (STANDIN_HOST) and job (STANDIN_JOB); the two ranks meet through files.
//
// STANDIN_DIR holds the scenario ("scenario", a rule a line) and the
// state. Rules, NODE or A B naming the pair (in either order):
//   delay SECONDS       how long a good pair takes (default 0.1)
//   dead NODE           its pairs never answer, until they are killed
//   link A B            that pair never answers
//   across NODE...      a pair with one node among these and one not never
//                       answers: their switch's uplink is dead
//   refuse NODE         its pairs fail at once, saying why
//   flaky A B N         that pair fails its first N tries
//   hang A B N          prints both lines, then never ends (N tries, 0: all)
//   latin1 A B          fails, with Latin-1 and escapes on standard error
//   flood A B BYTES     writes BYTES on standard output, then passes
//   stubborn            srun ignores SIGTERM
//   track               srun counts the steps running at once ("running",
//                       the most in "most") and notes a node in two at
//                       once ("overlaps")
//   orphan A B          that pair never answers, and its srun leaves a child
//                       behind when it ends
// and for the stand-in scancel: scancel_fails N (its first N calls fail)
// and immortal (no step ever goes).
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string env(const char *name) {
  const char *value = std::getenv(name);
  return value != nullptr ? value : "";
}

// Where the scenario and the state are.
const std::string &dir() {
  static const std::string path = env("STANDIN_DIR");
  return path;
}

// srun's step file, removed when it ends.
std::string &registered() {
  static std::string path;
  return path;
}

// A pair of nodes, in the order the launcher gave them.
struct Pair {
  std::string first;
  std::string second;
};

// The pair whose nodes srun marked busy, to be unmarked when it is ended by
// a signal; empty when it marked none.
Pair &tracked() {
  static Pair pair;
  return pair;
}
void track(const Pair &pair, bool ending);

struct Fate {
  std::string what = "pass"; // pass, dead, refuse, hang, latin1, flood
  double delay = 0.1;
  long bytes = 0;
  bool stubborn = false;
  bool track = false;
};

bool names(const Pair &pair, const std::string &one, const std::string &other) {
  return (pair.first == one && pair.second == other) ||
         (pair.first == other && pair.second == one);
}

long number(const std::string &text) {
  return std::strtol(text.c_str(), nullptr, 10);
}

// Counts this try of PAIR: 1 for the first.
long next_try(const Pair &pair) {
  const std::string path =
      dir() + "/tries." +
      (pair.first < pair.second ? pair.first + "-" + pair.second
                                : pair.second + "-" + pair.first);
  const int file = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  flock(file, LOCK_EX);
  std::string text(32, '\0');
  const ssize_t got = pread(file, text.data(), text.size() - 1, 0);
  const long tries = (got > 0 ? number(text) : 0) + 1;
  const std::string updated = std::to_string(tries) + "\n";
  if (pwrite(file, updated.data(), updated.size(), 0) < 0) {
    std::perror("standin: tries");
  }
  close(file);
  return tries;
}

// Whether PAIR has one node among GROUP ("n5 n6 ...") and one not.
bool crosses(const Pair &pair, const std::string &group) {
  std::istringstream members(group);
  const std::vector<std::string> listed{
      std::istream_iterator<std::string>(members),
      std::istream_iterator<std::string>()};
  const auto member = [&](const std::string &node) {
    return std::find(listed.begin(), listed.end(), node) != listed.end();
  };
  return member(pair.first) != member(pair.second);
}

Fate fate_of(const Pair &pair) {
  Fate fate;
  const long tries = next_try(pair);
  std::ifstream scenario(dir() + "/scenario");
  for (std::string line; std::getline(scenario, line);) {
    std::istringstream words(line);
    std::string rule;
    std::string one;
    std::string other;
    long count = 0;
    words >> rule >> one >> other >> count;
    if (rule == "across" && fate.what == "pass" &&
        crosses(pair, line.substr(rule.size()))) {
      fate.what = "dead";
      continue;
    }
    if (rule == "delay") {
      fate.delay = std::strtod(one.c_str(), nullptr);
    } else if (rule == "stubborn") {
      fate.stubborn = true;
    } else if (rule == "track") {
      fate.track = true;
    } else if (fate.what != "pass") {
      continue; // the first rule that meets the pair holds
    } else if ((rule == "dead" || rule == "refuse") &&
               (pair.first == one || pair.second == one)) {
      fate.what = rule;
    } else if (rule == "link" && names(pair, one, other)) {
      fate.what = "dead";
    } else if (rule == "orphan" && names(pair, one, other)) {
      fate.what = "orphan";
    } else if (rule == "flaky" && names(pair, one, other) && tries <= count) {
      fate.what = "refuse";
    } else if (rule == "hang" && names(pair, one, other) &&
               (count == 0 || tries <= count)) {
      fate.what = "hang";
    } else if ((rule == "latin1" || rule == "flood") &&
               names(pair, one, other)) {
      fate.what = rule;
      fate.bytes = count;
    }
  }
  return fate;
}

void say(int stream, const std::string &text) {
  if (write(stream, text.data(), text.size()) < 0) {
    std::_Exit(120); // as exchange does when its line cannot go out
  }
}

volatile std::sig_atomic_t terminated = 0; // NOLINT

extern "C" void on_term(int /*signal*/) { terminated = 1; }

// Sleeps, but as srun does, ends its step when sent SIGTERM.
void sleep_for(double seconds) {
  const auto end =
      std::chrono::steady_clock::now() +
      std::chrono::duration_cast<std::chrono::steady_clock::duration>(
          std::chrono::duration<double>(seconds));
  while (std::chrono::steady_clock::now() < end) {
    if (terminated != 0) {
      say(2, "srun: forcing job termination\n");
      unlink(registered().c_str());
      if (!tracked().first.empty()) {
        track(tracked(), true);
      }
      std::_Exit(143);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// Until killed; bounded, so that a faulty sweep leaves nothing for long.
[[noreturn]] void never_end() {
  sleep_for(300);
  std::_Exit(99);
}

constexpr const char *sent = " process 0 : 777 has to sent to: 1\n";
constexpr const char *received = " process 1 : 777 has been received from: 0\n";

void flood(long bytes) {
  const std::string block(65536, 'x');
  for (long left = bytes; left > 0;) {
    const auto size = static_cast<std::size_t>(
        left < static_cast<long>(block.size()) ? left : block.size());
    if (write(1, block.data(), size) <= 0) {
      return;
    }
    left -= static_cast<long>(size);
  }
}

// Acts out FATE as the ranks RANKS (0, 1, or both for srun).
int act(const Fate &fate, const std::vector<int> &ranks,
        const std::string &peer) {
  sleep_for(fate.delay);
  if (fate.what == "orphan" && fork() == 0) {
    terminated = 0;
    struct sigaction ending {};
    ending.sa_handler = SIG_DFL;
    sigaction(SIGTERM, &ending, nullptr);
    registered().clear();
    tracked() = {};
    never_end(); // in srun's process group, outliving it
  }
  if (fate.what == "dead" || fate.what == "orphan") {
    never_end();
  }
  if (fate.what == "refuse" || fate.what == "latin1") {
    if (ranks.front() == 0) {
      const std::string why =
          fate.what == "refuse"
              ? "standin: connection to " + peer + " refused\n"
              : "\xe9"
                "chec de connexion \x1b[31m\x1b]0;owned\x07\r\n";
      say(2, why);
      return 1;
    }
    sleep_for(0.1); // as an MPI library ends a job its peer left
    return 1;
  }
  if (fate.what == "flood" && ranks.front() == 0) {
    flood(fate.bytes);
  }
  for (const int rank : ranks) {
    say(1, rank == 0 ? sent : received);
  }
  if (fate.what == "hang") {
    never_end();
  }
  return 0;
}

std::string wait_for(const std::string &path) {
  for (int i = 0; i < 500; ++i) {
    std::ifstream file(path);
    std::string text;
    if (std::getline(file, text) && !text.empty()) {
      return text;
    }
    sleep_for(0.01);
  }
  return "";
}

// Writes LINE whole into the file at PATH.
void put(
    const std::string &path, // NOLINT(bugprone-easily-swappable-parameters)
    const std::string &line) {
  const std::string partial = path + ".part";
  std::ofstream(partial) << line << "\n";
  if (std::rename(partial.c_str(), path.c_str()) != 0) {
    std::perror("standin: rename");
  }
}

// One rank under Hydra: finds its peer's host, then the rank 0 decides.
int rank_main() {
  const long rank = number(env("PMI_RANK"));
  const std::string host = env("STANDIN_HOST");
  const std::string job = dir() + "/job." + env("STANDIN_JOB");
  put(job + "." + std::to_string(rank), host);
  const std::string peer = wait_for(job + "." + std::to_string(1 - rank));
  const Pair pair = rank == 0 ? Pair{host, peer} : Pair{peer, host};
  Fate fate;
  if (rank == 0) {
    fate = fate_of(pair);
    put(job + ".fate", fate.what + " " + std::to_string(fate.delay) + " " +
                           std::to_string(fate.bytes));
  } else {
    std::istringstream(wait_for(job + ".fate")) >> fate.what >> fate.delay >>
        fate.bytes;
  }
  return act(fate, {static_cast<int>(rank)}, peer);
}

// Marks this step's nodes busy and counts the steps running, under one
// lock; unmarks them when ENDING.
void track(const Pair &pair, bool ending) {
  const int lock =
      open((dir() + "/track.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  flock(lock, LOCK_EX);
  for (const auto *node : {&pair.first, &pair.second}) {
    const std::string mark = dir() + "/busy." + *node;
    if (ending) {
      unlink(mark.c_str());
    } else if (access(mark.c_str(), F_OK) == 0) {
      std::ofstream(dir() + "/overlaps", std::ios::app) << *node << "\n";
    } else {
      std::ofstream{mark};
    }
  }
  long running = 0;
  std::ifstream(dir() + "/running") >> running;
  running += ending ? -1 : 1;
  std::ofstream(dir() + "/running") << running << "\n";
  long most = 0;
  std::ifstream(dir() + "/most") >> most;
  if (running > most) {
    std::ofstream(dir() + "/most") << running << "\n";
  }
  close(lock);
}

// A whole step as srun runs it: registered as JOB.PID under its name.
int srun_main(int argc, char **argv) {
  std::string nodes;
  std::string name;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--nodelist=", 0) == 0) {
      nodes = arg.substr(11);
    } else if (arg.rfind("--job-name=", 0) == 0) {
      name = arg.substr(11);
    }
  }
  const auto comma = nodes.find(',');
  const Pair pair{nodes.substr(0, comma),
                  comma == std::string::npos ? "" : nodes.substr(comma + 1)};
  const std::string step = env("SLURM_JOB_ID") + "." + std::to_string(getpid());
  registered() = dir() + "/steps/" + step;
  put(registered(), step + " " + name + " " + std::to_string(getpid()));
  const Fate fate = fate_of(pair);
  if (fate.track) {
    tracked() = pair;
    track(pair, false);
  }
  struct sigaction action {};
  action.sa_handler = fate.stubborn ? SIG_IGN : on_term;
  sigaction(SIGTERM, &action, nullptr);
  const int status = act(fate, {0, 1}, pair.second);
  if (fate.track) {
    track(pair, true);
  }
  unlink(registered().c_str());
  return status;
}

} // namespace

int main(int argc, char **argv) {
  const std::string self = argv[0];
  const std::string called = self.substr(self.rfind('/') + 1);
  return called == "srun" ? srun_main(argc, argv) : rank_main();
}
