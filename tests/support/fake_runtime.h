#pragma once
// A runtime for handler tests: timers fire only when the test says so, datagrams are recorded
// instead of sent, HTTP answers and random draws are scripted, prompts are recorded, and streams
// record what is sent while the test plays the far side.

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/rc4.h"
#include "core/runtime.h"

namespace zorvex::testing {

struct SentDatagram {
  std::string message;  // deciphered
  std::string address;
  std::uint16_t port;
};

struct ShownBox {
  std::string text;
  std::string title;
  PromptIcon icon;
};

class FakeRuntime;

// A stream whose far side is the test: it records what the node sends and delivers what the
// test feeds. Callbacks happen only inside the test's calls.
class FakeStream : public StreamSocket {
 public:
  explicit FakeStream(FakeRuntime& owner);
  ~FakeStream() override;
  FakeStream(const FakeStream&) = delete;
  FakeStream& operator=(const FakeStream&) = delete;

  void SetHandler(StreamHandler* h) override { handler = h; }
  void Connect(const std::string& address, std::uint16_t port) override {
    peer = address;
    connect_port = port;
    connecting = true;
    open = false;
  }
  bool Send(std::string_view bytes) override {
    if (!open) return false;
    sent.append(bytes);
    unconfirmed += bytes.size();
    return true;
  }
  std::size_t PendingBytes() const override { return unconfirmed; }
  void Close() override {
    if (open || connecting) closed_by_node = true;
    open = false;
    connecting = false;
  }
  std::string PeerAddress() const override { return peer; }
  void SetReadPaused(bool paused) override { read_paused = paused; }

  // The far side: each call reaches the handler at once, when it is open and has one.
  void AcceptConnect() { Leave(connecting, true, &StreamHandler::OnConnected); }
  void RefuseConnect() { Leave(connecting, false, &StreamHandler::OnFailed); }
  void Feed(std::string_view bytes) {
    if (open && handler) handler->OnData(bytes);
  }
  void ConfirmSent() {  // OnSent with everything unconfirmed
    const std::size_t bytes = std::exchange(unconfirmed, 0);
    if (open && handler && bytes > 0) handler->OnSent(bytes);
  }
  void CloseFromPeer() { Leave(open, false, &StreamHandler::OnClosed); }
  void FailFromPeer() { Leave(open, false, &StreamHandler::OnFailed); }  // a reset
  std::string TakeSent() { return std::exchange(sent, {}); }

  FakeRuntime& owner;
  StreamHandler* handler = nullptr;
  std::string peer;
  std::uint16_t connect_port = 0;
  std::string sent;
  std::size_t unconfirmed = 0;
  bool connecting = false;
  bool open = false;
  bool closed_by_node = false;
  bool read_paused = false;

 private:
  // Ends the state `from` (connecting or open), leaving the stream open or not, and tells the
  // handler; nothing happens when the stream was not in that state.
  void Leave(bool& from, bool now_open, void (StreamHandler::*tell)()) {
    if (!from) return;
    from = false;
    open = now_open;
    if (handler) (handler->*tell)();
  }
};

class FakeListener : public StreamListener {
 public:
  FakeListener(FakeRuntime& owner, StreamListenerHandler& handler);
  ~FakeListener() override;
  FakeListener(const FakeListener&) = delete;
  FakeListener& operator=(const FakeListener&) = delete;

  bool Listen(std::uint16_t wanted) override {
    listens.push_back(wanted);
    port = wanted == 0 ? 49152 : wanted;
    return true;
  }
  void Close() override { port = 0; }
  std::uint16_t Port() const override { return port; }

  // A connection from `peer_address` offered to the handler; the stream while someone keeps it,
  // else null.
  FakeStream* Offer(const std::string& peer_address);

  FakeRuntime& owner;
  StreamListenerHandler& handler;
  std::uint16_t port = 0;
  std::vector<std::uint16_t> listens;  // every port asked for, in order
};

class FakeRuntime : public Runtime, public UserPrompts, public RandomSource {
 public:
  // Tasks still posted may hold streams, which unlist themselves while the lists still exist.
  ~FakeRuntime() override { posted.clear(); }

  // Runtime
  std::int64_t NowMs() const override { return now_ms; }
  std::unique_ptr<Timer> CreateTimer(TimerKind kind, std::function<void()> on_fire) override;
  void Post(std::function<void()> task) override { posted.push_back(std::move(task)); }
  std::unique_ptr<DatagramSocket> CreateDatagramSocket(DatagramHandler& handler) override;
  std::unique_ptr<StreamListener> CreateStreamListener(StreamListenerHandler& handler) override {
    return std::make_unique<FakeListener>(*this, handler);
  }
  std::unique_ptr<StreamSocket> CreateStreamSocket() override {
    return std::make_unique<FakeStream>(*this);
  }
  std::unique_ptr<PendingRequest> HttpGet(const std::string& url,
                                          std::function<void(std::string)> done) override {
    http_urls.push_back(url);
    http_pending.push_back(std::move(done));
    return std::make_unique<PendingRequest>();
  }
  // Hashes at once, in a posted task.
  HashingService& Hashing() override { return hashing; }
  RandomSource& Random() override { return *this; }
  UserPrompts& Prompts() override { return *this; }

  // UserPrompts
  void MessageBox(std::string_view text, std::string_view title, PromptIcon icon) override {
    boxes.push_back({std::string(text), std::string(title), icon});
  }
  bool AskYesNo(std::string_view text, std::string_view title) override {
    questions.push_back({std::string(text), std::string(title), PromptIcon::kNone});
    return answer_yes;
  }
  void Beep() override { ++beeps; }

  // RandomSource: scripted draws, then 0.
  double Uniform() override {
    if (draws.empty()) return 0;
    const double value = draws.front();
    draws.pop_front();
    return value;
  }

  // Delivers a datagram enciphered as a peer would send it.
  void Deliver(std::string_view message, const std::string& sender) {
    handler->OnDatagram(Rc4().RC4String(message, kMessageKey), sender);
  }
  // Runs posted tasks until none are left.
  void RunPosted() {
    while (!posted.empty()) {
      auto task = std::move(posted.front());
      posted.erase(posted.begin());
      task();
    }
  }
  // Answers the oldest pending HTTP request.
  void AnswerHttp(const std::string& body) {
    auto done = std::move(http_pending.front());
    http_pending.pop_front();
    done(body);
  }
  // Takes the datagrams sent so far.
  std::vector<SentDatagram> TakeSent() { return std::exchange(sent, {}); }

  std::int64_t now_ms = 0;
  std::vector<std::function<void()>> posted;
  std::vector<SentDatagram> sent;
  std::vector<ShownBox> boxes;
  int beeps = 0;
  bool answer_yes = true;
  std::vector<ShownBox> questions;
  std::deque<double> draws;
  bool bind_succeeds = true;
  bool send_succeeds = true;
  int binds = 0;
  std::vector<std::string> http_urls;
  std::deque<std::function<void(std::string)>> http_pending;
  DatagramHandler* handler = nullptr;
  std::vector<FakeListener*> listeners;  // live ones, oldest first
  std::vector<FakeStream*> streams;      // live ones, oldest first

  struct FakeTimer;
  std::vector<FakeTimer*> timers;
  // Fires the timer at that position of `timers` when it is active.
  void FireTimer(std::size_t index);
  bool TimerActive(std::size_t index) const;

  class PostedHashing : public HashingService {
   public:
    explicit PostedHashing(FakeRuntime& owner) : owner_(owner) {}
    std::unique_ptr<PendingRequest> HashFile(
        const std::string& path, std::int32_t block_size,
        std::function<void(std::int64_t, std::int64_t)> progress,
        std::function<void(std::string)> done) override;
    // Runs every step in one posted task.
    std::unique_ptr<PendingRequest> RunSteps(std::function<bool()> step,
                                             std::function<void()> done) override;
    int requests = 0;
    int step_runs = 0;

   private:
    FakeRuntime& owner_;
  };
  PostedHashing hashing{*this};
};

}  // namespace zorvex::testing
