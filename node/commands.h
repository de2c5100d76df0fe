#pragma once
// The link command language ("zx://get|...", "zx://search|...", "zx://connect|...") that a second
// copy of the program forwards to the running one.

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace zorvex {

struct GetCommand {
  std::string name;
  std::int32_t size = 0;
  std::string hash;
  bool operator==(const GetCommand&) const = default;
};
struct SearchCommand {
  std::string text;
  bool operator==(const SearchCommand&) const = default;
};
struct ConnectCommand {
  std::string address;
  bool operator==(const ConnectCommand&) const = default;
};
// Nothing to do: empty, fewer than two fields, or an unknown verb.
struct NoCommand {
  bool operator==(const NoCommand&) const = default;
};
// "Invalid Hash Size!"
struct InvalidHashSize {
  bool operator==(const InvalidHashSize&) const = default;
};
// "Invalid Command!"
struct InvalidCommand {
  bool operator==(const InvalidCommand&) const = default;
};

using Command = std::variant<NoCommand, GetCommand, SearchCommand, ConnectCommand, InvalidHashSize,
                             InvalidCommand>;

// The whole command is lowered first, so names and hashes arrive in lower case.
Command ParseCommand(std::string_view text);

}  // namespace zorvex
