#include "settings/desktop_integration.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <vector>

#include "core/file_io.h"

namespace zorvex {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kDefaultGroup = "[Default Applications]";

// Desktop entries are UTF-8 and their string values exclude control characters.
bool IsEntryText(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x20 || lead == 0x7F) return false;
    if (lead < 0x80) {
      ++i;
      continue;
    }
    std::size_t length = 0;
    char32_t code = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
      length = 2, code = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, code = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, code = lead & 0x07, minimum = 0x10000;
    } else {
      return false;
    }
    if (text.size() - i < length) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

// A localestring value; a leading space is escaped because readers trim it.
std::optional<std::string> EscapeEntryValue(std::string_view text) {
  if (!IsEntryText(text)) return std::nullopt;
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == ' ' && out.empty()) {
      out += "\\s";
    } else {
      out += c;
    }
  }
  return out;
}

bool IsUsableFolder(const fs::path& folder) {
  return !folder.empty() && folder.is_absolute();
}

std::optional<std::string> NormalizedScheme(std::string_view scheme) {
  if (scheme.empty()) return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < scheme.size(); ++i) {
    const char c = scheme[i];
    const bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    const bool other = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    if (!alpha && (i == 0 || !other)) return std::nullopt;
    out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return out;
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    auto end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

bool IsGroupHeader(std::string_view line) {
  const auto trimmed = Trim(line);
  return trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']';
}

// The key of a "key=value" line, or nothing for comments, headers and blank lines.
std::optional<std::string_view> KeyOf(std::string_view line) {
  const auto trimmed = Trim(line);
  if (trimmed.empty() || trimmed.front() == '#' || IsGroupHeader(trimmed)) return std::nullopt;
  const auto equals = trimmed.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  return Trim(trimmed.substr(0, equals));
}

std::string_view ValueOf(std::string_view line) {
  return Trim(line.substr(line.find('=') + 1));
}

// Folders are created with mode 0700, as the base directory rules ask.
bool WriteFileAtomically(const fs::path& path, std::string_view bytes) {
  return EnsurePrivateFolder(path.parent_path()) && ReplaceFileAtomically(path, bytes);
}

fs::path AutostartEntryPath(const DesktopEnvironment& env) {
  return env.config_home / "autostart" / "zorvex.desktop";
}

std::optional<std::string> ProgramExec(const DesktopEnvironment& env) {
  if (!IsUsableFolder(env.program_path)) return std::nullopt;
  return QuoteExecArgument(env.program_path.native());
}

// mimeapps.list with `key=value` as the only line for `key` in [Default Applications]: the first
// old line is replaced in place, later duplicates (which would win) are dropped, and the group is
// created at the end when missing.
std::string WithDefaultHandler(std::string_view list, std::string_view key,
                               std::string_view value) {
  const std::string wanted = AsciiLower(key);
  const std::string line = std::string(key) + "=" + std::string(value);
  std::vector<std::string_view> out;
  bool in_default = false;
  bool replaced = false;
  std::optional<std::size_t> insert_at;  // after the last entry of the first default group
  bool first_default_open = false;
  for (const auto current : SplitLines(list)) {
    if (IsGroupHeader(current)) {
      in_default = Trim(current) == kDefaultGroup;
      first_default_open = in_default && !insert_at.has_value();
      out.push_back(current);
      if (first_default_open) insert_at = out.size();
      continue;
    }
    const auto current_key = KeyOf(current);
    if (in_default && current_key && AsciiLower(*current_key) == wanted) {
      if (!replaced) out.push_back(line);
      replaced = true;
    } else {
      out.push_back(current);
    }
    if (first_default_open && !Trim(current).empty()) insert_at = out.size();
  }
  if (!replaced) {
    if (insert_at) {
      out.insert(out.begin() + static_cast<std::ptrdiff_t>(*insert_at), line);
    } else {
      if (!out.empty() && !Trim(out.back()).empty()) out.push_back("");
      out.push_back(kDefaultGroup);
      out.push_back(line);
    }
  }
  std::string text;
  for (const auto piece : out) {
    text.append(piece);
    text += '\n';
  }
  return text;
}

}  // namespace

std::optional<std::string> QuoteExecArgument(std::string_view argument) {
  if (!IsEntryText(argument)) return std::nullopt;
  // Two layers: inside double quotes " ` $ \ take a backslash, then the string escape doubles
  // every backslash; a literal % is written %% so it is not read as a field code.
  std::string out = "\"";
  for (char c : argument) {
    switch (c) {
      case '"':
      case '`':
      case '$':
        out += "\\\\";
        out += c;
        break;
      case '\\':
        out += "\\\\\\\\";
        break;
      case '%':
        out += "%%";
        break;
      default:
        out += c;
    }
  }
  out += '"';
  return out;
}

DesktopEnvironment DesktopEnvironmentFromProcess(std::filesystem::path program_path) {
  const auto absolute_variable = [](const char* name) -> fs::path {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') return {};
    fs::path path = value;
    return path.is_absolute() ? path : fs::path();
  };
  fs::path home = absolute_variable("HOME");
  if (home.empty()) {
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir != nullptr && found->pw_dir[0] == '/') {
      home = found->pw_dir;
    }
  }
  DesktopEnvironment env;
  env.config_home = absolute_variable("XDG_CONFIG_HOME");
  if (env.config_home.empty() && !home.empty()) env.config_home = home / ".config";
  env.data_home = absolute_variable("XDG_DATA_HOME");
  if (env.data_home.empty() && !home.empty()) env.data_home = home / ".local" / "share";
  std::error_code ec;
  if (!program_path.empty()) {
    auto absolute = fs::absolute(program_path, ec);
    if (!ec) program_path = absolute.lexically_normal();
  }
  env.program_path = std::move(program_path);
  return env;
}

bool SetStartWithDesktop(const DesktopEnvironment& env, bool on) {
  if (!IsUsableFolder(env.config_home)) return false;
  std::string text =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Version=1.5\n"
      "Name=Zorvex\n"
      "Comment=Peer-to-peer file sharing\n";
  if (on) {
    const auto exec = ProgramExec(env);
    if (!exec) return false;
    text += "Exec=" + *exec + "\n" + "Terminal=false\nX-GNOME-Autostart-enabled=true\n";
  } else {
    // No Exec line: even a launcher that ignores both flags has nothing to run.
    text += "Hidden=true\nX-GNOME-Autostart-enabled=false\n";
  }
  return WriteFileAtomically(AutostartEntryPath(env), text);
}

bool StartsWithDesktop(const DesktopEnvironment& env) {
  if (!IsUsableFolder(env.config_home)) return false;
  std::string text;
  if (ReadWholeFile(AutostartEntryPath(env), text) != ReadResult::kRead) return false;
  // Later duplicates win, as in the key-file readers of the desktops.
  bool in_entry = false;
  bool runs = false;
  bool hidden = false;
  bool autostart_disabled = false;
  bool application = false;
  for (const auto line : SplitLines(text)) {
    if (IsGroupHeader(line)) {
      in_entry = Trim(line) == "[Desktop Entry]";
      continue;
    }
    const auto key = KeyOf(line);
    if (!in_entry || !key) continue;
    const auto value = ValueOf(line);
    if (*key == "Type") application = value == "Application";
    if (*key == "Exec") runs = !value.empty();
    if (*key == "Hidden") hidden = value == "true" || value == "1";
    if (*key == "X-GNOME-Autostart-enabled") autostart_disabled = value == "false" || value == "0";
  }
  return application && runs && !hidden && !autostart_disabled;
}

bool RegisterUrlProtocol(const DesktopEnvironment& env, std::string_view name,
                         std::string_view scheme) {
  if (!IsUsableFolder(env.config_home) || !IsUsableFolder(env.data_home)) return false;
  const auto normalized = NormalizedScheme(scheme);
  const auto exec = ProgramExec(env);
  const auto escaped_name = EscapeEntryValue(name);
  if (!normalized || !exec || !escaped_name || name.empty()) return false;

  const std::string mime_type = "x-scheme-handler/" + *normalized;
  const std::string desktop_id = "zorvex-" + *normalized + ".desktop";
  const std::string entry =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Version=1.5\n"
      "Name=" +
      *escaped_name + "\n" + "Exec=" + *exec + " %u\n" +
      "Terminal=false\n"
      "NoDisplay=true\n"
      "MimeType=" +
      mime_type + ";\n";
  if (!WriteFileAtomically(env.data_home / "applications" / desktop_id, entry)) return false;

  const fs::path list_path = env.config_home / "mimeapps.list";
  std::string list;
  if (ReadWholeFile(list_path, list) == ReadResult::kFailed) return false;
  return WriteFileAtomically(list_path, WithDefaultHandler(list, mime_type, desktop_id));
}

}  // namespace zorvex
