#pragma once
// Small statistics over samples.

#include <algorithm>
#include <cmath>
#include <vector>

namespace zorvex::study {

// The value below which `share` of the samples lie (nearest rank); NaN without samples.
inline double Percentile(std::vector<double> samples, double share) {
  if (samples.empty()) return std::nan("");
  std::sort(samples.begin(), samples.end());
  const auto rank =
      static_cast<std::size_t>(std::ceil(share * static_cast<double>(samples.size())));
  return samples[std::clamp<std::size_t>(rank, 1, samples.size()) - 1];
}

inline double Mean(const std::vector<double>& samples) {
  if (samples.empty()) return std::nan("");
  double sum = 0;
  for (const double value : samples)
    sum += value;
  return sum / static_cast<double>(samples.size());
}

}  // namespace zorvex::study
