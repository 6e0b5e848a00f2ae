#include "blame.h"
#include "sweep.h"

#include <gtest/gtest.h>

#include <map>
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

} // namespace
