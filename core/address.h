#pragma once
// Peer addresses: dotted IPv4 text without a port, compared ignoring letter case.

#include <string_view>

namespace zorvex {

// Four decimal numbers 0-255 separated by dots, nothing else.
bool IsDottedIPv4(std::string_view text);

// Text comparison ignoring ASCII letter case, as addresses, nicknames and hashes are compared.
bool SameText(std::string_view a, std::string_view b);

// Whether `text` starts with `prefix`, ignoring ASCII letter case.
bool StartsWithText(std::string_view text, std::string_view prefix);

}  // namespace zorvex
