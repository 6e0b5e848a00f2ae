// Running the jobs of one round side by side, each bounded in time, and
// ending whatever outlives its bound: only what the sweep started.
#pragma once

#include "process.h"
#include "schedule.h"
#include "steps.h"
#include "verdict.h"

#include <memory>
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
  std::size_t parallel = 0; // pairs at once at most; 0: a whole round
  OwnJob job;               // the allocation's job, for srun steps
};

// The command line of one pair's job: one rank on each of its two nodes.
// STEP names an srun step, so that it can be found to be cancelled.
std::vector<std::string> job_command(const Launch &launch, const Pair &pair,
                                     const std::string &step);
// What each pair's launcher gets added to and taken out of its environment.
std::vector<std::string> added_environment(const Launch &launch);
std::vector<std::string> removed_environment(const Launch &launch);

// Whether the sweep was asked to stop, and how often (a second time ends
// everything at once). Set from signal handlers.
int stop_requests();
void request_stop();

// Runs the jobs of ROUND, at most launch.parallel at once, and says how
// each ended. A job still running at its bound is ended through its
// launcher: srun is sent SIGTERM, which it passes on to its step as a
// kill; mpiexec is first left a few seconds for its own bound, which also
// ends the ranks on the other node, then sent SIGTERM. A step that is still
// there afterwards is cancelled by its id; last, the launcher's process
// group is killed. When the sweep is asked to stop, every job is ended so
// at once and those not yet ended or started are cut short. When the
// sweep itself cannot start a job (out of descriptors or processes), that
// is no pair's failure: the sweep stops so, and failure() says why.
std::vector<Outcome> run_round(const Launch &launch, const Round &round,
                               const Environment &environment);
// Why the sweep could not go on, or empty.
const std::string &failure();

} // namespace sweep
