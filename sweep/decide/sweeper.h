// The sweep as a whole: the pattern's rounds, then the tries again of the
// pairs that did not pass, then the confirmation of each failing node with
// a known-good partner, until the evidence is in or the sweep is stopped.
#pragma once

#include "decide/confirm.h"
#include "decide/schedule.h"
#include "decide/verdict.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sweep {

// Confirmation rounds at most: a node still waiting for a free known-good
// partner after them keeps the evidence it has.
constexpr int most_confirmation_rounds = 3;

// Marks the tries just made, the last of each record in a round, slow or
// not (slow.h); PATTERN says whether the round was one of the pattern's.
using JudgeRound =
    std::function<void(std::vector<PairRecord> &records,
                       const std::vector<std::size_t> &round, bool pattern)>;

// Runs the whole pattern in one job of every pair (act/mesh.h): a try for
// each pattern pair it reported, round by round, in the pattern's order.
using RunMesh =
    std::function<std::vector<std::vector<std::optional<Attempt>>>()>;

struct Plan {
  std::vector<std::string> nodes;
  std::vector<Round> pattern;
  int retries = 1;
  double timeout = 30;
  PartnerRank rank = [](const std::string &, const std::string &) { return 0; };
  bool measured = false;  // each pair runs the probe, not exchange
  JudgeRound judge_round; // where measured
  RunMesh run_mesh;       // where the pattern runs in one job first
  bool mesh_only = false; // and only there: no job a pair after it
};

// Runs one round of disjoint pairs and says how each job ended, in order.
using RunRound = std::function<std::vector<Outcome>(const Round &round)>;
// Told after each round: its number, what it was for ("pattern", "retry",
// "confirmation") and what its tries came to.
using Progress =
    std::function<void(int number, const char *kind, const Round &round,
                       const std::vector<Attempt> &tries)>;

struct Swept {
  std::vector<PairRecord> records; // every pattern pair, then confirmations
  bool complete = true;            // false when stopped before the end
  int rounds = 0;
};

// With a mesh, the pattern runs first in one job of every pair; the pairs
// it did not pass (failed, slow, unreported) then run as jobs of their own:
// a pattern round it passed none of as the round it is, the rest packed
// into rounds where no node is twice. Each pattern round is tried again
// as a round of its own, with just its pairs that did not pass, up to
// RETRIES times; so that no retry round holds more than the round it came
// from, and the worst case stays the pattern's (see budget.h). With the
// mesh alone, its tries are all: nothing is tried again or confirmed.
Swept run_sweep(const Plan &plan, const RunRound &run_round,
                const std::function<bool()> &stopped, const Progress &progress);

} // namespace sweep
