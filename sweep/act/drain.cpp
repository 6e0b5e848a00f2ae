#include "act/drain.h"

#include "act/process.h"
#include "act/stop.h"
#include "decide/budget.h"
#include "given/text.h"

#include <pwd.h>
#include <unistd.h>

#include <sstream>

namespace sweep {

namespace {

std::string user_name() {
  const passwd *entry = getpwuid(geteuid());
  return entry != nullptr ? entry->pw_name : "";
}

// The value of KEY in "KEY = VALUE" lines (scontrol show config).
std::string config_value(const std::string &config, const char *key_text) {
  const std::string key = key_text;
  std::istringstream lines(config);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(key, 0) == 0) {
      const auto equals = line.find('=');
      if (equals != std::string::npos &&
          line.find_first_not_of(' ', key.size()) == equals) {
        std::string value = line.substr(equals + 1);
        value.erase(0, value.find_first_not_of(' '));
        return value.substr(0, value.find('('));
      }
    }
  }
  return "";
}

} // namespace

std::string drain_refusal() {
  if (geteuid() == 0) {
    return "";
  }
  const std::string user = user_name();
  const Captured config = capture({"scontrol", "show", "config"}, query_bound);
  if (config.status != 0) {
    return "--drain: scontrol show config failed, so whether this user may "
           "drain nodes is not known";
  }
  if (!user.empty() && config_value(config.out, "SlurmUser") == user) {
    return "";
  }
  if (config_value(config.out, "AccountingStorageType") !=
      "accounting_storage/none") {
    const Captured level = capture({"sacctmgr", "--noheader", "--parsable2",
                                    "show", "user", user, "format=AdminLevel"},
                                   query_bound);
    const std::string admin = level.out.substr(0, level.out.find('\n'));
    if (level.status == 0 &&
        (admin == "Operator" || admin == "Administrator")) {
      return "";
    }
  }
  return "--drain: " + one_line(user) +
         " may not drain nodes (it is not root, not SlurmUser, and not an "
         "operator in Slurm's accounting)";
}

std::map<std::string, NodeState>
node_states(const std::vector<std::string> &nodes) {
  if (nodes.empty()) {
    return {};
  }
  std::string list;
  for (const auto &node : nodes) {
    list += (list.empty() ? "" : ",") + node;
  }
  const Captured shown =
      capture({"scontrol", "-o", "show", "node", list}, query_bound, Keep::all);
  return parse_node_states(shown.out);
}

void drain_nodes(DrainReport &plan) {
  if (plan.mode != DrainMode::on) {
    return;
  }
  std::vector<Drained> drained;
  for (const auto &node : plan.drained) {
    if (stopping()) {
      plan.left_alone.push_back({node.node, "the sweep was interrupted"});
      continue;
    }
    const Captured done =
        capture({"scontrol", "update", "NodeName=" + node.node, "State=DRAIN",
                 "Reason=" + node.reason},
                query_bound);
    if (done.status != 0) {
      plan.left_alone.push_back(
          {node.node, "scontrol update failed: " + one_line(done.err)});
    } else {
      drained.push_back(node);
    }
  }
  plan.drained = drained;
}

} // namespace sweep
