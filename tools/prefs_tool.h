#pragma once
// zorvex-prefs: shows and edits files of the encoded INI format (prefs.dll, FileDatabase.dll).

#include <iosfwd>
#include <string>
#include <vector>

namespace zorvex {

// Runs the tool on its arguments (without the program name); returns the exit status.
int RunPrefsTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace zorvex
