#pragma once
// The ports through which a node reaches the world. A node holds no Qt and no sockets of its own:
// the Qt platform implements these with real timers and sockets, the simulated platform with a
// virtual clock and an in-memory network. Every callback runs on the node's one loop thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/random.h"

namespace zorvex {

enum class TimerKind { kRepeating, kSingleShot };

class Timer {
 public:
  virtual ~Timer() = default;  // destroying a timer cancels it
  // Starts, or restarts from now, with the interval; a repeating timer fires every interval
  // until stopped, a single-shot one once.
  virtual void Start(std::int64_t interval_ms) = 0;
  virtual void Stop() = 0;
  virtual bool IsActive() const = 0;
};

// Receives what arrives on a datagram socket.
class DatagramHandler {
 public:
  virtual ~DatagramHandler() = default;
  // One datagram; `sender` is the sender's dotted IPv4 address, without a port.
  virtual void OnDatagram(std::string payload, std::string sender) = 0;
  virtual void OnSocketError() = 0;
};

class DatagramSocket {
 public:
  virtual ~DatagramSocket() = default;
  // Binds the port on the node's address; false when the port cannot be had.
  virtual bool Bind(std::uint16_t port) = 0;
  virtual void Close() = 0;
  // Sends one datagram; false when the send failed at once (bad address, socket closed).
  virtual bool SendTo(std::string_view payload, const std::string& address, std::uint16_t port) = 0;
  // The socket's local dotted IPv4 address; for a socket bound to any address, the address of
  // the machine's primary interface. Empty when unknown.
  virtual std::string LocalAddress() const = 0;
};

// Receives what happens on one TCP stream.
class StreamHandler {
 public:
  virtual ~StreamHandler() = default;
  // A connection opened with Connect is up; accepted streams are connected from the start.
  virtual void OnConnected() {}
  // Bytes as they arrived; one send on the far side may arrive split or joined with others.
  virtual void OnData(std::string_view bytes) = 0;
  // Send completion: `bytes` more of what was handed to Send have left for the wire.
  virtual void OnSent(std::size_t bytes) = 0;
  // The far side closed the connection in order; nothing arrives after it.
  virtual void OnClosed() = 0;
  // The connection broke instead: refused, reset, unreachable, or closed by the far side while
  // bytes of ours were still on their way. Nothing arrives after it. Unless a handler tells the
  // two apart, a failure is a close.
  virtual void OnFailed() { OnClosed(); }
};

class StreamSocket {
 public:
  // Destroying a stream aborts it without callbacks (after Close, queued bytes still go out).
  virtual ~StreamSocket() = default;
  virtual void SetHandler(StreamHandler* handler) = 0;
  // Opens a connection from the node's own address; OnConnected or OnClosed follow.
  virtual void Connect(const std::string& address, std::uint16_t port) = 0;
  // Queues the bytes; false when the stream is not connected.
  virtual bool Send(std::string_view bytes) = 0;
  // Bytes handed to Send that have not left yet.
  virtual std::size_t PendingBytes() const = 0;
  // Sends what is queued, then closes; this side gets no callback after it. Every byte queued
  // reaches the far side, however slowly it reads and whatever it sends meanwhile: the stream
  // ends its sending first and goes only when the far side closes too (or after a time-out).
  virtual void Close() = 0;
  // The far side's dotted IPv4 address.
  virtual std::string PeerAddress() const = 0;
  // While paused, nothing is read: what arrives waits (in the system's buffers, so that TCP's
  // flow control slows the far side down) and is delivered after resuming.
  virtual void SetReadPaused(bool paused) { (void)paused; }
};

class StreamListenerHandler {
 public:
  virtual ~StreamListenerHandler() = default;
  // An accepted connection; whoever takes it sets its handler, else dropping it closes it.
  virtual void OnIncoming(std::unique_ptr<StreamSocket> stream) = 0;
};

class StreamListener {
 public:
  virtual ~StreamListener() = default;
  // Listens on the port of the node's address, stopping any earlier listening first; port 0
  // picks a free port, which Port() reports. False when the port cannot be had.
  virtual bool Listen(std::uint16_t port) = 0;
  virtual void Close() = 0;
  virtual std::uint16_t Port() const = 0;  // 0 when not listening
};

// A request in flight; destroying it guarantees its callback never runs.
class PendingRequest {
 public:
  virtual ~PendingRequest() = default;
};

enum class PromptIcon { kNone, kCritical, kExclamation, kInformation, kQuestion };

// The title of message boxes that name no title of their own.
inline constexpr std::string_view kAppTitle = "Zorvex";

class UserPrompts {
 public:
  virtual ~UserPrompts() = default;
  virtual void MessageBox(std::string_view text, std::string_view title, PromptIcon icon) = 0;
  // A yes/no question; true for yes.
  virtual bool AskYesNo(std::string_view text, std::string_view title) = 0;
  virtual void Beep() = 0;
};

// Hashes files away from the loop: a worker thread on the Qt platform, steps in virtual time in
// the simulator. Progress and the result are delivered on the loop thread.
class HashingService {
 public:
  virtual ~HashingService() = default;
  // Reads the file in blocks of `block_size` and digests it with MD5. `progress` receives bytes
  // done and the file's size after each block; `done` receives the 32 upper-case hex digits, or
  // an empty text on any failure. Destroying the returned request stops the work and guarantees
  // that neither callback runs again.
  virtual std::unique_ptr<PendingRequest> HashFile(
      const std::string& path, std::int32_t block_size,
      std::function<void(std::int64_t done, std::int64_t size)> progress,
      std::function<void(std::string hash)> done) = 0;
  // Runs other file work the same way: `step` is called off the loop (on the worker thread, or
  // once per virtual-time step) until it returns false, then `done` runs on the loop. `step` may
  // touch only what it owns. Destroying the returned request stops the work between two steps
  // and guarantees that `done` never runs.
  virtual std::unique_ptr<PendingRequest> RunSteps(std::function<bool()> step,
                                                   std::function<void()> done) = 0;
};

class Runtime {
 public:
  virtual ~Runtime() = default;

  // Monotonic milliseconds.
  virtual std::int64_t NowMs() const = 0;
  virtual std::unique_ptr<Timer> CreateTimer(TimerKind kind, std::function<void()> on_fire) = 0;
  // Runs the task on the loop after the events already waiting.
  virtual void Post(std::function<void()> task) = 0;

  virtual std::unique_ptr<DatagramSocket> CreateDatagramSocket(DatagramHandler& handler) = 0;
  virtual std::unique_ptr<StreamListener> CreateStreamListener(StreamListenerHandler& handler) = 0;
  virtual std::unique_ptr<StreamSocket> CreateStreamSocket() = 0;

  // GET of a URL ("http://" is assumed when the scheme is missing); `done` receives the whole
  // body, or an empty text on any failure or time-out.
  virtual std::unique_ptr<PendingRequest> HttpGet(const std::string& url,
                                                  std::function<void(std::string body)> done) = 0;

  virtual HashingService& Hashing() = 0;

  virtual RandomSource& Random() = 0;
  virtual UserPrompts& Prompts() = 0;
};

}  // namespace zorvex
