#include "tools/study/csv_table.h"

#include <stdexcept>
#include <vector>

namespace zorvex::study {

CsvTable::CsvTable(const std::filesystem::path& path,
                   std::initializer_list<std::string_view> columns)
    : out_(path) {
  if (!out_) throw std::runtime_error("cannot write " + path.string());
  bool first = true;
  for (const auto column : columns) {
    out_ << (first ? "" : ",") << column;
    first = false;
  }
  out_ << '\n';
}

void CsvTable::Row(std::initializer_list<Cell> cells) {
  bool first = true;
  for (const auto& cell : cells) {
    out_ << (first ? "" : ",") << cell.text;
    first = false;
  }
  out_ << '\n';
}

void MergeTables(const std::vector<std::filesystem::path>& folders, const std::string& name,
                 const std::filesystem::path& into) {
  std::ofstream out(into);
  bool header_written = false;
  for (const auto& folder : folders) {
    std::ifstream in(folder / name);
    std::string line;
    bool header = true;
    while (std::getline(in, line)) {
      if (!header || !header_written) out << line << '\n';
      header_written = header_written || header;
      header = false;
    }
  }
}

}  // namespace zorvex::study
