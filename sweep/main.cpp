// exchange-sweep: runs exchange between pairs of nodes, in rounds of
// disjoint pairs, each pair bounded in time; reports every pair, and names
// the nodes and links that the failures point at.
#include "launch.h"
#include "nodes.h"
#include "options.h"
#include "report.h"
#include "schedule.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string_view>

namespace {

using namespace sweep;

// The signal that stopped the sweep; set from its handler.
volatile std::sig_atomic_t caught = 0; // NOLINT

extern "C" void on_signal(int signal) {
  caught = signal;
  stop_all();
}

// What stops the sweep before it starts: one line, status 2.
struct Refusal : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// exchange of the sweep's own implementation, installed beside it.
std::string program_beside_me() {
  std::string self(4096, '\0');
  const ssize_t length = readlink("/proc/self/exe", self.data(), self.size());
  if (length <= 0) {
    return "";
  }
  self.resize(static_cast<std::size_t>(length));
  return self.substr(0, self.rfind('/') + 1) + EXCHANGE_SWEEP_PROGRAM;
}

bool on_path(const std::string &name) {
  const char *path = std::getenv("PATH");
  std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (access(((dir.empty() ? "." : dir) + "/" + name).c_str(), X_OK) == 0) {
      return true;
    }
  }
  return false;
}

void check_program(const std::string &program) {
  struct stat info {};
  if (stat(program.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    throw Refusal("PROGRAM " + program + " is not a file");
  }
  if (access(program.c_str(), X_OK) != 0) {
    throw Refusal("PROGRAM " + program + " is not executable");
  }
}

// The nodes to pair, and whether they are a Slurm allocation's.
std::vector<std::string> find_nodes(const Options &options, Launch &launch) {
  std::vector<std::string> nodes = options.hosts;
  if (!options.hostfile.empty()) {
    std::ifstream file(options.hostfile);
    if (!file) {
      throw Refusal("cannot read host file " + options.hostfile);
    }
    nodes = read_hostfile(file);
  } else if (options.hosts.empty()) {
    const char *list = std::getenv("SLURM_JOB_NODELIST");
    if (list == nullptr) {
      throw Refusal("no nodes: give --hosts or --hostfile, or run inside a "
                    "Slurm allocation");
    }
    const Captured expanded =
        capture({"scontrol", "show", "hostnames", list}, 30);
    if (expanded.status != 0) {
      throw Refusal(std::string("scontrol could not expand "
                                "SLURM_JOB_NODELIST=") +
                    list);
    }
    std::istringstream names(expanded.out);
    for (std::string name; std::getline(names, name);) {
      nodes.push_back(name);
    }
    launch.launcher = Launcher::srun;
  }
  std::set<std::string> seen;
  for (const auto &node : nodes) {
    if (!seen.insert(node).second) {
      throw Refusal("node " + node + " is named twice");
    }
  }
  if (nodes.size() < 2) {
    throw Refusal(std::to_string(nodes.size()) +
                  " node(s) given: a pair needs 2");
  }
  return nodes;
}

void choose_mpi(const Options &options, Launch &launch) {
  const auto mpi = options.mpi ? options.mpi : linked_mpi(options.program);
  if (!mpi) {
    throw Refusal("cannot tell which MPI " + options.program +
                  " is linked against; name it with --mpi");
  }
  launch.mpi = *mpi;
  std::string launcher = "srun";
  if (launch.launcher == Launcher::mpiexec) {
    launcher = launch.mpi == Mpi::mpich ? "mpiexec.mpich" : "mpiexec.openmpi";
  }
  if (!on_path(launcher)) {
    throw Refusal(launcher + " is not installed (not on PATH)");
  }
}

// Runs the rounds one after another, saying how each went.
std::vector<Result> sweep_rounds(const std::vector<Round> &rounds,
                                 const Launch &launch) {
  std::vector<Result> results;
  for (std::size_t index = 0; index < rounds.size() && caught == 0; ++index) {
    const Round &round = rounds[index];
    const auto outcomes = run_round(launch, round);
    int failed = 0;
    int hung = 0;
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
      results.push_back(judge(round[i], outcomes[i], launch.timeout));
      results.back().round = static_cast<int>(index) + 1;
      failed += results.back().verdict == Verdict::failed ? 1 : 0;
      hung += results.back().verdict == Verdict::exchanged_then_hung ? 1 : 0;
    }
    std::cerr << "round " << index + 1 << "/" << rounds.size() << ": "
              << round.size() << (round.size() == 1 ? " pair, " : " pairs, ")
              << failed << " failed";
    if (hung > 0) {
      std::cerr << ", " << hung << " exchanged then hung";
    }
    std::cerr << "\n";
  }
  return results;
}

void write_file(const std::string &file, std::string_view text) {
  std::ofstream out(file);
  out << text;
  out.close();
  if (!out) {
    throw Refusal("cannot write " + file);
  }
}

int run(const Options &options) {
  check_program(options.program);
  Launch launch;
  launch.program = options.program;
  launch.timeout = options.timeout;
  const auto nodes = find_nodes(options, launch);
  choose_mpi(options, launch);

  struct sigaction action {};
  action.sa_handler = on_signal;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    sigaction(signal, &action, nullptr);
  }
  const auto rounds = options.pattern == "all" ? all_pairs(nodes) : ring(nodes);
  const auto results = sweep_rounds(rounds, launch);

  const Suspects suspects = find_suspects(results);
  write_table(std::cout, results, suspects);
  std::cout.flush();
  if (!options.json.empty()) {
    write_file(
        options.json,
        to_json(options.pattern, options.timeout, results, suspects).dump(2) +
            "\n");
  }
  if (!options.junit.empty()) {
    write_file(options.junit, to_junit(options.pattern, results));
  }
  if (caught != 0) {
    return 128 + caught;
  }
  const bool all_passed =
      std::all_of(results.begin(), results.end(), [](const Result &result) {
        return result.verdict == Verdict::passed;
      });
  return all_passed ? 0 : 1;
}

} // namespace

int main(int argc, char **argv) {
  const Parsed parsed = parse_options(argc, argv, program_beside_me());
  if (!parsed.options) {
    (parsed.status == 0 ? std::cout : std::cerr) << parsed.message << "\n";
    return parsed.status;
  }
  try {
    return run(*parsed.options);
  } catch (const Refusal &refusal) {
    std::cerr << "exchange-sweep: " << refusal.what() << "\n";
    return 2;
  }
}
