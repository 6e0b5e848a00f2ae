#include "sweep.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <set>
#include <utility>

namespace sweep {

namespace {

class Sweeper {
public:
  Sweeper(const Plan &plan, const RunRound &run_round,
          const std::function<bool()> &stopped, const Progress &progress)
      : plan_(plan), run_round_(run_round), stopped_(stopped),
        progress_(progress) {}

  Swept run() {
    // Every pattern pair has its record from the start, so that pairs a
    // stopped sweep never ran are reported too.
    std::vector<std::vector<std::size_t>> pattern;
    std::transform(plan_.pattern.begin(), plan_.pattern.end(),
                   std::back_inserter(pattern),
                   [&](const Round &round) { return add_all(round, false); });
    const bool stopped =
        std::any_of(pattern.begin(), pattern.end(),
                    [&](const auto &round) { return !run(round, "pattern"); });
    if (stopped) {
      return finish(false);
    }
    std::set<std::string> tried;
    for (;;) {
      const auto due = retries_due(swept_.records, plan_.retries);
      if (!due.empty()) {
        if (!run_packed(due, "retry")) {
          return finish(false);
        }
        continue;
      }
      const auto confirming =
          confirmation_round(swept_.records, plan_.nodes, tried, plan_.rank);
      if (confirming.empty()) {
        return finish(true);
      }
      if (!run(add_all(confirming, true), "confirmation")) {
        return finish(false);
      }
    }
  }

private:
  // Records for PAIRS, and their indices.
  std::vector<std::size_t> add_all(const std::vector<Pair> &pairs,
                                   bool confirmation) {
    std::vector<std::size_t> indices;
    for (const auto &pair : pairs) {
      indices.push_back(swept_.records.size());
      swept_.records.push_back({pair, confirmation, {}});
    }
    return indices;
  }

  Swept finish(bool complete) {
    swept_.complete = complete && !stopped_();
    return std::move(swept_);
  }

  bool run_packed(const std::vector<std::size_t> &indices, const char *kind) {
    std::vector<Pair> pairs;
    std::map<std::pair<std::string, std::string>, std::size_t> index_of;
    for (const std::size_t index : indices) {
      const Pair &pair = swept_.records[index].pair;
      pairs.push_back(pair);
      index_of[{pair.first, pair.second}] = index;
    }
    for (const auto &round : pack(pairs)) {
      std::vector<std::size_t> members;
      std::transform(round.begin(), round.end(), std::back_inserter(members),
                     [&](const Pair &pair) {
                       return index_of.at({pair.first, pair.second});
                     });
      if (!run(members, kind)) {
        return false;
      }
    }
    return true;
  }

  // Runs the pairs of one round; false when the sweep was stopped.
  bool run(const std::vector<std::size_t> &indices, const char *kind) {
    if (stopped_()) {
      return false;
    }
    Round round;
    std::transform(
        indices.begin(), indices.end(), std::back_inserter(round),
        [&](std::size_t index) { return swept_.records[index].pair; });
    const int number = ++swept_.rounds;
    const auto outcomes = run_round_(round);
    std::vector<Attempt> tries;
    for (std::size_t i = 0; i < indices.size(); ++i) {
      Outcome outcome;
      if (i < outcomes.size()) {
        outcome = outcomes[i];
      } else {
        outcome.cut_short = true;
      }
      Attempt attempt = judge(outcome, plan_.timeout);
      attempt.round = number;
      tries.push_back(attempt);
      swept_.records[indices[i]].attempts.push_back(std::move(attempt));
    }
    progress_(number, kind, round, tries);
    return !stopped_();
  }

  const Plan &plan_;
  const RunRound &run_round_;
  const std::function<bool()> &stopped_;
  const Progress &progress_;
  Swept swept_;
};

} // namespace

Swept run_sweep(const Plan &plan, const RunRound &run_round,
                const std::function<bool()> &stopped,
                const Progress &progress) {
  return Sweeper(plan, run_round, stopped, progress).run();
}

} // namespace sweep
