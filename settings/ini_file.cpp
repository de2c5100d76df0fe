#include "settings/ini_file.h"

#include <algorithm>

namespace zorvex {
namespace {

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kNewLine = "\r\n";

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

// The name of a section header line ("[name]"), or nothing for any other line.
std::optional<std::string_view> HeaderName(std::string_view line) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  line.remove_prefix(1);
  const auto close = line.find(']');
  return Trim(close == std::string_view::npos ? line : line.substr(0, close));
}

std::string_view KeyOf(std::string_view line) {
  return Trim(line.substr(0, line.find('=')));
}

std::string_view ValueOf(std::string_view line) {
  const auto equals = line.find('=');
  if (equals == std::string_view::npos) return {};
  std::string_view value = Trim(line.substr(equals + 1));
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

std::string FoldCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

void IniFile::IndexLine(Section& section, std::size_t line_index) {
  const std::string_view text = section.body[line_index].text;
  if (Trim(text).empty()) return;
  section.insert_at = line_index + 1;
  section.keys.try_emplace(FoldCase(KeyOf(text)), line_index);
}

void IniFile::Terminate(Line& line) {
  if (line.ending.empty()) line.ending = kNewLine;
}

IniFile::Line* IniFile::LastLine() {
  if (!sections_.empty()) {
    auto& last = sections_.back();
    return last.body.empty() ? &last.header : &last.body.back();
  }
  return preamble_.empty() ? nullptr : &preamble_.back();
}

IniFile IniFile::Parse(std::string_view text) {
  IniFile file;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const auto newline = text.find('\n', pos);
    const std::size_t end = newline == std::string_view::npos ? text.size() : newline;
    std::string_view content = text.substr(pos, end - pos);
    Line line;
    if (newline != std::string_view::npos) {
      const bool crlf = !content.empty() && content.back() == '\r';
      if (crlf) content.remove_suffix(1);
      line.ending = crlf ? "\r\n" : "\n";
    }
    line.text = std::string(content);
    pos = newline == std::string_view::npos ? text.size() : newline + 1;

    if (const auto name = HeaderName(line.text)) {
      Section section;
      section.name = std::string(*name);
      section.header = std::move(line);
      file.by_name_.try_emplace(FoldCase(section.name), file.sections_.size());
      file.sections_.push_back(std::move(section));
    } else if (file.sections_.empty()) {
      file.preamble_.push_back(std::move(line));
    } else {
      auto& section = file.sections_.back();
      section.body.push_back(std::move(line));
      IndexLine(section, section.body.size() - 1);
    }
  }
  return file;
}

std::optional<std::string_view> IniFile::Find(std::string_view section,
                                              std::string_view key) const {
  const auto found = by_name_.find(FoldCase(section));
  if (found == by_name_.end()) return std::nullopt;
  const Section& s = sections_[found->second];
  const auto line = s.keys.find(FoldCase(key));
  if (line == s.keys.end()) return std::nullopt;
  return ValueOf(s.body[line->second].text);
}

void IniFile::Set(std::string_view section, std::string_view key, std::string_view value) {
  std::string text;
  text.reserve(key.size() + 1 + value.size());
  text.append(key).append("=").append(value);

  const std::string folded_section = FoldCase(section);
  const auto found = by_name_.find(folded_section);
  if (found == by_name_.end()) {
    if (Line* last = LastLine()) Terminate(*last);
    Section fresh;
    fresh.name = std::string(section);
    fresh.header = {"[" + fresh.name + "]", std::string(kNewLine)};
    fresh.body.push_back({std::move(text), std::string(kNewLine)});
    IndexLine(fresh, 0);
    by_name_.emplace(folded_section, sections_.size());
    sections_.push_back(std::move(fresh));
    return;
  }

  Section& s = sections_[found->second];
  const auto existing = s.keys.find(FoldCase(key));
  if (existing != s.keys.end()) {
    s.body[existing->second].text = std::move(text);
    return;
  }
  const std::size_t at = s.insert_at;
  Terminate(at == 0 ? s.header : s.body[at - 1]);
  s.body.insert(s.body.begin() + static_cast<std::ptrdiff_t>(at),
                Line{std::move(text), std::string(kNewLine)});
  // Every key line lies before the insertion point, so no index moves.
  IndexLine(s, at);
}

std::string IniFile::Serialize() const {
  std::string out;
  auto append = [&out](const Line& line) { out.append(line.text).append(line.ending); };
  for (const auto& line : preamble_)
    append(line);
  for (const auto& section : sections_) {
    append(section.header);
    for (const auto& line : section.body)
      append(line);
  }
  return out;
}

std::vector<IniSection> IniFile::Sections() const {
  std::vector<IniSection> out;
  for (std::size_t i = 0; i < sections_.size(); ++i) {
    const Section& s = sections_[i];
    if (by_name_.at(FoldCase(s.name)) != i) continue;
    IniSection shown{s.name, {}};
    for (std::size_t line = 0; line < s.body.size(); ++line) {
      const std::string_view text = s.body[line].text;
      if (Trim(text).empty()) continue;
      const auto first = s.keys.find(FoldCase(KeyOf(text)));
      if (first == s.keys.end() || first->second != line) continue;
      shown.entries.push_back({std::string(KeyOf(text)), std::string(ValueOf(text))});
    }
    out.push_back(std::move(shown));
  }
  return out;
}

}  // namespace zorvex
