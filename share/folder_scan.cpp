#include "share/folder_scan.h"

#include <sys/stat.h>

#include <algorithm>
#include <system_error>
#include <utility>

#include "settings/preferences.h"
#include "share/file_hash.h"
#include "share/file_kind.h"
#include "share/mp3_info.h"
#include "share/paths.h"

namespace zorvex {

namespace fs = std::filesystem;

namespace {

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool LessIgnoringCase(const SharedFile& a, const SharedFile& b) {
  return std::lexicographical_compare(a.file_name.begin(), a.file_name.end(), b.file_name.begin(),
                                      b.file_name.end(), [](char x, char y) {
                                        return static_cast<unsigned char>(LowerAscii(x)) <
                                               static_cast<unsigned char>(LowerAscii(y));
                                      });
}

}  // namespace

FolderScan::FolderScan(Runtime& runtime, IniStore& store, fs::path program_folder,
                       SharedFileTable& table, SharedTotal& total, StatusModel& status,
                       FolderScanHooks hooks)
    : runtime_(runtime),
      store_(store),
      prefs_file_(program_folder / kPreferencesFileName),
      database_file_(program_folder / kFileDatabaseName),
      table_(table),
      total_(total),
      status_(status),
      hooks_(std::move(hooks)),
      timer_(runtime.CreateTimer(TimerKind::kSingleShot, [this] { Tick(); })) {}

FolderScan::~FolderScan() = default;

void FolderScan::Arm(std::int64_t interval_ms) {
  if (timer_->IsActive() && interval_ms == interval_) return;
  interval_ = interval_ms;
  timer_->Start(interval_);
}

void FolderScan::Arm() {
  if (!timer_->IsActive()) timer_->Start(interval_);
}

bool FolderScan::Refresh() {
  if (!table_.sorted || scanning_) return false;
  status_.SetStatus("Refreshing Shared Files...");
  Arm();
  return true;
}

void FolderScan::Tick() {
  timer_->Stop();
  interval_ = kTickedInterval;
  if (hooks_.scan_allowed && !hooks_.scan_allowed()) return;
  if (scanning_) return;
  status_.SetStatus("Listing Files...");
  ScanSharedFolders();
}

void FolderScan::Step(void (FolderScan::*step)()) {
  runtime_.Post([this, step, alive = life_.Watch()] {
    if (alive.expired()) return;
    (this->*step)();
  });
}

std::string FolderScan::Prefix() const {
  return "File Scanner (" + std::to_string(table_.rows.size()) + "): ";
}

void FolderScan::ScanSharedFolders() {
  table_.sorted = false;
  table_.rows.clear();
  if (on_table_changed_) on_table_changed_();
  const std::string directories =
      store_.ReadINI(keys::kSharedDirectories.section, keys::kSharedDirectories.key, prefs_file_);
  if (directories.empty()) {
    if (hooks_.open_settings) hooks_.open_settings();
    return;
  }
  scanning_ = true;
  total_.Update(-1, true);
  // Every hash learnt in this scan reaches the database file in one write at the end.
  batch_ = std::make_unique<IniStore::Batch>(store_, database_file_);
  pieces_.clear();
  // Pieces stay in order, empty ones included: they only cost a step.
  std::size_t start = 0;
  while (start <= directories.size()) {
    const auto bar = directories.find('|', start);
    const auto end = bar == std::string::npos ? directories.size() : bar;
    pieces_.push_back(directories.substr(start, end - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  next_piece_ = 0;
  levels_.clear();
  Step(&FolderScan::NextPiece);
}

void FolderScan::NextPiece() {
  if (next_piece_ >= pieces_.size()) {
    Finish();
    return;
  }
  const std::string& piece = pieces_[next_piece_++];
  if (!piece.empty()) {
    const std::string folder = EnsureTrailingSeparator(piece);
    std::error_code error;
    fs::directory_iterator listing(folder, error);
    // A folder that is missing or cannot be listed adds nothing.
    if (!error) levels_.push_back({folder, std::move(listing)});
  }
  Step(&FolderScan::NextEntry);
}

void FolderScan::NextEntry() {
  if (levels_.empty()) {
    Step(&FolderScan::NextPiece);
    return;
  }
  Level& level = levels_.back();
  if (level.next == fs::directory_iterator()) {
    levels_.pop_back();
    Step(&FolderScan::NextEntry);
    return;
  }
  const fs::directory_entry entry = *level.next;
  const std::string folder = level.folder;
  std::error_code error;
  level.next.increment(error);
  if (error) level.next = fs::directory_iterator();

  std::string name = entry.path().filename().native();
  name = name.substr(0, name.find('\0'));
  const bool hidden = !name.empty() && name.front() == '.';
  const fs::file_status link_status = entry.symlink_status(error);
  if (error) {
    Step(&FolderScan::NextEntry);
    return;
  }
  if (fs::is_directory(link_status)) {
    if (!hidden) {
      fs::directory_iterator listing(folder + name + "/", error);
      if (!error) levels_.push_back({folder + name + "/", std::move(listing)});
    }
    Step(&FolderScan::NextEntry);
    return;
  }
  // A link counts as what it points to, but a link to a folder is never entered (no loops).
  const fs::file_status target = entry.status(error);
  if (error || !fs::is_regular_file(target) || hidden || name.empty() ||
      name.find('.') == std::string::npos) {
    Step(&FolderScan::NextEntry);
    return;
  }
  const auto length = fs::file_size(entry.path(), error);
  if (error || length == 0) {
    Step(&FolderScan::NextEntry);
    return;
  }
  if (length >= static_cast<std::uintmax_t>(kMaxSharedFileSize)) {
    status_.SetStatus(Prefix() + name + " Is Too Large!");
    Step(&FolderScan::NextEntry);
    return;
  }
  const auto size = static_cast<std::int32_t>(length);
  // The size counts in the total from here on, even if hashing then fails.
  total_.Update(size, true);
  runtime_.Post([this, folder, name, size, alive = life_.Watch()] {
    if (alive.expired()) return;
    LookupFileHash(folder, name, size);
  });
}

void FolderScan::LookupFileHash(const std::string& folder, const std::string& name,
                                std::int32_t size) {
  const std::string full_path = folder + name;
  // One stat answers both whether the file exists and its length: a rescan is mostly this.
  struct stat info {};
  if (::stat(full_path.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) {
    status_.SetStatus(Prefix() + name + " Does Not Exist!");
    EntryDone(folder, name, size, "Exist");
    return;
  }
  const std::int64_t length = info.st_size;
  if (!S_ISREG(info.st_mode) || length <= 0 || length >= kMaxSharedFileSize) {
    status_.SetStatus(Prefix() + "Error Hashing " + name);
    EntryDone(folder, name, size, "Error");
    return;
  }
  const std::string key = std::to_string(length);
  const std::string stored = store_.ReadINI(full_path, key, database_file_);
  if (!stored.empty()) {
    status_.SetStatus(Prefix() + "Hashed " + name);
    EntryDone(folder, name, size, stored);
    return;
  }
  status_.SetStatus(Prefix() + "Hashing " + name);
  status_.SetStatus(HashProgressLine(table_.rows.size(), name, 0, length));
  const std::int32_t block_size =
      hooks_.hash_block_size ? hooks_.hash_block_size() : kDefaultHashBlockSize;
  auto alive = life_.Watch();
  hashing_ = runtime_.Hashing().HashFile(
      full_path, block_size,
      [this, name, alive](std::int64_t done, std::int64_t file_size) {
        if (alive.expired()) return;
        status_.SetStatus(HashProgressLine(table_.rows.size(), name, done, file_size));
      },
      [this, folder, name, size, key, alive](std::string hash) {
        if (alive.expired()) return;
        // The request is released in a later step, not inside its own callback.
        runtime_.Post([this, folder, name, size, key, hash = std::move(hash), alive] {
          if (alive.expired()) return;
          hashing_.reset();
          HashArrived(folder, name, size, key, hash);
        });
      });
}

void FolderScan::HashArrived(const std::string& folder, const std::string& name, std::int32_t size,
                             const std::string& key, const std::string& hash) {
  if (hash.size() != 32) {
    status_.SetStatus(Prefix() + "Error Hashing " + name);
    EntryDone(folder, name, size, "Error");
    return;
  }
  store_.WriteINI(folder + name, key, hash, database_file_);
  status_.SetStatus(Prefix() + "Hashed " + name);
  EntryDone(folder, name, size, hash);
}

void FolderScan::EntryDone(const std::string& folder, const std::string& name, std::int32_t size,
                           const std::string& hash) {
  // A stored value of another length is taken as the lookup's answer and lists nothing.
  if (hash.size() == 32) {
    const std::string extension = GetExtension(name);
    SharedFile row;
    row.file_name = name;
    row.category = std::string(GetFileCategory(name));
    row.size_text = FormatFileSize(size);
    row.size = size;
    row.hash = hash;
    if (extension == "mp3") row.media_info = GetMp3Info(folder + name);
    row.folder = folder;
    row.base_name = name.substr(0, name.size() - std::min(name.size(), extension.size() + 1));
    table_.rows.push_back(std::move(row));
    if (on_table_changed_) on_table_changed_();
  }
  Step(&FolderScan::NextEntry);
}

void FolderScan::Finish() {
  batch_.reset();
  pieces_.clear();
  scanning_ = false;
  if (table_.rows.empty()) {
    runtime_.Prompts().MessageBox("You must share at least one file, in one directory.", "Error",
                                  PromptIcon::kCritical);
    if (hooks_.open_settings) hooks_.open_settings();
    return;
  }
  shared_count_ = table_.rows.size();
  status_.SetStatus("File Scanner (" + std::to_string(shared_count_) + "): Complete!");
  std::stable_sort(table_.rows.begin(), table_.rows.end(), LessIgnoringCase);
  table_.sorted = true;
  if (on_table_changed_) on_table_changed_();
}

MyFilesResult FolderScan::UnshareRows(const std::vector<std::size_t>& indices) {
  const MyFilesResult result = Unshare(table_, total_, indices);
  if (result == MyFilesResult::kDone) shared_count_ = table_.rows.size();
  return result;
}

MyFilesResult FolderScan::DeleteRow(std::optional<std::size_t> selected, UserPrompts& prompts) {
  const MyFilesResult result = DeleteFromDisk(table_, total_, selected, prompts);
  if (result == MyFilesResult::kDone) shared_count_ = table_.rows.size();
  return result;
}

}  // namespace zorvex
