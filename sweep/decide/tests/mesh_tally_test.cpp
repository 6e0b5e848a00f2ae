#include "decide/mesh_tally.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> nodes_of(std::size_t count) {
  std::vector<std::string> nodes;
  for (std::size_t i = 1; i <= count; ++i) {
    nodes.push_back("n" + std::to_string(i));
  }
  return nodes;
}

std::string done(std::size_t round, std::size_t rank, std::size_t partner,
                 const char *bandwidth = "2e9") {
  return "exchange-mesh round=" + std::to_string(round) +
         " rank=" + std::to_string(rank) +
         " partner=" + std::to_string(partner) +
         " result=done value=777 latency_s=7e-06 bandwidth_bytes_per_s=" +
         bandwidth + "\n";
}

// Both lines of every pair, as an honest mesh prints them.
std::string every_line(const std::vector<std::string> &nodes, bool all) {
  std::string out;
  for (std::size_t rank = 0; rank < nodes.size(); ++rank) {
    out += "exchange-mesh rank=" + std::to_string(rank) +
           " host=" + nodes[rank] + "\n";
  }
  for (std::size_t round = 0; round < sweep::round_count(all, nodes.size());
       ++round) {
    for (std::size_t rank = 0; rank < nodes.size(); ++rank) {
      const auto seat = sweep::seat_in_round(all, nodes.size(), rank, round);
      if (seat) {
        out += done(round, rank, seat->partner);
      }
    }
  }
  return out;
}

TEST(MeshTally, EveryPairInThePatternsOwnOrder) {
  for (const bool all : {false, true}) {
    for (const std::size_t count : {2U, 5U, 8U, 13U}) {
      SCOPED_TRACE((all ? "all " : "ring ") + std::to_string(count));
      const auto nodes = nodes_of(count);
      sweep::MeshTally tally(nodes, all);
      tally.bytes(every_line(nodes, all));
      const auto rounds = all ? sweep::all_pairs(nodes) : sweep::ring(nodes);
      const auto tries = tally.attempts();
      ASSERT_EQ(tries.size(), rounds.size());
      for (std::size_t r = 0; r < rounds.size(); ++r) {
        ASSERT_EQ(tries[r].size(), rounds[r].size());
        for (const auto &attempt : tries[r]) {
          ASSERT_TRUE(attempt);
          EXPECT_EQ(attempt->verdict, sweep::Verdict::passed);
          EXPECT_EQ(attempt->engine, sweep::Engine::mesh);
          ASSERT_TRUE(attempt->figures);
        }
      }
      EXPECT_EQ(tally.unreadable(), 0U);
      EXPECT_EQ(tally.problem(), "");
    }
  }
}

TEST(MeshTally, WhatEachPairsTwoRanksSaid) {
  const auto nodes = nodes_of(4); // ring: round 0 n1-n2, n3-n4
  sweep::MeshTally tally(nodes, false);
  // Lines in any order, split anywhere; the slower way's bandwidth.
  const std::string out =
      done(0, 1, 0, "1e9") + "exchange-mesh rank=0 host=N1.cluster\n" +
      done(0, 0, 1, "3e9") +
      "exchange-mesh round=0 rank=2 partner=3 result=timed_out\n" +
      done(0, 3, 2) + done(1, 1, 2) + done(1, 1, 2) + // said twice
      "garbage that is no line of the mesh's\n" +
      "exchange-mesh round=9 rank=0 partner=1 result=done\n";
  for (std::size_t at = 0; at < out.size(); at += 7) {
    tally.bytes(std::string_view(out).substr(at, 7));
  }
  const auto tries = tally.attempts();
  ASSERT_TRUE(tries[0][0]);
  EXPECT_EQ(tries[0][0]->verdict, sweep::Verdict::passed);
  EXPECT_DOUBLE_EQ(tries[0][0]->figures->bandwidth, 1e9);
  ASSERT_TRUE(tries[0][1]);
  EXPECT_EQ(tries[0][1]->verdict, sweep::Verdict::failed);
  EXPECT_NE(tries[0][1]->reason.find("timed out in the mesh"),
            std::string::npos);
  ASSERT_TRUE(tries[1][0]); // n2-n3: one rank only
  EXPECT_EQ(tries[1][0]->verdict, sweep::Verdict::failed);
  EXPECT_FALSE(tries[1][1]); // n4-n1: neither
  EXPECT_EQ(tally.unreadable(), 2U);
  EXPECT_EQ(tally.problem(), ""); // N1.cluster is n1
}

TEST(MeshTally, RanksNotWhereTheSweepNamedThemAreTrustedForNothing) {
  const auto nodes = nodes_of(4);
  sweep::MeshTally tally(nodes, false);
  tally.bytes(every_line(nodes, false));
  tally.bytes("exchange-mesh rank=2 host=n9\n");
  EXPECT_NE(tally.problem().find("rank 2 ran on n9, not on n3"),
            std::string::npos);
  for (const auto &round : tally.attempts()) {
    for (const auto &attempt : round) {
      EXPECT_FALSE(attempt);
    }
  }
}

TEST(MeshTally, ALineTooLongIsOneUnreadableLine) {
  const auto nodes = nodes_of(2);
  sweep::MeshTally tally(nodes, false);
  tally.bytes("exchange-mesh rank=0 host=n1" + std::string(2000, 'x'));
  tally.bytes(std::string(2000, 'y') + "\n" + done(0, 0, 1) + done(0, 1, 0));
  EXPECT_EQ(tally.unreadable(), 1U);
  EXPECT_TRUE(tally.attempts()[0][0]);
}

} // namespace

TEST(MeshTally, NoTryOfAPairWhoseRankNeverJoined) {
  const auto nodes = nodes_of(4); // ring: n1-n2, n3-n4; then n2-n3, n4-n1
  sweep::MeshTally tally(nodes, false);
  std::string out;
  for (std::size_t rank = 0; rank < 3; ++rank) {
    out += "exchange-mesh rank=" + std::to_string(rank) +
           " host=" + nodes[rank] + "\n";
  }
  // Rank 3 (n4) says nothing at all; its partners give up on it.
  out += done(0, 0, 1) + done(0, 1, 0) +
         "exchange-mesh round=0 rank=2 partner=3 result=timed_out\n" +
         done(1, 1, 2) + done(1, 2, 1) +
         "exchange-mesh round=1 rank=0 partner=3 result=timed_out\n";
  tally.bytes(out);
  const auto tries = tally.attempts();
  ASSERT_TRUE(tries[0][0] && tries[1][0]);
  EXPECT_EQ(tries[0][0]->verdict, sweep::Verdict::passed);
  EXPECT_EQ(tries[1][0]->verdict, sweep::Verdict::passed);
  EXPECT_FALSE(tries[0][1]); // n3-n4
  EXPECT_FALSE(tries[1][1]); // n4-n1
  EXPECT_EQ(tally.identified(), 3U);
}
