#pragma once
// Text from other nodes on its way to a terminal or a log: one line, and no byte that a terminal
// would act on.

#include <string>
#include <string_view>

namespace zorvex {

// Line breaks become blanks; every other control character (C0, DEL, and C1 whether written as
// UTF-8 or as a lone byte) and every byte that is not part of valid UTF-8 is written as "\xNN".
// Valid UTF-8 passes unchanged.
std::string TerminalText(std::string_view text);

}  // namespace zorvex
