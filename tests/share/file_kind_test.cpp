#include "share/file_kind.h"

#include <gtest/gtest.h>

#include <climits>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace zorvex {
namespace {

TEST(GetExtensionTest, LowerCasedAsciiAfterTheLastDot) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Song.MP3", "mp3"},
      {"archive.tar.gz", "gz"},
      {".hidden", "hidden"},
      {"name.A1-B_2", "a1-b_2"},
      {"README", "Unknown"},
      {"", "Unknown"},
      {"trailing.", ""},
      {"a.b.", ""},
      {".", ""},
      {"x.\xC4Z\xE9", "\xC4z\xE9"},
      {"x.@[`{", "@[`{"},
  };
  for (const auto& [name, extension] : cases)
    EXPECT_EQ(GetExtension(name), extension) << name;
}

// Every listed extension, in the order of the lists.
const std::vector<std::pair<int, std::string>> kListed = {
    {1,
     "mp3 mp2 m3u mjf voc xm rmi hmp ra hmi miz hmz xmi mss mus cmf mtm ult it cda as stm s3m mod "
     "pls mp1 wav mid midi ogg wma aiff au"},
    {2, "mpg mpeg avi asf mov rm ram qt"},
    {3, "jpg gif png psd ico pdd iff bmp rle eps pcx pct pic raw tga vda icb vst tif"},
    {4, "doc txt pds ps wri rtf"},
    {5, "zip rar ace arc arj bin sfx gz gzip hqx sit sea tar z tgz uu exe"},
};

TEST(GetCategoryCodeTest, EveryListedExtensionInAnyCase) {
  for (const auto& [code, list] : kListed) {
    std::istringstream words(list);
    std::string extension;
    while (words >> extension) {
      EXPECT_EQ(GetCategoryCode(extension), code) << extension;
      std::string upper = extension;
      for (char& c : upper)
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
      EXPECT_EQ(GetCategoryCode(upper), code) << upper;
    }
  }
}

TEST(GetCategoryCodeTest, MatchesWholeExtensionsOnly) {
  for (const char* extension : {"", "Unknown", "unknown", "mp", "p3", "mp33", "jpeg", "tiff", "htm",
                                "r", "m", "zi", "ex", "exe ", " exe", "|", "||", "mid|"}) {
    EXPECT_EQ(GetCategoryCode(extension), 0) << '"' << extension << '"';
  }
}

TEST(GetCategoryNameTest, NamesCodesOneToFiveAndUnknownOtherwise) {
  const std::vector<std::pair<int, std::string>> cases = {
      {0, "Unknown"},       {1, "Music"},         {2, "Video"},
      {3, "Image"},         {4, "Document"},      {5, "Software/Archive"},
      {6, "Unknown"},       {-1, "Unknown"},      {100, "Unknown"},
      {INT_MIN, "Unknown"}, {INT_MAX, "Unknown"},
  };
  for (const auto& [code, name] : cases)
    EXPECT_EQ(GetCategoryName(code), name) << code;
}

TEST(GetCategoryNameTest, EnumAndCodeAgree) {
  EXPECT_EQ(CategoryFromCode(3), Category::Image);
  EXPECT_EQ(CategoryFromCode(5), Category::SoftwareArchive);
  EXPECT_EQ(CategoryFromCode(0), Category::Unknown);
  EXPECT_EQ(CategoryFromCode(6), Category::Unknown);
  EXPECT_EQ(CategoryFromCode(-3), Category::Unknown);
  EXPECT_EQ(GetCategoryName(Category::Music), "Music");
  EXPECT_EQ(GetCategoryName(Category::SoftwareArchive), "Software/Archive");
  EXPECT_EQ(GetCategoryName(Category::Unknown), "Unknown");
}

TEST(GetFileCategoryTest, ClassifiesByTheLastExtension) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Song.MP3", "Music"},    {"README", "Unknown"},   {"archive.tar.gz", "Software/Archive"},
      {"trailing.", "Unknown"}, {"mp3.doc", "Document"}, {"page.html", "Unknown"},
  };
  for (const auto& [name, category] : cases)
    EXPECT_EQ(GetFileCategory(name), category) << name;
}

}  // namespace
}  // namespace zorvex
