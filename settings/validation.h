#pragma once
// The checks the settings pages run before the user may leave them. Each page reports the text of
// its first failing check, exactly as the settings dialog shows it.
//
// Numbers are the fields' texts read as whole numbers (blanks around them allowed, a fraction
// rounds half to even). An empty text reads as 0, so it fails the field's range check (the
// per-user field has its own "empty" check first). A whole number too large to read counts as
// above every limit and a too negative one as below; any other text fails the range check too.

#include <functional>
#include <optional>
#include <string>

#include "settings/preferences.h"

namespace zorvex {

// Whether a folder exists; tests pass their own.
using FolderExists = std::function<bool(const std::string& folder)>;

bool FolderExistsOnDisk(const std::string& folder);

// Pages 0 to 5; page 5 and unknown pages have no checks.
std::optional<std::string> ValidatePage(int page, const SettingsValues& values,
                                        const FolderExists& folder_exists = FolderExistsOnDisk);

// Pages 0 to 4 in order: the first failure, or nothing when every page passes.
std::optional<std::string> ValidateSettings(const SettingsValues& values,
                                            const FolderExists& folder_exists = FolderExistsOnDisk);

}  // namespace zorvex
