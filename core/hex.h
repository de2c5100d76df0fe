#pragma once
// Hexadecimal text form of 8-bit text, as the preferences store writes names and values.

#include <string>
#include <string_view>

namespace zorvex {

// Two upper-case digits per byte.
std::string EnHex(std::string_view text);

// One byte per two digits (a lone last digit stands alone); either case. A pair that is not
// valid hex yields the value of its valid leading digits, or 0 when it has none.
std::string DeHex(std::string_view hex);

}  // namespace zorvex
