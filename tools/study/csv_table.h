#pragma once
// A comma-separated table written row by row, with a header line of column names.

#include <cmath>
#include <concepts>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace zorvex::study {

// One value of a row, as text.
struct Cell {
  Cell(std::string_view value) : text(value) {}
  Cell(const std::string& value) : text(value) {}
  Cell(const char* value) : text(value) {}
  template <std::integral T>
  Cell(T value) : text(std::to_string(value)) {}
  // Not a number (a figure without samples) is left empty: missing to gnuplot.
  Cell(double value) {
    if (std::isnan(value)) return;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.6g", value);
    text = buffer;
  }
  std::string text;
};

class CsvTable {
 public:
  CsvTable(const std::filesystem::path& path, std::initializer_list<std::string_view> columns);
  void Row(std::initializer_list<Cell> cells);

 private:
  std::ofstream out_;
};

// Joins the tables of that name from every folder into one, the header written once.
void MergeTables(const std::vector<std::filesystem::path>& folders, const std::string& name,
                 const std::filesystem::path& into);

}  // namespace zorvex::study
