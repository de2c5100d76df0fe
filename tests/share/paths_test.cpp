#include "share/paths.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "share/file_kind.h"
#include "support/temp_dir.h"

namespace zorvex {
namespace {

namespace fs = std::filesystem;
using Cases = std::vector<std::pair<std::string, std::string>>;

// Functions from a name or path to a text, each with its table.
TEST(NameTextTest, FileNamesSeparatorsExtensionsAndCategories) {
  const Cases file_name = {
      {"/home/u/song.mp3", "song.mp3"},
      {"music/a.b.mp3", "a.b.mp3"},
      {"a//b", "b"},
      {"/dir/", ""},
      {"/", ""},
      {"song.mp3", "Unknown"},
      {"", "Unknown"},
      {"dir\\file", "Unknown"},
  };
  const Cases trailing = {
      {"/music", "/music/"},
      {"/music/", "/music/"},
      {"/music//", "/music//"},
      {"/", "/"},
      {"", "/"},
  };
  const Cases collapse = {
      {"/home//u/file", "/home/u/file"},
      {"a///b", "a//b"},
      {"////", "//"},
      {"/a/b/", "/a/b/"},
      {"", ""},
  };
  const Cases extension = {
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
  const Cases category = {
      {"Song.MP3", "Music"},    {"README", "Unknown"},   {"archive.tar.gz", "Software/Archive"},
      {"trailing.", "Unknown"}, {"mp3.doc", "Document"}, {"page.html", "Unknown"},
  };
  using Apply = std::function<std::string(std::string_view)>;
  const auto category_of = [](std::string_view name) { return std::string(GetFileCategory(name)); };
  for (const auto& [function, apply, cases] :
       {std::tuple<const char*, Apply, const Cases*>{"GetFileName", GetFileName, &file_name},
        {"EnsureTrailingSeparator", EnsureTrailingSeparator, &trailing},
        {"CollapseSeparators", CollapseSeparators, &collapse},
        {"GetExtension", GetExtension, &extension},
        {"GetFileCategory", category_of, &category}}) {
    for (const auto& [input, expected] : *cases)
      EXPECT_EQ(apply(input), expected) << function << "(\"" << input << "\")";
  }
}

TEST(FileExistsTest, FilesAndLinksToThemButNotFolders) {
  testing::TempDir dir;
  for (const char* name : {"plain.txt", ".hidden", "readonly", "target"})
    testing::WriteFileBytes(dir / name, "x");
  testing::WriteFileBytes(dir / "empty", "");
  fs::permissions(dir / "readonly", fs::perms::owner_read | fs::perms::group_read);
  fs::create_directory(dir / "folder");
  fs::create_symlink(dir / "target", dir / "to_file");
  fs::create_symlink(dir / "folder", dir / "to_folder");
  fs::create_symlink(dir / "gone", dir / "dangling");

  for (const char* name : {"plain.txt", ".hidden", "empty", "readonly", "to_file"})
    EXPECT_TRUE(FileExists(dir / name)) << name;
  for (const char* name : {"folder", "missing", "to_folder", "dangling", "plain.txt/below"})
    EXPECT_FALSE(FileExists(dir / name)) << name;
  EXPECT_FALSE(FileExists(dir.path()));
  EXPECT_FALSE(FileExists(""));
  EXPECT_FALSE(FileExists((dir / "plain.txt").string() + std::string(1, '\0') + "x"));

  // Folders and plain files alike.
  for (const char* name : {"folder", "folder/", "plain.txt", "to_folder"})
    EXPECT_TRUE(DirExists(dir / name)) << name;
  for (const char* name : {"missing", "plain.txt/below", "dangling"})
    EXPECT_FALSE(DirExists(dir / name)) << name;
  EXPECT_FALSE(DirExists(""));
}

// Every listed extension, in the order of the lists, in any case; nothing but whole extensions.
TEST(CategoryTest, EveryListedExtensionAndNothingElseThenNamesOfCodesAndEnum) {
  const std::vector<std::pair<int, std::string>> listed = {
      {1,
       "mp3 mp2 m3u mjf voc xm rmi hmp ra hmi miz hmz xmi mss mus cmf mtm ult it cda as stm s3m "
       "mod pls mp1 wav mid midi ogg wma aiff au"},
      {2, "mpg mpeg avi asf mov rm ram qt"},
      {3, "jpg gif png psd ico pdd iff bmp rle eps pcx pct pic raw tga vda icb vst tif"},
      {4, "doc txt pds ps wri rtf"},
      {5, "zip rar ace arc arj bin sfx gz gzip hqx sit sea tar z tgz uu exe"},
  };
  for (const auto& [code, list] : listed) {
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
  for (const char* extension : {"", "Unknown", "unknown", "mp", "p3", "mp33", "jpeg", "tiff", "htm",
                                "r", "m", "zi", "ex", "exe ", " exe", "|", "||", "mid|"}) {
    EXPECT_EQ(GetCategoryCode(extension), 0) << '"' << extension << '"';
  }
  // Codes one to five have names, anything else is "Unknown"; the enum agrees.
  const std::vector<std::pair<int, std::string>> cases = {
      {0, "Unknown"},       {1, "Music"},         {2, "Video"},
      {3, "Image"},         {4, "Document"},      {5, "Software/Archive"},
      {6, "Unknown"},       {-1, "Unknown"},      {100, "Unknown"},
      {INT_MIN, "Unknown"}, {INT_MAX, "Unknown"},
  };
  for (const auto& [code, name] : cases)
    EXPECT_EQ(GetCategoryName(code), name) << code;
  EXPECT_EQ(CategoryFromCode(3), Category::Image);
  EXPECT_EQ(CategoryFromCode(5), Category::SoftwareArchive);
  EXPECT_EQ(CategoryFromCode(0), Category::Unknown);
  EXPECT_EQ(CategoryFromCode(6), Category::Unknown);
  EXPECT_EQ(CategoryFromCode(-3), Category::Unknown);
  EXPECT_EQ(GetCategoryName(Category::Music), "Music");
  EXPECT_EQ(GetCategoryName(Category::SoftwareArchive), "Software/Archive");
  EXPECT_EQ(GetCategoryName(Category::Unknown), "Unknown");
}

}  // namespace
}  // namespace zorvex
