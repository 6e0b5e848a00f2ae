#include "blame.h"

#include <algorithm>
#include <map>
#include <set>

namespace sweep {

namespace {

struct Evidence {
  std::set<std::string> good;                          // known-good nodes
  std::map<std::string, std::set<std::string>> failed; // partners failed with
  std::vector<const PairRecord *> failed_pairs;        // in their order
  std::size_t ran = 0;                                 // pairs that ran
  bool any_passed = false;
};

Evidence gather(const std::vector<PairRecord> &records) {
  Evidence evidence;
  for (const auto &record : records) {
    const Verdict verdict = final_verdict(record);
    evidence.ran += verdict == Verdict::not_run ? 0 : 1;
    if (ever_passed(record)) {
      evidence.any_passed = true;
      evidence.good.insert(record.pair.first);
      evidence.good.insert(record.pair.second);
    }
    if (verdict == Verdict::failed) {
      evidence.failed[record.pair.first].insert(record.pair.second);
      evidence.failed[record.pair.second].insert(record.pair.first);
      evidence.failed_pairs.push_back(&record);
    }
  }
  return evidence;
}

// The reason that most failed tries gave, and how many gave it.
std::string commonest_reason(const std::vector<PairRecord> &records) {
  std::map<std::string, std::size_t> counts;
  std::vector<std::string> order;
  std::size_t tries = 0;
  for (const auto &record : records) {
    for (const auto &attempt : record.attempts) {
      if (attempt.verdict == Verdict::failed ||
          attempt.verdict == Verdict::exchanged_then_hung) {
        ++tries;
        if (counts[attempt.reason]++ == 0) {
          order.push_back(attempt.reason);
        }
      }
    }
  }
  if (order.empty()) {
    return "no try failed";
  }
  const auto most = std::max_element(order.begin(), order.end(),
                                     [&](const auto &one, const auto &other) {
                                       return counts[one] < counts[other];
                                     });
  return std::to_string(counts[*most]) + " of " + std::to_string(tries) +
         " failed tries: " + *most;
}

void add_once(std::vector<std::string> &list, const std::string &node) {
  if (std::find(list.begin(), list.end(), node) == list.end()) {
    list.push_back(node);
  }
}

// Why the fault is no node's, or empty: no try passed, or the rules would
// name too much for a fault of nodes or links.
std::string global_reason(const Evidence &evidence, const Findings &findings,
                          std::size_t node_count) {
  const std::size_t named =
      findings.suspect_nodes.size() + findings.undetermined.size();
  const std::size_t links = findings.suspect_links.size();
  if (!evidence.any_passed) {
    return "no pair passed";
  }
  if (2 * named > node_count) {
    return std::to_string(named) + " of " + std::to_string(node_count) +
           " nodes would be named";
  }
  if (2 * links > evidence.ran) {
    return std::to_string(links) + " of " + std::to_string(evidence.ran) +
           " pairs would be named as links";
  }
  return "";
}

} // namespace

bool known_good(const std::vector<PairRecord> &records,
                const std::string &node) {
  return std::any_of(records.begin(), records.end(), [&](const auto &record) {
    return (record.pair.first == node || record.pair.second == node) &&
           ever_passed(record);
  });
}

Findings attribute(const std::vector<PairRecord> &records,
                   std::size_t node_count) {
  const Evidence evidence = gather(records);
  Findings findings;
  if (evidence.ran == 0) {
    return findings;
  }
  const auto good = [&](const std::string &node) {
    return evidence.good.count(node) > 0;
  };
  std::set<std::string> suspects;
  for (const auto &[node, partners] : evidence.failed) {
    if (!good(node) && partners.size() >= 2 &&
        std::any_of(partners.begin(), partners.end(), good)) {
      suspects.insert(node);
    }
  }
  // In the order the nodes first failed, as the table shows them.
  for (const PairRecord *record : evidence.failed_pairs) {
    const Pair &pair = record->pair;
    if (good(pair.first) && good(pair.second)) {
      findings.suspect_links.push_back(pair);
      continue;
    }
    for (const auto *node : {&pair.first, &pair.second}) {
      if (!good(*node)) {
        add_once(suspects.count(*node) > 0 ? findings.suspect_nodes
                                           : findings.undetermined,
                 *node);
      }
    }
  }
  const std::string why = global_reason(evidence, findings, node_count);
  if (!why.empty()) {
    findings = Findings{};
    findings.global_fault = why +
                            ", so the fault is not a node's; "
                            "commonest reason (" +
                            commonest_reason(records) + ")";
  }
  return findings;
}

} // namespace sweep
