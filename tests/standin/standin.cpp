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
//
// Called as exchange-probe (srun's program, or a rank's own name), it
// prints the probe's lines, with figures: 5 us and 1 GB/s, give or take
// a few percent by pair, unless a rule says otherwise:
//   slow NODE BYTES     pairs with NODE measure BYTES a second
//   slowlink A B BYTES  that pair does
//   slowacross BYTES NODE...  a pair with one node among these and one
//                       not does: their switch's uplink is slow
//   lag NODE SECONDS    pairs with NODE measure that latency
//   slow_once A B BYTES that pair, on its first try only
//   jitter SHARE        the give or take, a share (default 0.05)
#include "decide/schedule.h"

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
#include <numeric>
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
  double latency = 5e-6; // what the probe measures
  double bandwidth = 1e9;
};

// A pair's own share in [-1, 1], the same on every try.
double spread(const Pair &pair) {
  const std::string key = pair.first < pair.second
                              ? pair.first + "-" + pair.second
                              : pair.second + "-" + pair.first;
  const unsigned long hash = std::accumulate(
      key.begin(), key.end(), 5381UL, [](unsigned long sum, char character) {
        return sum * 33 + static_cast<unsigned char>(character);
      });
  return static_cast<double>(hash % 2001) / 1000.0 - 1;
}

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

// The probe's rules; whether LINE was one.
bool figures(Fate &fate, const Pair &pair, long tries,
             const std::string &line) {
  std::istringstream words(line);
  std::string rule;
  std::string one;
  std::string other;
  std::string third;
  words >> rule >> one >> other >> third;
  const auto has = [&](const std::string &node) {
    return pair.first == node || pair.second == node;
  };
  if (rule == "slow" && has(one)) {
    fate.bandwidth = std::strtod(other.c_str(), nullptr);
  } else if (rule == "lag" && has(one)) {
    fate.latency = std::strtod(other.c_str(), nullptr);
  } else if ((rule == "slowlink" || rule == "slow_once") &&
             names(pair, one, other) && (rule == "slowlink" || tries == 1)) {
    fate.bandwidth = std::strtod(third.c_str(), nullptr);
  } else if (rule == "slowacross") {
    if (crosses(pair, line.substr(rule.size() + one.size() + 2))) {
      fate.bandwidth = std::strtod(one.c_str(), nullptr);
    }
  } else if (rule == "jitter") {
    fate.latency *= 1 + std::strtod(one.c_str(), nullptr) * spread(pair);
    fate.bandwidth *= 1 + std::strtod(one.c_str(), nullptr) * spread(pair);
  } else {
    return rule == "slow" || rule == "lag" || rule == "slowlink" ||
           rule == "slow_once";
  }
  return true;
}

std::vector<std::string> scenario_rules() {
  std::vector<std::string> rules;
  std::ifstream scenario(dir() + "/scenario");
  for (std::string line; std::getline(scenario, line);) {
    rules.push_back(line);
  }
  return rules;
}

struct Rule {
  std::string name;
  std::string one;
  std::string other;
  long count = 0;
};

// Whether a rule of what befalls a pair meets PAIR on its TRIES-th try,
// and what it then makes of it.
bool meets(const Rule &rule, const Pair &pair, long tries) {
  const bool named = names(pair, rule.one, rule.other);
  if (rule.name == "dead" || rule.name == "refuse") {
    return pair.first == rule.one || pair.second == rule.one;
  }
  if (rule.name == "flaky") {
    return named && tries <= rule.count;
  }
  if (rule.name == "hang") {
    return named && (rule.count == 0 || tries <= rule.count);
  }
  return named && (rule.name == "link" || rule.name == "orphan" ||
                   rule.name == "latin1" || rule.name == "flood");
}

std::string befalls(const std::string &name) {
  if (name == "link") {
    return "dead";
  }
  return name == "flaky" ? "refuse" : name;
}

// What RULES make of PAIR on its TRIES-th try.
Fate fate_by(const Pair &pair, long tries,
             const std::vector<std::string> &rules) {
  Fate fate;
  fate.latency *= 1 + 0.05 * spread(pair);
  fate.bandwidth *= 1 + 0.05 * spread(pair);
  for (const std::string &line : rules) {
    std::istringstream words(line);
    Rule rule;
    words >> rule.name >> rule.one >> rule.other >> rule.count;
    if (rule.name == "across" && fate.what == "pass" &&
        crosses(pair, line.substr(rule.name.size()))) {
      fate.what = "dead";
      continue;
    }
    if (figures(fate, pair, tries, line)) {
      continue;
    }
    if (rule.name == "delay") {
      fate.delay = std::strtod(rule.one.c_str(), nullptr);
    } else if (rule.name == "stubborn") {
      fate.stubborn = true;
    } else if (rule.name == "track") {
      fate.track = true;
    } else if (fate.what == "pass" && meets(rule, pair, tries)) {
      // the first rule that meets the pair holds
      fate.what = befalls(rule.name);
      fate.bytes = rule.count;
    }
  }
  return fate;
}

Fate fate_of(const Pair &pair) {
  const long tries = next_try(pair);
  return fate_by(pair, tries, scenario_rules());
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

// Whether this stand-in plays exchange-probe rather than exchange.
bool &probing() {
  static bool probe = false;
  return probe;
}

// RANK's line: exchange's, or the probe's with FATE's figures.
std::string line_of(int rank, const Fate &fate) {
  if (!probing()) {
    return rank == 0 ? sent : received;
  }
  char line[256];
  // The other way a little slower, as real paths are.
  const double bandwidth = rank == 0 ? fate.bandwidth : fate.bandwidth * 1.01;
  (void)std::snprintf(line, sizeof line,
                      "exchange-probe rank=%d partner=%d value=777 "
                      "latency_s=%.9g bandwidth_bytes_per_s=%.9g "
                      "bytes=1048576 seconds=0.1\n",
                      rank, 1 - rank, fate.latency, bandwidth);
  return line;
}

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
    say(1, line_of(rank, fate));
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
    char numbers[64];
    (void)std::snprintf(numbers, sizeof numbers, " %.9g %.9g", fate.latency,
                        fate.bandwidth);
    put(job + ".fate", fate.what + " " + std::to_string(fate.delay) + " " +
                           std::to_string(fate.bytes) + numbers);
  } else {
    std::istringstream(wait_for(job + ".fate")) >> fate.what >> fate.delay >>
        fate.bytes >> fate.latency >> fate.bandwidth;
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

// A mesh job as srun runs it, one step of every node of SLURM_HOSTFILE,
// in that order: each pair's fate as the rules make it on a first try (the
// mesh counts no tries), its two ranks' lines, as exchange-mesh prints
// them. And rules of its own:
//   mesh_shuffle        the lines in another order, ranks mixed
//   mesh_cut N          the Nth line cut short, ran into the next
//   mesh_die N          the job ends after N lines, status 137
//   mesh_misplace       rank 1 says it runs on another host
//   mesh_unseen R       rank R says nothing at all, as one held in its start
//   mesh_stall N        the job says N lines, then hangs until it is ended
//   mesh_linger         the job says every line, then hangs until it is ended
struct MeshSpoil {
  long cut = -1; // that line cut in half
  long die = -1; // the job dies before that line
  long unseen = -1;
  long stall = -1;
  bool shuffle = false;
  bool misplace = false; // rank 1 says it runs elsewhere
  bool linger = false;
};

MeshSpoil mesh_spoil(const std::vector<std::string> &rules) {
  MeshSpoil spoil;
  for (const auto &rule : rules) {
    std::istringstream words(rule);
    std::string word;
    long count = -1;
    words >> word >> count;
    spoil.cut = word == "mesh_cut" ? count : spoil.cut;
    spoil.die = word == "mesh_die" ? count : spoil.die;
    spoil.unseen = word == "mesh_unseen" ? count : spoil.unseen;
    spoil.stall = word == "mesh_stall" ? count : spoil.stall;
    spoil.shuffle = spoil.shuffle || word == "mesh_shuffle";
    spoil.misplace = spoil.misplace || word == "mesh_misplace";
    spoil.linger = spoil.linger || word == "mesh_linger";
  }
  return spoil;
}

// What rank SELF says of its pair with PARTNER, whose fate is FATE.
std::string mesh_pair_line(std::size_t round, std::size_t self,
                           std::size_t partner, const Fate &fate, bool leader) {
  std::string line = "exchange-mesh round=" + std::to_string(round) +
                     " rank=" + std::to_string(self) +
                     " partner=" + std::to_string(partner);
  if (fate.what == "dead" || fate.what == "orphan") {
    return line + " result=timed_out\n";
  }
  if (fate.what == "refuse" || fate.what == "latin1") {
    return line + " result=failed\n";
  }
  char numbers[128];
  (void)std::snprintf(numbers, sizeof numbers,
                      " result=done value=777 latency_s=%.9g "
                      "bandwidth_bytes_per_s=%.9g\n",
                      fate.latency,
                      leader ? fate.bandwidth : fate.bandwidth * 1.01);
  return line + numbers;
}

// Every pair line of the mesh over HOSTS, as the rules make its pairs.
void mesh_pair_lines(bool all, const std::vector<std::string> &hosts,
                     const std::vector<std::string> &rules,
                     std::vector<std::string> &lines) {
  const std::size_t rounds = sweep::round_count(all, hosts.size());
  for (std::size_t round = 0; round < rounds; ++round) {
    for (std::size_t rank = 0; rank < hosts.size(); ++rank) {
      const auto seat = sweep::seat_in_round(all, hosts.size(), rank, round);
      if (!seat || !seat->first) {
        continue;
      }
      const Fate fate = fate_by({hosts[rank], hosts[seat->partner]}, 1, rules);
      lines.push_back(mesh_pair_line(round, rank, seat->partner, fate, true));
      lines.push_back(mesh_pair_line(round, seat->partner, rank, fate, false));
    }
  }
}

int mesh_main(const std::string &name, const std::vector<std::string> &args) {
  bool all = false;
  for (std::size_t i = 0; i + 1 < args.size(); ++i) {
    all = all || (args[i] == "--pattern" && args[i + 1] == "all");
  }
  std::vector<std::string> hosts;
  std::ifstream hostfile(env("SLURM_HOSTFILE"));
  for (std::string host; std::getline(hostfile, host);) {
    hosts.push_back(host);
  }
  const std::string step = env("SLURM_JOB_ID") + "." + std::to_string(getpid());
  registered() = dir() + "/steps/" + step;
  put(registered(), step + " " + name + " " + std::to_string(getpid()));
  const auto rules = scenario_rules();
  const MeshSpoil spoil = mesh_spoil(rules);
  std::vector<std::string> lines;
  for (std::size_t rank = 0; rank < hosts.size(); ++rank) {
    lines.push_back("exchange-mesh rank=" + std::to_string(rank) + " host=" +
                    (spoil.misplace && rank == 1 ? "elsewhere" : hosts[rank]) +
                    "\n");
  }
  mesh_pair_lines(all, hosts, rules, lines);
  if (spoil.unseen >= 0) {
    const std::string rank = " rank=" + std::to_string(spoil.unseen) + " ";
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [&](const std::string &line) {
                                 return line.find(rank) != std::string::npos;
                               }),
                lines.end());
  }
  if (spoil.shuffle) {
    // A fixed shuffle, so that a failure can be seen again.
    for (std::size_t i = lines.size(); i > 1; --i) {
      std::swap(lines[i - 1], lines[(i * 7919) % i]);
    }
  }
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (static_cast<long>(i) == spoil.die) {
      say(1, out);
      unlink(registered().c_str());
      return 137;
    }
    if (static_cast<long>(i) == spoil.stall) {
      say(1, out);
      never_end();
    }
    out += static_cast<long>(i) == spoil.cut
               ? lines[i].substr(0, lines[i].size() / 2)
               : lines[i];
    if (out.size() > 65536) {
      say(1, out);
      out.clear();
    }
  }
  const std::size_t rounds = sweep::round_count(all, hosts.size());
  for (std::size_t rank = 0; rank < hosts.size(); ++rank) {
    if (static_cast<long>(rank) != spoil.unseen) {
      out += "exchange-mesh rank=" + std::to_string(rank) +
             " end=" + std::to_string(rounds) + "\n";
    }
  }
  say(1, out);
  if (spoil.linger) {
    never_end();
  }
  unlink(registered().c_str());
  return 0;
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
    } else if (arg.rfind("--", 0) != 0) {
      // The program, then its own arguments.
      const std::string program = arg.substr(arg.rfind('/') + 1);
      probing() = program.rfind("exchange-probe", 0) == 0;
      if (program.rfind("exchange-mesh", 0) == 0) {
        return mesh_main(name,
                         std::vector<std::string>(argv + i + 1, argv + argc));
      }
      break;
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
  probing() = called.rfind("exchange-probe", 0) == 0;
  return called == "srun" ? srun_main(argc, argv) : rank_main();
}
