#include "steps.h"

#include <cstdlib>
#include <sstream>

namespace sweep {

namespace {

bool all_digits(const std::string &text) {
  return !text.empty() &&
         text.find_first_not_of("0123456789") == std::string::npos;
}

// Whether ID is a numbered step of the job whose id is PREFIX.
bool step_of(const std::string &step, const std::string &prefix) {
  return !prefix.empty() && step.size() > prefix.size() + 1 &&
         step.compare(0, prefix.size(), prefix) == 0 &&
         step[prefix.size()] == '.' &&
         all_digits(step.substr(prefix.size() + 1));
}

std::string environment(const char *name) {
  const char *value = std::getenv(name);
  return value != nullptr ? value : "";
}

} // namespace

OwnJob own_job() {
  OwnJob job;
  job.id = environment("SLURM_JOB_ID");
  if (job.id.empty()) {
    job.id = environment("SLURM_JOBID");
  }
  if (!all_digits(job.id)) {
    job.id.clear();
  }
  const std::string array = environment("SLURM_ARRAY_JOB_ID");
  const std::string task = environment("SLURM_ARRAY_TASK_ID");
  if (all_digits(array) && all_digits(task)) {
    job.array_id = array + "_" + task;
  }
  return job;
}

std::vector<std::string> list_steps_command(const OwnJob &job) {
  return {"squeue", "--noheader", "--steps", "--jobs=" + job.id,
          "--format=%i %j"};
}

std::map<std::string, std::string>
steps_to_cancel(const std::string &listing, const OwnJob &job,
                const std::set<std::string> &names) {
  std::map<std::string, std::vector<std::string>> ids_of;
  std::istringstream lines(listing);
  for (std::string line; std::getline(lines, line);) {
    const auto blank = line.find(' ');
    if (blank == std::string::npos) {
      continue;
    }
    const std::string step = line.substr(0, blank);
    std::string name = line.substr(blank + 1);
    name.erase(name.find_last_not_of(" \t\r") + 1);
    if (names.count(name) > 0 &&
        (step_of(step, job.id) || step_of(step, job.array_id))) {
      ids_of[name].push_back(step);
    }
  }
  std::map<std::string, std::string> ids;
  for (const auto &[name, found] : ids_of) {
    if (found.size() == 1) {
      ids[name] = found.front();
    }
  }
  return ids;
}

std::vector<std::string> cancel_command(const std::vector<std::string> &ids) {
  std::vector<std::string> command{"scancel", "--quiet"};
  command.insert(command.end(), ids.begin(), ids.end());
  return command;
}

} // namespace sweep
