// What a rank of exchange-probe says of its measure, one line:
//   exchange-probe rank=0 partner=1 value=777 latency_s=6.1e-06
//     bandwidth_bytes_per_s=2.3e+09 bytes=... seconds=...
// read defensively: a bounded line, every key known, every number a number
// within what a path can be.
#pragma once

#include <optional>
#include <string_view>

namespace sweep {

struct ProbeLine {
  int rank = -1;
  int partner = -1;
  int value = 0;
  double latency_s = 0;
  double bandwidth = 0; // bytes a second, this rank to its partner
};

// The line (without its line feed), or none when it is not one.
std::optional<ProbeLine> parse_probe_line(std::string_view line);

// A number a measuring program printed, whole and finite, within [LOW,
// HIGH]; none otherwise.
std::optional<double> printed_number(std::string_view text, double low,
                                     double high);

} // namespace sweep
