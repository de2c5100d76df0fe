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
using testing::TempDir;
using testing::WriteFileBytes;

TEST(GetFileNameTest, TakesThePartAfterTheLastSeparator) {
  const std::vector<std::pair<std::string, std::string>> cases = {
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
  EXPECT_EQ(EnsureTrailingSeparator("/music"), "/music/");
  EXPECT_EQ(EnsureTrailingSeparator("/music/"), "/music/");
  EXPECT_EQ(EnsureTrailingSeparator("/music//"), "/music//");
  EXPECT_EQ(EnsureTrailingSeparator("/"), "/");
  EXPECT_EQ(EnsureTrailingSeparator(""), "/");
}

TEST(CollapseSeparatorsTest, ReplacesEachDoubledSeparatorInOnePass) {
  EXPECT_EQ(CollapseSeparators("/home//u/file"), "/home/u/file");
  EXPECT_EQ(CollapseSeparators("a///b"), "a//b");
  EXPECT_EQ(CollapseSeparators("////"), "//");
  EXPECT_EQ(CollapseSeparators("/a/b/"), "/a/b/");
  EXPECT_EQ(CollapseSeparators(""), "");
}

TEST(FileExistsTest, FindsFilesButNotFolders) {
  TempDir dir;
  WriteFileBytes(dir / "plain.txt", "x");
  WriteFileBytes(dir / ".hidden", "x");
  WriteFileBytes(dir / "empty", "");
  WriteFileBytes(dir / "readonly", "x");
  fs::permissions(dir / "readonly", fs::perms::owner_read | fs::perms::group_read);
  fs::create_directory(dir / "folder");

  EXPECT_TRUE(FileExists(dir / "plain.txt"));
  EXPECT_TRUE(FileExists(dir / ".hidden"));
  EXPECT_TRUE(FileExists(dir / "empty"));
  EXPECT_TRUE(FileExists(dir / "readonly"));
  EXPECT_FALSE(FileExists(dir / "folder"));
  EXPECT_FALSE(FileExists(dir.path()));
  EXPECT_FALSE(FileExists(dir / "missing"));
  EXPECT_FALSE(FileExists(dir / "plain.txt" / "below"));
  EXPECT_FALSE(FileExists(""));
  EXPECT_FALSE(FileExists((dir / "plain.txt").string() + std::string(1, '\0') + "x"));
}

TEST(DirExistsTest, FindsFoldersAndPlainFilesAlike) {
  TempDir dir;
  WriteFileBytes(dir / "plain.txt", "x");
  fs::create_directory(dir / "folder");

  EXPECT_TRUE(DirExists(dir / "folder"));
  EXPECT_TRUE(DirExists((dir / "folder").string() + "/"));
  EXPECT_TRUE(DirExists(dir / "plain.txt"));
  EXPECT_FALSE(DirExists(dir / "missing"));
  EXPECT_FALSE(DirExists(dir / "plain.txt" / "below"));
  EXPECT_FALSE(DirExists(""));
}

TEST(FileExistsTest, FollowsSymbolicLinks) {
  TempDir dir;
  WriteFileBytes(dir / "target", "x");
  fs::create_directory(dir / "folder");
  fs::create_symlink(dir / "target", dir / "to_file");
  fs::create_symlink(dir / "folder", dir / "to_folder");
  fs::create_symlink(dir / "gone", dir / "dangling");

  EXPECT_TRUE(FileExists(dir / "to_file"));
  EXPECT_FALSE(FileExists(dir / "to_folder"));
  EXPECT_TRUE(DirExists(dir / "to_folder"));
  EXPECT_FALSE(FileExists(dir / "dangling"));
  EXPECT_FALSE(DirExists(dir / "dangling"));
}

}  // namespace
}  // namespace zorvex
