// Which tries were slow: each measured try of a pattern round against the
// tries of its class (inside one switch, or across switches) measured under
// the same conditions, that is in the same round; a round with too few of a
// class, and every retry and confirmation, against the class over the
// pattern rounds. An absolute floor or ceiling, when given, holds as well.
#pragma once

#include "decide/schedule.h"
#include "decide/verdict.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sweep {

// The defaults come from the test cluster under load (docs/measured.md):
// pairs of one round, sharing two cores, measured as low as 0.31 of their
// median bandwidth and up to 0.5 ms of latency when healthy; a path at 10
// Mbit/s among them measures 0.02 of the median.
struct SlowLimits {
  // Slow below this share of its class's median bandwidth...
  double bandwidth_share = 0.05;
  // ...or above this multiple of its median latency, and then by at least
  // the floor, so that the jitter of a busy host never makes a pair slow.
  double latency_factor = 4;
  double latency_floor_s = 1e-3;
  std::optional<double> min_bandwidth; // bytes a second
  std::optional<double> max_latency;   // seconds
};

// The class of a pair: 0 inside a switch (or anywhere, without a tree),
// 1 across switches.
using PairClass = std::function<int(const Pair &)>;
const char *class_name(int pair_class, bool tree);

// The medians of one class's figures.
struct Medians {
  std::size_t pairs = 0;
  double latency_s = 0;
  double bandwidth = 0;
};
Medians medians_of(const std::vector<Figures> &figures);
// What a try is held against: the median bandwidth of the class's faster
// half and the median latency of its quicker half. A part that slows many
// pairs of a class at once (an uplink crossed by half a round's pairs)
// drags the median of them all down to its own; the faster half's holds.
Medians reference_of(const std::vector<Figures> &figures);

// The rounds fewer than this many tries of a class are held against the
// sweep's pattern rounds instead.
constexpr std::size_t fewest_to_compare = 3;

class SlowJudge {
public:
  SlowJudge(const SlowLimits &limits, PairClass pair_class);
  // Judges the tries just made, the last of each record in ROUND: a try
  // that passed with figures is marked slow, with why, when it is slow for
  // its class. PATTERN says whether the round was one of the pattern's,
  // whose figures then stand for the fabric.
  void judge(std::vector<PairRecord> &records,
             const std::vector<std::size_t> &round, bool pattern);
  // The fabric as the pattern rounds measured it, by class: the tries
  // that were not slow.
  [[nodiscard]] std::map<int, Medians> fabric() const;

private:
  [[nodiscard]] std::string why_slow(const Figures &figures,
                                     const Medians &reference) const;
  SlowLimits limits_;
  PairClass class_of_;
  std::map<int, std::vector<Figures>> pattern_; // every passed try, by class
  std::map<int, std::vector<Figures>> fast_;    // those not slow
};

} // namespace sweep
