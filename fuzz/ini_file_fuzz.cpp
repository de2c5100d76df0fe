// Any file parses; serialising an unedited parse gives the bytes back; an edit is readable.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "settings/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  zorvex::IniFile file = zorvex::IniFile::Parse(text);
  if (file.Serialize() != text) std::abort();
  for (const auto& section : file.Sections()) {
    for (const auto& entry : section.entries) {
      if (!file.Find(section.name, entry.key)) std::abort();
    }
  }
  file.Set("53", "4B", "4845300D31");
  const zorvex::IniFile reread = zorvex::IniFile::Parse(file.Serialize());
  const auto found = reread.Find("53", "4b");
  if (!found || *found != "4845300D31") std::abort();
  return 0;
}
