#include "decide/slow.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <utility>

namespace sweep {

namespace {

double median(std::vector<double> values) {
  if (values.empty()) {
    return 0;
  }
  const auto middle =
      values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  const double upper = *middle;
  if (values.size() % 2 == 1) {
    return upper;
  }
  return (upper + *std::max_element(values.begin(), middle)) / 2;
}

std::string figure(const char *format, double value) {
  char text[64];
  (void)std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string megabytes(double bytes) { return figure("%.1f MB/s", bytes / 1e6); }

std::string microseconds(double seconds) {
  return figure("%.1f us", seconds * 1e6);
}

// The latencies and the bandwidths of FIGURES, each in a list of its own.
std::pair<std::vector<double>, std::vector<double>>
columns(const std::vector<Figures> &figures) {
  std::pair<std::vector<double>, std::vector<double>> lists;
  for (const auto &one : figures) {
    lists.first.push_back(one.latency_s);
    lists.second.push_back(one.bandwidth);
  }
  return lists;
}

} // namespace

Medians reference_of(const std::vector<Figures> &figures) {
  auto [latencies, bandwidths] = columns(figures);
  const auto half = static_cast<std::ptrdiff_t>((figures.size() + 1) / 2);
  std::sort(latencies.begin(), latencies.end());
  std::sort(bandwidths.begin(), bandwidths.end(), std::greater<>());
  return {figures.size(), median({latencies.begin(), latencies.begin() + half}),
          median({bandwidths.begin(), bandwidths.begin() + half})};
}

const char *class_name(int pair_class, bool tree) {
  if (!tree) {
    return "all";
  }
  return pair_class == 0 ? "inside" : "across";
}

Medians medians_of(const std::vector<Figures> &figures) {
  const auto [latencies, bandwidths] = columns(figures);
  return {figures.size(), median(latencies), median(bandwidths)};
}

SlowJudge::SlowJudge(const SlowLimits &limits, PairClass pair_class)
    : limits_(limits), class_of_(std::move(pair_class)) {}

std::string SlowJudge::why_slow(const Figures &figures,
                                const Medians &reference) const {
  if (limits_.min_bandwidth && figures.bandwidth < *limits_.min_bandwidth) {
    return "bandwidth " + megabytes(figures.bandwidth) + ", below " +
           megabytes(*limits_.min_bandwidth) + " (--min-bandwidth)";
  }
  if (limits_.max_latency && figures.latency_s > *limits_.max_latency) {
    return "latency " + microseconds(figures.latency_s) + ", above " +
           microseconds(*limits_.max_latency) + " (--max-latency)";
  }
  if (reference.pairs < fewest_to_compare) {
    return "";
  }
  if (figures.bandwidth < limits_.bandwidth_share * reference.bandwidth) {
    return "bandwidth " + megabytes(figures.bandwidth) + " against " +
           megabytes(reference.bandwidth) + ", the median of the faster half";
  }
  if (figures.latency_s > limits_.latency_factor * reference.latency_s &&
      figures.latency_s > reference.latency_s + limits_.latency_floor_s) {
    return "latency " + microseconds(figures.latency_s) + " against " +
           microseconds(reference.latency_s) +
           ", the median of the quicker half";
  }
  return "";
}

void SlowJudge::judge(std::vector<PairRecord> &records,
                      const std::vector<std::size_t> &round, bool pattern) {
  std::map<int, std::vector<Figures>> measured;
  for (const std::size_t index : round) {
    const auto &record = records[index];
    const Attempt &attempt = record.attempts.back();
    if (attempt.verdict == Verdict::passed && attempt.figures) {
      measured[class_of_(record.pair)].push_back(*attempt.figures);
    }
  }
  if (pattern) {
    for (const auto &[pair_class, figures] : measured) {
      auto &all = pattern_[pair_class];
      all.insert(all.end(), figures.begin(), figures.end());
    }
  }
  for (const std::size_t index : round) {
    auto &record = records[index];
    Attempt &attempt = record.attempts.back();
    const bool hung = attempt.verdict == Verdict::exchanged_then_hung;
    if ((attempt.verdict != Verdict::passed && !hung) || !attempt.figures) {
      continue;
    }
    const int pair_class = class_of_(record.pair);
    const auto &here = measured[pair_class];
    // A retry or a confirmation holds only the pairs in question: they are
    // held against the pattern's.
    const Medians reference = reference_of(
        pattern && here.size() >= fewest_to_compare ? here
                                                    : pattern_[pair_class]);
    const std::string why = why_slow(*attempt.figures, reference);
    if (hung) {
      // It hung: judged, but never the reference of others.
      attempt.hung_slow = !why.empty();
      attempt.reason += why.empty() ? "" : "; slow: " + why;
    } else if (!why.empty()) {
      attempt.verdict = Verdict::slow;
      attempt.reason = "slow: " + why;
    } else if (pattern) {
      fast_[pair_class].push_back(*attempt.figures);
    }
  }
}

std::map<int, Medians> SlowJudge::fabric() const {
  std::map<int, Medians> fabric;
  for (const auto &[pair_class, figures] : fast_) {
    fabric[pair_class] = medians_of(figures);
  }
  return fabric;
}

} // namespace sweep
