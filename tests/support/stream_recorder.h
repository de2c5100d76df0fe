#pragma once
// Stream, listener and datagram handlers that record every callback, for the platform tests.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/runtime.h"

namespace zorvex::testing {

// Every callback of one stream, stamped with the time of a clock that has NowMs() (none: 0).
class Recorder final : public StreamHandler {
 public:
  Recorder() = default;
  explicit Recorder(std::function<std::int64_t()> now) : now_(std::move(now)) {}
  template <typename Clock>
  requires requires(const Clock& clock) { clock.NowMs(); }
  explicit Recorder(const Clock& clock) : now_([&clock] { return clock.NowMs(); }) {}

  void OnConnected() override {
    ++connected;
    connected_at.push_back(now_());
    if (on_connected) on_connected();
  }
  void OnData(std::string_view bytes) override {
    data.append(bytes);
    chunks.push_back(bytes.size());
    data_at.push_back(now_());
    if (on_data) on_data();
  }
  void OnSent(std::size_t bytes) override {
    sent += bytes;
    sent_at.emplace_back(now_(), sent);
  }
  void OnClosed() override {
    ++closed;
    closed_at.push_back(now_());
    if (on_closed) on_closed();
  }
  // Counted as a close too; `failed` tells how many of the closes were failures.
  void OnFailed() override {
    ++failed;
    OnClosed();
  }
  std::size_t Calls() const {
    return connected_at.size() + chunks.size() + sent_at.size() + closed_at.size();
  }

  int connected = 0;
  int closed = 0;
  int failed = 0;
  std::vector<std::int64_t> connected_at;
  std::string data;
  std::vector<std::size_t> chunks;
  std::vector<std::int64_t> data_at;
  std::size_t sent = 0;
  std::vector<std::pair<std::int64_t, std::size_t>> sent_at;  // time, running total
  std::vector<std::int64_t> closed_at;
  std::function<void()> on_connected;
  std::function<void()> on_data;
  std::function<void()> on_closed;

 private:
  std::function<std::int64_t()> now_ = [] { return std::int64_t{0}; };
};

// Keeps every accepted stream with a recorder of its own, unless told to drop them.
class Acceptor final : public StreamListenerHandler {
 public:
  Acceptor() = default;
  template <typename Clock>
  requires requires(const Clock& clock) { clock.NowMs(); }
  explicit Acceptor(const Clock& clock) : now_([&clock] { return clock.NowMs(); }) {}

  void OnIncoming(std::unique_ptr<StreamSocket> stream) override {
    incoming_at.push_back(now_());
    peers.push_back(stream->PeerAddress());
    if (drop) return;
    recorders.push_back(std::make_unique<Recorder>(now_));
    stream->SetHandler(recorders.back().get());
    streams.push_back(std::move(stream));
    if (on_incoming) on_incoming();
  }

  bool drop = false;
  std::vector<std::int64_t> incoming_at;
  std::vector<std::string> peers;
  std::vector<std::unique_ptr<StreamSocket>> streams;
  std::vector<std::unique_ptr<Recorder>> recorders;
  std::function<void()> on_incoming;

 private:
  std::function<std::int64_t()> now_ = [] { return std::int64_t{0}; };
};

// One datagram as it arrived, stamped like the stream records.
struct Arrival {
  std::int64_t time_ms = 0;
  std::string payload;
  std::string sender;
  bool operator==(const Arrival&) const = default;
};

// Every datagram a socket hands over, and its errors.
class Inbox final : public DatagramHandler {
 public:
  Inbox() = default;
  template <typename Clock>
  requires requires(const Clock& clock) { clock.NowMs(); }
  explicit Inbox(const Clock& clock) : now_([&clock] { return clock.NowMs(); }) {}

  void OnDatagram(std::string payload, std::string sender) override {
    arrivals.push_back({now_(), std::move(payload), std::move(sender)});
    if (on_datagram) on_datagram();
  }
  void OnSocketError() override { ++errors; }

  std::vector<Arrival> arrivals;
  int errors = 0;
  std::function<void()> on_datagram;

 private:
  std::function<std::int64_t()> now_ = [] { return std::int64_t{0}; };
};

// Bytes that show where they were cut or reordered.
inline std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>((i * 131 + i / 251) & 0xff);
  return bytes;
}

}  // namespace zorvex::testing
