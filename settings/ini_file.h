#pragma once
// The profile (INI) file format: "[section]" lines and "key=value" lines. Lookups ignore letter
// case and take the first match, as the classic profile reader does; edits keep every other line
// of the file byte for byte. Lines written anew end in CR LF.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zorvex {

struct IniEntry {
  std::string key;
  std::string value;
};

struct IniSection {
  std::string name;
  std::vector<IniEntry> entries;
};

class IniFile {
 public:
  static IniFile Parse(std::string_view text);

  // The value as the profile reader returns it: blanks around it trimmed, one pair of enclosing
  // quotes removed. Nothing when the section or key is absent.
  std::optional<std::string_view> Find(std::string_view section, std::string_view key) const;

  // Replaces the first matching key's line, or adds the key after the last key of its section,
  // or adds the section at the end of the file.
  void Set(std::string_view section, std::string_view key, std::string_view value);

  std::string Serialize() const;

  // Every section in file order with its entries, as the reader sees them: a repeated section
  // or key name shows only its first occurrence.
  std::vector<IniSection> Sections() const;

 private:
  struct Line {
    std::string text;    // without its line ending
    std::string ending;  // "\r\n", "\n", or "" for an unterminated last line
  };
  struct Section {
    std::string name;  // as written between the brackets
    Line header;
    std::vector<Line> body;                             // every line up to the next section header
    std::unordered_map<std::string, std::size_t> keys;  // folded key -> first line in body
    std::size_t insert_at = 0;                          // one past the last key line in body
  };

  static void IndexLine(Section& section, std::size_t line_index);
  static void Terminate(Line& line);
  Line* LastLine();

  std::vector<Line> preamble_;  // lines before the first section: never read
  std::vector<Section> sections_;
  std::unordered_map<std::string, std::size_t> by_name_;  // folded name -> first section
};

// ASCII lower case, for the case-insensitive comparisons of names.
std::string FoldCase(std::string_view text);

}  // namespace zorvex
