// Cancelling the sweep's own Slurm steps, and nothing else: a step is
// found by its exact name among the steps of the sweep's own job, and
// cancelled by its exact id.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace sweep {

// The sweep's own job: its id, and its id as squeue shows an array task's
// (ARRAYJOB_TASK). Empty outside an allocation.
struct OwnJob {
  std::string id;
  std::string array_id;
};
OwnJob own_job();

// squeue's listing of the steps of JOB, one "ID NAME" a line.
std::vector<std::string> list_steps_command(const OwnJob &job);
// From that listing, the ids of the steps named in NAMES that are steps
// of JOB proper (JOB.N, N a number): never a batch, extern or interactive
// step, never another job's. A name that squeue shows twice is no one's.
// Each name found so, with its id.
std::map<std::string, std::string>
steps_to_cancel(const std::string &listing, const OwnJob &job,
                const std::set<std::string> &names);
std::vector<std::string> cancel_command(const std::vector<std::string> &ids);

} // namespace sweep
