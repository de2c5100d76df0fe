#include "share/my_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/fake_runtime.h"
#include "support/temp_dir.h"

namespace zorvex {
namespace {

namespace fs = std::filesystem;
using testing::FakeRuntime;
using testing::TempDir;
using testing::WriteFileBytes;

constexpr const char* kHash = "0123456789ABCDEF0123456789ABCDEF";

class MyFilesTest : public ::testing::Test {
 protected:
  void AddRow(const std::string& name, std::int32_t size) {
    WriteFileBytes(dir / name, std::string(static_cast<std::size_t>(size), 'x'));
    SharedFile row;
    row.file_name = name;
    row.size = size;
    row.hash = kHash;
    row.folder = dir.path().string() + "/";
    table.rows.push_back(row);
    total.Update(size, true);
  }

  TempDir dir;
  FakeRuntime runtime;
  SharedFileTable table;
  SharedTotal total;
  StatusModel status;
};

TEST_F(MyFilesTest, DownloadLinkWritesBlanksAsPercent20) {
  SharedFile row;
  row.file_name = "Live  Song 2.mp3";
  row.size = 3'600'000;
  row.hash = kHash;
  EXPECT_EQ(DownloadLinkText(row),
            "zx://Get|Live%20%20Song%202.mp3|3600000|0123456789ABCDEF0123456789ABCDEF|");
}

TEST_F(MyFilesTest, UnshareKeepsTheLastFile) {
  AddRow("a.txt", 1'024'000);
  EXPECT_EQ(Unshare(table, total, {0}), MyFilesResult::kLastFile);
  EXPECT_EQ(kLastSharedFileMessage, "You must have at least 1 file being shared!");
  AddRow("b.txt", 2'048'000);
  EXPECT_EQ(total.ShownText(), "3 Mbs");
  EXPECT_EQ(Unshare(table, total, {0, 1}), MyFilesResult::kLastFile);
  EXPECT_EQ(table.rows.size(), 2u);
  EXPECT_EQ(Unshare(table, total, {}), MyFilesResult::kNoSelection);

  // The length on disk is subtracted, not the listed size.
  WriteFileBytes(dir / "b.txt", std::string(512'000, 'x'));
  EXPECT_EQ(Unshare(table, total, {1}), MyFilesResult::kDone);
  ASSERT_EQ(table.rows.size(), 1u);
  EXPECT_EQ(table.rows[0].file_name, "a.txt");
  EXPECT_EQ(total.ShownText(), "2.5 Mbs");
  EXPECT_TRUE(fs::exists(dir / "b.txt"));  // only out of the share
}

TEST_F(MyFilesTest, DeleteAsksThenRemovesFileAndRowOrFailsKeepingThem) {
  AddRow("a.txt", 1'024'000);
  EXPECT_EQ(DeleteFromDisk(table, total, 0, runtime), MyFilesResult::kLastFile);
  AddRow("b c.txt", 1'024'000);
  EXPECT_EQ(DeleteFromDisk(table, total, std::nullopt, runtime), MyFilesResult::kNoSelection);

  runtime.answer_yes = false;
  EXPECT_EQ(DeleteFromDisk(table, total, 1, runtime), MyFilesResult::kDeclined);
  EXPECT_TRUE(fs::exists(dir / "b c.txt"));
  ASSERT_EQ(runtime.questions.size(), 1u);
  EXPECT_EQ(runtime.questions[0].text,
            "Are you sure you would like to delete b c.txt?  It will be permanently removed.");
  EXPECT_EQ(runtime.questions[0].title, "Zorvex");

  runtime.answer_yes = true;
  EXPECT_EQ(DeleteFromDisk(table, total, 1, runtime), MyFilesResult::kDone);
  EXPECT_FALSE(fs::exists(dir / "b c.txt"));
  ASSERT_EQ(table.rows.size(), 1u);
  EXPECT_EQ(total.ShownText(), "1 Mbs");

  // A delete that fails keeps the row and the total.
  AddRow("b.txt", 1'024'000);
  fs::remove(dir / "b.txt");
  EXPECT_EQ(DeleteFromDisk(table, total, 1, runtime), MyFilesResult::kDeleteFailed);
  EXPECT_EQ(table.rows.size(), 2u);
  EXPECT_EQ(total.ShownText(), "2 Mbs");
}

TEST_F(MyFilesTest, FindThenFindNextUntilNoMoreItems) {
  for (const char* name : {"Live Song.mp3", "other.txt", "song live 2.mp3", "x.txt"}) {
    AddRow(name, 10);
  }
  FileFinder finder;
  EXPECT_EQ(finder.Find(table, "", status, runtime), std::nullopt);
  EXPECT_EQ(finder.caption(), "Find");

  EXPECT_EQ(finder.Find(table, "song live", status, runtime), 0u);
  EXPECT_EQ(finder.caption(), "Find Next");
  EXPECT_EQ(finder.next_row(), 2u);
  EXPECT_EQ(finder.Find(table, "song live", status, runtime), 2u);
  EXPECT_EQ(finder.Find(table, "song live", status, runtime), std::nullopt);
  EXPECT_EQ(status.line(), "No More Items Found.");
  EXPECT_EQ(runtime.beeps, 1);
  EXPECT_EQ(finder.caption(), "Find");
  EXPECT_EQ(finder.next_row(), 1u);

  // The whole name is matched, extension included.
  EXPECT_EQ(finder.Find(table, "mp3 2", status, runtime), 2u);
  finder.Cancel();
  EXPECT_EQ(finder.Find(table, "nothing", status, runtime), std::nullopt);
  EXPECT_EQ(status.line(), "No Shared Items Found!");
  EXPECT_EQ(runtime.beeps, 2);
}

}  // namespace
}  // namespace zorvex
