#include "act/flavour.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

namespace sweep {

namespace {

// The table: each implementation's mpiexec, and the plugin srun starts
// its ranks with.
struct Flavour {
  Mpi mpi;
  const char *mpiexec;
  const char *srun_plugin;
};
constexpr std::array<Flavour, 2> flavours{{
    {Mpi::mpich, "mpiexec.mpich", "--mpi=pmi2"},
    {Mpi::openmpi, "mpiexec.openmpi", "--mpi=pmix"},
}};

const Flavour &flavour_of(Mpi mpi) {
  return *std::find_if(
      flavours.begin(), flavours.end(),
      [mpi](const Flavour &flavour) { return flavour.mpi == mpi; });
}

std::string whole_seconds(double seconds) {
  return std::to_string(static_cast<long>(std::ceil(seconds)));
}

// The launcher and its flags for one pair, up to the program.
std::vector<std::string> launcher_words(const Launch &launch, const Pair &pair,
                                        const std::string &step) {
  const std::string hosts = pair.first + "," + pair.second;
  const Flavour &flavour = flavour_of(launch.mpi);
  if (launch.launcher == Launcher::srun) {
    // --time only backs up the bound here; Slurm counts in minutes.
    const long minutes = static_cast<long>(std::ceil(launch.timeout / 60)) + 1;
    return {"srun",
            flavour.srun_plugin,
            "--nodes=2",
            "--ntasks=2",
            "--ntasks-per-node=1",
            "--nodelist=" + hosts,
            "--kill-on-bad-exit=1",
            "--job-name=" + step,
            "--time=" + std::to_string(minutes)};
  }
  if (launch.mpi == Mpi::openmpi) {
    return {flavour.mpiexec,
            "--host",
            hosts,
            "--map-by",
            "node",
            "-n",
            "2",
            "--timeout",
            whole_seconds(launch.timeout)};
  }
  return {flavour.mpiexec, "-hosts", hosts, "-ppn", "1", "-n", "2"};
}

} // namespace

std::string launcher_program(const Launch &launch) {
  return launch.launcher == Launcher::srun ? "srun"
                                           : flavour_of(launch.mpi).mpiexec;
}

std::vector<std::string> job_command(const Launch &launch, const Pair &pair,
                                     const std::string &step) {
  auto command = launcher_words(launch, pair, step);
  command.push_back(launch.program);
  command.insert(command.end(), launch.arguments.begin(),
                 launch.arguments.end());
  return command;
}

std::vector<std::string> added_environment(const Launch &launch) {
  if (launch.launcher == Launcher::srun && launch.mpi == Mpi::openmpi &&
      std::getenv("SLURM_PMIX_FENCE") == nullptr) {
    // Slurm's PMIx plugin ends a fence that collects no data by its tree
    // by default; then Open MPI 5 now and then takes a message before its
    // world is set up, and crashes. Its ring does not (unless the site
    // chose otherwise).
    return {"SLURM_PMIX_FENCE=ring"};
  }
  if (launch.launcher == Launcher::mpiexec && launch.mpi == Mpi::mpich) {
    // Hydra takes its bound from the environment only, and counts it in
    // whole seconds of the clock: a job that ends just after a second
    // turns may find its bound a second short, and its launcher ends it in
    // error. A second more keeps the sweep's own bound the one that holds.
    return {"MPIEXEC_TIMEOUT=" +
            std::to_string(static_cast<long>(std::ceil(launch.timeout)) + 1)};
  }
  return {};
}

std::vector<std::string> removed_environment(const Launch &launch) {
  if (launch.launcher == Launcher::srun) {
    // Without them srun gives each step its own two nodes as the job's.
    // With them, Slurm's PMIx plugin counts a node by its place in the
    // whole allocation in some places and in the step in others, and the
    // two stepds of a pair that does not hold the allocation's first nodes
    // can wait for each other for ever.
    return {"SLURM_JOB_NODELIST", "SLURM_NODELIST"};
  }
  return {};
}

} // namespace sweep
