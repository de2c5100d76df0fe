#pragma once
// File categories by extension. The names travel inside search results, so they are fixed texts.

#include <string>
#include <string_view>

namespace zorvex {

// The numbers are also the category codes of a search.
enum class Category {
  Unknown = 0,
  Music = 1,
  Video = 2,
  Image = 3,
  Document = 4,
  SoftwareArchive = 5
};

// Codes 1-5 name a category; any other number (including 0) is Unknown.
Category CategoryFromCode(int code);

// The part after the last '.', lower-cased; "Unknown" without a '.', empty after a trailing '.'.
std::string GetExtension(std::string_view name);

// 1-5 for a listed extension (any case), else 0. The first list that holds it wins.
int GetCategoryCode(std::string_view extension);

std::string_view GetCategoryName(Category category);
// "Unknown" for every number outside 1-5.
std::string_view GetCategoryName(int code);

// The category name of a file name, by its last extension.
std::string_view GetFileCategory(std::string_view name);

}  // namespace zorvex
