#pragma once
// TCP streams on Qt's event loop: QTcpServer for the download listener, QTcpSocket for transfer
// connections. Both use the node's address: the listener binds it, an outgoing stream binds it
// as its source, so that nodes on 127.0.0.2, 127.0.0.3, ... see each other under their own
// addresses. Everything must be used on the loop's thread.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <QHostAddress>

#include "core/runtime.h"

class QTcpServer;
class QTcpSocket;

namespace zorvex {

// The dotted IPv4 text of an address, without the "::ffff:" of a mapped one.
std::string DottedIPv4(const QHostAddress& address);

class QtStreamSocket final : public StreamSocket {
 public:
  // An outgoing stream from `source`; AnyIPv4 leaves the source to the system.
  explicit QtStreamSocket(QHostAddress source);
  // An accepted, connected stream; it never reports OnConnected.
  explicit QtStreamSocket(std::unique_ptr<QTcpSocket> accepted);
  // Aborts the connection; after Close the connection is no longer this object's.
  ~QtStreamSocket() override;
  QtStreamSocket(const QtStreamSocket&) = delete;
  QtStreamSocket& operator=(const QtStreamSocket&) = delete;

  void SetHandler(StreamHandler* handler) override;
  void Connect(const std::string& address, std::uint16_t port) override;
  bool Send(std::string_view bytes) override;
  std::size_t PendingBytes() const override;
  // Sends what is queued, shuts the sending side and keeps the connection, apart from this
  // object, until the far side closes as well; this side hears nothing more.
  void Close() override;
  std::string PeerAddress() const override { return peer_; }
  void SetReadPaused(bool paused) override;

 private:
  enum class State { kIdle, kConnecting, kOpen, kClosed };

  void Watch();
  void Connected();
  void Read();
  void Written(qint64 bytes);
  void Lost(bool failed);
  void FailLater();
  // Runs a callback step; the handler may destroy this object inside it.
  template <typename F>
  void Guarded(F&& step);

  QHostAddress source_;
  std::unique_ptr<QTcpSocket> socket_;
  StreamHandler* handler_ = nullptr;
  std::string peer_;
  State state_ = State::kIdle;
  bool read_paused_ = false;
  bool receive_buffer_capped_ = false;
  std::vector<char> read_buffer_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  int in_signal_ = 0;
};

class QtStreamListener final : public StreamListener {
 public:
  // Listens on `address`; AnyIPv4 listens on every address.
  QtStreamListener(StreamListenerHandler& handler, QHostAddress address);
  ~QtStreamListener() override;
  QtStreamListener(const QtStreamListener&) = delete;
  QtStreamListener& operator=(const QtStreamListener&) = delete;

  // Stops any earlier listening first; port 0 picks a free port, which Port() then reports.
  bool Listen(std::uint16_t port) override;
  void Close() override;
  std::uint16_t Port() const override;

 private:
  void Accept();

  StreamListenerHandler& handler_;
  QHostAddress address_;
  std::unique_ptr<QTcpServer> server_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  int in_signal_ = 0;
};

}  // namespace zorvex
