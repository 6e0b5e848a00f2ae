#include "tell/heat.h"

#include "tell/report.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace sweep {

namespace {

// Powers of ten from green to red.
constexpr double decades = 3;

} // namespace

std::string HeatScale::colour(double bandwidth) const {
  const double ratio =
      reference_ > 0 ? std::max(bandwidth, 0.0) / reference_ : 1;
  const double place =
      ratio > 0 ? std::clamp(1 + std::log10(ratio) / decades, 0.0, 1.0) : 0;
  const int hue = static_cast<int>(std::lround(120 * place));
  return "hsl(" + std::to_string(hue) + ", 70%, 42%)";
}

std::vector<std::pair<std::string, std::string>> HeatScale::legend() const {
  const std::array<double, 5> ratios{1.0, 0.5, 0.1, 0.01, 0.001};
  std::vector<std::pair<std::string, std::string>> swatches(ratios.size());
  std::transform(ratios.begin(), ratios.end(), swatches.begin(),
                 [&](double ratio) {
                   return std::make_pair(colour(reference_ * ratio),
                                         bandwidth_text(reference_ * ratio));
                 });
  return swatches;
}

} // namespace sweep
