#include "share/file_kind.h"

#include <array>

namespace zorvex {
namespace {

// Each list bars every extension so that a lookup of "|ext|" cannot match part of another one.
constexpr std::array<std::string_view, 5> kExtensionLists = {
    "|mp3|mp2|m3u|mjf|voc|xm|rmi|hmp|ra|hmi|miz|hmz|xmi|mss|mus|cmf|mtm|ult|it|cda|as|stm|s3m|mod|"
    "pls|mp1|wav|mid|midi|ogg|wma|aiff|au|",
    "|mpg|mpeg|avi|asf|mov|rm|ram|qt|",
    "|jpg|gif|png|psd|ico|pdd|iff|bmp|rle|eps|pcx|pct|pic|raw|tga|vda|icb|vst|tif|",
    "|doc|txt|pds|ps|wri|rtf|",
    "|zip|rar|ace|arc|arj|bin|sfx|gz|gzip|hqx|sit|sea|tar|z|tgz|uu|exe|",
};

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

Category CategoryFromCode(int code) {
  if (code >= 1 && code <= 5) return static_cast<Category>(code);
  return Category::Unknown;
}

std::string GetExtension(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return "Unknown";
  std::string extension(name.substr(dot + 1));
  for (char& c : extension)
    c = AsciiLower(c);
  return extension;
}

int GetCategoryCode(std::string_view extension) {
  std::string needle = "|";
  for (char c : extension)
    needle.push_back(AsciiLower(c));
  needle.push_back('|');
  for (std::size_t i = 0; i < kExtensionLists.size(); ++i) {
    if (kExtensionLists[i].find(needle) != std::string_view::npos) return static_cast<int>(i) + 1;
  }
  return 0;
}

std::string_view GetCategoryName(Category category) {
  switch (category) {
    case Category::Music:
      return "Music";
    case Category::Video:
      return "Video";
    case Category::Image:
      return "Image";
    case Category::Document:
      return "Document";
    case Category::SoftwareArchive:
      return "Software/Archive";
    case Category::Unknown:
      break;
  }
  return "Unknown";
}

std::string_view GetCategoryName(int code) {
  return GetCategoryName(CategoryFromCode(code));
}

std::string_view GetFileCategory(std::string_view name) {
  return GetCategoryName(GetCategoryCode(GetExtension(name)));
}

}  // namespace zorvex
