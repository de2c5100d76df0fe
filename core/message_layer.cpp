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

void MessageLayer::QueueIncoming(std::string payload, std::string sender) {
  if (incoming_.size() >= kMaxIncomingRecords ||
      incoming_bytes_ + payload.size() > kMaxIncomingBytes) {
    return;
  }
  incoming_bytes_ += payload.size();
  incoming_.push_back({std::move(payload), std::move(sender)});
  if (activity_) activity_();
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
      incoming_bytes_ -= record.text.size();
      ReceiveMessage(record);
      CountPacket(PacketKind::kIn);
    }
  }
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
