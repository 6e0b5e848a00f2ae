#include "given/probe_line.h"

#include <cmath>
#include <cstdlib>
#include <string>

namespace sweep {

namespace {

constexpr std::string_view head = "exchange-probe ";
// Longer than any line the probe prints.
constexpr std::size_t longest = 400;

// WORD's key=value into PARSED, and which of the five keys it was (a bit),
// 0 for the probe's own counts, or none when it is not a key or no number.
std::optional<int> take(ProbeLine &parsed, std::string_view word) {
  const auto equals = word.find('=');
  if (equals == std::string_view::npos) {
    return std::nullopt;
  }
  const std::string_view key = word.substr(0, equals);
  const std::string_view text = word.substr(equals + 1);
  const auto integer = [&](double low, double high) -> std::optional<double> {
    const auto value = printed_number(text, low, high);
    return value && *value == std::floor(*value) ? value : std::nullopt;
  };
  std::optional<double> value;
  int bit = 0;
  if (key == "rank" || key == "partner") {
    value = integer(0, 1e7);
    (key == "rank" ? parsed.rank : parsed.partner) =
        static_cast<int>(value.value_or(-1));
    bit = key == "rank" ? 1 : 2;
  } else if (key == "value") {
    value = integer(-2147483648.0, 2147483647.0);
    parsed.value = static_cast<int>(value.value_or(0));
    bit = 4;
  } else if (key == "latency_s") {
    // An hour is no path's latency; -1 is none measured.
    value = printed_number(text, -1, 3600);
    parsed.latency_s = value.value_or(-1);
    bit = 8;
  } else if (key == "bandwidth_bytes_per_s") {
    value = printed_number(text, -1, 1e15);
    parsed.bandwidth = value.value_or(-1);
    bit = 16;
  } else if (key == "bytes" || key == "seconds") {
    value = printed_number(text, 0, 1e18);
  }
  return value ? std::optional<int>(bit) : std::nullopt;
}

} // namespace

std::optional<double> printed_number(std::string_view text, double low,
                                     double high) {
  if (text.empty() || text.size() > 40) {
    return std::nullopt;
  }
  const std::string copy(text);
  char *end = nullptr;
  const double value = std::strtod(copy.c_str(), &end);
  if (end != copy.c_str() + copy.size() || !std::isfinite(value) ||
      value < low || value > high) {
    return std::nullopt;
  }
  return value;
}

std::optional<ProbeLine> parse_probe_line(std::string_view line) {
  if (line.size() > longest || line.substr(0, head.size()) != head) {
    return std::nullopt;
  }
  line.remove_prefix(head.size());
  ProbeLine parsed;
  int seen = 0;
  while (!line.empty()) {
    const auto blank = line.find(' ');
    const std::string_view word = line.substr(0, blank);
    line.remove_prefix(blank == std::string_view::npos ? line.size()
                                                       : blank + 1);
    const auto bit = take(parsed, word);
    if (!bit) {
      return std::nullopt;
    }
    seen |= *bit;
  }
  if (seen != 31) {
    return std::nullopt;
  }
  return parsed;
}

} // namespace sweep
