#include "decide/blame.h"
#include "decide/budget.h"
#include "decide/sweeper.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

namespace {

using sweep::Outcome;
using sweep::Round;
using sweep::Verdict;

const std::string both = " process 0 : 777 has to sent to: 1\n"
                         " process 1 : 777 has been received from: 0\n";

std::vector<std::string> nodes(int count) {
  std::vector<std::string> list;
  for (int i = 1; i <= count; ++i) {
    list.push_back("n" + std::to_string(i));
  }
  return list;
}

// A cluster the sweep runs on in the tests: DEAD nodes never answer,
// FLAKES fail their first try; every round is checked to be disjoint.
struct Scene {
  std::set<std::string> dead;
  std::set<std::string> flakes; // "n1-n2"
  std::vector<Round> rounds;
  int stop_after = -1; // rounds, then the sweep is stopped

  sweep::Swept sweep(const sweep::Plan &plan) {
    std::map<std::string, int> tries;
    const sweep::RunRound run = [&](const Round &round) {
      rounds.push_back(round);
      std::set<std::string> busy;
      std::vector<Outcome> outcomes;
      for (const auto &pair : round) {
        EXPECT_TRUE(busy.insert(pair.first).second) << pair.first;
        EXPECT_TRUE(busy.insert(pair.second).second) << pair.second;
        const std::string name = pair.first + "-" + pair.second;
        Outcome outcome;
        outcome.seconds = 0.5;
        if (dead.count(pair.first) > 0 || dead.count(pair.second) > 0 ||
            (flakes.count(name) > 0 && tries[name]++ == 0)) {
          outcome.status = 255;
          outcome.timed_out = true;
        } else {
          outcome.status = 0;
          outcome.out = both;
        }
        outcomes.push_back(outcome);
      }
      return outcomes;
    };
    const auto stopped = [&] {
      return stop_after >= 0 && static_cast<int>(rounds.size()) >= stop_after;
    };
    return sweep::run_sweep(plan, run, stopped,
                            [](int, const char *, const Round &,
                               const std::vector<sweep::Attempt> &) {});
  }
};

sweep::Plan ring_plan(int count) {
  sweep::Plan plan;
  plan.nodes = nodes(count);
  plan.pattern = sweep::ring(plan.nodes);
  return plan;
}

TEST(Sweep, ADeadNodeIsTriedAgainThenConfirmedThenNamed) {
  Scene scene;
  scene.dead = {"n3"};
  const auto swept = scene.sweep(ring_plan(6));
  EXPECT_TRUE(swept.complete);
  // 2 pattern rounds, the two failed pairs again (they share n3), then n3
  // with a known-good partner, and that once more.
  EXPECT_EQ(swept.rounds, 6);
  ASSERT_EQ(swept.records.size(), 7U);
  EXPECT_TRUE(swept.records.back().confirmation);
  EXPECT_EQ(swept.records.back().pair.first, "n3");
  EXPECT_EQ(swept.records.back().attempts.size(), 2U);
  const auto found = sweep::attribute(swept.records, 6);
  EXPECT_EQ(found.suspect_nodes, (std::vector<std::string>{"n3"}));
  EXPECT_TRUE(found.suspect_links.empty());
}

TEST(Sweep, AFlakeIsTriedAgainAndBlamesNoOne) {
  Scene scene;
  scene.flakes = {"n2-n3"};
  const auto swept = scene.sweep(ring_plan(4));
  EXPECT_EQ(swept.rounds, 3);
  EXPECT_EQ(sweep::final_verdict(swept.records[2]), Verdict::flaky);
  const auto found = sweep::attribute(swept.records, 4);
  EXPECT_TRUE(found.suspect_nodes.empty());
  EXPECT_TRUE(found.suspect_links.empty());
  EXPECT_TRUE(found.undetermined.empty());
}

TEST(Sweep, NothingPassesNothingIsConfirmed) {
  Scene scene;
  scene.dead = {"n1", "n2", "n3", "n4"};
  sweep::Plan plan = ring_plan(4);
  plan.retries = 2;
  const auto swept = scene.sweep(plan);
  EXPECT_EQ(swept.records.size(), 4U); // no confirmation pair
  for (const auto &record : swept.records) {
    EXPECT_EQ(record.attempts.size(), 3U);
  }
  EXPECT_TRUE(sweep::attribute(swept.records, 4).global_fault);
}

TEST(Sweep, StoppedMidwayEveryPairIsStillThereNotRun) {
  Scene scene;
  scene.dead = {"n3"};
  scene.stop_after = 1;
  const auto swept = scene.sweep(ring_plan(6));
  EXPECT_FALSE(swept.complete);
  EXPECT_EQ(swept.rounds, 1);
  ASSERT_EQ(swept.records.size(), 6U);
  std::size_t not_run = 0;
  for (const auto &record : swept.records) {
    not_run += sweep::final_verdict(record) == Verdict::not_run ? 1 : 0;
  }
  EXPECT_EQ(not_run, 3U); // the second pattern round never ran
  const auto found = sweep::attribute(swept.records, 6);
  EXPECT_TRUE(found.suspect_nodes.empty());
}

TEST(Sweep, RetriesKeepToTheirRoundAndConfirmingEnds) {
  // Three dead nodes side by side: the third waits a round for a free
  // known-good partner.
  Scene scene;
  scene.dead = {"n3", "n4", "n5"};
  const auto swept = scene.sweep(ring_plan(6));
  EXPECT_TRUE(swept.complete);
  const auto pattern = sweep::ring(nodes(6));
  std::size_t largest = 0;
  for (const auto &round : pattern) {
    largest = std::max(largest, round.size());
  }
  int confirming = 0;
  for (const auto &record : swept.records) {
    confirming += record.confirmation ? 1 : 0;
  }
  EXPECT_EQ(confirming, 3);
  for (const auto &round : scene.rounds) {
    EXPECT_LE(round.size(), largest);
  }
  // With partners scarcer still, it stops after its most rounds.
  Scene scarce;
  scarce.dead = {"n2", "n3", "n4", "n5", "n6", "n7", "n8"};
  sweep::Plan plan = ring_plan(12);
  const auto scarce_swept = scarce.sweep(plan);
  std::set<int> rounds;
  for (const auto &record : scarce_swept.records) {
    if (record.confirmation) {
      rounds.insert(record.attempts.front().round);
    }
  }
  EXPECT_LE(rounds.size(),
            static_cast<std::size_t>(sweep::most_confirmation_rounds));
}

// The worst case is an upper bound of every sweep the schedule can make:
// for dead nodes drawn at random, each round costs its waves of full
// slots and its tail, and the sum stays within it.
TEST(Sweep, NoSweepOutlastsItsWorstCase) {
  std::mt19937 random(7);
  for (int trial = 0; trial < 300; ++trial) {
    const int count = 4 + static_cast<int>(random() % 13);
    const bool all = random() % 3 == 0;
    const std::size_t parallel = 1 + random() % 4;
    const int retries = static_cast<int>(random() % 3);
    Scene scene;
    for (int node = 1; node <= count; ++node) {
      if (random() % 3 == 0) {
        scene.dead.insert("n" + std::to_string(node));
      }
    }
    sweep::Plan plan;
    plan.nodes = nodes(count);
    plan.pattern = all ? sweep::all_pairs(plan.nodes) : sweep::ring(plan.nodes);
    plan.retries = retries;
    scene.sweep(plan);
    const sweep::Budget budget{
        static_cast<std::size_t>(count), parallel, retries, 30, true, 0};
    const double slot = 30 + sweep::last_resort + sweep::streams_after_end;
    const double tail = sweep::gather_steps + sweep::cancel_bound +
                        sweep::helper_bound + sweep::streams_after_end;
    double spent = 3 * (sweep::query_bound + sweep::streams_after_end);
    for (const auto &round : scene.rounds) {
      spent +=
          static_cast<double>((round.size() + parallel - 1) / parallel) * slot +
          tail;
    }
    const double worst = sweep::worst_case_seconds(
        sweep::round_sizes(all ? "all" : "ring",
                           static_cast<std::size_t>(count)),
        budget);
    EXPECT_LE(spent, worst)
        << count << (all ? " all" : " ring") << ", K " << parallel << ", R "
        << retries << ", " << scene.dead.size() << " dead";
  }
}

} // namespace

// What the mesh left, a pair here and there in many rounds, runs in as few
// rounds as its nodes allow: four pairs of four rounds, no node shared,
// in one; two sharing a node in two.
TEST(Sweep, WhatTheMeshLeftRunsPacked) {
  const std::set<std::string> left_pairs = {"n1-n2", "n3-n4", "n5-n6", "n7-n8",
                                            "n1-n3"};
  sweep::Plan plan;
  plan.nodes = nodes(8);
  plan.pattern = sweep::all_pairs(plan.nodes);
  const auto named = [](const sweep::Pair &pair) {
    return std::min(pair.first, pair.second) + "-" +
           std::max(pair.first, pair.second);
  };
  plan.run_mesh = [&] {
    std::vector<std::vector<std::optional<sweep::Attempt>>> tries;
    for (const auto &round : plan.pattern) {
      tries.emplace_back();
      for (const auto &pair : round) {
        sweep::Attempt attempt;
        attempt.engine = sweep::Engine::mesh;
        attempt.verdict = left_pairs.count(named(pair)) > 0 ? Verdict::failed
                                                            : Verdict::passed;
        tries.back().emplace_back(attempt);
      }
    }
    return tries;
  };
  Scene scene;
  const auto swept = scene.sweep(plan);
  ASSERT_EQ(scene.rounds.size(), 2U);
  std::set<std::string> ran;
  for (const auto &round : scene.rounds) {
    for (const auto &pair : round) {
      ran.insert(named(pair));
    }
  }
  EXPECT_EQ(ran, left_pairs);
  for (const auto &record : swept.records) {
    EXPECT_NE(sweep::final_verdict(record), Verdict::failed);
  }
}
