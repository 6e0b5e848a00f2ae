#include "given/mesh_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Kind = sweep::MeshLine::Kind;

TEST(MeshLine, EachKindOfLineAndNothingElse) {
  const auto identity =
      sweep::parse_mesh_line("exchange-mesh rank=3 host=node4");
  ASSERT_TRUE(identity);
  EXPECT_EQ(identity->kind, Kind::identity);
  EXPECT_EQ(identity->rank, 3U);
  EXPECT_EQ(identity->host, "node4");
  const auto done = sweep::parse_mesh_line(
      "exchange-mesh round=1 rank=3 partner=12 result=done value=777 "
      "latency_s=7.1e-06 bandwidth_bytes_per_s=2.3e+09");
  ASSERT_TRUE(done);
  EXPECT_EQ(done->kind, Kind::pair);
  EXPECT_EQ(done->round, 1U);
  EXPECT_EQ(done->partner, 12U);
  EXPECT_EQ(done->result, "done");
  EXPECT_EQ(done->value, 777);
  EXPECT_DOUBLE_EQ(done->bandwidth, 2.3e+09);
  const auto late = sweep::parse_mesh_line(
      "exchange-mesh round=2 rank=3 partner=7 result=timed_out");
  ASSERT_TRUE(late);
  EXPECT_EQ(late->result, "timed_out");
  const auto end = sweep::parse_mesh_line("exchange-mesh rank=3 end=15");
  ASSERT_TRUE(end);
  EXPECT_EQ(end->kind, Kind::end);
  const std::vector<std::string> bad = {
      "exchange-mesh rank=3 host=-oProxyCommand=x", // no host name
      "exchange-mesh rank=3 host=a host=b",         // a key twice
      "exchange-mesh rank=-3 host=node4",
      "exchange-mesh rank=3.5 end=15",
      "exchange-mesh round=1 rank=3 partner=12 result=done value=777",
      "exchange-mesh round=1 rank=3 partner=12 result=lost",
      "exchange-mesh round=1 rank=3 partner=12 result=timed_out value=1",
      "exchange-mesh round=1 rank=3 partner=12 result=done value=777 "
      "latency_s=inf bandwidth_bytes_per_s=2e9",
      "exchange-mesh round=1 rank=3 partner=12 result=done value=777 "
      "latency_s=1e-6 bandwidth_bytes_per_s=2e9 colour=red",
      "exchange-mesh round=1 rank=99999999 partner=12 result=timed_out",
      "exchange-mesh rank=3 host=node4" + std::string(600, 'x'),
      "srun: error: node4: task 3: Exited with exit code 3",
  };
  for (const auto &line : bad) {
    EXPECT_FALSE(sweep::parse_mesh_line(line)) << line;
  }
}

} // namespace
