#include "settings/validation.h"

#include <cstdint>
#include <filesystem>
#include <limits>
#include <string_view>
#include <system_error>

#include "core/fields.h"

namespace zorvex {
namespace {

// Kilobytes a second; an empty limit reads as 0, which is none.
constexpr std::int64_t kMaxLimit = 1'000'000;

// A field's text as a whole number; nothing for text that is no number at all.
std::optional<std::int64_t> ReadNumber(std::string_view text) {
  text = TrimBlanks(text);
  if (text.empty()) return 0;
  if (const auto value = ParseWholeNumber(text)) return value;
  // Digits beyond the range of the reader still say on which side of every limit they lie.
  const bool negative = text.front() == '-';
  if (negative || text.front() == '+') text.remove_prefix(1);
  const std::string_view whole = text.substr(0, text.find('.'));
  if (whole.empty() || whole.find_first_not_of("0123456789") != std::string_view::npos) {
    return std::nullopt;
  }
  return negative ? std::numeric_limits<std::int64_t>::min()
                  : std::numeric_limits<std::int64_t>::max();
}

bool InRange(std::string_view text, std::int64_t low, std::int64_t high) {
  const auto value = ReadNumber(text);
  return value && *value >= low && *value <= high;
}

std::optional<std::string> Fail(std::string_view message) {
  return std::string(message);
}

}  // namespace

bool FolderExistsOnDisk(const std::string& folder) {
  std::error_code error;
  return !folder.empty() && std::filesystem::is_directory(folder, error);
}

std::optional<std::string> ValidatePage(int page, const SettingsValues& values,
                                        const FolderExists& folder_exists) {
  switch (page) {
    case 0:
      if (values.nickname.size() < 4) {
        return Fail("Please select a nickname with 4 or more letters.");
      }
      if (values.nickname.find_first_of("~|") != std::string::npos) {
        return Fail("You may not use these symbols in your nickname: | ~");
      }
      return std::nullopt;
    case 1:
      if (!InRange(values.max_uls, 1, 10)) {
        return Fail("You must allow at least 1 upload and no more then 10.  Default is 3.");
      }
      if (values.max_per_user.empty()) {
        return Fail("Please select a max amount of uploads per user.  Default is 1.");
      }
      // Kept in its place although the range check above already covers it.
      if (const auto slots = ReadNumber(values.max_uls); !slots || *slots <= 0) {
        return Fail("You must allow at least one upload slot. Default is 3.");
      }
      if (!InRange(values.max_per_user, 1, 10)) {
        return Fail(
            "You must allow at least one slot per person and no more then 10.  Default is 1.");
      }
      if (!InRange(values.upload_limit, 0, kMaxLimit)) {
        return Fail("Your upload limit must be between 0 and 1000000 KB/s.  Default is 0 (none).");
      }
      return std::nullopt;
    case 2:
      if (values.shared_folders.empty()) {
        return Fail("You must share at least one folder with one file in it.");
      }
      return std::nullopt;
    case 3:
      if (values.download_folder.empty() || !folder_exists(values.download_folder)) {
        return Fail("The download directory you specified does not exist!");
      }
      if (!InRange(values.download_port, 1, 65536)) {
        return Fail("Your download port must be between port 1 and 65536.  Default is 0.");
      }
      if (!InRange(values.download_limit, 0, kMaxLimit)) {
        return Fail(
            "Your download limit must be between 0 and 1000000 KB/s.  Default is 0 (none).");
      }
      if (!InRange(values.sources_at_once, 1, 8)) {
        return Fail("You must allow at least 1 source and no more than 8 at once.  Default is 1.");
      }
      return std::nullopt;
    case 4:
      if (values.gateways.empty()) {
        return Fail("You must have at least one gateway to connect to.");
      }
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

std::optional<std::string> ValidateSettings(const SettingsValues& values,
                                            const FolderExists& folder_exists) {
  for (int page = 0; page <= 4; ++page) {
    if (auto message = ValidatePage(page, values, folder_exists)) return message;
  }
  return std::nullopt;
}

}  // namespace zorvex
