#include "drain.h"

#include "process.h"
#include "text.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <pwd.h>
#include <set>
#include <sstream>

namespace sweep {

namespace {

constexpr const char *ours = "exchange-sweep:";

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

std::size_t default_drain_max(std::size_t nodes) {
  return std::max<std::size_t>(1, (nodes + 19) / 20);
}

std::string drain_refusal() {
  if (geteuid() == 0) {
    return "";
  }
  const std::string user = user_name();
  const Captured config = capture({"scontrol", "show", "config"}, 30);
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
                                   30);
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

NodeState parse_node_state(const std::string &scontrol_output) {
  NodeState found;
  std::istringstream words(scontrol_output);
  for (std::string word; words >> word;) {
    if (word.rfind("State=", 0) == 0) {
      found.state = word.substr(6);
    }
  }
  // The reason runs to the end of its line, blanks and all.
  const auto found_at = scontrol_output.find("Reason=");
  if (found_at != std::string::npos) {
    const auto start = found_at + 7;
    found.reason = one_line(scontrol_output.substr(
        start, scontrol_output.find('\n', start) - start));
    if (found.reason == "(null)") {
      found.reason.clear();
    }
  }
  return found;
}

bool out_of_service(const std::string &state) {
  const auto words = {"DRAIN", "DOWN", "FAIL", "MAINT", "REBOOT"};
  return std::any_of(words.begin(), words.end(), [&](const char *word) {
    return state.find(word) != std::string::npos;
  });
}

std::string drain_reason(const std::string &node,
                         const std::vector<PairRecord> &records,
                         const std::string &json_path) {
  std::vector<std::string> partners;
  std::string why;
  for (const auto &record : records) {
    if (final_verdict(record) != Verdict::failed ||
        (record.pair.first != node && record.pair.second != node)) {
      continue;
    }
    partners.push_back(record.pair.first == node ? record.pair.second
                                                 : record.pair.first);
    if (why.empty() && !record.attempts.empty()) {
      why = record.attempts.back().reason;
    }
  }
  std::string reason = std::string(ours) + " failed with " +
                       std::to_string(partners.size()) + " partners";
  if (!why.empty()) {
    reason += " (" + why + ")";
  }
  if (!json_path.empty()) {
    reason += "; " + json_path;
  }
  // Slurm keeps the reason as a field of one line; quotes and the rest go.
  std::string safe;
  for (const char character : one_line(reason, 160)) {
    const auto byte = static_cast<unsigned char>(character);
    safe += byte >= 0x20 && byte < 0x7f && character != '"' ? character : '?';
  }
  return safe;
}

DrainReport drain_suspects(DrainMode mode, std::size_t max,
                           const Findings &findings, bool complete,
                           const std::vector<PairRecord> &records,
                           const std::string &json_path) {
  DrainReport report;
  report.mode = mode;
  report.max = max;
  if (mode == DrainMode::off) {
    return report;
  }
  if (!complete) {
    report.none_because = "the sweep was interrupted";
    return report;
  }
  if (findings.global_fault) {
    report.none_because = "the fault is not a node's";
    return report;
  }
  std::vector<std::string> to_drain;
  for (const auto &node : findings.suspect_nodes) {
    const Captured shown = capture({"scontrol", "show", "node", node}, 30);
    const NodeState state = parse_node_state(shown.out);
    if (shown.status != 0 || state.state.empty()) {
      report.left_alone.push_back(
          {node, "its state cannot be read: " + one_line(shown.err)});
    } else if (out_of_service(state.state)) {
      report.left_alone.push_back({node, state.state + ": " + state.reason});
    } else {
      to_drain.push_back(node);
    }
  }
  if (to_drain.size() > max) {
    report.none_because = std::to_string(to_drain.size()) +
                          " nodes would be drained, more than --drain-max " +
                          std::to_string(max);
    return report;
  }
  for (const auto &node : to_drain) {
    const std::string reason = drain_reason(node, records, json_path);
    if (mode == DrainMode::on) {
      const Captured done = capture({"scontrol", "update", "NodeName=" + node,
                                     "State=DRAIN", "Reason=" + reason},
                                    30);
      if (done.status != 0) {
        report.left_alone.push_back(
            {node, "scontrol update failed: " + one_line(done.err)});
        continue;
      }
    }
    report.drained.push_back({node, reason});
  }
  return report;
}

} // namespace sweep
