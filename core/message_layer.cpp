#include "core/message_layer.h"

#include <exception>

#include "core/address.h"

namespace zorvex {

namespace {
constexpr std::uint16_t kPort = 620;
}

MessageLayer::MessageLayer(Runtime& runtime, const std::string& my_ip, MessageSink& sink)
    : my_ip_(my_ip),
      sink_(sink),
      socket_(runtime.CreateDatagramSocket(*this)),
      timer_(runtime.CreateTimer(TimerKind::kRepeating, [this] { Tick(); })) {
  timer_->Start(kQueueIntervalMs);
}

MessageLayer::~MessageLayer() = default;

bool MessageLayer::Bind() {
  return socket_->Bind(kPort);
}

void MessageLayer::Close() {
  socket_->Close();
}

void MessageLayer::Shutdown() {
  shut_down_ = true;
  timer_->Stop();
  socket_->Close();
  outgoing_.clear();
  incoming_.clear();
  senders_.clear();
  loads_.clear();
  answered_.clear();
  incoming_live_ = 0;
  incoming_bytes_ = 0;
}

std::string MessageLayer::LocalAddress() const {
  return socket_->LocalAddress();
}

void MessageLayer::QueueMessage(std::string_view message, std::string_view address) {
  if (shut_down_ || SameText(address, my_ip_) || SameText(address, "127.0.0.1")) return;
  outgoing_.push_back({std::string(message), std::string(address)});
  if (activity_) activity_();
}

void MessageLayer::QueueAnswer(std::string_view message, std::string_view address) {
  std::string key;
  key.reserve(address.size() + 1 + message.size());
  key.append(address).append(1, ' ').append(message);
  if (answered_.insert(std::move(key)).second) QueueMessage(message, address);
}

void MessageLayer::QueueIncoming(std::string payload, std::string sender) {
  if (payload.size() > kMaxIncomingBytes) return;
  auto found = senders_.find(sender);
  const std::size_t held = found == senders_.end() ? 0 : found->second.size();
  while (IncomingFull(payload.size())) {
    if (!DropFromHeaviest(held + 1)) return;
  }
  if (found == senders_.end()) found = senders_.emplace(sender, Arrivals{}).first;
  Arrivals& arrivals = found->second;
  if (!arrivals.empty()) loads_.erase({arrivals.size(), found->first});
  arrivals.push_back(first_arrival_ + incoming_.size());
  loads_.insert({arrivals.size(), found->first});
  ++incoming_live_;
  incoming_bytes_ += payload.size();
  incoming_.push_back({std::move(payload), std::move(sender)});
  if (activity_) activity_();
}

std::size_t MessageLayer::IncomingFrom(const std::string& sender) const {
  const auto found = senders_.find(sender);
  return found == senders_.end() ? 0 : found->second.size();
}

bool MessageLayer::IncomingFull(std::size_t more_bytes) const {
  return incoming_live_ >= kMaxIncomingRecords || incoming_bytes_ + more_bytes > kMaxIncomingBytes;
}

bool MessageLayer::DropFromHeaviest(std::size_t than) {
  if (loads_.empty()) return false;
  const auto [held, name] = *loads_.rbegin();
  if (held <= than) return false;
  const auto sender = senders_.find(std::string(name));
  Record& record = incoming_[sender->second.back() - first_arrival_];
  record.dropped = true;
  incoming_bytes_ -= record.text.size();
  std::string().swap(record.text);
  --incoming_live_;
  Forget(sender, true);
  // Dropped records wait for their turn; once they outnumber the kept ones they are swept out.
  if (incoming_.size() - incoming_live_ > kMaxIncomingRecords / 2) Compact();
  return true;
}

void MessageLayer::Forget(std::unordered_map<std::string, Arrivals>::iterator sender, bool newest) {
  Arrivals& arrivals = sender->second;
  loads_.erase({arrivals.size(), sender->first});
  if (newest) {
    arrivals.pop_back();
  } else {
    arrivals.pop_front();
  }
  if (arrivals.empty()) {
    senders_.erase(sender);
  } else {
    loads_.insert({arrivals.size(), sender->first});
  }
}

void MessageLayer::Compact() {
  std::deque<Record> kept;
  for (auto& record : incoming_) {
    if (!record.dropped) kept.push_back(std::move(record));
  }
  incoming_ = std::move(kept);
  first_arrival_ = 0;
  for (auto& [name, arrivals] : senders_)
    arrivals.clear();
  for (std::size_t i = 0; i < incoming_.size(); ++i)
    senders_[incoming_[i].address].push_back(i);
}

void MessageLayer::OnDatagram(std::string payload, std::string sender) {
  if (shut_down_ || payload.empty() || SameText(sender, my_ip_)) return;
  QueueIncoming(std::move(payload), std::move(sender));
}

void MessageLayer::OnSocketError() {
  CountPacket(PacketKind::kBad);
}

void MessageLayer::Tick() {
  timer_->Stop();
  while (!incoming_.empty() || !outgoing_.empty()) {
    if (incoming_.empty()) {
      const Record record = std::move(outgoing_.front());
      outgoing_.pop_front();
      SendDatagram(record);
      CountPacket(PacketKind::kOut);
    } else {
      const Record record = std::move(incoming_.front());
      incoming_.pop_front();
      ++first_arrival_;
      if (record.dropped) continue;
      --incoming_live_;
      incoming_bytes_ -= record.text.size();
      Forget(senders_.find(record.address), false);
      ReceiveMessage(record);
      CountPacket(PacketKind::kIn);
    }
  }
  answered_.clear();
  if (!shut_down_) timer_->Start(kQueueIntervalMs);
}

void MessageLayer::SendDatagram(const Record& record) {
  const std::string payload = cipher_.RC4String(record.text, kMessageKey);
  if (!socket_->SendTo(payload, record.address, kPort)) {
    // A failed send leaves the socket in doubt: bind it afresh; the message is lost.
    socket_->Close();
    socket_->Bind(kPort);
  }
}

void MessageLayer::ReceiveMessage(const Record& record) {
  try {
    const std::string message = cipher_.RC4String(record.text, kMessageKey);
    if (!sink_.ParseMessage(message, record.address)) CountPacket(PacketKind::kBad);
  } catch (const std::exception&) {
    CountPacket(PacketKind::kBad);
  }
}

void MessageLayer::CountPacket(PacketKind kind) {
  std::uint32_t& counter = kind == PacketKind::kIn    ? counters_.in
                           : kind == PacketKind::kOut ? counters_.out
                                                      : counters_.bad;
  counter = NextCount(counter);
  if (activity_) activity_();
}

std::string MessageLayer::QueueDisplay() const {
  return std::to_string(outgoing_.size()) + " - " + std::to_string(incoming_.size());
}

}  // namespace zorvex
