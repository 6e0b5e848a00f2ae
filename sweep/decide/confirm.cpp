#include "decide/confirm.h"

#include <algorithm>
#include <map>
#include <utility>

namespace sweep {

std::vector<std::size_t> retries_due(const std::vector<PairRecord> &records,
                                     int retries) {
  std::vector<std::size_t> due;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const auto &attempts = records[i].attempts;
    const auto ran = std::count_if(attempts.begin(), attempts.end(),
                                   [](const Attempt &attempt) {
                                     return attempt.verdict != Verdict::not_run;
                                   });
    // A pair slow on every try is tried once more, whatever RETRIES say:
    // one measure under load is no verdict.
    const bool slow = final_verdict(records[i]) == Verdict::slow;
    const long most = 1 + std::max(retries, slow ? 1 : 0);
    if (ran > 0 && ran < most && !ever_fast(records[i])) {
      due.push_back(i);
    }
  }
  return due;
}

namespace {

using Key = std::pair<std::string, std::string>;
Key key_of(const std::string &one, const std::string &other) {
  return one < other ? Key{one, other} : Key{other, one};
}

// The known-good partners of one round, and who is busy in it. Known-good
// is fast where the sweep measures: a partner that passed and was not
// slow, for a node that failed or was slow with everyone.
class Candidates {
public:
  Candidates(const std::vector<PairRecord> &records,
             const std::vector<std::string> &nodes) {
    for (const auto &record : records) {
      paired_.insert(key_of(record.pair.first, record.pair.second));
      if (ever_passed(record)) {
        good_.insert(record.pair.first);
        good_.insert(record.pair.second);
      }
      if (ever_fast(record)) {
        fast_.insert(record.pair.first);
        fast_.insert(record.pair.second);
      }
      const Verdict verdict = final_verdict(record);
      if (verdict == Verdict::failed) {
        failed_.insert(record.pair.first);
        failed_.insert(record.pair.second);
      } else if (verdict == Verdict::slow) {
        slow_.insert(record.pair.first);
        slow_.insert(record.pair.second);
      }
      if (record.confirmation) {
        ++uses_[record.pair.second];
      }
    }
    const auto &known = fast_.empty() ? good_ : fast_;
    for (const auto &node : nodes) {
      if (known.count(node) > 0) {
        partners_.push_back(&node);
      }
    }
  }

  // A node of a pair that failed on every try, that passed with no one;
  // or of a pair slow on every try, that was fast with no one.
  [[nodiscard]] bool needs_confirmation(const std::string &node) const {
    return (failed_.count(node) > 0 && good_.count(node) == 0) ||
           (slow_.count(node) > 0 && fast_.count(node) == 0);
  }
  [[nodiscard]] bool busy(const std::string &node) const {
    return busy_.count(node) > 0;
  }

  // The best free partner for NODE, or none; ANY says whether it has a
  // partner at all, free or busy.
  const std::string *best_for(const std::string &node, const PartnerRank &rank,
                              bool &any) {
    const std::string *best = nullptr;
    std::pair<int, int> best_rank;
    for (const std::string *partner : partners_) {
      if (paired_.count(key_of(node, *partner)) > 0) {
        continue;
      }
      any = true;
      if (busy(*partner)) {
        continue;
      }
      const std::pair<int, int> this_rank{rank(node, *partner),
                                          uses_[*partner]};
      if (best == nullptr || this_rank < best_rank) {
        best = partner;
        best_rank = this_rank;
      }
      if (best_rank == std::pair<int, int>{0, 0}) {
        break; // none can be better
      }
    }
    return best;
  }

  void take(const std::string &node, const std::string &partner) {
    busy_.insert(node);
    busy_.insert(partner);
    ++uses_[partner];
  }

private:
  std::set<Key> paired_;
  std::set<std::string> good_;
  std::set<std::string> fast_;
  std::set<std::string> failed_;
  std::set<std::string> slow_;
  std::map<std::string, int> uses_; // times a node served as a partner
  std::vector<const std::string *> partners_; // known-good, in order
  std::set<std::string> busy_;
};

} // namespace

std::vector<Pair> confirmation_round(const std::vector<PairRecord> &records,
                                     const std::vector<std::string> &nodes,
                                     std::set<std::string> &tried,
                                     const PartnerRank &rank) {
  Candidates candidates(records, nodes);
  std::vector<Pair> round;
  for (const auto &node : nodes) {
    if (!candidates.needs_confirmation(node) || tried.count(node) > 0 ||
        candidates.busy(node)) {
      continue;
    }
    bool any = false;
    const std::string *best = candidates.best_for(node, rank, any);
    if (best != nullptr) {
      round.push_back({node, *best});
      candidates.take(node, *best);
      tried.insert(node);
    } else if (!any) {
      tried.insert(node);
    }
  }
  return round;
}

} // namespace sweep
