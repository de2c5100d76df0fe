#pragma once
// The version this node announces and the port every node listens on for messages.

#include <cstdint>
#include <string_view>

namespace zorvex {

inline constexpr std::string_view kVersion = "1.2.1";
inline constexpr std::uint16_t kMessagePort = 620;

}  // namespace zorvex
