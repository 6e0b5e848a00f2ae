// What a rank of exchange-mesh says, one line at a time, read defensively
// as the probe's are: a bounded line, every key known, every number a
// number within what a job of a million ranks can be.
//   exchange-mesh rank=I host=NAME
//   exchange-mesh round=R rank=I partner=J result=done value=777
//     latency_s=... bandwidth_bytes_per_s=...
//   exchange-mesh round=R rank=I partner=J result=timed_out|failed
//   exchange-mesh rank=I end=ROUNDS
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace sweep {

struct MeshLine {
  enum class Kind { identity, pair, end };
  Kind kind = Kind::pair;
  std::size_t rank = 0;
  std::string host;      // identity
  std::size_t round = 0; // pair; end: the rounds there were
  std::size_t partner = 0;
  std::string result; // done, timed_out, failed
  int value = 0;
  double latency_s = -1;
  double bandwidth = -1;
};

// The longest line the sweep reads; a longer one is unreadable.
constexpr std::size_t longest_mesh_line = 512;

std::optional<MeshLine> parse_mesh_line(std::string_view line);

} // namespace sweep
