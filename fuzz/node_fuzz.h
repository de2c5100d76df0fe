#pragma once
// A whole node on the fake runtime for fuzz targets: a sandbox folder that nothing may leave,
// an input read as lines of commands, and the invariants checked after every step.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "support/busy_node.h"
#include "support/fake_runtime.h"
#include "support/temp_dir.h"

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
    Expect(root_.path(), "outer");
    Expect(root_ / "outer", "home");
  }

 private:
  Sandbox() { std::filesystem::create_directories(home_); }
  static void Expect(const std::filesystem::path& folder, const std::string& only) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      if (entry.path().filename() != only) Broken("file written outside: " + entry.path().string());
    }
  }

  testing::TempDir root_;
  std::filesystem::path home_ = root_ / "outer" / "home";
};

// Takes the next line off `rest`; false when nothing is left.
inline bool NextLine(std::string_view& rest, std::string_view& line) {
  if (rest.empty()) return false;
  const auto end = rest.find('\n');
  line = rest.substr(0, end);
  rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  return true;
}

// The first byte of a command's text, which picks a sender, a row or a stream.
inline std::size_t Byte(std::string_view text) {
  return text.empty() ? 0 : static_cast<unsigned char>(text[0]);
}

using testing::kHash;

// Eight senders: neighbours, strangers, the download's source, the node itself.
inline const std::vector<std::string> kSenders = {"10.0.0.2",  "10.0.0.3",    "10.0.0.9",
                                                  "10.0.0.77", "192.168.1.7", "127.0.0.61",
                                                  "10.0.0.5",  "10.0.0.1"};
inline const std::string& SenderOf(std::string_view text) {
  return kSenders[Byte(text) % kSenders.size()];
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
    testing::AllowTransfers(prefs, Sandbox::Get().download_folder());
  }

  void Share(const std::string& name, std::string_view bytes) {
    testing::Share(node, Sandbox::Get().shared_folder(), name, bytes);
  }

  void Deliver(std::string_view message, const std::string& sender) {
    runtime.Deliver(message, sender);
  }
  // An acceptance from `address`, which makes it a neighbour at the next tick.
  void AddNeighbour(const std::string& address) {
    Deliver("ConnectEst:Peer|3|1|0 Bytes|1.2.1|1", address);
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
    if (const auto broken = testing::BrokenBound(node, runtime, runtime.TakeSent());
        !broken.empty())
      Broken(broken);
    Sandbox::Get().Check();
  }

  // Runs `step(command, text, line)` on each input line, at most `max_steps` of them, and checks
  // the bounds after each; the command is the line's first byte and the text the rest.
  template <typename Step>
  void Steps(const std::uint8_t* data, std::size_t size, int max_steps, Step step) {
    std::string_view rest(reinterpret_cast<const char*>(data), size), line;
    for (int steps = 0; steps < max_steps && NextLine(rest, line); ++steps) {
      step(line.empty() ? '\0' : line[0], line.substr(line.empty() ? 0 : 1), line);
      Check();
    }
  }

  testing::FakeRuntime runtime;
  Node node;
};

// One run: a fresh node in the emptied sandbox for `body` to drive, and once the node is gone,
// nothing written outside the sandbox.
template <typename Body>
int RunNode(Body body) {
  Sandbox::Get().Reset();
  {
    FuzzNode n;
    body(n);
  }
  Sandbox::Get().Check();
  return 0;
}

}  // namespace zorvex::fuzzing
