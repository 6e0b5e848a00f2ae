// The JSON report: every pair with each of its tries, and what was found.
#include "tell/report.h"

#include <algorithm>
#include <iterator>

namespace sweep {

namespace {

nlohmann::ordered_json pair_json(const PairRecord &record) {
  nlohmann::ordered_json attempts = nlohmann::ordered_json::array();
  std::transform(record.attempts.begin(), record.attempts.end(),
                 std::back_inserter(attempts), [](const Attempt &attempt) {
                   nlohmann::ordered_json one{
                       {"verdict", verdict_name(attempt.verdict)},
                       {"engine", engine_name(attempt.engine)},
                       {"round", attempt.round},
                       {"seconds", attempt.seconds},
                       {"status", attempt.status},
                       {"reason", attempt.reason}};
                   if (attempt.figures) {
                     one["latency_s"] = attempt.figures->latency_s;
                     one["bandwidth_bytes_per_s"] = attempt.figures->bandwidth;
                   }
                   return one;
                 });
  const Attempt *last = last_run(record);
  const Verdict verdict = final_verdict(record);
  return {{"nodes", {record.pair.first, record.pair.second}},
          {"round", last != nullptr ? last->round : 0},
          {"passed", verdict == Verdict::passed},
          {"verdict", verdict_name(verdict)},
          {"seconds", last != nullptr ? last->seconds : 0.0},
          {"status", last != nullptr ? last->status : -1},
          {"reason", pair_reason(record)},
          {"confirmation", record.confirmation},
          {"attempts", attempts}};
}

nlohmann::ordered_json links_json(const std::vector<Pair> &links) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  std::transform(links.begin(), links.end(), std::back_inserter(list),
                 [](const Pair &link) {
                   return nlohmann::ordered_json{link.first, link.second};
                 });
  return list;
}

// The medians of each class the pattern measured: inside and across
// switches with a tree, all without.
nlohmann::ordered_json fabric_json(const Report &report) {
  if (!report.measured) {
    return nullptr;
  }
  nlohmann::ordered_json fabric = nlohmann::ordered_json::object();
  for (const auto &[pair_class, medians] : report.fabric) {
    fabric[class_name(pair_class, !report.topology.empty())] = {
        {"pairs", medians.pairs},
        {"latency_s", medians.latency_s},
        {"bandwidth_bytes_per_s", medians.bandwidth}};
  }
  return fabric;
}

nlohmann::ordered_json drained_json(const std::vector<Drained> &nodes) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  std::transform(nodes.begin(), nodes.end(), std::back_inserter(list),
                 [](const Drained &node) {
                   return nlohmann::ordered_json{{"node", node.node},
                                                 {"reason", node.reason}};
                 });
  return list;
}

nlohmann::ordered_json drain_json(const DrainReport &drain) {
  if (drain.mode == DrainMode::off) {
    return nullptr;
  }
  return {{"mode", drain.mode == DrainMode::on ? "drain" : "dry-run"},
          {"max", drain.max},
          {"drained", drained_json(drain.drained)},
          {"left_alone", drained_json(drain.left_alone)},
          {"none_because", drain.none_because.empty()
                               ? nlohmann::ordered_json()
                               : nlohmann::ordered_json(drain.none_because)}};
}

} // namespace

nlohmann::ordered_json to_json(const Report &report) {
  nlohmann::ordered_json pairs = nlohmann::ordered_json::array();
  std::transform(report.records.begin(), report.records.end(),
                 std::back_inserter(pairs), pair_json);
  const Counts counts = count(report.records);
  const Findings &found = report.findings;

  const auto or_null = [](const std::string &text) {
    return text.empty() ? nlohmann::ordered_json()
                        : nlohmann::ordered_json(text);
  };
  nlohmann::ordered_json mesh = nullptr;
  if (report.mesh) {
    mesh = {{"pairs_reported", report.mesh->reported},
            {"lines_unreadable", report.mesh->unreadable},
            {"seconds", report.mesh->seconds},
            {"status", report.mesh->status},
            {"problem", or_null(report.mesh->problem)}};
  }
  return {
      {"pattern", report.pattern},
      {"engine", report.engine},
      {"mesh", mesh},
      {"timeout", report.timeout},
      {"retries", report.retries},
      {"complete", report.complete},
      {"topology",
       {{"source", or_null(report.topology_source)},
        {"used", !report.topology.empty()},
        {"problem", or_null(report.topology_problem)}}},
      {"duplicate_hosts", report.duplicates},
      {"pairs", pairs},
      {"counts",
       {{"passed", counts.passed},
        {"failed", counts.failed},
        {"flaky", counts.flaky},
        {"exchanged-then-hung", counts.hung},
        {"not-run", counts.not_run},
        {"slow", counts.slow}}},
      {"suspect_nodes", found.suspect_nodes},
      {"suspect_uplinks", found.suspect_uplinks},
      {"suspect_switches", found.suspect_switches},
      {"suspect_links", links_json(found.suspect_links)},
      {"undetermined", found.undetermined},
      {"measured", report.measured},
      {"fabric", fabric_json(report)},
      {"slow_nodes", found.slow_nodes},
      {"slow_links", links_json(found.slow_links)},
      {"slow_uplinks", found.slow_uplinks},
      {"slow_everywhere", found.slow_everywhere
                              ? nlohmann::ordered_json(*found.slow_everywhere)
                              : nlohmann::ordered_json()},
      {"global_fault", found.global_fault
                           ? nlohmann::ordered_json(*found.global_fault)
                           : nlohmann::ordered_json()},
      {"passed", all_clear(report)},
      {"drain", drain_json(report.drain)},
      {"stuck_steps", report.stuck_steps},
      {"worst_case_seconds", report.worst_case_seconds},
      {"usage",
       {{"wall_seconds", report.usage.wall_seconds},
        {"cpu_seconds", report.usage.cpu_seconds},
        {"max_rss_kib", report.usage.max_rss_kib},
        {"max_descriptors", report.usage.max_descriptors}}}};
}

} // namespace sweep
