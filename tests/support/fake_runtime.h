#pragma once
// A runtime for handler tests: timers fire only when the test says so, datagrams are recorded
// instead of sent, HTTP answers and random draws are scripted, prompts are recorded.

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
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

class FakeRuntime : public Runtime, public UserPrompts, public RandomSource {
 public:
  // Runtime
  std::int64_t NowMs() const override { return now_ms; }
  std::unique_ptr<Timer> CreateTimer(TimerKind kind, std::function<void()> on_fire) override;
  void Post(std::function<void()> task) override { posted.push_back(std::move(task)); }
  std::unique_ptr<DatagramSocket> CreateDatagramSocket(DatagramHandler& handler) override;
  std::unique_ptr<PendingRequest> HttpGet(const std::string& url,
                                          std::function<void(std::string)> done) override;
  // Hashes at once, in a posted task.
  HashingService& Hashing() override { return hashing; }
  RandomSource& Random() override { return *this; }
  UserPrompts& Prompts() override { return *this; }

  // UserPrompts
  void MessageBox(std::string_view text, std::string_view title, PromptIcon icon) override {
    boxes.push_back({std::string(text), std::string(title), icon});
  }
  bool AskYesNo(std::string_view, std::string_view) override { return answer_yes; }
  void Beep() override { ++beeps; }

  // RandomSource: scripted draws, then 0.
  double Uniform() override;

  // Delivers a datagram enciphered as a peer would send it.
  void Deliver(std::string_view message, const std::string& sender);
  // Runs posted tasks until none are left.
  void RunPosted();
  // Answers the oldest pending HTTP request.
  void AnswerHttp(const std::string& body);
  // Takes the datagrams sent so far.
  std::vector<SentDatagram> TakeSent();

  std::int64_t now_ms = 0;
  std::vector<std::function<void()>> posted;
  std::vector<SentDatagram> sent;
  std::vector<ShownBox> boxes;
  int beeps = 0;
  bool answer_yes = true;
  std::deque<double> draws;
  std::string local_address = "10.0.0.1";
  bool bind_succeeds = true;
  bool send_succeeds = true;
  int binds = 0;
  std::vector<std::string> http_urls;
  std::deque<std::function<void(std::string)>> http_pending;
  DatagramHandler* handler = nullptr;

  struct FakeTimer;
  std::vector<FakeTimer*> timers;

  class PostedHashing : public HashingService {
   public:
    explicit PostedHashing(FakeRuntime& owner) : owner_(owner) {}
    std::unique_ptr<PendingRequest> HashFile(
        const std::string& path, std::int32_t block_size,
        std::function<void(std::int64_t, std::int64_t)> progress,
        std::function<void(std::string)> done) override;
    int requests = 0;

   private:
    FakeRuntime& owner_;
  };
  PostedHashing hashing{*this};
};

}  // namespace zorvex::testing
