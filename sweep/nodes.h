// Where the pairs run, and which MPI the program needs.
#pragma once

#include "launch.h"

#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace sweep {

// "a,b, c" -> a, b, c.
std::vector<std::string> split_hosts(const std::string &list);
// One host a line, its first word; blank lines and # comments skipped, so
// that MPICH's and Open MPI's host files (name:4, name slots=4) both serve.
std::vector<std::string> read_hostfile(std::istream &file);

// The implementation whose library PROGRAM is linked against, read from
// its dynamic section (it is not run); none when it cannot be told.
std::optional<Mpi> linked_mpi(const std::string &program);

} // namespace sweep
