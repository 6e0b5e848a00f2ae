#include "given/probe_line.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ProbeLine, TheProbesLineAndNothingElse) {
  const auto line = sweep::parse_probe_line(
      "exchange-probe rank=1 partner=0 value=777 latency_s=6.1e-06 "
      "bandwidth_bytes_per_s=2.25e+09 bytes=33554432 seconds=0.0149");
  ASSERT_TRUE(line);
  EXPECT_EQ(line->rank, 1);
  EXPECT_EQ(line->partner, 0);
  EXPECT_EQ(line->value, 777);
  EXPECT_DOUBLE_EQ(line->latency_s, 6.1e-06);
  EXPECT_DOUBLE_EQ(line->bandwidth, 2.25e+09);
  const std::string good = "exchange-probe rank=0 partner=1 value=777 "
                           "latency_s=1e-06 bandwidth_bytes_per_s=1e9 "
                           "bytes=1 seconds=1";
  const std::vector<std::string> bads = {
      std::string(" process 0 : 777 has to sent to: 1"),
      // a key missing
      "exchange-probe rank=0 partner=1 value=777 latency_s=1e-06",
      good + " colour=red", // a key unknown
      "exchange-probe rank=0  partner=1 value=777 latency_s=1e-06 "
      "bandwidth_bytes_per_s=1e9",  // a word empty
      good + std::string(400, ' '), // too long
      "exchange-probe rank=0.5 partner=1 value=777 latency_s=1e-06 "
      "bandwidth_bytes_per_s=1e9 bytes=1 seconds=1",
      "exchange-probe rank=0 partner=1 value=777 latency_s=nan "
      "bandwidth_bytes_per_s=1e9 bytes=1 seconds=1",
      "exchange-probe rank=0 partner=1 value=777 latency_s=1e-06 "
      "bandwidth_bytes_per_s=1e99 bytes=1 seconds=1",
      "exchange-probe rank=0 partner=1 value=777 latency_s=7200 "
      "bandwidth_bytes_per_s=1e9 bytes=1 seconds=1",
      "exchange-probe rank=0 partner=1 value=777x latency_s=1e-06 "
      "bandwidth_bytes_per_s=1e9 bytes=1 seconds=1",
  };
  for (const auto &bad : bads) {
    EXPECT_FALSE(sweep::parse_probe_line(bad)) << bad;
  }
  EXPECT_TRUE(sweep::parse_probe_line(good));
}

} // namespace
