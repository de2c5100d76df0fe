#include "platform/qt/qt_streams.h"

#include <sys/ioctl.h>
#include <sys/socket.h>

#include <linux/sockios.h>

#include <memory>
#include <utility>

#include <QByteArray>
#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace zorvex {
namespace {

// A closed stream waits for the far side's close as long as its bytes keep leaving, and at most
// this long without progress, or in all.
constexpr int kLingerIdleMs = 30'000;
constexpr int kLingerMostMs = 15 * 60'000;
constexpr int kLingerCheckMs = 1000;
constexpr qint64 kPausedReadBufferBytes = 16 * 1024;
constexpr int kPausingReceiveBufferBytes = 256 * 1024;
constexpr std::size_t kReadChunkBytes = 256 * 1024;

// Bytes of ours the far side has not acknowledged yet; -1 when unknown.
int UnacknowledgedBytes(QTcpSocket* socket) {
  int queued = -1;
  const auto fd = socket->socketDescriptor();
  if (fd < 0 || ::ioctl(static_cast<int>(fd), SIOCOUTQ, &queued) != 0) return -1;
  return queued;
}

// A closed stream delivers everything it was given before it goes: once the queue is out, its
// sending side is shut, and it lives on, discarding what comes, until the far side closes too.
// Going at once would leave the tail to the system, which resets the connection, and drops what
// the far side has not read yet, as soon as a byte arrives for the closed socket, or when a slow
// reader keeps it waiting too long.
void Linger(QTcpSocket* socket) {
  QObject::disconnect(socket, nullptr, nullptr, nullptr);
  // The application owns it, so one still waiting when the program ends goes with it.
  socket->setParent(QCoreApplication::instance());
  socket->setReadBufferSize(0);
  const auto shut = [socket] {
    if (socket->bytesToWrite() == 0 && socket->state() == QAbstractSocket::ConnectedState) {
      ::shutdown(static_cast<int>(socket->socketDescriptor()), SHUT_WR);
    }
  };
  // Deleting a socket that is still connected aborts it.
  const auto end = [socket] { socket->deleteLater(); };
  QObject::connect(socket, &QTcpSocket::bytesWritten, socket, shut);
  QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
  QObject::connect(socket, &QTcpSocket::disconnected, socket, end);
  QObject::connect(socket, &QTcpSocket::errorOccurred, socket, end);
  if (socket->state() != QAbstractSocket::ConnectedState) {
    end();
    return;
  }
  shut();
  auto* timer = new QTimer(socket);
  struct Progress {
    int waited_ms = 0;
    int idle_ms = 0;
    int unacknowledged = -1;
  };
  timer->callOnTimeout(socket, [socket, end, progress = std::make_shared<Progress>()] {
    const int now = UnacknowledgedBytes(socket) + static_cast<int>(socket->bytesToWrite());
    progress->idle_ms = now != progress->unacknowledged ? 0 : progress->idle_ms + kLingerCheckMs;
    progress->unacknowledged = now;
    progress->waited_ms += kLingerCheckMs;
    if (progress->idle_ms >= kLingerIdleMs || progress->waited_ms >= kLingerMostMs) end();
  });
  timer->start(kLingerCheckMs);
}

}  // namespace

std::string DottedIPv4(const QHostAddress& address) {
  bool ok = false;
  const quint32 v4 = address.toIPv4Address(&ok);
  if (ok) return QHostAddress(v4).toString().toStdString();
  std::string text = address.toString().toStdString();
  constexpr std::string_view kMapped = "::ffff:";
  if (text.starts_with(kMapped)) text.erase(0, kMapped.size());
  return text;
}

// --- QtStreamSocket ---

QtStreamSocket::QtStreamSocket(QHostAddress source)
    : source_(std::move(source)), socket_(std::make_unique<QTcpSocket>()) {
  Watch();
}

QtStreamSocket::QtStreamSocket(std::unique_ptr<QTcpSocket> accepted)
    : socket_(std::move(accepted)),
      peer_(DottedIPv4(socket_->peerAddress())),
      state_(State::kOpen) {
  Watch();
}

QtStreamSocket::~QtStreamSocket() {
  *alive_ = false;
  QTcpSocket* socket = socket_.release();
  QObject::disconnect(socket, nullptr, nullptr, nullptr);
  socket->abort();
  // Inside one of the socket's own signals it must outlive the current event.
  if (in_signal_ > 0) {
    socket->deleteLater();
  } else {
    delete socket;
  }
}

void QtStreamSocket::Watch() {
  QTcpSocket* socket = socket_.get();
  QObject::connect(socket, &QTcpSocket::connected, [this] { Guarded([this] { Connected(); }); });
  QObject::connect(socket, &QTcpSocket::readyRead, [this] { Guarded([this] { Read(); }); });
  QObject::connect(socket, &QTcpSocket::bytesWritten,
                   [this](qint64 bytes) { Guarded([this, bytes] { Written(bytes); }); });
  QObject::connect(socket, &QTcpSocket::disconnected, [this] { Guarded([this] { Lost(false); }); });
  QObject::connect(socket, &QTcpSocket::errorOccurred, [this](QAbstractSocket::SocketError error) {
    Guarded([this, error] { Lost(error != QAbstractSocket::RemoteHostClosedError); });
  });
}

template <typename F>
void QtStreamSocket::Guarded(F&& step) {
  const auto alive = alive_;
  ++in_signal_;
  step();
  if (*alive) --in_signal_;
}

void QtStreamSocket::SetHandler(StreamHandler* handler) {
  handler_ = handler;
  if (handler_ == nullptr || state_ != State::kOpen || socket_->bytesAvailable() == 0) return;
  // Bytes that came before anyone listened: hand them over from the loop, not from in here.
  QTimer::singleShot(0, socket_.get(), [this, alive = alive_] {
    if (*alive) Guarded([this] { Read(); });
  });
}

void QtStreamSocket::Connect(const std::string& address, std::uint16_t port) {
  state_ = State::kClosed;  // the abort below reports nothing
  socket_->abort();
  QHostAddress target;
  if (!target.setAddress(QString::fromStdString(address)) ||
      target.protocol() != QAbstractSocket::IPv4Protocol || port == 0) {
    peer_.clear();
    FailLater();
    return;
  }
  peer_ = DottedIPv4(target);
  if (source_ != QHostAddress(QHostAddress::AnyIPv4) &&
      !socket_->bind(source_, 0, QAbstractSocket::DontShareAddress)) {
    FailLater();
    return;
  }
  // An error raised inside connectToHost is reported from the loop, as every other outcome is.
  socket_->connectToHost(target, port);
  if (socket_->state() == QAbstractSocket::UnconnectedState) {
    FailLater();
  } else {
    state_ = State::kConnecting;
  }
}

void QtStreamSocket::FailLater() {
  state_ = State::kConnecting;
  QTimer::singleShot(0, socket_.get(), [this, alive = alive_] {
    if (*alive) Guarded([this] { Lost(true); });
  });
}

bool QtStreamSocket::Send(std::string_view bytes) {
  if (state_ != State::kOpen) return false;
  if (bytes.empty()) return true;
  const qint64 queued = socket_->write(bytes.data(), static_cast<qint64>(bytes.size()));
  return queued == static_cast<qint64>(bytes.size());
}

std::size_t QtStreamSocket::PendingBytes() const {
  return static_cast<std::size_t>(socket_->bytesToWrite());
}

void QtStreamSocket::Close() {
  if (state_ == State::kIdle || state_ == State::kClosed) return;
  const bool was_open = state_ == State::kOpen;
  state_ = State::kClosed;
  if (!was_open) {
    socket_->abort();
    return;
  }
  // The connection goes its own way; this stream keeps an unconnected socket.
  Linger(socket_.release());
  socket_ = std::make_unique<QTcpSocket>();
  Watch();
}

void QtStreamSocket::Connected() {
  if (state_ != State::kConnecting) return;
  state_ = State::kOpen;
  peer_ = DottedIPv4(socket_->peerAddress());
  if (handler_) handler_->OnConnected();
}

void QtStreamSocket::SetReadPaused(bool paused) {
  if (read_paused_ == paused) return;
  read_paused_ = paused;
  // A small buffer makes Qt stop taking bytes from the system while nothing is read. A reader
  // that pauses is being slowed down: the system's own buffer is kept small too, so that the far
  // side is held back soon rather than after tens of megabytes have piled up here.
  socket_->setReadBufferSize(paused ? kPausedReadBufferBytes : 0);
  if (paused && !receive_buffer_capped_) {
    receive_buffer_capped_ = true;
    socket_->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption,
                             kPausingReceiveBufferBytes);
  }
  if (paused || state_ != State::kOpen || socket_->bytesAvailable() == 0) return;
  QTimer::singleShot(0, socket_.get(), [this, alive = alive_] {
    if (*alive) Guarded([this] { Read(); });
  });
}

void QtStreamSocket::Read() {
  // Through a buffer of the stream's own: taking Qt's buffer whole would have it allocate a new
  // one, megabytes at a time, for every read.
  const auto alive = alive_;
  while (state_ == State::kOpen && handler_ != nullptr && !read_paused_) {
    if (read_buffer_.empty()) read_buffer_.resize(kReadChunkBytes);
    const qint64 got = socket_->read(read_buffer_.data(), static_cast<qint64>(read_buffer_.size()));
    if (got <= 0) return;
    handler_->OnData(std::string_view(read_buffer_.data(), static_cast<std::size_t>(got)));
    if (!*alive) return;
  }
}

void QtStreamSocket::Written(qint64 bytes) {
  if (state_ != State::kOpen || handler_ == nullptr || bytes <= 0) return;
  handler_->OnSent(static_cast<std::size_t>(bytes));
}

void QtStreamSocket::Lost(bool failed) {
  if (state_ != State::kConnecting && state_ != State::kOpen) return;
  // Bytes still waiting to leave never reach the far side: that is no orderly end.
  failed = failed || state_ == State::kConnecting || socket_->bytesToWrite() > 0;
  if (state_ == State::kOpen && handler_ && socket_->bytesAvailable() > 0) {
    // The last bytes before the close still count, paused or not.
    read_paused_ = false;
    const auto alive = alive_;
    Read();
    if (!*alive || state_ != State::kOpen) return;
  }
  state_ = State::kClosed;
  if (!handler_) return;
  if (failed) {
    handler_->OnFailed();
  } else {
    handler_->OnClosed();
  }
}

// --- QtStreamListener ---

QtStreamListener::QtStreamListener(StreamListenerHandler& handler, QHostAddress address)
    : handler_(handler), address_(std::move(address)), server_(std::make_unique<QTcpServer>()) {
  QObject::connect(server_.get(), &QTcpServer::newConnection, [this] { Accept(); });
}

QtStreamListener::~QtStreamListener() {
  *alive_ = false;
  QTcpServer* server = server_.release();
  QObject::disconnect(server, nullptr, nullptr, nullptr);
  server->close();
  if (in_signal_ > 0) {
    server->deleteLater();
  } else {
    delete server;
  }
}

bool QtStreamListener::Listen(std::uint16_t port) {
  server_->close();
  return server_->listen(address_, port);
}

void QtStreamListener::Close() {
  server_->close();
}

std::uint16_t QtStreamListener::Port() const {
  return server_->isListening() ? server_->serverPort() : 0;
}

void QtStreamListener::Accept() {
  const auto alive = alive_;
  ++in_signal_;
  while (*alive && server_->hasPendingConnections()) {
    QTcpSocket* socket = server_->nextPendingConnection();
    if (socket == nullptr) break;
    socket->setParent(nullptr);  // the stream outlives the listener
    handler_.OnIncoming(std::make_unique<QtStreamSocket>(std::unique_ptr<QTcpSocket>(socket)));
  }
  if (*alive) --in_signal_;
}

}  // namespace zorvex
