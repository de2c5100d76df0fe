#include "tools/study/traffic_meter.h"

#include <algorithm>

#include "core/rc4.h"

namespace zorvex::study {
namespace {

// Enough of a message for its keyword and its first field.
constexpr std::size_t kReadBytes = 192;

bool NamesSubject(MessageKind kind) {
  switch (kind) {
    case MessageKind::kSearchFor:
    case MessageKind::kSearchList:
    case MessageKind::kSearchFound:
    case MessageKind::kSourceSearch:
    case MessageKind::kSourceData:
    case MessageKind::kSourceFound:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string_view FamilyName(Family family) {
  static constexpr std::array<std::string_view, kFamilies> kNames = {
      "offer", "accept", "walk",   "goodbye",  "ping",
      "pong",  "search", "source", "download", "other"};
  return kNames[static_cast<std::size_t>(family)];
}

Family FamilyOf(MessageKind kind) {
  switch (kind) {
    case MessageKind::kConnectNew:
      return Family::kOffer;
    case MessageKind::kConnectEst:
      return Family::kAccept;
    case MessageKind::kConnectRqr:
      return Family::kWalk;
    case MessageKind::kConnectDisconnect:
      return Family::kGoodbye;
    case MessageKind::kPingPlus:
      return Family::kPing;
    case MessageKind::kPongPlus:
      return Family::kPong;
    case MessageKind::kSearchFor:
    case MessageKind::kSearchList:
    case MessageKind::kSearchFound:
      return Family::kSearch;
    case MessageKind::kSourceSearch:
    case MessageKind::kSourceData:
    case MessageKind::kSourceFound:
      return Family::kSource;
    case MessageKind::kSearchDownload:
      return Family::kDownload;
    default:
      return Family::kOther;
  }
}

TrafficMeter::TrafficMeter(SimWorld& world)
    : world_(world), keystream_(Rc4().RC4String(std::string(kReadBytes, '\0'), kMessageKey)) {
  world_.SetDatagramTrace([this](const DatagramTrace& trace) { Record(trace); });
}

TrafficMeter::~TrafficMeter() {
  world_.SetDatagramTrace({});
}

void TrafficMeter::StartWindow() {
  counts_ = {};
  received_.clear();
}

std::uint64_t TrafficMeter::total_messages() const {
  std::uint64_t total = 0;
  for (const auto& count : counts_)
    total += count.messages;
  return total;
}

std::uint64_t TrafficMeter::ReceivedBy(const std::string& address) const {
  const auto found = received_.find(address);
  return found == received_.end() ? 0 : found->second;
}

std::string_view TrafficMeter::Decipher(std::string_view payload) {
  const std::size_t length = std::min(payload.size(), kReadBytes);
  plain_.resize(length);
  for (std::size_t i = 0; i < length; ++i)
    plain_[i] = static_cast<char>(payload[i] ^ keystream_[i]);
  return plain_;
}

void TrafficMeter::Record(const DatagramTrace& trace) {
  const ClassifiedMessage message = ClassifyMessage(Decipher(trace.payload));
  FamilyCount& count = counts_[static_cast<std::size_t>(FamilyOf(message.kind))];
  ++count.messages;
  count.bytes += trace.bytes;
  if (trace.fate != DatagramFate::kDelivered) {
    ++count.lost;
  } else {
    ++received_[std::string(trace.to)];
  }
  if (subject_sink_ && NamesSubject(message.kind)) {
    const std::string_view subject = message.payload.substr(0, message.payload.find('|'));
    subject_sink_({message.kind, subject, trace});
  }
}

}  // namespace zorvex::study
