// How each implementation's jobs are launched: the launcher, its flags,
// its bound and what its environment needs, for MPICH and Open MPI, under
// their mpiexec or as srun steps.
#pragma once

#include "decide/schedule.h"
#include "given/program.h"
#include "given/slurm.h"

#include <cstddef>
#include <string>
#include <vector>

namespace sweep {

// mpiexec across the given hosts, or srun steps inside a Slurm allocation.
enum class Launcher { mpiexec, srun };

struct Launch {
  Mpi mpi = Mpi::mpich;
  Launcher launcher = Launcher::mpiexec;
  std::string program;
  std::vector<std::string> arguments; // the program's own, after it
  double timeout = 30;
  std::size_t parallel = 0; // pairs at once at most; 0: a whole round
  OwnJob job;               // the allocation's job, for srun steps
};

// The launcher's program: srun, or the implementation's own mpiexec.
std::string launcher_program(const Launch &launch);
// The command line of one pair's job: one rank on each of its two nodes.
// STEP names an srun step, so that it can be found to be cancelled.
std::vector<std::string> job_command(const Launch &launch, const Pair &pair,
                                     const std::string &step);
// What each pair's launcher gets added to and taken out of its environment.
std::vector<std::string> added_environment(const Launch &launch);
std::vector<std::string> removed_environment(const Launch &launch);

} // namespace sweep
