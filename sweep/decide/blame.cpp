#include "decide/blame.h"

#include "decide/slow_blame.h"

#include <algorithm>
#include <map>
#include <set>

namespace sweep {

namespace {

struct Evidence {
  std::set<std::string> good;                          // known-good nodes
  Partners passed;                                     // partners passed with
  std::map<std::string, std::set<std::string>> failed; // partners failed with
  std::vector<const PairRecord *> failed_pairs;        // in their order
  std::size_t ran = 0;                                 // pairs that ran
  bool any_passed = false;
};

Evidence gather(const std::vector<PairRecord> &records,
                const std::set<const PairRecord *> &explained) {
  Evidence evidence;
  for (const auto &record : records) {
    const Verdict verdict = final_verdict(record);
    evidence.ran += verdict == Verdict::not_run ? 0 : 1;
    if (ever_passed(record)) {
      evidence.any_passed = true;
      evidence.good.insert(record.pair.first);
      evidence.good.insert(record.pair.second);
      evidence.passed[record.pair.first].insert(record.pair.second);
      evidence.passed[record.pair.second].insert(record.pair.first);
    }
    if (verdict == Verdict::failed && explained.count(&record) == 0) {
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

// How the pairs that involve a switch's nodes came out. A crossing that
// failed counts against the uplink only when its outside node passed with
// someone else: a dead node beyond the uplink says nothing of it.
struct Crossing {
  std::size_t inside = 0, inside_failed = 0, inside_passed = 0;
  std::size_t across = 0, across_failed = 0, across_passed = 0;
  std::size_t across_against = 0; // failed, its outside node good elsewhere
  std::size_t outside_passed = 0;
};

// Each node's switches, its own first, up to the top.
using Paths = std::map<std::string, std::vector<std::string>>;

Paths paths_of(const std::vector<PairRecord> &records,
               const Topology &topology) {
  Paths paths;
  for (const auto &record : records) {
    for (const auto *node : {&record.pair.first, &record.pair.second}) {
      paths.try_emplace(*node, topology.path_of(*node));
    }
  }
  return paths;
}

bool contains(const std::vector<std::string> &path, const std::string &name) {
  return std::find(path.begin(), path.end(), name) != path.end();
}

// Counts one pair's outcome against the switch: INSIDE of its nodes are
// under it, the first of them when FIRST_INSIDE.
void count_pair(Crossing &count, const Evidence &evidence, const Pair &pair,
                Verdict verdict, int inside, bool first_inside) {
  const bool failed = verdict == Verdict::failed;
  const bool passed = verdict == Verdict::passed || verdict == Verdict::flaky;
  if (inside == 2) {
    ++count.inside;
    count.inside_failed += failed ? 1 : 0;
    count.inside_passed += passed ? 1 : 0;
  } else if (inside == 1) {
    ++count.across;
    count.across_failed += failed ? 1 : 0;
    count.across_passed += passed ? 1 : 0;
    const bool against = failed && beyond_did_well_elsewhere(
                                       evidence.passed, pair, first_inside);
    count.across_against += against ? 1 : 0;
  } else {
    count.outside_passed += passed ? 1 : 0;
  }
}

Crossing crossing(const std::vector<PairRecord> &records, const Paths &paths,
                  const Evidence &evidence, const std::string &name) {
  Crossing count;
  for (const auto &record : records) {
    const Verdict verdict = final_verdict(record);
    if (verdict == Verdict::not_run) {
      continue;
    }
    const bool first = contains(paths.at(record.pair.first), name);
    const bool second = contains(paths.at(record.pair.second), name);
    count_pair(count, evidence, record.pair, verdict,
               (first ? 1 : 0) + (second ? 1 : 0), first);
  }
  return count;
}

// The switches and uplinks the failures point at, each switch before those
// below it, none below one already named; and the failed pairs they
// explain.
std::set<const PairRecord *>
fabric_faults(const std::vector<PairRecord> &records, const Topology &topology,
              Findings &findings) {
  std::set<const PairRecord *> explained;
  if (topology.empty()) {
    return explained;
  }
  const Evidence evidence = gather(records, {});
  const Paths paths = paths_of(records, topology);
  std::vector<std::string> named;
  for (const auto &name : topology.switches()) {
    const auto over = topology.above(name);
    const bool under_named =
        std::any_of(named.begin(), named.end(), [&](const std::string &outer) {
          return contains(over, outer);
        });
    if (under_named) {
      continue;
    }
    const Crossing count = crossing(records, paths, evidence, name);
    const bool dead = count.inside > 0 && count.inside_failed == count.inside &&
                      count.across > 0 && count.across_failed == count.across;
    const bool cut = topology.has_uplink(name) && count.inside_passed > 0 &&
                     count.inside_failed == 0 && count.across_passed == 0 &&
                     count.across_against > 0 && count.outside_passed > 0;
    if (!dead && !cut) {
      continue;
    }
    (dead ? findings.suspect_switches : findings.suspect_uplinks)
        .push_back(name);
    named.push_back(name);
    for (const auto &record : records) {
      const bool first = contains(paths.at(record.pair.first), name);
      const bool second = contains(paths.at(record.pair.second), name);
      if (dead ? (first || second) : (first != second)) {
        explained.insert(&record);
      }
    }
  }
  return explained;
}

// Cut short, nothing was confirmed: a node of a failed pair that passed
// with no one is undetermined, and nothing is named.
Findings unconfirmed(const std::vector<PairRecord> &records) {
  Findings findings;
  const Evidence evidence = gather(records, {});
  for (const PairRecord *record : evidence.failed_pairs) {
    for (const auto *node : {&record->pair.first, &record->pair.second}) {
      if (evidence.good.count(*node) == 0) {
        add_once(findings.undetermined, *node);
      }
    }
  }
  for (const auto &record : records) {
    if (final_verdict(record) != Verdict::slow) {
      continue;
    }
    for (const auto *node : {&record.pair.first, &record.pair.second}) {
      const bool fast =
          std::any_of(records.begin(), records.end(), [&](const auto &other) {
            return (other.pair.first == *node || other.pair.second == *node) &&
                   ever_fast(other);
          });
      if (!fast) {
        add_once(findings.undetermined, *node);
      }
    }
  }
  return findings;
}

} // namespace

bool beyond_did_well_elsewhere(const Partners &with, const Pair &pair,
                               bool first_inside) {
  const std::string &outer = first_inside ? pair.second : pair.first;
  const std::string &inner = first_inside ? pair.first : pair.second;
  const auto partners = with.find(outer);
  return partners != with.end() &&
         std::any_of(partners->second.begin(), partners->second.end(),
                     [&](const std::string &other) { return other != inner; });
}

bool known_good(const std::vector<PairRecord> &records,
                const std::string &node) {
  return std::any_of(records.begin(), records.end(), [&](const auto &record) {
    return (record.pair.first == node || record.pair.second == node) &&
           ever_passed(record);
  });
}

Findings attribute(const std::vector<PairRecord> &records,
                   std::size_t node_count, const Topology &topology,
                   bool complete) {
  if (!complete) {
    return unconfirmed(records);
  }
  Findings findings;
  const auto explained = fabric_faults(records, topology, findings);
  const Evidence evidence = gather(records, explained);
  if (evidence.ran == 0) {
    return Findings{};
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
    return findings;
  }
  attribute_slow(records, node_count, topology, findings);
  return findings;
}

} // namespace sweep
