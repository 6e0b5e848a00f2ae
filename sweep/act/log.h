// --verbose: every command the sweep starts, and each pair's start and
// end, on standard error with the seconds since the sweep began.
#pragma once

#include <string>
#include <vector>

namespace sweep {

void set_verbose(bool value);
bool verbose();
// One line, written whole, when verbose.
void say(const std::string &line);
// ARGV as a shell would read it back: each word quoted where it must be.
std::string quoted(const std::vector<std::string> &argv);

} // namespace sweep
