#include "decide/drain_plan.h"

#include "given/text.h"

#include <algorithm>

namespace sweep {

namespace {

constexpr const char *ours = "exchange-sweep:";

} // namespace

std::size_t default_drain_max(std::size_t nodes) {
  return std::max<std::size_t>(1, (nodes + 19) / 20);
}

std::vector<std::string> drain_candidates(const Findings &findings,
                                          bool with_slow) {
  std::vector<std::string> nodes = findings.suspect_nodes;
  if (with_slow) {
    nodes.insert(nodes.end(), findings.slow_nodes.begin(),
                 findings.slow_nodes.end());
  }
  return nodes;
}

std::string drain_reason(const std::string &node,
                         const std::vector<PairRecord> &records,
                         const std::string &json_path) {
  std::vector<std::string> partners;
  std::string why;
  bool slow = true;
  for (const auto &record : records) {
    const Verdict verdict = final_verdict(record);
    if ((verdict != Verdict::failed && verdict != Verdict::slow) ||
        (record.pair.first != node && record.pair.second != node)) {
      continue;
    }
    if (verdict == Verdict::failed && slow) {
      // Failures come first: a node that failed is drained for that.
      partners.clear();
      why.clear();
      slow = false;
    } else if (verdict == Verdict::slow && !slow) {
      continue;
    }
    partners.push_back(record.pair.first == node ? record.pair.second
                                                 : record.pair.first);
    if (why.empty() && !record.attempts.empty()) {
      why = record.attempts.back().reason;
    }
  }
  std::string reason = std::string(ours) +
                       (slow ? " slow with " : " failed with ") +
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

DrainReport plan_drain(DrainMode mode, std::size_t max,
                       const Findings &findings, bool complete,
                       const std::map<std::string, NodeState> &states,
                       const std::vector<PairRecord> &records,
                       const std::string &json_path, bool with_slow) {
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
  for (const auto &node : drain_candidates(findings, with_slow)) {
    const auto state = states.find(node);
    if (state == states.end()) {
      report.left_alone.push_back({node, "its state cannot be read"});
    } else if (out_of_service(state->second.state)) {
      report.left_alone.push_back(
          {node, state->second.state + ": " + state->second.reason});
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
    report.drained.push_back({node, drain_reason(node, records, json_path)});
  }
  return report;
}

} // namespace sweep
