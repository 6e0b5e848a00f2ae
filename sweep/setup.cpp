#include "setup.h"

#include "act/drain.h"
#include "act/limits.h"
#include "act/process.h"
#include "act/stop.h"
#include "decide/blame.h"
#include "given/hosts.h"
#include "given/slurm.h"
#include "given/text.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

namespace sweep {

namespace {

// Slurm's commands, as given/slurm.h asks them.
Answer ask(const std::vector<std::string> &argv,
           const std::vector<std::string> &environment) {
  const Captured got = capture(argv, query_bound, Keep::all, environment);
  return {got.status, got.out, got.err, got.complete};
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

// The nodes to pair, and whether they are a Slurm allocation's.
std::vector<std::string> find_nodes(const Options &options, Setup &setup) {
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
    const char *list = std::getenv("SLURM_JOB_NODELIST");
    if (list == nullptr) {
      throw Refusal("no nodes: give --hosts or --hostfile, or run inside a "
                    "Slurm allocation");
    }
    nodes = allocation_nodes(list, ask);
    setup.launch.launcher = Launcher::srun;
    setup.launch.job = own_job();
  }
  nodes = unique_hosts(nodes, setup.duplicates);
  if (nodes.size() < 2) {
    throw Refusal(std::to_string(nodes.size()) +
                  " node(s) given: a pair needs 2");
  }
  for (const auto &twice : setup.duplicates) {
    std::cerr << "exchange-sweep: warning: host " << twice
              << " is named again (host names are case-insensitive); "
                 "it is swept once\n";
  }
  return nodes;
}

void choose_mpi(const Options &options, Launch &launch) {
  const auto mpi = options.mpi ? options.mpi : linked_mpi(launch.program);
  if (!mpi) {
    throw Refusal("cannot tell which MPI " + one_line(launch.program) +
                  " is linked against; name it with --mpi");
  }
  launch.mpi = *mpi;
  const std::string launcher = launcher_program(launch);
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

// The switch tree: from --topology FILE (which must be read whole), none
// with --topology none, or inside an allocation from Slurm's topology/tree
// where it is configured; a tree Slurm gives that cannot be read is
// warned of, and the sweep goes on in host order.
void find_topology(const Options &options, Setup &setup) {
  if (options.topology == "none") {
    setup.topology_source = "none";
    return;
  }
  if (!options.topology.empty()) {
    setup.topology_source = "file";
    std::ifstream file(options.topology);
    if (!file) {
      throw Refusal("cannot read topology file " + one_line(options.topology));
    }
    const std::string text{std::istreambuf_iterator<char>(file), {}};
    try {
      setup.topology = Topology::parse(text);
    } catch (const TopologyError &error) {
      throw Refusal("topology file " + one_line(options.topology) + ", " +
                    one_line(error.what()));
    }
    return;
  }
  if (setup.launch.launcher != Launcher::srun) {
    return;
  }
  std::string problem;
  setup.topology = slurm_topology(ask, problem);
  if (!setup.topology.empty() || !problem.empty()) {
    setup.topology_source = "slurm";
  }
  setup.topology_problem = problem;
  if (!problem.empty()) {
    std::cerr << "exchange-sweep: warning: Slurm's switch tree could not be "
                 "read ("
              << problem << "); sweeping in host order, with no switch or "
              << "uplink named\n";
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

std::size_t most_drained(const Options &options, std::size_t nodes) {
  return options.drain_max > 0 ? options.drain_max : default_drain_max(nodes);
}

Budget budget_of(const Options &options, std::size_t nodes, bool steps) {
  Budget budget{nodes,
                options.parallel,
                options.retries,
                options.timeout,
                steps,
                options.drain.empty() ? 0 : most_drained(options, nodes)};
  budget.measured = options.measure && !options.program_given;
  return budget;
}

// The mesh, where the options and what is installed allow it: it runs
// its own exchange and measure, so not with a PROGRAM of the user's.
void choose_engine(const Options &options, Setup &setup) {
  setup.engine = options.program_given ? "pairs" : options.engine;
  if (setup.engine == "pairs") {
    return;
  }
  setup.mesh.program = options.mesh.empty() ? mesh_beside_me() : options.mesh;
  const std::string problem = program_problem(setup.mesh.program);
  if (!problem.empty()) {
    if (setup.engine == "mesh" || !options.mesh.empty()) {
      throw Refusal("the mesh: " + problem +
                    " (give --mesh, or --engine pairs)");
    }
    setup.engine = "pairs"; // none installed beside the sweep
    return;
  }
  setup.mesh.all = options.pattern == "all";
  setup.mesh.measure = setup.plan.measured;
  setup.mesh.measure_time = options.measure_time;
  setup.mesh.pair_bound = mesh_pair_bound(options.timeout, setup.plan.measured,
                                          options.measure_time);
  setup.mesh_run = std::make_shared<MeshRun>();
  setup.plan.mesh_only = setup.engine == "mesh";
  setup.plan.run_mesh = [launch = setup.launch, mesh = setup.mesh,
                         nodes = setup.plan.nodes, run = setup.mesh_run] {
    *run = run_mesh(launch, mesh, nodes);
    return std::move(run->attempts);
  };
  setup.budget.mesh_seconds = mesh_bound(setup.mesh, setup.plan.nodes.size());
}

std::vector<std::size_t> sizes_of(const Plan &plan) {
  std::vector<std::size_t> sizes;
  std::transform(plan.pattern.begin(), plan.pattern.end(),
                 std::back_inserter(sizes),
                 [](const Round &round) { return round.size(); });
  return sizes;
}

// Warns in one line when the allocation would end before the sweep's
// worst case; Slurm would then cut it short with SIGTERM.
void check_time_left(const Setup &setup) {
  if (setup.launch.job.id.empty()) {
    return;
  }
  const Captured left = capture(
      {"squeue", "--noheader", "--jobs=" + setup.launch.job.id, "--format=%L"},
      helper_bound);
  const auto seconds = time_left_seconds(left.out);
  const double worst = worst_case_seconds(sizes_of(setup.plan), setup.budget);
  if (left.status == 0 && seconds && *seconds < worst) {
    std::cerr << "exchange-sweep: warning: this sweep can take up to "
              << static_cast<long>(std::ceil(worst / 60))
              << " min, and its job has " << static_cast<long>(*seconds / 60)
              << " min left: it may be cut short (see TIME LIMITS in "
                 "exchange-sweep(1))\n";
  }
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

} // namespace

namespace {

std::string beside_me(const char *name) {
  std::string self(4096, '\0');
  const ssize_t length = readlink("/proc/self/exe", self.data(), self.size());
  if (length <= 0) {
    return "";
  }
  self.resize(static_cast<std::size_t>(length));
  return self.substr(0, self.rfind('/') + 1) + name;
}

} // namespace

std::string program_beside_me() { return beside_me(EXCHANGE_SWEEP_PROGRAM); }

std::string probe_beside_me() { return beside_me(EXCHANGE_SWEEP_PROBE); }

std::string mesh_beside_me() { return beside_me(EXCHANGE_SWEEP_MESH); }

double worst_case(const Options &options, std::size_t nodes, bool steps) {
  Budget budget = budget_of(options, nodes, steps);
  if (!options.program_given && options.engine != "pairs") {
    // A mesh first, wherever one is installed.
    MeshPlan mesh;
    mesh.all = options.pattern == "all";
    mesh.pair_bound =
        mesh_pair_bound(options.timeout, options.measure, options.measure_time);
    budget.mesh_seconds = mesh_bound(mesh, nodes);
  }
  return worst_case_seconds(round_sizes(options.pattern, nodes), budget);
}

Setup prepare(const Options &options) {
  // The probe measures, unless told not to or given exchange to run.
  const bool measured = options.measure && !options.program_given;
  const std::string program =
      !measured ? options.program
                : (options.probe.empty() ? probe_beside_me() : options.probe);
  const std::string problem = program_problem(program);
  if (!problem.empty()) {
    throw Refusal(measured ? "the measuring program: " + problem +
                                 " (give --probe, or --no-measure)"
                           : problem);
  }
  Setup setup;
  setup.launch.program = program;
  if (measured) {
    setup.launch.arguments = {"--measure-time",
                              std::to_string(options.measure_time)};
  }
  setup.launch.timeout = options.timeout;
  setup.launch.parallel = options.parallel;
  setup.plan.nodes = find_nodes(options, setup);
  choose_mpi(options, setup.launch);
  find_topology(options, setup);
  setup.drain = drain_mode(options, setup.launch);
  setup.files.json = output(options.json);
  setup.files.junit = output(options.junit);
  setup.files.html = output(options.html);
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
  if (measured) {
    SlowLimits limits;
    limits.bandwidth_share = options.slow_bandwidth;
    limits.latency_factor = options.slow_latency;
    limits.min_bandwidth = options.min_bandwidth;
    limits.max_latency = options.max_latency;
    setup.slow = std::make_shared<SlowJudge>(
        limits, [topology = setup.topology](const Pair &pair) {
          return topology.switch_of(pair.first) ==
                         topology.switch_of(pair.second)
                     ? 0
                     : 1;
        });
    setup.plan.measured = true;
    setup.plan.judge_round =
        [slow = setup.slow](std::vector<PairRecord> &records,
                            const std::vector<std::size_t> &round,
                            bool pattern) {
          slow->judge(records, round, pattern);
        };
  }
  setup.budget = budget_of(options, setup.plan.nodes.size(),
                           setup.launch.launcher == Launcher::srun);
  choose_engine(options, setup);
  check_time_left(setup);
  setup.descriptors = Watch::open_descriptors();
  return setup;
}

Report report_of(const Options &options, Setup &setup, const Swept &swept,
                 std::chrono::steady_clock::time_point start) {
  Report report;
  report.pattern = options.pattern;
  report.timeout = options.timeout;
  report.retries = options.retries;
  report.nodes = setup.plan.nodes.size();
  report.node_order = setup.plan.nodes;
  report.duplicates = setup.duplicates;
  report.topology = setup.topology;
  report.topology_source = setup.topology_source;
  report.topology_problem = setup.topology_problem;
  report.records = swept.records;
  report.complete = swept.complete && sweep_failure().empty();
  report.signal = stop_signal();
  report.findings =
      attribute(report.records, report.nodes, report.topology, report.complete);
  if (setup.engine == "mesh" && report.complete) {
    unreported_undetermined(report.records, report.findings);
  }
  report.measured = setup.plan.measured;
  report.engine = setup.engine;
  if (setup.mesh_run && setup.mesh_run->ran) {
    report.mesh = *setup.mesh_run;
  }
  if (setup.slow) {
    report.fabric = setup.slow->fabric();
  }
  report.worst_case_seconds =
      worst_case_seconds(sizes_of(setup.plan), setup.budget);
  const std::string json_path =
      setup.files.json.wanted()
          ? std::filesystem::absolute(setup.files.json.path()).string()
          : "";
  std::map<std::string, NodeState> states;
  if (setup.drain != DrainMode::off && report.complete &&
      !report.findings.global_fault) {
    states = node_states(drain_candidates(report.findings, options.drain_slow));
  }
  report.drain = plan_drain(setup.drain, most_drained(options, report.nodes),
                            report.findings, report.complete, states,
                            report.records, json_path, options.drain_slow);
  drain_nodes(report.drain);
  report.usage = usage_since(start, setup.descriptors);
  return report;
}

} // namespace sweep
