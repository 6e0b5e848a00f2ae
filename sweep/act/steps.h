// The sweep's own Slurm steps: named so that no other sweep's step, in
// this job or any, can have the same name, found by that exact name among
// the steps of the sweep's own job, and cancelled by their exact id.
#pragma once

#include "given/slurm.h"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace sweep {

// The start of every step name of this sweep: "exchange-sweep." and 16
// random hex digits, then "."; each step adds its number.
std::string step_prefix();

// squeue's listing of the steps of JOB, one "ID NAME" a line.
std::vector<std::string> list_steps_command(const OwnJob &job);
// From that listing, the ids of the steps named in NAMES that are steps
// of JOB proper (JOB.N, N a number): never a batch, extern or interactive
// step, never another job's. Each name found once, with its id; a name
// that squeue shows twice is no one's, and goes into TWICE.
std::map<std::string, std::string>
steps_to_cancel(const std::string &listing, const OwnJob &job,
                const std::set<std::string> &names,
                std::set<std::string> *twice = nullptr);
std::vector<std::string> cancel_command(const std::vector<std::string> &ids);

} // namespace sweep
