#include "decide/confirm.h"
#include "records.h"

#include <gtest/gtest.h>

#include <set>

namespace {

const sweep::PartnerRank any = [](const std::string &, const std::string &) {
  return 0;
};

std::vector<std::string> nodes(int count) {
  std::vector<std::string> list;
  for (int i = 1; i <= count; ++i) {
    list.push_back("n" + std::to_string(i));
  }
  return list;
}

TEST(Confirm, APairIsTriedAgainUntilItPassesOrHasHadItsTries) {
  const auto list = records("n1-n2 F, n2-n3 FF, n3-n4 FP, n4-n5 P, n5-n6 H, "
                            "n6-n1 N");
  EXPECT_EQ(sweep::retries_due(list, 1), (std::vector<std::size_t>{0, 4}));
  EXPECT_EQ(sweep::retries_due(list, 2), (std::vector<std::size_t>{0, 1, 4}));
  EXPECT_TRUE(sweep::retries_due(list, 0).empty());
}

TEST(Confirm, EachFailingNodeMeetsAKnownGoodPartnerItHasNotMet) {
  // n3 dead in a ring of 6: its partners n2 and n4 are known-good already.
  const auto list =
      records("n1-n2 P, n2-n3 FF, n3-n4 FF, n4-n5 P, n5-n6 P, n6-n1 P");
  std::set<std::string> tried;
  const auto round = sweep::confirmation_round(list, nodes(6), tried, any);
  ASSERT_EQ(round.size(), 1U);
  EXPECT_EQ(round[0].first, "n3");
  EXPECT_EQ(round[0].second, "n1");
  EXPECT_EQ(tried, (std::set<std::string>{"n3"}));
  // Tried once; no more.
  EXPECT_TRUE(sweep::confirmation_round(list, nodes(6), tried, any).empty());
}

TEST(Confirm, RoundsAreDisjointAndSpreadOverThePartners) {
  // n2 and n5 dead; n4 passed with n3, n6 with n1: four known-good nodes.
  const auto list =
      records("n1-n2 FF, n2-n3 FF, n3-n4 P, n4-n5 FF, n5-n6 FF, n6-n1 P");
  std::set<std::string> tried;
  const auto round = sweep::confirmation_round(list, nodes(6), tried, any);
  ASSERT_EQ(round.size(), 2U);
  std::set<std::string> seen;
  for (const auto &pair : round) {
    EXPECT_TRUE(seen.insert(pair.first).second);
    EXPECT_TRUE(seen.insert(pair.second).second);
  }
  EXPECT_EQ(round[0].first, "n2");
  EXPECT_EQ(round[0].second, "n4"); // n1 and n3 it has met
  EXPECT_EQ(round[1].first, "n5");
  EXPECT_EQ(round[1].second, "n1");
}

TEST(Confirm, ANodeWaitsWhenItsOnlyPartnerIsBusy) {
  // One known-good pair, n1 and n2, that n3 and n4 have not met.
  const auto list = records("n1-n2 P, n3-n4 FF, n3-n1 FF, n4-n1 FF");
  std::set<std::string> tried;
  auto round = sweep::confirmation_round(list, nodes(4), tried, any);
  ASSERT_EQ(round.size(), 1U);
  EXPECT_EQ(round[0].first, "n3");
  EXPECT_EQ(round[0].second, "n2");
  auto more = list;
  more.push_back({round[0], true, {}});
  round = sweep::confirmation_round(more, nodes(4), tried, any);
  ASSERT_EQ(round.size(), 1U);
  EXPECT_EQ(round[0].first, "n4");
  EXPECT_EQ(round[0].second, "n2");
}

TEST(Confirm, NoKnownGoodPartnerNoConfirmation) {
  const auto list = records("n1-n2 FF, n2-n3 FF, n3-n1 FF");
  std::set<std::string> tried;
  EXPECT_TRUE(sweep::confirmation_round(list, nodes(3), tried, any).empty());
  EXPECT_EQ(tried.size(), 3U);
}

TEST(Confirm, TheBestRankedPartnerFirst) {
  const auto list =
      records("n1-n2 P, n2-n3 FF, n3-n4 FF, n4-n5 P, n5-n6 P, n6-n1 P");
  std::set<std::string> tried;
  // n3 and n6 share a switch.
  const sweep::PartnerRank same_switch = [](const std::string &node,
                                            const std::string &partner) {
    return (node == "n3") == (partner == "n6") ? 0 : 1;
  };
  const auto round =
      sweep::confirmation_round(list, nodes(6), tried, same_switch);
  ASSERT_EQ(round.size(), 1U);
  EXPECT_EQ(round[0].second, "n6");
}

} // namespace
