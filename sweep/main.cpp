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

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>

namespace {

volatile std::sig_atomic_t caught = 0;

extern "C" void on_signal(int signal) {
  caught = signal;
  sweep::stop_all();
}

int usage_error(const std::string &line) {
  std::cerr << "exchange-sweep: " << line << "\n";
  return 2;
}

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

// Writes TEXT to FILE; says why not.
bool write_file(const std::string &file, const std::string &text) {
  std::ofstream out(file);
  out << text;
  out.close();
  if (!out) {
    std::cerr << "exchange-sweep: cannot write " << file << "\n";
  }
  return static_cast<bool>(out);
}

} // namespace

int main(int argc, char **argv) {
  using namespace sweep;
  const Parsed parsed = parse_options(argc, argv, program_beside_me());
  if (!parsed.options) {
    (parsed.status == 0 ? std::cout : std::cerr) << parsed.message << "\n";
    return parsed.status;
  }
  const Options &options = *parsed.options;

  struct stat info {};
  if (stat(options.program.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return usage_error("PROGRAM " + options.program + " is not a file");
  }
  if (access(options.program.c_str(), X_OK) != 0) {
    return usage_error("PROGRAM " + options.program + " is not executable");
  }

  Launch launch;
  launch.program = options.program;
  launch.timeout = options.timeout;
  std::vector<std::string> nodes = options.hosts;
  if (!options.hostfile.empty()) {
    std::ifstream in(options.hostfile);
    if (!in) {
      return usage_error("cannot read host file " + options.hostfile);
    }
    nodes = read_hostfile(in);
  } else if (options.hosts.empty()) {
    const char *list = std::getenv("SLURM_JOB_NODELIST");
    if (list == nullptr) {
      return usage_error("no nodes: give --hosts or --hostfile, or run "
                         "inside a Slurm allocation");
    }
    const Captured expanded = capture({"scontrol", "show", "hostnames", list}, 30);
    if (expanded.status != 0) {
      return usage_error(std::string("scontrol could not expand "
                                     "SLURM_JOB_NODELIST=") + list);
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
      return usage_error("node " + node + " is named twice");
    }
  }
  if (nodes.size() < 2) {
    return usage_error(std::to_string(nodes.size()) +
                       " node(s) given: a pair needs 2");
  }

  const auto mpi = options.mpi ? options.mpi : linked_mpi(options.program);
  if (!mpi) {
    return usage_error("cannot tell which MPI " + options.program +
                       " is linked against; name it with --mpi");
  }
  launch.mpi = *mpi;
  const std::string launcher =
      launch.launcher == Launcher::srun ? "srun"
      : launch.mpi == Mpi::mpich        ? "mpiexec.mpich"
                                        : "mpiexec.openmpi";
  if (!on_path(launcher)) {
    return usage_error(launcher + " is not installed (not on PATH)");
  }

  struct sigaction action {};
  action.sa_handler = on_signal;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    sigaction(signal, &action, nullptr);
  }

  const auto rounds =
      options.pattern == "all" ? all_pairs(nodes) : ring(nodes);
  std::vector<Result> results;
  for (std::size_t r = 0; r < rounds.size() && caught == 0; ++r) {
    const auto outcomes = run_round(launch, rounds[r]);
    int failed = 0;
    int hung = 0;
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
      results.push_back(judge(rounds[r][i], outcomes[i], options.timeout));
      results.back().round = static_cast<int>(r) + 1;
      failed += results.back().verdict == Verdict::failed ? 1 : 0;
      hung += results.back().verdict == Verdict::exchanged_then_hung ? 1 : 0;
    }
    std::cerr << "round " << r + 1 << "/" << rounds.size() << ": "
              << rounds[r].size() << (rounds[r].size() == 1 ? " pair, " : " pairs, ")
              << failed << " failed";
    if (hung > 0) {
      std::cerr << ", " << hung << " exchanged then hung";
    }
    std::cerr << "\n";
  }

  const Suspects suspects = find_suspects(results);
  write_table(std::cout, results, suspects);
  std::cout.flush();
  if (!options.json.empty() &&
      !write_file(options.json, to_json(options.pattern, options.timeout,
                                        results, suspects)
                                        .dump(2) +
                                    "\n")) {
    return 2;
  }
  if (!options.junit.empty() &&
      !write_file(options.junit, to_junit(options.pattern, results))) {
    return 2;
  }
  if (caught != 0) {
    return 128 + caught;
  }
  for (const auto &result : results) {
    if (result.verdict != Verdict::passed) {
      return 1;
    }
  }
  return 0;
}
