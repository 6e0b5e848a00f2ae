#include "budget.h"

#include <cmath>
#include <numeric>
#include <sstream>

namespace sweep {

namespace {

// The most that ending a job can take after its bound: the launcher is
// killed this long after it.
constexpr double ending = 10;

std::size_t waves(std::size_t pairs, std::size_t parallel) {
  if (parallel == 0 || pairs == 0) {
    return pairs == 0 ? 0 : 1;
  }
  return (pairs + parallel - 1) / parallel;
}

} // namespace

std::vector<std::size_t> round_sizes(const std::string &pattern,
                                     std::size_t nodes) {
  if (nodes < 2) {
    return {};
  }
  const std::size_t half = nodes / 2;
  if (pattern == "all") {
    // The circle: N-1 rounds of N/2 pairs, or N rounds of (N-1)/2.
    return std::vector<std::size_t>(nodes % 2 == 0 ? nodes - 1 : nodes, half);
  }
  if (nodes == 2) {
    return {1};
  }
  if (nodes % 2 == 0) {
    return {half, half};
  }
  return {half, half, 1};
}

double worst_case_seconds(const std::vector<std::size_t> &rounds,
                          const Budget &budget) {
  const std::size_t pattern =
      std::accumulate(rounds.begin(), rounds.end(), std::size_t{0},
                      [&](std::size_t sum, std::size_t pairs) {
                        return sum + waves(pairs, budget.parallel);
                      });
  const std::size_t confirming = waves(budget.nodes / 2, budget.parallel);
  return static_cast<double>(static_cast<std::size_t>(1 + budget.retries) *
                             (pattern + confirming)) *
         (budget.timeout + ending);
}

std::optional<double> time_left_seconds(const std::string &text) {
  std::string line = text.substr(0, text.find('\n'));
  long days = 0;
  const auto dash = line.find('-');
  if (dash != std::string::npos) {
    const std::string day_part = line.substr(0, dash);
    if (day_part.empty() ||
        day_part.find_first_not_of("0123456789") != std::string::npos) {
      return std::nullopt;
    }
    days = std::strtol(day_part.c_str(), nullptr, 10);
    line = line.substr(dash + 1);
  }
  if (line.empty() ||
      line.find_first_not_of("0123456789:") != std::string::npos) {
    return std::nullopt;
  }
  std::vector<long> parts;
  std::istringstream fields(line);
  for (std::string field; std::getline(fields, field, ':');) {
    if (field.empty()) {
      return std::nullopt;
    }
    parts.push_back(std::strtol(field.c_str(), nullptr, 10));
  }
  if (parts.empty() || parts.size() > 3) {
    return std::nullopt;
  }
  long seconds =
      std::accumulate(parts.begin(), parts.end(), 0L,
                      [](long sum, long part) { return sum * 60 + part; });
  if (parts.size() == 1) {
    seconds *= 60; // minutes alone
  }
  return static_cast<double>(days * 86400 + seconds);
}

} // namespace sweep
