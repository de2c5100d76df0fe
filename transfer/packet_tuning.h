#pragma once
// The packet-size tuning of one download connection. Every kTuneTicks ticks it asks for packets
// kTuneStep bytes larger while the connection's average rate grows; once it stops growing it asks
// once more for the size before the last increase, and is over. Uploaders ignore the requests,
// but a download sends them as every client does.

#include <cstdint>
#include <optional>

#include "transfer/context.h"

namespace zorvex {

struct PacketTuning {
  int ticks = 0;  // since the last step; -1 when the tuning is over
  std::int32_t previous_size = 0;
  std::int64_t average_rate = 0;  // hundredths of kilobytes per second
  std::int64_t previous_average_rate = 0;
  std::int32_t size = kPacketSize;

  // One tick of an unpaused connection at `rate` (hundredths of kilobytes per second): the size
  // to announce with "Packet:", if this tick takes a step.
  std::optional<std::int32_t> Tick(std::int64_t rate);
};

}  // namespace zorvex
