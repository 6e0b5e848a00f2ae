#include "act/mesh.h"

#include "act/log.h"
#include "act/round.h"
#include "act/steps.h"
#include "decide/budget.h"
#include "decide/schedule.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace sweep {

namespace {

// How long the launcher may take to start every rank, and every rank to
// join the job and say where it runs: ten seconds, and one more for every
// hundred ranks.
double launch_allowance(std::size_t nodes) {
  return 10 + static_cast<double>(nodes) / 100;
}
// Between two rounds' marks: the pair's bound and this margin.
constexpr double mark_margin = 0.5;

std::string seconds_word(double seconds) {
  char text[32];
  (void)std::snprintf(text, sizeof text, "%g", seconds);
  return text;
}

// A host file of NODES, one a line (Open MPI's with one slot each), in a
// file of its own that goes with it.
class HostFile {
public:
  HostFile(const std::vector<std::string> &nodes, bool slots) {
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
        "/exchange-sweep-hosts.XXXXXX";
    const int file = mkostemp(pattern.data(), O_CLOEXEC);
    if (file < 0) {
      problem_ = std::string("cannot make a host file: ") + strerror(errno);
      return;
    }
    path_ = pattern;
    std::string text;
    for (const auto &node : nodes) {
      text += node + (slots ? " slots=1\n" : "\n");
    }
    if (write(file, text.data(), text.size()) !=
        static_cast<ssize_t>(text.size())) {
      problem_ = std::string("cannot write the host file: ") + strerror(errno);
    }
    close(file);
  }
  HostFile(const HostFile &) = delete;
  HostFile &operator=(const HostFile &) = delete;
  HostFile(HostFile &&) = delete;
  HostFile &operator=(HostFile &&) = delete;
  ~HostFile() {
    if (!path_.empty()) {
      unlink(path_.c_str());
    }
  }
  [[nodiscard]] const std::string &path() const { return path_; }
  [[nodiscard]] const std::string &problem() const { return problem_; }

private:
  std::string path_;
  std::string problem_;
};

} // namespace

double mesh_pair_bound(double timeout, bool measure, double measure_time) {
  return std::min(timeout, 2 + (measure ? 10 * measure_time : 0));
}

double mesh_bound(const MeshPlan &plan, std::size_t nodes) {
  const auto rounds = static_cast<double>(round_count(plan.all, nodes));
  return launch_allowance(nodes) + 2 * plan.start_allowance +
         rounds * (plan.pair_bound + mark_margin);
}

std::vector<std::string>
mesh_command(const Launch &launch, const MeshPlan &plan, const MeshJob &job) {
  const std::size_t nodes = job.nodes;
  const std::string &hostfile = job.hostfile;
  const std::string &step = job.step;
  const std::string count = std::to_string(nodes);
  const double bound = mesh_bound(plan, nodes);
  std::vector<std::string> command;
  if (launch.launcher == Launcher::srun) {
    const long minutes = static_cast<long>(std::ceil(bound / 60)) + 1;
    // The nodes come from the host file: newer Slurm refuses --nodes beside
    // an arbitrary distribution.
    command = {"srun",
               launch.mpi == Mpi::mpich ? "--mpi=pmi2" : "--mpi=pmix",
               "--ntasks=" + count,
               "--ntasks-per-node=1",
               "--distribution=arbitrary",
               "--kill-on-bad-exit=0",
               "--job-name=" + step,
               "--time=" + std::to_string(minutes)};
  } else if (launch.mpi == Mpi::openmpi) {
    command = {launcher_program(launch),
               "--hostfile",
               hostfile,
               "--map-by",
               "node",
               "-n",
               count,
               "--timeout",
               std::to_string(static_cast<long>(std::ceil(bound)))};
  } else {
    command = {
        launcher_program(launch), "-f", hostfile, "-ppn", "1", "-n", count};
  }
  const std::vector<std::string> mesh = {plan.program,
                                         "--pattern",
                                         plan.all ? "all" : "ring",
                                         "--nodes",
                                         count,
                                         "--pair-bound",
                                         seconds_word(plan.pair_bound),
                                         "--start-allowance",
                                         seconds_word(plan.start_allowance)};
  command.insert(command.end(), mesh.begin(), mesh.end());
  if (plan.measure) {
    command.insert(command.end(),
                   {"--measure-time", seconds_word(plan.measure_time)});
  } else {
    command.emplace_back("--no-measure");
  }
  return command;
}

MeshRun run_mesh(const Launch &launch, const MeshPlan &plan,
                 const std::vector<std::string> &nodes) {
  MeshRun run;
  const HostFile hosts(nodes, launch.launcher == Launcher::mpiexec &&
                                  launch.mpi == Mpi::openmpi);
  if (!hosts.problem().empty()) {
    run.problem = hosts.problem();
    return run;
  }
  Launch whole = launch;
  whole.timeout = mesh_bound(plan, nodes.size());
  whole.parallel = 1;
  auto added = added_environment(whole);
  if (launch.launcher == Launcher::srun) {
    added.push_back("SLURM_HOSTFILE=" + hosts.path());
  }
  const Environment environment(added, removed_environment(whole));
  MeshTally tally(nodes, plan.all);
  JobSpec spec;
  spec.step = step_prefix() + "mesh";
  spec.argv =
      mesh_command(whole, plan, {nodes.size(), hosts.path(), spec.step});
  spec.bound = whole.timeout;
  spec.name = "mesh";
  spec.sink = [&tally](std::string_view chunk) { tally.bytes(chunk); };
  // A rank that cannot join the job (MPICH waits in MPI_Init for a host
  // whose data link, or whose path to another, is dead) may hold every
  // rank: a job that by then has neither said where all its ranks run nor
  // reported a pair is ended, and its pairs run as jobs of their own. One
  // that reports pairs goes on to its own bound.
  spec.started = [&tally, &nodes] {
    return tally.identified() == nodes.size() || tally.reported() > 0;
  };
  spec.start_bound = launch_allowance(nodes.size()) + plan.start_allowance;
  // Every rank said its last: a rank that hangs in leaving (MPICH 4.0's
  // finalize) is not waited for. Nor, past the start bound, are ranks that
  // never joined once every rank that did has said its last: their
  // partners have given up on them, and their pairs run as jobs of their
  // own (MPICH 4.0 holds both ends of a dead path in MPI_Init).
  const auto begun = std::chrono::steady_clock::now();
  spec.finished = [&tally, &nodes, begun, bound = spec.start_bound] {
    const std::chrono::duration<double> since =
        std::chrono::steady_clock::now() - begun;
    return tally.finished() == nodes.size() ||
           (tally.finished() > 0 && tally.finished() == tally.identified() &&
            since.count() >= bound);
  };
  Rounds rounds(whole, environment);
  const auto outcomes = rounds.run_jobs({spec});
  rounds.end_all();
  run.ran = true;
  if (!outcomes.empty()) {
    run.seconds = outcomes.front().seconds;
    run.status = outcomes.front().status;
  }
  run.attempts = tally.attempts();
  run.reported = tally.reported();
  run.unreadable = tally.unreadable();
  run.problem = tally.problem();
  say("mesh: " + std::to_string(run.reported) + " lines of pairs, " +
      std::to_string(run.unreadable) + " unreadable" +
      (run.problem.empty() ? "" : "; " + run.problem));
  return run;
}

} // namespace sweep
