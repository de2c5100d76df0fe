#pragma once
// The ports of one node on Qt's event loop: QTimer timers, queued calls, a UDP socket bound to the
// node's IPv4 address, TCP streams on it, QNetworkAccessManager for HTTP, and prompts written to
// the terminal. Everything must be used on the thread that runs the QCoreApplication's loop.

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>

#include "core/random.h"
#include "core/runtime.h"
#include "platform/qt/qt_hashing.h"
#include "platform/qt/qt_streams.h"

class QNetworkAccessManager;

namespace zorvex {

// Headless prompts: every message box, question and beep becomes one line on a stream; questions
// are answered yes.
class TerminalPrompts final : public UserPrompts {
 public:
  TerminalPrompts();  // standard error
  explicit TerminalPrompts(std::ostream& out);

  void MessageBox(std::string_view text, std::string_view title, PromptIcon icon) override;
  bool AskYesNo(std::string_view text, std::string_view title) override;
  void Beep() override;

 private:
  std::ostream& out_;
};

class QtRuntime final : public Runtime {
 public:
  // The node's IPv4 address; empty or "0.0.0.0" binds every address.
  explicit QtRuntime(const std::string& bind_address = {});
  ~QtRuntime() override;
  QtRuntime(const QtRuntime&) = delete;
  QtRuntime& operator=(const QtRuntime&) = delete;

  std::int64_t NowMs() const override;
  std::unique_ptr<Timer> CreateTimer(TimerKind kind, std::function<void()> on_fire) override;
  void Post(std::function<void()> task) override;
  std::unique_ptr<DatagramSocket> CreateDatagramSocket(DatagramHandler& handler) override;
  // Listens on the bind address; streams connect out from it.
  std::unique_ptr<StreamListener> CreateStreamListener(StreamListenerHandler& handler) override;
  std::unique_ptr<StreamSocket> CreateStreamSocket() override;
  std::unique_ptr<PendingRequest> HttpGet(const std::string& url,
                                          std::function<void(std::string body)> done) override;
  HashingService& Hashing() override { return hashing_; }
  RandomSource& Random() override { return random_; }
  UserPrompts& Prompts() override { return *prompts_; }

  // Replaces the terminal prompts (for a desktop client); the object must outlive the runtime.
  void SetPrompts(UserPrompts& prompts) { prompts_ = &prompts; }
  // Tests shorten the time-outs of HTTP requests: 10 s of silence, 30 s altogether.
  void SetHttpTimeout(std::chrono::milliseconds silence, std::chrono::milliseconds whole) {
    http_timeout_ = silence;
    http_whole_timeout_ = whole;
  }

  // The dotted address the node binds, "0.0.0.0" for any.
  std::string BindAddress() const;

 private:
  QHostAddress bind_address_;
  QElapsedTimer clock_;
  QObject context_;  // owner of queued calls: they die with the runtime
  std::unique_ptr<QNetworkAccessManager> network_;
  std::chrono::milliseconds http_timeout_{10000};
  std::chrono::milliseconds http_whole_timeout_{30000};
  SeededRandom random_;
  QtHashingService hashing_;
  TerminalPrompts terminal_prompts_;
  UserPrompts* prompts_;
};

// A gateway page lists a few dozen addresses; a body beyond this is not one.
inline constexpr qint64 kMaxHttpBodyBytes = 256 * 1024;

// The first non-loopback IPv4 address of an interface that is up, else "127.0.0.1".
std::string PrimaryIPv4Address();

}  // namespace zorvex
