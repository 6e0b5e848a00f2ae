// The page's heat map: a pair's bandwidth as a colour, against the
// fabric's median, from green (at the median or above) through yellow to
// red (a thousandth of it), on a scale of powers of ten.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace sweep {

class HeatScale {
public:
  // REFERENCE: the bandwidth that is green, bytes a second.
  explicit HeatScale(double reference) : reference_(reference) {}
  // A CSS colour for BANDWIDTH.
  [[nodiscard]] std::string colour(double bandwidth) const;
  // The legend: a colour, and the bandwidth it stands for, as the reports
  // write it, from the reference down.
  [[nodiscard]] std::vector<std::pair<std::string, std::string>> legend() const;

private:
  double reference_;
};

} // namespace sweep
