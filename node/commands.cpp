#include "node/commands.h"

#include <vector>

#include "core/address.h"
#include "core/fields.h"
#include "settings/preferences.h"

namespace zorvex {
namespace {

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
  std::string out;
  std::size_t pos = 0;
  while (true) {
    const auto at = text.find(from, pos);
    if (at == std::string::npos) break;
    out.append(text, pos, at - pos).append(to);
    pos = at + from.size();
  }
  out.append(text, pos, std::string::npos);
  return out;
}

}  // namespace

Command ParseCommand(std::string_view text) {
  if (text.empty()) return NoCommand{};
  std::string command = LowerCase(text);
  if (command.ends_with("/")) {
    command.pop_back();
  } else if (command.ends_with("/d")) {
    command.resize(command.size() - 2);
  }
  command = ReplaceAll(std::move(command), "%20", " ");
  if (command.starts_with("zx://")) command.erase(0, 5);
  const auto fields = SplitFields(command);
  if (fields.size() < 2) return NoCommand{};

  const std::string_view verb = fields[0];
  if (verb == "get") {
    if (fields.size() < 4) return InvalidCommand{};
    if (fields[3].size() != 32) return InvalidHashSize{};
    const auto size = ParseWholeNumber(fields[2]);
    if (!size || *size < 0 || *size > INT32_MAX) return InvalidCommand{};
    return GetCommand{std::string(fields[1]), static_cast<std::int32_t>(*size),
                      std::string(fields[3])};
  }
  if (verb == "search") return SearchCommand{std::string(fields[1])};
  if (verb == "connect") return ConnectCommand{std::string(fields[1])};
  return NoCommand{};
}

}  // namespace zorvex
