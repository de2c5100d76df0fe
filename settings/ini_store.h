#pragma once
// The encoded INI store behind prefs.dll and FileDatabase.dll. Section and key names are
// written as hex, values as hex of their Huffman container. Reads come from a parsed copy of
// each file that is refreshed whenever the file changes on disk; every write replaces the file
// atomically (temporary file, then rename), so a crash never leaves it half written.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "settings/ini_file.h"

namespace zorvex {

// The profile reader's buffer holds 1450 characters, one of them the terminator.
inline constexpr std::size_t kIniReadLimit = 1449;

class IniStore {
 public:
  IniStore();
  ~IniStore();
  IniStore(const IniStore&) = delete;
  IniStore& operator=(const IniStore&) = delete;

  // The decoded value, or "" when any argument is empty, the key is absent or the stored text
  // does not decode.
  std::string ReadINI(std::string_view section, std::string_view key,
                      const std::filesystem::path& full_path);
  // Does nothing when any argument is empty; write failures are not reported.
  void WriteINI(std::string_view section, std::string_view key, std::string_view value,
                const std::filesystem::path& full_path);

  // The stored text of a value as the reader returns it (hex, cut to the read limit), before
  // decoding; nothing when the key is absent.
  std::optional<std::string> ReadRaw(std::string_view section, std::string_view key,
                                     const std::filesystem::path& full_path);

  // Raw (still encoded) sections of a file, for tools that show a whole file. Empty when the
  // file is missing.
  std::vector<IniSection> RawSections(const std::filesystem::path& full_path);

  // While a Batch for a file lives, writes to it change only the parsed copy; the file is
  // replaced once when the last Batch for it ends. For bulk writers such as the folder scan.
  class Batch {
   public:
    Batch(IniStore& store, const std::filesystem::path& full_path);
    ~Batch();
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

   private:
    IniStore& store_;
    std::string key_;
  };

 private:
  struct Cached;
  Cached& Load(const std::filesystem::path& path);
  void Flush(const std::filesystem::path& path, Cached& cached);

  std::unordered_map<std::string, std::unique_ptr<Cached>> files_;
};

}  // namespace zorvex
