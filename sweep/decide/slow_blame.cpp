#include "decide/slow_blame.h"

#include <algorithm>
#include <map>
#include <set>

namespace sweep {

namespace {

bool listed(const std::vector<std::string> &list, const std::string &name) {
  return std::find(list.begin(), list.end(), name) != list.end();
}

void add_once(std::vector<std::string> &list, const std::string &name) {
  if (!listed(list, name)) {
    list.push_back(name);
  }
}

// The slow evidence: who was fast with whom, and the slow pairs not behind
// a part the failures named.
struct Slowness {
  Partners fast_with;
  std::map<std::string, std::set<std::string>> slow_with;
  std::vector<const PairRecord *> slow_pairs;
  std::size_t measured = 0; // pairs with a try that exchanged
};

// Whether RECORD goes through something the failures already named.
bool behind_failure(const PairRecord &record, const Topology &topology,
                    const Findings &findings) {
  const auto named = [&](const std::string &node) {
    return listed(findings.suspect_nodes, node) ||
           listed(findings.undetermined, node);
  };
  if (named(record.pair.first) || named(record.pair.second)) {
    return true;
  }
  const auto first = topology.path_of(record.pair.first);
  const auto second = topology.path_of(record.pair.second);
  const auto under = [](const std::vector<std::string> &path,
                        const std::string &name) {
    return std::find(path.begin(), path.end(), name) != path.end();
  };
  return std::any_of(findings.suspect_switches.begin(),
                     findings.suspect_switches.end(),
                     [&](const std::string &name) {
                       return under(first, name) || under(second, name);
                     }) ||
         std::any_of(findings.suspect_uplinks.begin(),
                     findings.suspect_uplinks.end(),
                     [&](const std::string &name) {
                       return under(first, name) != under(second, name);
                     });
}

Slowness gather(const std::vector<PairRecord> &records,
                const Topology &topology, const Findings &findings) {
  Slowness slowness;
  for (const auto &record : records) {
    const Verdict verdict = final_verdict(record);
    if (ever_fast(record)) {
      slowness.fast_with[record.pair.first].insert(record.pair.second);
      slowness.fast_with[record.pair.second].insert(record.pair.first);
    }
    slowness.measured += ever_passed(record) ? 1 : 0;
    if (verdict == Verdict::slow &&
        !behind_failure(record, topology, findings)) {
      slowness.slow_with[record.pair.first].insert(record.pair.second);
      slowness.slow_with[record.pair.second].insert(record.pair.first);
      slowness.slow_pairs.push_back(&record);
    }
  }
  return slowness;
}

// What the pairs say of one switch's uplink: pairs inside it fast or slow,
// pairs crossing it fast, and the slow crossings whose outside node is
// fast elsewhere.
struct UplinkTally {
  std::size_t inside_fast = 0;
  std::size_t inside_slow = 0;
  std::size_t across_fast = 0;
  std::size_t across_against = 0;
  std::vector<const PairRecord *> across_slow;
};

UplinkTally tally_uplink(const std::string &name,
                         const std::vector<PairRecord> &records,
                         const Topology &topology, const Slowness &slowness) {
  const auto under = [&](const std::string &node) {
    const auto path = topology.path_of(node);
    return std::find(path.begin(), path.end(), name) != path.end();
  };
  UplinkTally tally;
  for (const auto &record : records) {
    const bool one = under(record.pair.first);
    const bool two = under(record.pair.second);
    if (!one && !two) {
      continue;
    }
    const Verdict verdict = final_verdict(record);
    const bool fast = verdict == Verdict::passed || verdict == Verdict::flaky;
    const bool slow =
        std::find(slowness.slow_pairs.begin(), slowness.slow_pairs.end(),
                  &record) != slowness.slow_pairs.end();
    if (one && two) {
      tally.inside_fast += fast ? 1 : 0;
      tally.inside_slow += slow ? 1 : 0;
      continue;
    }
    tally.across_fast += fast ? 1 : 0;
    if (slow) {
      tally.across_slow.push_back(&record);
      tally.across_against +=
          beyond_did_well_elsewhere(slowness.fast_with, record.pair, one) ? 1
                                                                          : 0;
    }
  }
  return tally;
}

// The slow uplinks, and the slow pairs they explain.
std::set<const PairRecord *>
slow_uplinks(const std::vector<PairRecord> &records, const Topology &topology,
             const Slowness &slowness, Findings &findings) {
  std::set<const PairRecord *> explained;
  for (const auto &name : topology.switches()) {
    if (!topology.has_uplink(name) || listed(findings.suspect_uplinks, name) ||
        listed(findings.suspect_switches, name)) {
      continue;
    }
    const UplinkTally tally = tally_uplink(name, records, topology, slowness);
    if (tally.inside_fast > 0 && tally.inside_slow == 0 &&
        tally.across_fast == 0 && tally.across_against > 0) {
      findings.slow_uplinks.push_back(name);
      explained.insert(tally.across_slow.begin(), tally.across_slow.end());
    }
  }
  return explained;
}

} // namespace

void attribute_slow(const std::vector<PairRecord> &records,
                    std::size_t node_count, const Topology &topology,
                    Findings &findings) {
  const Slowness slowness = gather(records, topology, findings);
  if (slowness.slow_pairs.empty()) {
    return;
  }
  const auto explained =
      topology.empty() ? std::set<const PairRecord *>{}
                       : slow_uplinks(records, topology, slowness, findings);
  const auto fast = [&](const std::string &node) {
    return slowness.fast_with.count(node) > 0;
  };
  std::vector<std::string> undetermined;
  for (const PairRecord *record : slowness.slow_pairs) {
    if (explained.count(record) > 0) {
      continue;
    }
    const Pair &pair = record->pair;
    if (fast(pair.first) && fast(pair.second)) {
      findings.slow_links.push_back(pair);
      continue;
    }
    for (const auto *node : {&pair.first, &pair.second}) {
      if (fast(*node)) {
        continue;
      }
      const auto &partners = slowness.slow_with.at(*node);
      const bool named = partners.size() >= 2 &&
                         std::any_of(partners.begin(), partners.end(), fast);
      add_once(named ? findings.slow_nodes : undetermined, *node);
    }
  }
  const std::size_t nodes = findings.slow_nodes.size() + undetermined.size();
  const std::size_t links = findings.slow_links.size();
  if (2 * nodes > node_count || 2 * links > slowness.measured) {
    findings.slow_nodes.clear();
    findings.slow_links.clear();
    findings.slow_uplinks.clear();
    findings.slow_everywhere =
        std::to_string(nodes) + " of " + std::to_string(node_count) +
        " nodes and " + std::to_string(links) +
        " links would be named slow: the fabric, not a part of it";
    return;
  }
  for (const auto &node : undetermined) {
    add_once(findings.undetermined, node);
  }
}

} // namespace sweep
