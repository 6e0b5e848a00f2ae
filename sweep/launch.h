// Starting the jobs of one round side by side, each bounded, and ending
// whatever outlives its bound on every node.
#pragma once

#include "report.h"
#include "schedule.h"

#include <string>
#include <vector>

namespace sweep {

enum class Mpi { mpich, openmpi };
// mpiexec across the given hosts, or srun steps inside a Slurm allocation.
enum class Launcher { mpiexec, srun };

struct Launch {
  Mpi mpi = Mpi::mpich;
  Launcher launcher = Launcher::mpiexec;
  std::string program;
  double timeout = 30;
};

// The command line of one pair's job: one rank on each of its two nodes.
// STEP names an srun step, so that it can be found to be cancelled.
std::vector<std::string> job_command(const Launch &launch, const Pair &pair,
                                     const std::string &step);

// Runs the jobs of every pair of ROUND at once and waits for all of them.
// A job still running at its bound is ended: an srun step is cancelled
// through Slurm, an mpiexec is first left to its own time bound, which ends
// the ranks on the other node too, then signalled.
std::vector<Outcome> run_round(const Launch &launch, const Round &round);

// Runs ARGV with standard input from /dev/null and returns its status and
// standard output; a command that runs longer than SECONDS is killed.
struct Captured {
  int status = -1;
  std::string out;
};
Captured capture(const std::vector<std::string> &argv, double seconds);

// Set from a signal handler: end every job now.
void stop_all();

} // namespace sweep
