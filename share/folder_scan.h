#pragma once
// The shared-folder scan behind the one-shot timer `tmrListFiles`: walks the shared folders depth
// first, one directory entry per loop step, looks every acceptable file up in FileDatabase.dll or
// hashes it on the hashing service, and fills the shared-file table.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/life_token.h"
#include "core/runtime.h"
#include "core/status.h"
#include "settings/ini_store.h"
#include "share/format.h"
#include "share/my_files.h"
#include "share/shared_files.h"

namespace zorvex {

// Files this large or larger do not fit the signed 32-bit sizes of rows, keys and the wire.
inline constexpr std::int64_t kMaxSharedFileSize = std::int64_t{1} << 31;

// What the scan asks of the rest of the node.
struct FolderScanHooks {
  // The bootstrap is idle and the nickname is not empty; empty function: always allowed.
  std::function<bool()> scan_allowed;
  // Shows the settings dialog (modal in the GUI, nothing headless).
  std::function<void()> open_settings;
  // The block size of the "Hash Buffer:" list, read again before every file.
  std::function<std::int32_t()> hash_block_size;
};

class FolderScan {
 public:
  static constexpr std::int64_t kInitialInterval = 1300;
  static constexpr std::int64_t kTickedInterval = 1000;

  FolderScan(Runtime& runtime, IniStore& store, std::filesystem::path program_folder,
             SharedFileTable& table, SharedTotal& total, StatusModel& status,
             FolderScanHooks hooks);
  ~FolderScan();
  FolderScan(const FolderScan&) = delete;
  FolderScan& operator=(const FolderScan&) = delete;

  // Enables the timer with this interval; an enabled timer keeps running unless it changes.
  void Arm(std::int64_t interval_ms);
  // Enables the timer with the interval it has.
  void Arm();
  // The refresh command: only while the idle mark is on. True when the timer was armed.
  bool Refresh();

  // The timer's tick; public so tests can drive it. A tick that comes while a scan runs (the
  // bootstrap arms the timer while the table is still empty) is dropped: the running scan
  // already rebuilds the whole table.
  void Tick();

  // Runs after the scan changed the table (for views).
  void SetOnTableChanged(std::function<void()> listener) {
    on_table_changed_ = std::move(listener);
  }

  bool scanning() const { return scanning_; }
  bool timer_active() const { return timer_->IsActive(); }
  std::int64_t interval() const { return interval_; }
  // What `lblSharedCount` shows: the row count of the last completed scan, or of the table after
  // a row was removed or deleted since.
  std::size_t shared_count() const { return shared_count_; }

  // My Files' Remove and Delete on the scanned table (see Unshare and DeleteFromDisk).
  MyFilesResult UnshareRows(const std::vector<std::size_t>& indices);
  MyFilesResult DeleteRow(std::optional<std::size_t> selected, UserPrompts& prompts);

 private:
  struct Level {
    std::string folder;  // ends in '/'
    std::filesystem::directory_iterator next;
  };

  void ScanSharedFolders();
  void NextPiece();
  void NextEntry();
  void LookupFileHash(const std::string& folder, const std::string& name, std::int32_t size);
  void HashArrived(const std::string& folder, const std::string& name, std::int32_t size,
                   const std::string& key, const std::string& hash);
  void EntryDone(const std::string& folder, const std::string& name, std::int32_t size,
                 const std::string& hash);
  void Finish();
  void Step(void (FolderScan::*step)());
  std::string Prefix() const;

  Runtime& runtime_;
  IniStore& store_;
  std::filesystem::path prefs_file_;
  std::filesystem::path database_file_;
  SharedFileTable& table_;
  SharedTotal& total_;
  StatusModel& status_;
  FolderScanHooks hooks_;
  std::unique_ptr<Timer> timer_;
  std::int64_t interval_ = kInitialInterval;
  bool scanning_ = false;
  std::size_t shared_count_ = 0;

  std::vector<std::string> pieces_;
  std::size_t next_piece_ = 0;
  std::vector<Level> levels_;
  std::unique_ptr<IniStore::Batch> batch_;
  std::unique_ptr<PendingRequest> hashing_;
  std::function<void()> on_table_changed_;
  LifeToken life_;
};

}  // namespace zorvex
