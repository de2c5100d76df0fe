#include "settings/ini_store.h"

#include <sys/stat.h>

#include "core/file_io.h"
#include "core/hex.h"
#include "settings/huffman.h"
#include "share/paths.h"

namespace zorvex {

namespace {

// What tells one version of a file from another without reading it.
struct FileIdentity {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};

  bool operator==(const FileIdentity& other) const {
    return exists == other.exists && device == other.device && inode == other.inode &&
           size == other.size && modified.tv_sec == other.modified.tv_sec &&
           modified.tv_nsec == other.modified.tv_nsec && changed.tv_sec == other.changed.tv_sec &&
           changed.tv_nsec == other.changed.tv_nsec;
  }
};

FileIdentity Identify(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return {};
  return {true, info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
}

}  // namespace

struct IniStore::Cached {
  IniFile file;
  FileIdentity identity;
  bool loaded = false;
  int batch_depth = 0;
  bool dirty = false;
};

IniStore::IniStore() = default;
IniStore::~IniStore() = default;

IniStore::Cached& IniStore::Load(const std::filesystem::path& full_path) {
  const std::string path = CollapseSeparators(full_path.native());
  auto& slot = files_[path];
  if (!slot) slot = std::make_unique<Cached>();
  Cached& cached = *slot;
  // Pending batched writes are newer than anything on disk.
  if (cached.batch_depth > 0 && cached.dirty) return cached;
  const FileIdentity now = Identify(path);
  if (cached.loaded && !cached.dirty && now == cached.identity) return cached;
  cached.identity = now;
  cached.loaded = true;
  cached.dirty = false;
  cached.file = IniFile{};
  std::string text;
  if (now.exists && ReadWholeFile(path, text) == ReadResult::kRead) {
    cached.file = IniFile::Parse(text);
  }
  return cached;
}

void IniStore::Flush(const std::filesystem::path& full_path, Cached& cached) {
  const std::string path = CollapseSeparators(full_path.native());
  if (ReplaceFileAtomically(path, cached.file.Serialize())) {
    cached.identity = Identify(path);
    cached.dirty = false;
  } else {
    // The write did not happen: forget the edit so that reads show what the disk holds.
    cached.loaded = false;
    cached.dirty = false;
  }
}

std::optional<std::string> IniStore::ReadRaw(std::string_view section, std::string_view key,
                                             const std::filesystem::path& full_path) {
  if (section.empty() || key.empty() || full_path.empty()) return std::nullopt;
  const auto stored = Load(full_path).file.Find(EnHex(section), EnHex(key));
  if (!stored) return std::nullopt;
  return std::string(stored->substr(0, kIniReadLimit));
}

std::string IniStore::ReadINI(std::string_view section, std::string_view key,
                              const std::filesystem::path& full_path) {
  const auto stored = ReadRaw(section, key, full_path);
  if (!stored || stored->empty()) return {};
  try {
    return HuffmanDecode(DeHex(*stored));
  } catch (const HuffmanError&) {
    return {};
  }
}

void IniStore::WriteINI(std::string_view section, std::string_view key, std::string_view value,
                        const std::filesystem::path& full_path) {
  if (section.empty() || key.empty() || value.empty() || full_path.empty()) return;
  Cached& cached = Load(full_path);
  cached.file.Set(EnHex(section), EnHex(key), EnHex(HuffmanEncode(value)));
  cached.dirty = true;
  if (cached.batch_depth == 0) Flush(full_path, cached);
}

std::vector<IniSection> IniStore::RawSections(const std::filesystem::path& full_path) {
  return Load(full_path).file.Sections();
}

IniStore::Batch::Batch(IniStore& store, const std::filesystem::path& full_path)
    : store_(store), key_(full_path) {
  ++store_.Load(full_path).batch_depth;
}

IniStore::Batch::~Batch() {
  Cached& cached = store_.Load(key_);
  if (--cached.batch_depth == 0 && cached.dirty) store_.Flush(key_, cached);
}

}  // namespace zorvex
