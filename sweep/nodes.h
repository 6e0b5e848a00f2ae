// Where the pairs run, and which MPI the program needs.
#pragma once

#include "launch.h"

#include <cstddef>
#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace sweep {

// Why NAME is not a host name, or empty when it is one: letters, digits,
// '-', '.' and '_', not beginning with '-', 1 to 253 characters. Anything
// else could reach a launcher's ssh as an option, or worse.
std::string host_name_problem(const std::string &name);

// "a,b, c" -> a, b, c.
std::vector<std::string> split_hosts(const std::string &list);
// One host a line, its first word; blank lines and # comments skipped, so
// that MPICH's and Open MPI's host files (name:4, name slots=4) both serve.
// PROBLEM is set to the first bad line, with its number; lines are at most
// 4096 characters, and there are at most MAX_HOSTS hosts.
constexpr std::size_t max_hosts = 100000;
std::vector<std::string> read_hostfile(std::istream &file,
                                       std::string &problem);

// The implementation whose library PROGRAM is linked against, read from
// its dynamic section (it is not run); none when it cannot be told.
std::optional<Mpi> linked_mpi(const std::string &program);

} // namespace sweep
