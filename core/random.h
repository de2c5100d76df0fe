#pragma once
// Random numbers behind an interface, so that callers can be driven by a scripted source.

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

namespace zorvex {

class RandomSource {
 public:
  virtual ~RandomSource() = default;
  // Uniform in [0, 1).
  virtual double Uniform() = 0;
};

class SeededRandom final : public RandomSource {
 public:
  explicit SeededRandom(std::uint64_t seed) : engine_(seed) {}

  // The top 53 bits scaled by 2^-53: every value is exact and 1 is never reached.
  double Uniform() override { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }

 private:
  std::mt19937_64 engine_;
};

// The whole part (floor) of span * r + low, r drawn from the source; e.g. span 999, low 1 gives
// 1-999. Results beyond the range of int are clamped to it.
inline int RandomInRange(int span, int low, RandomSource& random) {
  const double value = std::floor(static_cast<double>(span) * random.Uniform() + low);
  if (value <= std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
  if (value >= std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  return static_cast<int>(value);
}

}  // namespace zorvex
