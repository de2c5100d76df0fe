#pragma once
// A whole node on the fake runtime for fuzz targets: a sandbox folder that nothing may leave,
// an input read as lines of commands, and the invariants checked after every step.

#include <unistd.h>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/address.h"
#include "core/message_layer.h"
#include "network/peer_table.h"
#include "node/node.h"
#include "search/search.h"
#include "share/shared_files.h"
#include "support/fake_runtime.h"
#include "transfer/context.h"
#include "transfer/transfers.h"

namespace zorvex::fuzzing {

[[noreturn]] inline void Broken(const std::string& what) {
  std::fprintf(stderr, "INVARIANT BROKEN: %s\n", what.c_str());
  std::abort();
}

// root/outer/home is the program folder, with Downloads/ and Shared/ inside it; a name with "../"
// written in the program folder or the download folder lands in root/outer or root, where the
// check finds it. (The node's folders are absolute, so the working folder plays no part.)
class Sandbox {
 public:
  static Sandbox& Get() {
    static Sandbox sandbox;
    return sandbox;
  }
  const std::filesystem::path& home() const { return home_; }
  std::string download_folder() const { return (home_ / "Downloads").string() + "/"; }
  std::string shared_folder() const { return (home_ / "Shared").string() + "/"; }

  // Empties the program folder, keeping its two folders (making folders costs more than a run).
  void Reset() {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(home_)) {
      const auto name = entry.path().filename();
      if ((name == "Downloads" || name == "Shared") && entry.is_directory()) {
        for (const auto& inner : std::filesystem::directory_iterator(entry.path()))
          std::filesystem::remove_all(inner.path(), ec);
      } else {
        std::filesystem::remove_all(entry.path(), ec);
      }
    }
    std::filesystem::create_directories(home_ / "Downloads");
    std::filesystem::create_directories(home_ / "Shared");
  }
  // Nothing but the program folder's chain exists above it.
  void Check() const {
    Expect(root_, "outer");
    Expect(root_ / "outer", "home");
  }

 private:
  Sandbox() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zorvex-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) Broken("no sandbox");
    root_ = pattern;
    home_ = root_ / "outer" / "home";
    std::filesystem::create_directories(home_);
  }
  ~Sandbox() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  static void Expect(const std::filesystem::path& folder, const std::string& only) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      if (entry.path().filename() != only) Broken("file written outside: " + entry.path().string());
    }
  }

  std::filesystem::path root_;
  std::filesystem::path home_;
};

// The input as lines; each line is one command byte and its text.
class Lines {
 public:
  Lines(const std::uint8_t* data, std::size_t size)
      : rest_(reinterpret_cast<const char*>(data), size) {}
  bool NextLine(std::string_view& line) {
    if (rest_.empty()) return false;
    const auto end = rest_.find('\n');
    line = rest_.substr(0, end);
    rest_ = end == std::string_view::npos ? std::string_view() : rest_.substr(end + 1);
    return true;
  }
  bool Next(char& command, std::string_view& text) {
    std::string_view line;
    if (!NextLine(line)) return false;
    command = line.empty() ? '\0' : line[0];
    text = line.empty() ? line : line.substr(1);
    return true;
  }

 private:
  std::string_view rest_;
};

inline constexpr char kHash[] = "0123456789ABCDEF0123456789ABCDEF";

// Eight senders: neighbours, strangers, the download's source, the node itself.
inline const std::vector<std::string>& Senders() {
  static const std::vector<std::string> senders = {"10.0.0.2",  "10.0.0.3",    "10.0.0.9",
                                                   "10.0.0.77", "192.168.1.7", "127.0.0.61",
                                                   "10.0.0.5",  "10.0.0.1"};
  return senders;
}

// A node with two neighbours, one shared file, a running search for "blue" and a download of
// "got.mp3" from 10.0.0.9, all inside the sandbox.
class FuzzNode {
 public:
  FuzzNode() : node(runtime, NodeOptions{.home = Sandbox::Get().home()}) {
    Preferences& prefs = node.preferences();
    prefs.Nickname = "Alice";
    prefs.MyIP = "10.0.0.1";
    prefs.Connection = 3;
    prefs.MaxConnections = 8;
    prefs.DownloadPort = 5503;
    prefs.MaxULs = 2;
    prefs.MaxULUsers = 1;
    prefs.DLDir = Sandbox::Get().download_folder();
  }

  void Share(const std::string& name, const std::string& bytes, const std::string& hash) {
    const std::filesystem::path path = Sandbox::Get().home() / "Shared" / name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) Broken("cannot write the shared file");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    SharedFile row;
    row.file_name = name;
    row.size = static_cast<std::int32_t>(bytes.size());
    row.hash = hash;
    row.folder = Sandbox::Get().shared_folder();
    node.shared_files().rows.push_back(row);
  }

  void Deliver(std::string_view message, const std::string& sender) {
    runtime.Deliver(message, sender);
  }
  void DeliverRaw(std::string_view payload, const std::string& sender) {
    runtime.handler->OnDatagram(std::string(payload), sender);
  }
  void Tick() { node.messages().Tick(); }
  // Every active timer fires `rounds` times, a second of time passing each round.
  void Advance(int rounds) {
    for (int r = 0; r < rounds; ++r) {
      runtime.now_ms += 1000;
      for (std::size_t t = 0; t < runtime.timers.size(); ++t)
        runtime.FireTimer(t);
      runtime.RunPosted();
    }
  }

  // The bounds a stranger must never push the node past; checked after every step.
  void Check() {
    const Preferences& prefs = node.preferences();
    if (node.peers().size() > static_cast<std::size_t>(std::max<int>(prefs.MaxConnections, 0)))
      Broken("neighbour table beyond MaxConnections");
    if (node.search().results().size() > 10'000) Broken("results beyond their cap");
    if (node.search().searched_count() > kMaxSearchedUsers) Broken("searched users beyond cap");
    if (node.messages().incoming_size() > kMaxIncomingRecords) Broken("incoming queue unbounded");
    if (node.messages().outgoing_size() > 100'000) Broken("outgoing queue unbounded");
    for (std::size_t row = 0; row < node.transfers().download_rows().size(); ++row) {
      if (node.transfers().Sources(row).size() > kMaxSources) Broken("sources beyond cap");
    }
    if (runtime.posted.size() > 100'000) Broken("posted tasks unbounded");
    for (const auto& d : runtime.TakeSent()) {
      if (!IsHostAddress(d.address)) Broken("datagram to " + d.address + ": " + d.message);
      if (d.port != 620) Broken("datagram to another port");
      if (d.message.starts_with("ConnectRqr:")) {
        const auto bar = d.message.rfind('|');
        const long long hops = std::atoll(d.message.c_str() + bar + 1);
        if (hops < 0 || hops > kMaxRequestHops) Broken("hop count " + d.message);
      }
    }
    for (const auto* stream : runtime.streams) {
      if (!stream->peer.empty() && !IsHostAddress(stream->peer))
        Broken("stream to " + stream->peer);
    }
    Sandbox::Get().Check();
  }

  testing::FakeRuntime runtime;
  Node node;
};

}  // namespace zorvex::fuzzing
