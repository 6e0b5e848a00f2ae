// The program each pair runs: that it is one, and which MPI it needs.
#pragma once

#include <optional>
#include <string>

namespace sweep {

enum class Mpi { mpich, openmpi };

// Why PROGRAM cannot be run, or empty: it must be an executable file.
std::string program_problem(const std::string &program);

// The implementation whose library PROGRAM is linked against, read from
// its dynamic section (it is not run); none when it cannot be told.
std::optional<Mpi> linked_mpi(const std::string &program);

} // namespace sweep
