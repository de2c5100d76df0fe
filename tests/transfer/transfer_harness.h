#pragma once
// A node with transfers beside it: timers fired by tick, messages read as text, files and their
// digests made up on the spot.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "node/node_harness.h"
#include "share/file_hash.h"
#include "transfer/transfers.h"

namespace zorvex::testing {

// Bytes that differ with their place and the seed.
inline std::string Bytes(std::size_t n, unsigned seed = 7) {
  std::string out(n, '\0');
  for (std::size_t i = 0; i < n; ++i)
    out[i] = static_cast<char>((i * 131 + seed) % 251);
  return out;
}

// The file hasher's digest of `bytes`, from a file written at `path`.
inline std::string HashOfBytes(const std::filesystem::path& path, const std::string& bytes) {
  WriteFileBytes(path, bytes);
  return HashFileNow(path);
}

// Every text of a row on one line, so that one assertion shows all the fields that differ.
inline std::string RowTexts(const TransferRow& row) {
  return row.file_name + " | " + row.percent + " | " + row.rate + " | " + row.time_remaining +
         " | " + row.size + " | " + row.sources + " | " + row.username + " | " + row.status +
         " | " + row.tag + " | " + row.peer;
}

inline std::string SourceTexts(const TransferSource& source) {
  return source.address + " | " + source.average + " | " + source.best + " | " + source.use;
}

class TransferTest : public ::testing::Test {
 protected:
  TransferTest() {
    h.node.preferences().DownloadPort = 5503;
    first_timer = h.runtime.timers.size();
  }

  std::unique_ptr<Transfers> NewTransfers() {
    return std::make_unique<Transfers>(h.runtime, h.node.messages(), h.node.peers(),
                                       h.node.preferences(), h.node.shared_files());
  }
  std::string HashOf(const std::string& bytes) { return HashOfBytes(h.home / "hash.tmp", bytes); }
  // Fires every timer made after the fixture's transfers.
  void Tick(int n = 1) {
    for (int k = 0; k < n; ++k) {
      for (std::size_t i = first_timer; i < h.runtime.timers.size(); ++i)
        h.runtime.FireTimer(i);
    }
  }
  std::vector<std::string> Sent() { return Messages(h.Flush()); }
  // A source connects and sends `header`; the stream while it stays open.
  FakeStream* Connected(const std::string& header, const std::string& source) {
    FakeStream* stream = h.runtime.listeners.back()->Offer(source);
    if (stream) stream->Feed(header);
    return stream;
  }

  NodeHarness h;
  std::size_t first_timer = 0;
  Transfers t{h.runtime, h.node.messages(), h.node.peers(), h.node.preferences(),
              h.node.shared_files()};
};

}  // namespace zorvex::testing
