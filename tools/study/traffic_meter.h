#pragma once
// Counts every datagram of the simulated network by message kind, reading the messages through
// the world's datagram trace, and hands the search and source messages of each probe to whoever
// follows the probes (their first field names the query or the file).

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "core/dispatcher.h"
#include "platform/sim/sim_world.h"

namespace zorvex::study {

// The families a study reports, each a set of message kinds.
enum class Family {
  kOffer,     // "ConnectNew:"
  kAccept,    // "ConnectEst:"
  kWalk,      // "ConnectRqr:"
  kGoodbye,   // "ConnectDisconnect"
  kPing,      // "Ping+"
  kPong,      // "Pong+"
  kSearch,    // "SearchFor:", "SearchList:", "SearchFound:"
  kSource,    // "SourceSearch:", "SourceData:", "SourceFound:"
  kDownload,  // "SearchDownload:"
  kOther,     // presence probes, instant messages, errors
  kCount,
};
inline constexpr std::size_t kFamilies = static_cast<std::size_t>(Family::kCount);

std::string_view FamilyName(Family family);
Family FamilyOf(MessageKind kind);

struct FamilyCount {
  std::uint64_t messages = 0;
  std::uint64_t bytes = 0;
  std::uint64_t lost = 0;  // lost on a link or at an offline end, or undeliverable
};

// One datagram whose message names a subject: a search's query or a download's file name.
struct SubjectDatagram {
  MessageKind kind;
  std::string_view subject;
  const DatagramTrace& trace;
};

class TrafficMeter {
 public:
  explicit TrafficMeter(SimWorld& world);
  ~TrafficMeter();
  TrafficMeter(const TrafficMeter&) = delete;
  TrafficMeter& operator=(const TrafficMeter&) = delete;

  // Forgets what was counted; counting goes on from now.
  void StartWindow();
  void SetSubjectSink(std::function<void(const SubjectDatagram&)> sink) {
    subject_sink_ = std::move(sink);
  }

  const FamilyCount& count(Family family) const {
    return counts_[static_cast<std::size_t>(family)];
  }
  std::uint64_t total_messages() const;
  // Datagrams delivered to the address since the window started.
  std::uint64_t ReceivedBy(const std::string& address) const;

 private:
  void Record(const DatagramTrace& trace);
  std::string_view Decipher(std::string_view payload);

  SimWorld& world_;
  std::string keystream_;  // every datagram is enciphered from a fresh key schedule
  std::string plain_;
  std::array<FamilyCount, kFamilies> counts_{};
  std::unordered_map<std::string, std::uint64_t> received_;
  std::function<void(const SubjectDatagram&)> subject_sink_;
};

}  // namespace zorvex::study
