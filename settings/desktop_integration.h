#pragma once
// Ties the client into a freedesktop.org desktop: an XDG autostart entry that starts the program
// when the user logs in, and a handler for the "zx" URL scheme so that a zx://... link in a web
// browser starts the program with the link as its only argument.
//
// Files written (every write is atomic: a hidden temporary file in the same folder, then a rename;
// missing folders are created with mode 0700):
//   <config_home>/autostart/zorvex.desktop             the autostart entry
//   <data_home>/applications/zorvex-<scheme>.desktop   the URL-scheme handler
//   <config_home>/mimeapps.list                        "[Default Applications]" names the handler
//
// Failures are not reported beyond the returned flag and nothing here throws: like the rest of
// the client, callers go on without these entries.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace zorvex {

// Where the entries go and what they start. Folders and program path must be absolute; an
// operation that needs a relative or empty one writes nothing and returns false.
struct DesktopEnvironment {
  std::filesystem::path config_home;   // $XDG_CONFIG_HOME
  std::filesystem::path data_home;     // $XDG_DATA_HOME
  std::filesystem::path program_path;  // the executable the entries run
};

// Reads XDG_CONFIG_HOME and XDG_DATA_HOME; when unset, empty or relative they default to
// $HOME/.config and $HOME/.local/share (HOME falling back to the password database). A relative
// program path is made absolute against the current folder.
DesktopEnvironment DesktopEnvironmentFromProcess(std::filesystem::path program_path);

// Rewrites the autostart entry. On: an enabled entry that runs the program. Off: an entry with
// Hidden=true, X-GNOME-Autostart-enabled=false and no Exec line, which also masks a system-wide
// entry of the same name. Returns whether the file was written.
bool SetStartWithDesktop(const DesktopEnvironment& env, bool on);

// Whether the autostart entry exists, is readable, runs something and is not disabled by
// Hidden or X-GNOME-Autostart-enabled.
bool StartsWithDesktop(const DesktopEnvironment& env);

// Writes the handler entry for `scheme` (RFC 3986 scheme syntax, stored in lower case) whose Name
// is `name`, then makes it the scheme's default in mimeapps.list, keeping every other line of that
// file and replacing any earlier handler line for the scheme. An unreadable mimeapps.list is left
// alone. Returns whether both files were written.
bool RegisterUrlProtocol(const DesktopEnvironment& env, std::string_view name,
                         std::string_view scheme);

// One Exec argument as it is stored in a desktop entry: double-quoted, with the quoting and
// string escapes applied so that any UTF-8 text without control characters round-trips.
// Returns nothing for text a desktop entry cannot hold.
std::optional<std::string> QuoteExecArgument(std::string_view argument);

}  // namespace zorvex
