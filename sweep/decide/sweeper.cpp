#include "decide/sweeper.h"

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
    if (plan_.run_mesh) {
      if (!mesh(pattern)) {
        return finish(false);
      }
      if (plan_.mesh_only) {
        return finish(true);
      }
    }
    // A round the mesh passed none of runs as the pattern's, its pairs
    // measured side by side; what the mesh left of the others (a few pairs
    // of many rounds) runs packed into as few rounds as their nodes allow.
    std::vector<std::size_t> left;
    bool stopped =
        std::any_of(pattern.begin(), pattern.end(), [&](const auto &round) {
          const auto due = due_of(round);
          if (plan_.run_mesh && passed_any(round)) {
            left.insert(left.end(), due.begin(), due.end());
            return false;
          }
          return !run(due, "pattern");
        });
    const auto packed = pack(left);
    stopped = stopped ||
              std::any_of(packed.begin(), packed.end(), [&](const auto &round) {
                return !run(round, "after mesh");
              });
    if (stopped || !retry(pattern)) {
      return finish(false);
    }
    std::set<std::string> tried;
    for (int number = 0; number < most_confirmation_rounds; ++number) {
      const auto confirming =
          confirmation_round(swept_.records, plan_.nodes, tried, plan_.rank);
      if (confirming.empty()) {
        break;
      }
      const std::vector<std::vector<std::size_t>> round{
          add_all(confirming, true)};
      if (!run(round.front(), "confirmation") || !retry(round)) {
        return finish(false);
      }
    }
    return finish(true);
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

  // The pattern in one job of every pair: its tries, judged round by
  // round; false when the sweep was stopped.
  bool mesh(const std::vector<std::vector<std::size_t>> &pattern) {
    if (stopped_()) {
      return false;
    }
    const int number = ++swept_.rounds;
    const auto tries = plan_.run_mesh();
    Round all;
    std::vector<std::size_t> reported;
    for (std::size_t round = 0; round < pattern.size(); ++round) {
      std::vector<std::size_t> judged;
      for (std::size_t seat = 0; seat < pattern[round].size(); ++seat) {
        const std::size_t index = pattern[round][seat];
        all.push_back(swept_.records[index].pair);
        if (round < tries.size() && seat < tries[round].size() &&
            tries[round][seat]) {
          Attempt attempt = *tries[round][seat];
          attempt.round = number;
          swept_.records[index].attempts.push_back(std::move(attempt));
          judged.push_back(index);
        }
      }
      if (plan_.judge_round) {
        plan_.judge_round(swept_.records, judged, true);
      }
      reported.insert(reported.end(), judged.begin(), judged.end());
    }
    std::vector<Attempt> said;
    std::transform(reported.begin(), reported.end(), std::back_inserter(said),
                   [&](std::size_t index) {
                     return swept_.records[index].attempts.back();
                   });
    // A pair the mesh did not report counts as cut short on the line.
    for (std::size_t left = said.size(); left < all.size(); ++left) {
      Attempt unreported;
      unreported.verdict = Verdict::not_run;
      said.push_back(unreported);
    }
    progress_(number, "mesh", all, said);
    return !stopped_();
  }

  // The records PAIRS as schedule's pack() rounds their pairs: each
  // pattern pair has one record, so a pair names its record.
  std::vector<std::vector<std::size_t>>
  pack(const std::vector<std::size_t> &pairs) const {
    std::map<std::pair<std::string, std::string>, std::size_t> record_of;
    Round all;
    for (const std::size_t index : pairs) {
      const Pair &pair = swept_.records[index].pair;
      record_of[{pair.first, pair.second}] = index;
      all.push_back(pair);
    }
    std::vector<std::vector<std::size_t>> rounds;
    for (const auto &round : sweep::pack(all)) {
      auto &indices = rounds.emplace_back();
      std::transform(round.begin(), round.end(), std::back_inserter(indices),
                     [&](const Pair &pair) {
                       return record_of.at({pair.first, pair.second});
                     });
    }
    return rounds;
  }

  // The pairs of ROUND with no fast try yet.
  std::vector<std::size_t> due_of(const std::vector<std::size_t> &round) {
    std::vector<std::size_t> due;
    std::copy_if(
        round.begin(), round.end(), std::back_inserter(due),
        [&](std::size_t index) { return !ever_fast(swept_.records[index]); });
    return due;
  }
  bool passed_any(const std::vector<std::size_t> &round) {
    return std::any_of(round.begin(), round.end(), [&](std::size_t index) {
      return ever_fast(swept_.records[index]);
    });
  }

  // The pairs of ROUNDS that are due another try, each round's as a round
  // of its own, until none is due; false when the sweep was stopped.
  bool retry(const std::vector<std::vector<std::size_t>> &rounds) {
    // A slow pair gets one more try even without retries (confirm.h).
    const int passes = std::max(plan_.retries, plan_.measured ? 1 : 0);
    for (int pass = 0; pass < passes; ++pass) {
      const auto due = retries_due(swept_.records, plan_.retries);
      const std::set<std::size_t> due_set(due.begin(), due.end());
      for (const auto &round : rounds) {
        std::vector<std::size_t> again;
        std::copy_if(round.begin(), round.end(), std::back_inserter(again),
                     [&](std::size_t index) { return due_set.count(index); });
        if (!again.empty() && !run(again, "retry")) {
          return false;
        }
      }
    }
    return true;
  }

  // Runs the pairs of one round; false when the sweep was stopped.
  bool run(const std::vector<std::size_t> &indices, const char *kind) {
    if (stopped_()) {
      return false;
    }
    if (indices.empty()) {
      return true;
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
      Attempt attempt = judge(outcome, plan_.timeout, plan_.measured);
      attempt.round = number;
      swept_.records[indices[i]].attempts.push_back(std::move(attempt));
    }
    if (plan_.judge_round) {
      plan_.judge_round(swept_.records, indices,
                        std::string(kind) == "pattern");
    }
    std::transform(indices.begin(), indices.end(), std::back_inserter(tries),
                   [&](std::size_t index) {
                     return swept_.records[index].attempts.back();
                   });
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
