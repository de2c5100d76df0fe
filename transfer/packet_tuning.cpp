#include "transfer/packet_tuning.h"

namespace zorvex {

std::optional<std::int32_t> PacketTuning::Tick(std::int64_t rate) {
  if (ticks < 0) return std::nullopt;
  std::optional<std::int32_t> announce;
  ++ticks;
  if (ticks >= kTuneTicks) {
    if (average_rate <= previous_average_rate) {
      ticks = -1;
      size = previous_size;
    } else {
      previous_average_rate = average_rate;
      previous_size = size;
      size += kTuneStep;
      ticks = 0;
    }
    announce = size;
  }
  if (ticks >= 0) average_rate = RoundHalfEven(rate + average_rate, 2);
  return announce;
}

}  // namespace zorvex
