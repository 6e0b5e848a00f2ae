#include "given/slurm.h"

#include "given/hosts.h"
#include "given/options.h"
#include "given/text.h"

#include <algorithm>
#include <cstdlib>
#include <numeric>
#include <sstream>

namespace sweep {

namespace {

bool all_digits(const std::string &text) {
  return !text.empty() &&
         text.find_first_not_of("0123456789") == std::string::npos;
}

std::string environment(const char *name) {
  const char *value = std::getenv(name);
  return value != nullptr ? value : "";
}

// Node state words are upper-case letters with '+', '*', '~', '#', '!',
// '%', '$', '@' and '^' as Slurm marks them; nothing else is one.
bool state_word(const std::string &word) {
  return !word.empty() && word.size() <= 100 &&
         word.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ_+*~#!%$@^") ==
             std::string::npos;
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

std::vector<std::string> allocation_nodes(const std::string &node_list,
                                          const Ask &ask) {
  const Answer expanded = ask({"scontrol", "show", "hostnames", node_list}, {});
  if (expanded.status != 0 || !expanded.complete) {
    throw Refusal("scontrol could not expand SLURM_JOB_NODELIST=" +
                  one_line(node_list));
  }
  std::vector<std::string> nodes;
  std::istringstream names(expanded.out);
  for (std::string name; std::getline(names, name);) {
    const std::string why = host_name_problem(name);
    if (!why.empty()) {
      throw Refusal("Slurm's node list: " + why);
    }
    nodes.push_back(name);
  }
  return nodes;
}

Topology slurm_topology(const Ask &ask, std::string &problem) {
  problem.clear();
  // A site may cut scontrol's topology lines short; the sweep reads them
  // whole.
  const Answer shown =
      ask({"scontrol", "show", "topology"}, {"SLURM_TOPO_LEN=2147483647"});
  if (shown.status != 0 || shown.out.find("SwitchName=") == std::string::npos) {
    return {};
  }
  if (!shown.complete) {
    problem = "scontrol show topology printed more than the sweep reads";
    return {};
  }
  try {
    return Topology::parse(shown.out);
  } catch (const TopologyError &error) {
    problem = one_line(error.what());
  }
  return {};
}

std::optional<double> time_left_seconds(const std::string &text) {
  std::string line = text.substr(0, text.find('\n'));
  long days = 0;
  const auto dash = line.find('-');
  if (dash != std::string::npos) {
    const std::string day_part = line.substr(0, dash);
    if (day_part.empty() || day_part.size() > 6 ||
        day_part.find_first_not_of("0123456789") != std::string::npos) {
      return std::nullopt;
    }
    days = std::strtol(day_part.c_str(), nullptr, 10);
    line = line.substr(dash + 1);
  }
  if (line.empty() ||
      line.find_first_not_of("0123456789:") != std::string::npos) {
    return std::nullopt;
  }
  std::vector<long> parts;
  std::istringstream fields(line);
  for (std::string field; std::getline(fields, field, ':');) {
    if (field.empty() || field.size() > 6) {
      return std::nullopt;
    }
    parts.push_back(std::strtol(field.c_str(), nullptr, 10));
  }
  if (parts.empty() || parts.size() > 3) {
    return std::nullopt;
  }
  long seconds =
      std::accumulate(parts.begin(), parts.end(), 0L,
                      [](long sum, long part) { return sum * 60 + part; });
  if (parts.size() == 1) {
    seconds *= 60; // minutes alone
  }
  return static_cast<double>(days * 86400 + seconds);
}

std::map<std::string, NodeState> parse_node_states(const std::string &lines) {
  std::map<std::string, NodeState> states;
  std::istringstream stream(lines);
  for (std::string line; std::getline(stream, line);) {
    std::string node;
    NodeState found;
    std::size_t from = 0;
    while (from < line.size()) {
      const auto start = line.find_first_not_of(' ', from);
      if (start == std::string::npos) {
        break;
      }
      if (line.compare(start, 7, "Reason=") == 0) {
        found.reason = one_line(line.substr(start + 7));
        if (found.reason == "(null)") {
          found.reason.clear();
        }
        break;
      }
      const auto end = std::min(line.find(' ', start), line.size());
      const std::string word = line.substr(start, end - start);
      if (word.rfind("NodeName=", 0) == 0 && node.empty()) {
        node = word.substr(9);
      } else if (word.rfind("State=", 0) == 0 && found.state.empty()) {
        found.state = word.substr(6);
      }
      from = end;
    }
    if (host_name_problem(node).empty() && state_word(found.state)) {
      states[node] = found;
    }
  }
  return states;
}

bool out_of_service(const std::string &state) {
  const auto words = {"DRAIN", "DOWN", "FAIL", "MAINT", "REBOOT"};
  return std::any_of(words.begin(), words.end(), [&](const char *word) {
    return state.find(word) != std::string::npos;
  });
}

} // namespace sweep
