#pragma once
// The simulated platform: a virtual clock and an in-memory datagram network on which many nodes
// run in one process and one thread. Everything that happens is an event ordered by (virtual time,
// scheduling order), and every random draw comes from the world seed, so the same seed and the
// same calls give the same run event for event.
//
// Lifetimes: the world outlives every host, timer, socket, stream and request made from it. A
// destroyed host, timer, stream or request never calls back again; the objects a destroyed host
// made stay safe to use and destroy, and do nothing; its streams close as if aborted.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/random.h"
#include "core/runtime.h"
#include "share/stepped_hashing.h"

namespace zorvex {

// One direction-free link between two hosts. A datagram takes latency_ms plus a uniform whole
// number of milliseconds in [0, jitter_ms], and is lost with probability `loss`.
// Streams see neither jitter nor loss (TCP hides them): their bytes leave the sender at
// `bandwidth_bytes_per_s` in each direction, shared first come first served by every stream on
// the link (0 is unlimited), and arrive latency_ms later in deliveries of at most 64 KiB. With
// `split_streams` each delivery is cut at a point drawn from the seed, so a reader sees
// arbitrary splits.
struct LinkProfile {
  std::int64_t latency_ms = 20;
  std::int64_t jitter_ms = 0;
  double loss = 0;
  std::int64_t bandwidth_bytes_per_s = 0;
  bool split_streams = false;
};

// Totals since the world began. A datagram counted as sent ends up delivered, lost (link loss or
// an offline end) or undeliverable (no live socket bound at the destination), or is in flight.
struct SimStats {
  std::uint64_t datagrams_sent = 0;
  std::uint64_t datagrams_delivered = 0;
  std::uint64_t datagrams_lost = 0;
  std::uint64_t datagrams_undeliverable = 0;
  std::uint64_t http_requests = 0;
  std::uint64_t stream_connections = 0;      // accepted by a listener
  std::uint64_t stream_bytes_delivered = 0;  // handed to a receiving stream
  std::uint64_t events_run = 0;  // timer firings, posted tasks, arrivals and HTTP answers
};

enum class DatagramFate { kDelivered, kLost, kUndeliverable };

// What became of one datagram; a lost one is reported when sent, the others when they arrive.
struct DatagramTrace {
  std::int64_t time_ms = 0;
  std::string_view from;
  std::string_view to;
  std::uint16_t port = 0;
  std::size_t bytes = 0;
  DatagramFate fate = DatagramFate::kDelivered;
  std::string_view payload;  // the bytes as sent, valid only during the call
};

// Records every prompt for the test to read; questions are answered from a script.
class SimPrompts final : public UserPrompts {
 public:
  struct Message {
    std::int64_t time_ms = 0;
    std::string text;
    std::string title;
    PromptIcon icon = PromptIcon::kNone;
  };
  struct Question {
    std::int64_t time_ms = 0;
    std::string text;
    std::string title;
    bool answer = true;
  };

  // `clock` stamps the records; without one every stamp is 0.
  explicit SimPrompts(std::function<std::int64_t()> clock = {});

  void MessageBox(std::string_view text, std::string_view title, PromptIcon icon) override;
  bool AskYesNo(std::string_view text, std::string_view title) override;
  void Beep() override;

  // Queues the answer to the next unanswered question; with the script empty the answer is yes.
  void ScriptAnswer(bool yes);

  const std::vector<Message>& Messages() const { return messages_; }
  const std::vector<Question>& Questions() const { return questions_; }
  const std::vector<std::int64_t>& Beeps() const { return beeps_; }  // the time of each beep
  void Clear();

 private:
  std::int64_t Now() const { return clock_ ? clock_() : 0; }

  std::function<std::int64_t()> clock_;
  std::vector<bool> script_;
  std::size_t script_next_ = 0;
  std::vector<Message> messages_;
  std::vector<Question> questions_;
  std::vector<std::int64_t> beeps_;
};

class SimHost;

class SimWorld {
 public:
  explicit SimWorld(std::uint64_t seed);
  ~SimWorld();
  SimWorld(const SimWorld&) = delete;
  SimWorld& operator=(const SimWorld&) = delete;

  std::uint64_t Seed() const;
  std::int64_t NowMs() const;

  // Runs every event due up to now + ms, then sets the clock to now + ms.
  void RunFor(std::int64_t ms);
  // Runs events until `done` holds (checked first and after every event) or max_ms have passed;
  // the clock stops at the event that made it hold. Returns whether it holds.
  bool RunUntil(const std::function<bool()>& done, std::int64_t max_ms);
  // Runs everything due now, including what those events make due now; returns how many ran.
  std::size_t RunPending();
  // The run functions may not be called from inside an event (std::logic_error).

  // A machine with the given dotted IPv4 address, unique among the live hosts
  // (std::invalid_argument otherwise).
  std::unique_ptr<SimHost> CreateHost(std::string address);

  // Links: the default applies to every pair without its own profile, and to HTTP latency.
  void SetDefaultLink(const LinkProfile& profile);
  const LinkProfile& DefaultLink() const;
  void SetLink(const std::string& a, const std::string& b, const LinkProfile& profile);
  LinkProfile Link(const std::string& a, const std::string& b) const;
  // An offline host keeps its clock and timers but sends and receives nothing: its datagrams
  // both ways count as lost and its HTTP requests get empty bodies.
  void SetHostOnline(const std::string& address, bool online);
  bool IsHostOnline(const std::string& address) const;

  // Serves `body()` (called when the answer arrives) at the URL; a missing scheme means
  // "http://", otherwise the match is exact. Answers come after the default latency plus
  // `delay_ms`; an unknown URL answers an empty body.
  void ServeHttp(const std::string& url, std::function<std::string()> body,
                 std::int64_t delay_ms = 0);
  void RemoveHttp(const std::string& url);

  // Breaks every live stream between the two hosts at once, as a failed route would: bytes on
  // the way are lost and both ends hear OnClosed. Returns how many streams were cut.
  std::size_t CutStreams(const std::string& a, const std::string& b);

  const SimStats& Stats() const;
  // Called for every datagram's fate; an empty function turns tracing off.
  void SetDatagramTrace(std::function<void(const DatagramTrace&)> trace);

 private:
  friend class SimHost;
  class Engine;
  std::unique_ptr<Engine> engine_;
};

// One simulated machine: the Runtime a node runs on.
class SimHost final : public Runtime {
 public:
  ~SimHost() override;
  SimHost(const SimHost&) = delete;
  SimHost& operator=(const SimHost&) = delete;

  const std::string& Address() const { return address_; }

  std::int64_t NowMs() const override;
  std::unique_ptr<Timer> CreateTimer(TimerKind kind, std::function<void()> on_fire) override;
  void Post(std::function<void()> task) override;
  // Bind(0) picks a free port from 49152 up. SendTo fails on a closed or unbound socket, an
  // address that is not dotted IPv4 text, or port 0; otherwise the datagram goes out.
  std::unique_ptr<DatagramSocket> CreateDatagramSocket(DatagramHandler& handler) override;
  // Listen(0) picks a free port from 49152 up. A connection reaches the listener one link latency
  // after Connect; the outcome (OnConnected, or OnClosed when nobody listens or either host is
  // offline) travels back in another. Close sends what is queued, then closes; destroying a
  // stream aborts it. Either way the far side hears OnClosed after the bytes already sent.
  std::unique_ptr<StreamListener> CreateStreamListener(StreamListenerHandler& handler) override;
  std::unique_ptr<StreamSocket> CreateStreamSocket() override;
  std::unique_ptr<PendingRequest> HttpGet(const std::string& url,
                                          std::function<void(std::string body)> done) override;
  // Seeded from the world seed and this host's address alone.
  // One block every 2 ms of virtual time.
  HashingService& Hashing() override { return hashing_; }
  SeededRandom& Random() override { return random_; }
  SimPrompts& Prompts() override { return prompts_; }

 private:
  friend class SimWorld;
  SimHost(SimWorld::Engine& engine, std::uint32_t id, std::string address, std::uint64_t seed);

  SimWorld::Engine& engine_;
  std::uint32_t id_;
  std::string address_;
  SeededRandom random_;
  SimPrompts prompts_;
  SteppedHashing hashing_{*this};
};

}  // namespace zorvex
