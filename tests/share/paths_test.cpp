#include "share/paths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

namespace zorvex {
namespace {

namespace fs = std::filesystem;
using Cases = std::vector<std::pair<std::string, std::string>>;

TEST(GetFileNameTest, TakesThePartAfterTheLastSeparator) {
  const Cases cases = {
      {"/home/u/song.mp3", "song.mp3"},
      {"music/a.b.mp3", "a.b.mp3"},
      {"a//b", "b"},
      {"/dir/", ""},
      {"/", ""},
      {"song.mp3", "Unknown"},
      {"", "Unknown"},
      {"dir\\file", "Unknown"},
  };
  for (const auto& [path, name] : cases)
    EXPECT_EQ(GetFileName(path), name) << path;
}

TEST(EnsureTrailingSeparatorTest, AppendsOnlyWhenMissing) {
  const Cases cases = {
      {"/music", "/music/"},
      {"/music/", "/music/"},
      {"/music//", "/music//"},
      {"/", "/"},
      {"", "/"},
  };
  for (const auto& [path, result] : cases)
    EXPECT_EQ(EnsureTrailingSeparator(path), result) << path;
}

TEST(CollapseSeparatorsTest, ReplacesEachDoubledSeparatorInOnePass) {
  const Cases cases = {
      {"/home//u/file", "/home/u/file"},
      {"a///b", "a//b"},
      {"////", "//"},
      {"/a/b/", "/a/b/"},
      {"", ""},
  };
  for (const auto& [path, result] : cases)
    EXPECT_EQ(CollapseSeparators(path), result) << path;
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

}  // namespace
}  // namespace zorvex
