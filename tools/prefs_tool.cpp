#include "tools/prefs_tool.h"

#include <filesystem>
#include <ostream>

#include "core/hex.h"
#include "settings/huffman.h"
#include "settings/ini_file.h"
#include "settings/ini_store.h"

namespace zorvex {
namespace {

constexpr char kUsage[] =
    "usage: zorvex-prefs FILE                        show every section, key and value\n"
    "       zorvex-prefs FILE get SECTION KEY        print one value\n"
    "       zorvex-prefs FILE set SECTION KEY VALUE  store one value\n";

struct Decoded {
  std::string value;
  std::string error;  // empty when the value decoded
};

Decoded DecodeValue(std::string_view stored) {
  try {
    return {HuffmanDecode(DeHex(stored.substr(0, kIniReadLimit))), {}};
  } catch (const HuffmanError& error) {
    return {{}, error.description()};
  }
}

// Control bytes would garble the listing, so they are shown escaped.
std::string Printable(std::string_view text) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += kDigits[c >> 4];
      out += kDigits[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// A stored name is hex; one that is not is shown as it stands, in angle brackets.
std::string ShowName(std::string_view stored) {
  const std::string decoded = DeHex(stored);
  if (stored.size() % 2 == 0 && FoldCase(EnHex(decoded)) == FoldCase(stored)) {
    return Printable(decoded);
  }
  return "<" + Printable(stored) + ">";
}

int Show(IniStore& store, const std::filesystem::path& file, std::ostream& out, std::ostream& err) {
  int status = 0;
  bool first = true;
  for (const auto& section : store.RawSections(file)) {
    if (!first) out << '\n';
    first = false;
    const std::string section_name = ShowName(section.name);
    out << '[' << section_name << "]\n";
    for (const auto& entry : section.entries) {
      const std::string key_name = ShowName(entry.key);
      const Decoded decoded = DecodeValue(entry.value);
      if (decoded.error.empty()) {
        out << key_name << '=' << Printable(decoded.value) << '\n';
      } else {
        out << key_name << "=<damaged>\n";
        err << "zorvex-prefs: " << file.string() << ": [" << section_name << "] " << key_name
            << ": damaged value: " << decoded.error << '\n';
        status = 1;
      }
    }
  }
  return status;
}

int Get(IniStore& store, const std::filesystem::path& file, const std::string& section,
        const std::string& key, std::ostream& out, std::ostream& err) {
  const auto stored = store.ReadRaw(section, key, file);
  if (!stored || stored->empty()) {
    err << "zorvex-prefs: " << file.string() << ": no value for [" << section << "] " << key
        << '\n';
    return 1;
  }
  const Decoded decoded = DecodeValue(*stored);
  if (!decoded.error.empty()) {
    err << "zorvex-prefs: " << file.string() << ": [" << section << "] " << key
        << ": damaged value: " << decoded.error << '\n';
    return 1;
  }
  out << decoded.value << '\n';
  return 0;
}

int Set(IniStore& store, const std::filesystem::path& file, const std::string& section,
        const std::string& key, const std::string& value, std::ostream& err) {
  if (section.empty() || key.empty() || value.empty()) {
    err << "zorvex-prefs: section, key and value must not be empty (an empty value is never "
           "stored)\n";
    return 2;
  }
  store.WriteINI(section, key, value, file);
  // The store does not report write failures; reading back tells.
  if (store.ReadINI(section, key, file) != value) {
    err << "zorvex-prefs: " << file.string() << ": could not write the value\n";
    return 1;
  }
  return 0;
}

}  // namespace

int RunPrefsTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty() || args[0] == "-h" || args[0] == "--help") {
    (args.empty() ? err : out) << kUsage;
    return args.empty() ? 2 : 0;
  }
  const std::filesystem::path file = args[0];
  const bool setting = args.size() == 5 && args[1] == "set";
  const bool getting = args.size() == 4 && args[1] == "get";
  if (args.size() != 1 && !setting && !getting) {
    err << kUsage;
    return 2;
  }
  std::error_code error;
  const auto kind = std::filesystem::status(file, error).type();
  if (kind == std::filesystem::file_type::directory) {
    err << "zorvex-prefs: " << file.string() << ": is a folder, not a file\n";
    return 1;
  }
  if (!setting && kind != std::filesystem::file_type::regular) {
    err << "zorvex-prefs: " << file.string() << ": no such file\n";
    return 1;
  }
  IniStore store;
  if (setting) return Set(store, file, args[2], args[3], args[4], err);
  if (getting) return Get(store, file, args[2], args[3], out, err);
  return Show(store, file, out, err);
}

}  // namespace zorvex
