// The nodes to pair, as they were given: host names checked, host files
// read within bounds, each host once.
#pragma once

#include <cstddef>
#include <istream>
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

// NODES with each host once: host names are case-insensitive, so the first
// spelling stays and each later one, exact or not, goes into DROPPED.
std::vector<std::string> unique_hosts(const std::vector<std::string> &nodes,
                                      std::vector<std::string> &dropped);
// NAME in lower case, as hosts are compared.
std::string host_key(const std::string &name);

} // namespace sweep
