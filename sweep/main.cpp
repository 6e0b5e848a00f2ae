// exchange-sweep: runs exchange between pairs of nodes, in rounds of
// disjoint pairs, each pair bounded in time; tries again what did not
// pass and confirms each failing node with a known-good partner; reports
// every pair, and names the nodes and links that the evidence points at.
#include "blame.h"
#include "budget.h"
#include "drain.h"
#include "launch.h"
#include "limits.h"
#include "nodes.h"
#include "options.h"
#include "output.h"
#include "report.h"
#include "schedule.h"
#include "sweep.h"
#include "text.h"
#include "topology.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <sstream>
#include <stdexcept>

namespace {

using namespace sweep;

// The first signal that stopped the sweep; set from its handler.
volatile std::sig_atomic_t caught = 0; // NOLINT

extern "C" void on_signal(int signal) {
  if (caught == 0) {
    caught = signal;
  }
  request_stop();
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
    throw Refusal("PROGRAM " + one_line(program) + " is not a file");
  }
  if (access(program.c_str(), X_OK) != 0) {
    throw Refusal("PROGRAM " + one_line(program) + " is not executable");
  }
}

std::vector<std::string> allocation_nodes() {
  const char *list = std::getenv("SLURM_JOB_NODELIST");
  if (list == nullptr) {
    throw Refusal("no nodes: give --hosts or --hostfile, or run inside a "
                  "Slurm allocation");
  }
  const Captured expanded =
      capture({"scontrol", "show", "hostnames", list}, 30, Keep::all);
  if (expanded.status != 0 || !expanded.complete) {
    throw Refusal("scontrol could not expand SLURM_JOB_NODELIST=" +
                  one_line(list));
  }
  std::vector<std::string> nodes;
  std::istringstream names(expanded.out);
  for (std::string name; std::getline(names, name);) {
    const std::string why = host_name_problem(name);
    if (!why.empty()) {
      throw Refusal("Slurm's node list: " + why);
    }
    nodes.push_back(name);
  }
  return nodes;
}

// The nodes to pair, and whether they are a Slurm allocation's.
std::vector<std::string> find_nodes(const Options &options, Launch &launch) {
  std::vector<std::string> nodes = options.hosts;
  for (const auto &node : nodes) {
    const std::string why = host_name_problem(node);
    if (!why.empty()) {
      throw Refusal("--hosts: " + why);
    }
  }
  if (!options.hostfile.empty()) {
    std::ifstream file(options.hostfile);
    if (!file) {
      throw Refusal("cannot read host file " + one_line(options.hostfile));
    }
    std::string problem;
    nodes = read_hostfile(file, problem);
    if (!problem.empty()) {
      throw Refusal("host file " + one_line(options.hostfile) + ", " + problem);
    }
  } else if (options.hosts.empty()) {
    nodes = allocation_nodes();
    launch.launcher = Launcher::srun;
    launch.job = own_job();
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
    throw Refusal("cannot tell which MPI " + one_line(options.program) +
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

OutputFile output(const std::string &path) {
  if (path.empty()) {
    return {};
  }
  try {
    return OutputFile(path);
  } catch (const OutputError &error) {
    throw Refusal(one_line(error.what()));
  }
}

// One line on standard error for each round.
void tell_round(int number, const char *kind, const Round &round,
                const std::vector<Attempt> &tries) {
  int failed = 0;
  int hung = 0;
  int cut = 0;
  for (const auto &attempt : tries) {
    failed += attempt.verdict == Verdict::failed ? 1 : 0;
    hung += attempt.verdict == Verdict::exchanged_then_hung ? 1 : 0;
    cut += attempt.verdict == Verdict::not_run ? 1 : 0;
  }
  std::cerr << "round " << number << " (" << kind << "): " << round.size()
            << (round.size() == 1 ? " pair, " : " pairs, ") << failed
            << " failed";
  if (hung > 0) {
    std::cerr << ", " << hung << " exchanged then hung";
  }
  if (cut > 0) {
    std::cerr << ", " << cut << " cut short";
  }
  std::cerr << "\n";
}

Usage usage_since(std::chrono::steady_clock::time_point start,
                  std::size_t descriptors) {
  Usage usage;
  usage.wall_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
          .count();
  rusage self{};
  getrusage(RUSAGE_SELF, &self);
  usage.cpu_seconds =
      static_cast<double>(self.ru_utime.tv_sec + self.ru_stime.tv_sec) +
      static_cast<double>(self.ru_utime.tv_usec + self.ru_stime.tv_usec) / 1e6;
  usage.max_rss_kib = self.ru_maxrss; // NOLINT: glibc's rusage holds unions
  usage.max_descriptors = descriptors + Watch::peak_pipes();
  return usage;
}

Budget budget_of(const Options &options, std::size_t nodes) {
  return {nodes, options.parallel, options.retries, options.timeout};
}

// Warns in one line when the allocation would end before the sweep's
// worst case; Slurm would then cut it short with SIGTERM.
void check_time_left(const Launch &launch, const Plan &plan,
                     const Options &options) {
  if (launch.job.id.empty()) {
    return;
  }
  const Captured left = capture(
      {"squeue", "--noheader", "--jobs=" + launch.job.id, "--format=%L"}, 10);
  const auto seconds = time_left_seconds(left.out);
  std::vector<std::size_t> sizes;
  std::transform(plan.pattern.begin(), plan.pattern.end(),
                 std::back_inserter(sizes),
                 [](const Round &round) { return round.size(); });
  const double worst =
      worst_case_seconds(sizes, budget_of(options, plan.nodes.size()));
  if (left.status == 0 && seconds && *seconds < worst) {
    std::cerr << "exchange-sweep: warning: this sweep can take up to "
              << static_cast<long>(std::ceil(worst / 60))
              << " min, and its job has " << static_cast<long>(*seconds / 60)
              << " min left: it may be cut short (see TIME LIMITS in "
                 "exchange-sweep(1))\n";
  }
}

// The switch tree: from --topology, or inside an allocation from Slurm's
// topology/tree when it is configured; none otherwise.
Topology find_topology(const Options &options, const Launch &launch) {
  std::string text;
  if (!options.topology.empty()) {
    std::ifstream file(options.topology);
    if (!file) {
      throw Refusal("cannot read topology file " + one_line(options.topology));
    }
    text.assign(std::istreambuf_iterator<char>(file), {});
  } else if (launch.launcher == Launcher::srun) {
    const Captured shown =
        capture({"scontrol", "show", "topology"}, 30, Keep::all);
    if (shown.status != 0 ||
        shown.out.find("SwitchName=") == std::string::npos) {
      return {};
    }
    text = shown.out;
  }
  try {
    return Topology::parse(text);
  } catch (const TopologyError &error) {
    throw Refusal("topology" +
                  (options.topology.empty()
                       ? std::string(" from Slurm")
                       : " file " + one_line(options.topology)) +
                  ", " + one_line(error.what()));
  }
}

DrainMode drain_mode(const Options &options, const Launch &launch) {
  if (options.drain.empty()) {
    return DrainMode::off;
  }
  if (launch.launcher != Launcher::srun) {
    throw Refusal("--drain works inside a Slurm allocation only");
  }
  const std::string refusal = drain_refusal();
  if (!refusal.empty()) {
    throw Refusal(refusal);
  }
  return options.drain == "dry-run" ? DrainMode::dry_run : DrainMode::on;
}

// All that the sweep needs, checked before anything is launched.
struct Setup {
  Launch launch;
  Plan plan;
  Topology topology;
  DrainMode drain = DrainMode::off;
  OutputFile json;
  OutputFile junit;
  OutputFile html;
};

Setup prepare(const Options &options) {
  check_program(options.program);
  Setup setup;
  setup.launch.program = options.program;
  setup.launch.timeout = options.timeout;
  setup.launch.parallel = options.parallel;
  setup.plan.nodes = find_nodes(options, setup.launch);
  choose_mpi(options, setup.launch);
  setup.topology = find_topology(options, setup.launch);
  setup.drain = drain_mode(options, setup.launch);
  setup.json = output(options.json);
  setup.junit = output(options.junit);
  setup.html = output(options.html);
  const std::string no_room =
      room_for(options.parallel, Watch::open_descriptors());
  if (!no_room.empty()) {
    throw Refusal(no_room);
  }
  // With a tree, each switch's nodes in a row: a ring then pairs them
  // inside their switch and with the next switch's, and a confirmation
  // takes a partner under the same switch first.
  if (!setup.topology.empty()) {
    setup.plan.nodes = setup.topology.in_order(setup.plan.nodes);
    setup.plan.rank = [topology = setup.topology](const std::string &node,
                                                  const std::string &partner) {
      return topology.switch_of(node) == topology.switch_of(partner) ? 0 : 1;
    };
  }
  setup.plan.pattern = options.pattern == "all" ? all_pairs(setup.plan.nodes)
                                                : ring(setup.plan.nodes);
  setup.plan.retries = options.retries;
  setup.plan.timeout = options.timeout;
  check_time_left(setup.launch, setup.plan, options);
  return setup;
}

int status_of(const Report &report) {
  if (!failure().empty()) {
    std::cerr << "exchange-sweep: " << failure() << "\n";
    return 2;
  }
  if (caught != 0) {
    return 128 + caught;
  }
  if (report.findings.global_fault) {
    return 3;
  }
  return all_clear(report) ? 0 : 1;
}

int run(const Options &options) {
  const auto start = std::chrono::steady_clock::now();
  if (options.worst_case > 0) {
    std::cout << static_cast<long>(std::ceil(
                     worst_case_seconds(
                         round_sizes(options.pattern, options.worst_case),
                         budget_of(options, options.worst_case)) /
                     60))
              << "\n";
    return 0;
  }
  Setup setup = prepare(options);
  const Environment environment(added_environment(setup.launch),
                                removed_environment(setup.launch));
  const std::size_t descriptors = Watch::open_descriptors();
  const Swept swept = run_sweep(
      setup.plan,
      [&](const Round &round) {
        return run_round(setup.launch, round, environment);
      },
      [] { return stop_requests() > 0 || !failure().empty(); }, tell_round);

  Report report;
  report.pattern = options.pattern;
  report.timeout = options.timeout;
  report.retries = options.retries;
  report.nodes = setup.plan.nodes.size();
  report.node_order = setup.plan.nodes;
  report.topology = setup.topology;
  report.records = swept.records;
  report.complete = swept.complete && failure().empty();
  report.signal = caught;
  report.findings = attribute(report.records, report.nodes, report.topology);
  const std::size_t most = options.drain_max > 0
                               ? options.drain_max
                               : default_drain_max(report.nodes);
  report.drain = drain_suspects(
      setup.drain, most, report.findings, report.complete, report.records,
      setup.json.wanted()
          ? std::filesystem::absolute(setup.json.path()).string()
          : "");
  report.usage = usage_since(start, descriptors);
  write_table(std::cout, report);
  std::cout.flush();
  if (setup.json.wanted()) {
    setup.json.commit(
        to_json(report).dump(2, ' ', false,
                             nlohmann::json::error_handler_t::replace) +
        "\n");
  }
  if (setup.junit.wanted()) {
    setup.junit.commit(to_junit(report));
  }
  if (setup.html.wanted()) {
    setup.html.commit(to_html(report));
  }
  return status_of(report);
}

} // namespace

int main(int argc, char **argv) {
  prepare_signals(on_signal);
  try {
    const Parsed parsed = parse_options(argc, argv, program_beside_me());
    if (!parsed.options) {
      (parsed.status == 0 ? std::cout : std::cerr) << parsed.message << "\n";
      return parsed.status;
    }
    return run(*parsed.options);
  } catch (const Refusal &refusal) {
    std::cerr << "exchange-sweep: " << refusal.what() << "\n";
  } catch (const std::exception &error) {
    std::cerr << "exchange-sweep: " << one_line(error.what()) << "\n";
  }
  return 2;
}
