#pragma once
// The datagram message layer: one enciphered message per UDP datagram on port 620, an outgoing
// and an incoming queue drained by one 300 ms timer (incoming first), and the traffic counters.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "core/rc4.h"
#include "core/runtime.h"

namespace zorvex {

inline constexpr std::int64_t kQueueIntervalMs = 300;
// Counters wrap to 0 once they pass this.
inline constexpr std::uint32_t kCounterWrap = 1'000'000'000;
// A counter's next value: past kCounterWrap it starts again at 0.
constexpr std::uint32_t NextCount(std::uint32_t count) {
  return count + 1 > kCounterWrap ? 0 : count + 1;
}
// A flood between two ticks must not grow the incoming queue without bound. When the queue is
// full, a sender holding fewer records than the heaviest sender still gets in: the heaviest
// sender's newest record makes room. So one flooding address cannot starve the others, and what
// is kept is still handled in the order it arrived.
inline constexpr std::size_t kMaxIncomingRecords = 10'000;
inline constexpr std::size_t kMaxIncomingBytes = 8 * 1024 * 1024;

// Where deciphered messages go. Returns false for a message outside every known family, which
// then counts as bad.
class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual bool ParseMessage(std::string_view message, const std::string& sender) = 0;
};

struct PacketCounters {
  std::uint32_t in = 0;
  std::uint32_t out = 0;
  std::uint32_t bad = 0;
};

enum class PacketKind { kIn, kOut, kBad };

class MessageLayer final : public DatagramHandler {
 public:
  // `my_ip` is the node's own address, which may change while the layer lives.
  MessageLayer(Runtime& runtime, const std::string& my_ip, MessageSink& sink);
  ~MessageLayer() override;

  bool Bind();
  void Close();
  // For good: the timer stops, the socket closes, queued records are dropped, and nothing is
  // sent or received any more.
  void Shutdown();
  std::string LocalAddress() const;

  // The only way to send: refused for the node's own address and for "127.0.0.1".
  void QueueMessage(std::string_view message, std::string_view address);
  // An answer that says nothing new when repeated: queued at most once per tick for the same
  // address and text, so a flood of questions costs one send per sender and tick.
  void QueueAnswer(std::string_view message, std::string_view address);
  void QueueIncoming(std::string payload, std::string sender);

  // One tick of the queue timer: drains both queues, incoming records first.
  void Tick();

  void CountPacket(PacketKind kind);
  // Runs when the counters or the queues changed (for views).
  void SetActivityListener(std::function<void()> listener) { activity_ = std::move(listener); }
  const PacketCounters& counters() const { return counters_; }
  // "outgoing - incoming", e.g. "3 - 0".
  std::string QueueDisplay() const;
  std::size_t outgoing_size() const { return outgoing_.size(); }
  std::size_t incoming_size() const { return incoming_live_; }
  // Records the sender has waiting in the incoming queue.
  std::size_t IncomingFrom(const std::string& sender) const;

  void OnDatagram(std::string payload, std::string sender) override;
  void OnSocketError() override;

 private:
  struct Record {
    std::string text;
    std::string address;
    bool dropped = false;  // made room for a lighter sender; skipped when its turn comes
  };
  // The positions (arrival numbers) of one sender's waiting records, oldest first.
  using Arrivals = std::deque<std::uint64_t>;

  void SendDatagram(const Record& record);
  void ReceiveMessage(const Record& record);
  bool IncomingFull(std::size_t more_bytes) const;
  // Drops the newest record of the sender holding the most, if it holds more than `than`.
  bool DropFromHeaviest(std::size_t than);
  void Forget(std::unordered_map<std::string, Arrivals>::iterator sender, bool newest);
  void Compact();

  const std::string& my_ip_;
  MessageSink& sink_;
  std::unique_ptr<DatagramSocket> socket_;
  std::unique_ptr<Timer> timer_;
  Rc4 cipher_;
  std::deque<Record> outgoing_;
  // Arrival order; incoming_.front() has the arrival number first_arrival_.
  std::deque<Record> incoming_;
  std::uint64_t first_arrival_ = 0;
  std::size_t incoming_live_ = 0;
  std::size_t incoming_bytes_ = 0;
  std::unordered_map<std::string, Arrivals> senders_;
  // (records waiting, sender) for every sender with records waiting; names point into senders_.
  std::set<std::pair<std::size_t, std::string_view>> loads_;
  // "address text" of the answers queued since the last tick ended.
  std::unordered_set<std::string> answered_;
  bool shut_down_ = false;
  PacketCounters counters_;
  std::function<void()> activity_;
};

}  // namespace zorvex
