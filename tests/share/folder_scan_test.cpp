#include "share/folder_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "settings/ini_store.h"
#include "share/file_hash.h"
#include "share/my_files.h"
#include "support/fake_runtime.h"
#include "support/temp_dir.h"

namespace zorvex {
namespace {

namespace fs = std::filesystem;
using testing::FakeRuntime;
using testing::TempDir;
using testing::WriteFileBytes;
using Names = std::vector<std::string>;

class FolderScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    status.SetListener([this](const std::string& line) { lines.push_back(line); });
    FolderScanHooks hooks;
    hooks.scan_allowed = [this] { return allowed; };
    hooks.open_settings = [this] {
      ++settings_opened;
      boxes_before_settings = runtime.boxes.size();
    };
    hooks.hash_block_size = [] { return HashBlockSize(3); };
    scan = std::make_unique<FolderScan>(runtime, store, home.path(), table, total, status, hooks);
  }

  void Share(const std::string& directories) {
    store.WriteINI("Shared", "Directories", directories, home / "prefs.dll");
  }
  fs::path File(const std::string& relative, std::size_t bytes, char fill = 'x') {
    const fs::path path = root / relative;
    fs::create_directories(path.parent_path());
    WriteFileBytes(path, std::string(bytes, fill));
    return path;
  }
  void Files(std::initializer_list<const char*> relatives, std::size_t bytes = 10) {
    for (const char* relative : relatives)
      File(relative, bytes);
  }
  std::string Root() const { return root.path().string(); }
  void RunScan() {
    scan->Tick();
    runtime.RunPosted();
  }
  // Runs one posted task.
  bool StepOnce() {
    if (runtime.posted.empty()) return false;
    auto task = std::move(runtime.posted.front());
    runtime.posted.erase(runtime.posted.begin());
    task();
    return true;
  }
  template <typename Done>
  void StepUntil(Done done) {
    while (!done() && StepOnce()) {
    }
  }
  bool Saw(const std::string& line) const {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  Names RowNames() const {
    Names names;
    for (const auto& row : table.rows)
      names.push_back(row.file_name);
    return names;
  }
  Names FullPaths() const {
    Names paths;
    for (const auto& row : table.rows)
      paths.push_back(row.FullPath());
    return paths;
  }
  // The files in the order the scan took them, from the "Hashed" lines.
  Names HashedOrder() const {
    Names names;
    for (const auto& line : lines) {
      const auto at = line.find("): Hashed ");
      if (at != std::string::npos) names.push_back(line.substr(at + 10));
    }
    return names;
  }
  fs::path Database() const { return home / "FileDatabase.dll"; }

  TempDir home;
  TempDir root;
  FakeRuntime runtime;
  IniStore store;
  SharedFileTable table;
  SharedTotal total;
  StatusModel status;
  std::vector<std::string> lines;
  bool allowed = true;
  int settings_opened = 0;
  std::size_t boxes_before_settings = 0;
  std::unique_ptr<FolderScan> scan;
};

TEST_F(FolderScanTest, TimerArmingAndTheTicksGuard) {
  EXPECT_FALSE(scan->timer_active());
  EXPECT_EQ(scan->interval(), 1300);
  scan->Arm();
  EXPECT_TRUE(scan->timer_active());
  EXPECT_EQ(scan->interval(), 1300);
  scan->Arm(1500);
  EXPECT_EQ(scan->interval(), 1500);
  ASSERT_EQ(runtime.timers.size(), 1u);

  // Bootstrap busy or nickname empty: the tick disables the timer and does nothing else.
  allowed = false;
  Share(Root());
  File("a.txt", 10);
  scan->Tick();
  EXPECT_FALSE(scan->timer_active());
  EXPECT_EQ(scan->interval(), 1000);
  EXPECT_TRUE(lines.empty());
  EXPECT_TRUE(runtime.posted.empty());
  EXPECT_FALSE(scan->scanning());
}

// The row's base name goes up to the last extension; an MP3 without a frame header in its bytes
// has no media text.
TEST_F(FolderScanTest, StatusLinesAndRowOfAFirstScanThenARescan) {
  Share(Root());
  const fs::path path = File("a.b.mp3", 1536);
  RunScan();
  EXPECT_EQ(lines, (Names{"Listing Files...", "File Scanner (0): Hashing a.b.mp3",
                          "File Scanner (0): Hashing a.b.mp3 [0%]",
                          "File Scanner (0): Hashing a.b.mp3 [100%]",
                          "File Scanner (0): Hashed a.b.mp3", "File Scanner (1): Complete!"}));
  EXPECT_TRUE(table.sorted);
  EXPECT_EQ(scan->shared_count(), 1u);
  ASSERT_EQ(table.rows.size(), 1u);
  const SharedFile& row = table.rows[0];
  EXPECT_EQ((Names{row.file_name, row.base_name, row.category, std::to_string(row.size),
                   row.size_text, row.hash, row.folder, row.FullPath(), row.media_info}),
            (Names{"a.b.mp3", "a.b", "Music", "1536", "1.5 Kb", HashFileNow(path), Root() + "/",
                   path.string(), ""}));
  lines.clear();
  RunScan();
  EXPECT_EQ(lines, (Names{"Listing Files...", "File Scanner (0): Hashed a.b.mp3",
                          "File Scanner (1): Complete!"}));
}

TEST_F(FolderScanTest, TrailingSeparatorMakesNoDifferenceAndARescanCountsTheTotalAgain) {
  File("one.txt", 1'024'000);
  File("sub/half.txt", 512'000);
  Share(Root());
  RunScan();
  EXPECT_EQ(total.ShownText(), "1.5 Mbs");
  EXPECT_EQ(total.StoredText(), "1.5");
  const Names without = FullPaths();
  ASSERT_EQ(without.size(), 2u);
  Share(Root() + "/");
  RunScan();  // reset, then counted again
  EXPECT_EQ(FullPaths(), without);
  for (const auto& row : table.rows)
    EXPECT_EQ(row.folder.find("//"), std::string::npos);
  EXPECT_EQ(total.ShownText(), "1.5 Mbs");
}

TEST_F(FolderScanTest, NestedFoldersAreWalkedDepthFirstThenSortedIgnoringCase) {
  Files({"top1.txt", "Top2.txt", "top3.txt", "sub/c.txt", "sub/d.txt", "sub/deeper/e.txt"});
  Share(Root());
  RunScan();
  const Names order = HashedOrder();
  ASSERT_EQ(order.size(), 6u);
  // Once the walk enters sub/ it lists all of it before the next entry of the top folder.
  std::vector<std::size_t> positions;
  for (const char* name : {"c.txt", "d.txt", "e.txt"}) {
    positions.push_back(std::find(order.begin(), order.end(), name) - order.begin());
  }
  std::sort(positions.begin(), positions.end());
  EXPECT_EQ(positions[2] - positions[0], 2u);
  // The completed list is sorted by name, case ignored.
  EXPECT_EQ(RowNames(), (Names{"c.txt", "d.txt", "e.txt", "top1.txt", "Top2.txt", "top3.txt"}));
}

TEST_F(FolderScanTest, OverlappingFoldersListFilesTwice) {
  Files({"top.txt", "sub/inner.txt"});
  Share(Root() + "|" + Root() + "/sub||");
  RunScan();
  EXPECT_EQ(RowNames(), (Names{"inner.txt", "inner.txt", "top.txt"}));
  EXPECT_EQ(runtime.hashing.requests, 2);  // the second copy is found in the database
}

TEST_F(FolderScanTest, SkipsNamesWithoutDotEmptyAndHiddenFilesAndLinkedFolders) {
  Files({"README", ".hidden/inside.txt", ".secret.txt", "sub/a.txt"});
  File("empty.txt", 0);
  fs::create_directory_symlink(root.path(), root / "sub" / "loop");
  fs::create_directory_symlink(root / "sub", root / "alias");
  fs::create_symlink(root / "sub" / "a.txt", root / "link.txt");
  Share(Root());
  RunScan();
  // A link to a file counts as the file.
  EXPECT_EQ(RowNames(), (Names{"a.txt", "link.txt"}));
  EXPECT_EQ(runtime.hashing.requests, 2);
}

TEST_F(FolderScanTest, FilesOfTwoGibibytesAreSkippedWithAStatusLine) {
  File("b/small.txt", 10);
  const fs::path big = File("a/big.bin", 0);
  fs::resize_file(big, std::uintmax_t{1} << 31);  // sparse
  Share(Root() + "/a|" + Root() + "/b");
  RunScan();
  EXPECT_EQ(RowNames(), (Names{"small.txt"}));
  EXPECT_EQ(runtime.hashing.requests, 1);
  EXPECT_TRUE(Saw("File Scanner (0): big.bin Is Too Large!"));
  EXPECT_EQ(total.hundredths(), 0);  // not counted in the total
}

TEST_F(FolderScanTest, RescanReusesTheDatabaseWrittenOncePerScan) {
  const fs::path a = File("a.txt", 10);
  File("b.txt", 20);
  Share(Root());
  scan->Tick();
  // Hashes learnt during the scan reach the file only when the scan ends.
  StepUntil([&] { return !table.rows.empty(); });
  ASSERT_EQ(table.rows.size(), 1u);
  EXPECT_FALSE(fs::exists(Database()));
  runtime.RunPosted();
  EXPECT_TRUE(fs::exists(Database()));
  EXPECT_EQ(runtime.hashing.requests, 2);

  IniStore fresh;
  EXPECT_EQ(fresh.ReadINI(a.string(), "10", Database()), HashFileNow(a));
  RunScan();
  EXPECT_EQ(runtime.hashing.requests, 2);
  EXPECT_EQ(table.rows.size(), 2u);
}

TEST_F(FolderScanTest, ChangedSizeIsHashedAgainUnderASecondKey) {
  const fs::path a = File("a.txt", 10, 'x');
  Share(Root());
  RunScan();
  const std::string first = table.rows.at(0).hash;
  WriteFileBytes(a, std::string(12, 'y'));
  RunScan();
  EXPECT_EQ(runtime.hashing.requests, 2);
  EXPECT_EQ(table.rows.at(0).hash, HashFileNow(a));
  IniStore fresh;
  EXPECT_EQ(fresh.ReadINI(a.string(), "10", Database()), first);
  EXPECT_EQ(fresh.ReadINI(a.string(), "12", Database()), HashFileNow(a));

  // Same size, new content: the stored hash stays.
  WriteFileBytes(a, std::string(12, 'z'));
  RunScan();
  EXPECT_EQ(runtime.hashing.requests, 2);
  EXPECT_NE(table.rows.at(0).hash, HashFileNow(a));

  // A new name is a new section.
  fs::rename(a, root / "renamed.txt");
  RunScan();
  EXPECT_EQ(runtime.hashing.requests, 3);
}

// No folder opens the settings without a box; no acceptable file shows the box first.
TEST_F(FolderScanTest, NothingToShareOpensTheSettings) {
  File("a.txt", 10);
  table.rows.push_back(SharedFile{});
  table.sorted = true;
  RunScan();
  EXPECT_EQ(settings_opened, 1);
  EXPECT_TRUE(runtime.boxes.empty());
  EXPECT_TRUE(table.rows.empty());
  EXPECT_FALSE(table.sorted);
  EXPECT_FALSE(scan->scanning());
  EXPECT_EQ(lines, Names{"Listing Files..."});

  // No acceptable file shows the box, then the settings.
  fs::remove(root / "a.txt");
  File("README", 10);
  Share(Root() + "|" + Root() + "/missing");
  RunScan();
  ASSERT_EQ(runtime.boxes.size(), 1u);
  EXPECT_EQ(runtime.boxes[0].text, "You must share at least one file, in one directory.");
  EXPECT_EQ(runtime.boxes[0].title, "Error");
  EXPECT_EQ(runtime.boxes[0].icon, PromptIcon::kCritical);
  EXPECT_EQ(settings_opened, 2);
  EXPECT_EQ(boxes_before_settings, 1u);
  EXPECT_FALSE(table.sorted);
  EXPECT_FALSE(scan->scanning());
  EXPECT_EQ(scan->shared_count(), 0u);
}

TEST_F(FolderScanTest, VanishedFileAndFailedHashAreReportedAndNotListed) {
  const fs::path gone = File("gone.txt", 20'000);
  Share(Root());
  scan->Tick();
  StepUntil([&] { return total.hundredths() != 0; });
  fs::remove(gone);
  runtime.RunPosted();
  EXPECT_TRUE(Saw("File Scanner (0): gone.txt Does Not Exist!"));
  EXPECT_EQ(total.ShownText(), "0.02 Mbs");  // the size stays counted

  const fs::path broken = File("broken.txt", 10);
  lines.clear();
  scan->Tick();
  StepUntil([&] { return Saw("File Scanner (0): Hashing broken.txt"); });
  fs::remove(broken);
  runtime.RunPosted();
  EXPECT_TRUE(Saw("File Scanner (0): Error Hashing broken.txt"));
  EXPECT_TRUE(table.rows.empty());
  EXPECT_EQ(runtime.boxes.size(), 2u);
}

TEST_F(FolderScanTest, ScanIsStepwiseAndRowsGrowBetweenSteps) {
  Files({"f0.txt", "f1.txt", "f2.txt", "f3.txt", "f4.txt"});
  Share(Root());
  scan->Tick();
  EXPECT_TRUE(scan->scanning());
  EXPECT_TRUE(table.rows.empty());
  std::vector<std::size_t> seen;
  while (StepOnce()) {
    if (seen.empty() || seen.back() != table.rows.size()) seen.push_back(table.rows.size());
  }
  EXPECT_EQ(seen, (std::vector<std::size_t>{0, 1, 2, 3, 4, 5}));
  EXPECT_FALSE(scan->scanning());
  EXPECT_TRUE(table.sorted);
}

TEST_F(FolderScanTest, RefreshOnlyWhenIdleAndTicksDuringAScanAreDropped) {
  Files({"f0.txt", "f1.txt", "f2.txt"});
  Share(Root());
  EXPECT_FALSE(scan->Refresh());  // never scanned: idle mark off
  scan->Tick();
  StepUntil([&] { return !table.rows.empty(); });
  lines.clear();
  EXPECT_FALSE(scan->Refresh());
  EXPECT_FALSE(scan->timer_active());
  EXPECT_TRUE(lines.empty());

  scan->Arm(1500);  // the bootstrap sees an empty-looking table
  scan->Tick();
  EXPECT_FALSE(scan->timer_active());
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(table.rows.size(), 1u);  // not cleared by a second scan
  runtime.RunPosted();
  EXPECT_EQ(table.rows.size(), 3u);
  EXPECT_EQ(runtime.hashing.requests, 3);

  lines.clear();
  EXPECT_TRUE(scan->Refresh());
  EXPECT_EQ(lines, Names{"Refreshing Shared Files..."});
  EXPECT_TRUE(scan->timer_active());
  EXPECT_EQ(scan->interval(), 1000);
}

TEST_F(FolderScanTest, RemovedAndDeletedRowsLeaveTheCountAndOnlyUnsharedOnesComeBack) {
  Files({"a.txt", "b.txt", "c.txt"});
  Share(Root());
  RunScan();
  ASSERT_EQ(scan->shared_count(), 3u);
  ASSERT_EQ(scan->DeleteRow(2, runtime), MyFilesResult::kDone);
  EXPECT_EQ(scan->shared_count(), 2u);
  ASSERT_EQ(scan->UnshareRows({0}), MyFilesResult::kDone);
  EXPECT_EQ(RowNames(), Names{"b.txt"});
  EXPECT_EQ(scan->shared_count(), 1u);
  RunScan();
  EXPECT_EQ(RowNames(), (Names{"a.txt", "b.txt"}));
  EXPECT_EQ(scan->shared_count(), 2u);
  EXPECT_EQ(runtime.hashing.requests, 3);
}

TEST_F(FolderScanTest, DestroyedScanLeavesNoLiveCallbacks) {
  File("a.txt", 10);
  Share(Root());
  scan->Tick();
  StepOnce();
  StepOnce();
  scan.reset();
  runtime.RunPosted();
  EXPECT_TRUE(table.rows.empty());
}

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
