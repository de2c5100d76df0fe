#pragma once
// Peer addresses: dotted IPv4 text without a port, compared ignoring letter case.

#include <string>
#include <string_view>

namespace zorvex {

// Four decimal numbers 0-255 separated by dots, nothing else, and no number with a leading zero
// (which some readers take as octal).
bool IsDottedIPv4(std::string_view text);

// A dotted address that names one host: not 0.0.0.0/8, not the broadcast address and not a
// multicast group. Only such addresses from other nodes are offered, asked or forwarded.
bool IsHostAddress(std::string_view text);

// Text comparison ignoring ASCII letter case, as addresses, nicknames and hashes are compared.
bool SameText(std::string_view a, std::string_view b);

// The text with ASCII capitals lowered: the key under which such comparisons can be looked up.
std::string LowerCase(std::string_view text);

// Whether `text` starts with `prefix`, ignoring ASCII letter case.
bool StartsWithText(std::string_view text, std::string_view prefix);

}  // namespace zorvex
