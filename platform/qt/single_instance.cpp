#include "platform/qt/single_instance.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <system_error>
#include <utility>

#include <QByteArray>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

namespace zorvex {
namespace {

constexpr char kCommand = 'C';
constexpr char kStatus = 'S';
constexpr char kRequest = 'R';
constexpr char kAck = 'A';
constexpr std::size_t kHeaderSize = 5;
// Commands and status texts are small; anything bigger is not from a copy of this program.
constexpr std::uint32_t kMaxFrame = 1 << 20;
// A connection that sends no whole request in this time is dropped.
constexpr int kIdleMs = 5000;

QByteArray Length(std::uint32_t size) {
  QByteArray out(4, '\0');
  for (int i = 0; i < 4; ++i)
    out[i] = static_cast<char>((size >> (24 - 8 * i)) & 0xFF);
  return out;
}

std::uint32_t ReadLength(const QByteArray& bytes, qsizetype at) {
  std::uint32_t size = 0;
  for (int i = 0; i < 4; ++i)
    size = (size << 8) | static_cast<unsigned char>(bytes[at + i]);
  return size;
}

QByteArray Frame(char kind, std::string_view body) {
  QByteArray frame(1, kind);
  frame += Length(static_cast<std::uint32_t>(body.size()));
  frame.append(body.data(), static_cast<qsizetype>(body.size()));
  return frame;
}

struct Request {
  QByteArray bytes;
  bool answered = false;
};

// Waits, without an event loop, until `count` bytes are readable.
bool WaitForBytes(QLocalSocket& socket, qint64 count, const QDeadlineTimer& deadline) {
  while (socket.bytesAvailable() < count) {
    if (deadline.hasExpired() ||
        !socket.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())))) {
      return false;
    }
  }
  return true;
}

// Connects and sends one request; null when no copy listens.
std::unique_ptr<QLocalSocket> Send(const std::filesystem::path& home, const QByteArray& frame,
                                   const QDeadlineTimer& deadline) {
  auto socket = std::make_unique<QLocalSocket>();
  socket->connectToServer(InstanceServerName(home));
  if (!socket->waitForConnected(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())))) {
    return nullptr;
  }
  socket->write(frame);
  while (socket->bytesToWrite() > 0) {
    if (deadline.hasExpired() || !socket->waitForBytesWritten(static_cast<int>(
                                     std::max<qint64>(1, deadline.remainingTime())))) {
      return nullptr;
    }
  }
  return socket;
}

// Only the user's own copies may send commands, whatever the socket file's permissions.
bool FromThisUser(const QLocalSocket& socket) {
  ucred credentials{};
  socklen_t size = sizeof credentials;
  return ::getsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED,
                      &credentials, &size) == 0 &&
         credentials.uid == ::getuid();
}

std::filesystem::path CanonicalFolder(const std::filesystem::path& home) {
  std::error_code error;
  std::filesystem::path path = std::filesystem::absolute(home, error);
  if (error) path = home;
  if (auto canonical = std::filesystem::weakly_canonical(path, error); !error) path = canonical;
  path = path.lexically_normal();
  // The same folder with or without a trailing separator is one folder.
  auto text = path.string();
  while (text.size() > 1 && text.back() == '/')
    text.pop_back();
  return text;
}

}  // namespace

QString InstanceServerName(const std::filesystem::path& home) {
  const std::string folder = CanonicalFolder(home).string();
  const QByteArray hash = QCryptographicHash::hash(
      QByteArray(folder.data(), static_cast<qsizetype>(folder.size())), QCryptographicHash::Sha256);
  return QStringLiteral("zorvex-%1-%2")
      .arg(static_cast<qulonglong>(::getuid()))
      .arg(QString::fromLatin1(hash.toHex().left(24)));
}

SingleInstanceServer::SingleInstanceServer(CommandHandler on_command, StatusProvider status,
                                           RequestHandler on_request)
    : on_command_(std::move(on_command)),
      status_(std::move(status)),
      on_request_(std::move(on_request)) {}

SingleInstanceServer::~SingleInstanceServer() = default;

InstanceClaim SingleInstanceServer::Listen(const std::filesystem::path& home) {
  const QString name = InstanceServerName(home);
  // No socket options: with them Qt renames its socket over an existing one, while a plain
  // bind fails when the name is taken, which is the test this guard needs.
  server_ = std::make_unique<QLocalServer>();
  QObject::connect(server_.get(), &QLocalServer::newConnection, [this] { Accept(); });
  if (server_->listen(name)) return InstanceClaim::kClaimed;
  if (server_->serverError() == QAbstractSocket::AddressInUseError) {
    QLocalSocket probe;
    probe.connectToServer(name);
    if (probe.waitForConnected(static_cast<int>(kInstanceTimeout.count()))) {
      probe.abort();
      server_.reset();
      return InstanceClaim::kOtherCopy;
    }
    // Nobody answers: the name was left by a copy that did not end cleanly.
    QLocalServer::removeServer(name);
    if (server_->listen(name)) return InstanceClaim::kClaimed;
  }
  error_ = server_->errorString().toStdString();
  server_.reset();
  return InstanceClaim::kFailed;
}

void SingleInstanceServer::Accept() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    if (!FromThisUser(*socket)) {
      socket->abort();
      socket->deleteLater();
      continue;
    }
    auto request = std::make_shared<Request>();
    auto* idle = new QTimer(socket);
    idle->setSingleShot(true);
    QObject::connect(idle, &QTimer::timeout, socket, [socket] {
      socket->abort();
      socket->deleteLater();
    });
    idle->start(kIdleMs);
    QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket, request, idle] {
      QByteArray& buffer = request->bytes;
      if (request->answered) {
        socket->readAll();
        return;
      }
      buffer += socket->readAll();
      if (static_cast<std::size_t>(buffer.size()) < kHeaderSize) return;
      const char kind = buffer.at(0);
      const std::uint32_t size = ReadLength(buffer, 1);
      if ((kind != kCommand && kind != kStatus && kind != kRequest) || size > kMaxFrame) {
        socket->abort();
        socket->deleteLater();
        return;
      }
      if (static_cast<std::size_t>(buffer.size()) < kHeaderSize + size) return;
      const QByteArray body = buffer.mid(kHeaderSize, size);
      buffer.clear();
      request->answered = true;
      idle->stop();
      if (kind == kCommand) {
        // Acknowledged before it runs: the second copy does not wait for the command.
        socket->write(QByteArray(1, kAck));
        socket->disconnectFromServer();
        if (on_command_) on_command_(body.toStdString());
      } else {
        std::string text;
        if (kind == kStatus && status_) text = status_();
        if (kind == kRequest && on_request_) text = on_request_(body.toStdString());
        socket->write(Length(static_cast<std::uint32_t>(text.size())));
        socket->write(text.data(), static_cast<qint64>(text.size()));
        socket->disconnectFromServer();
      }
    });
  }
}

bool ForwardCommand(const std::filesystem::path& home, std::string_view command,
                    std::chrono::milliseconds timeout) {
  const QDeadlineTimer deadline(timeout.count());
  auto socket = Send(home, Frame(kCommand, command), deadline);
  if (!socket || !WaitForBytes(*socket, 1, deadline)) return false;
  char ack = 0;
  return socket->read(&ack, 1) == 1 && ack == kAck;
}

namespace {

std::optional<std::string> Ask(const std::filesystem::path& home, char kind, std::string_view body,
                               std::chrono::milliseconds timeout) {
  const QDeadlineTimer deadline(timeout.count());
  auto socket = Send(home, Frame(kind, body), deadline);
  if (!socket || !WaitForBytes(*socket, 4, deadline)) return std::nullopt;
  const std::uint32_t size = ReadLength(socket->read(4), 0);
  if (size > kMaxFrame || !WaitForBytes(*socket, size, deadline)) return std::nullopt;
  return socket->read(size).toStdString();
}

}  // namespace

std::optional<std::string> RequestStatus(const std::filesystem::path& home,
                                         std::chrono::milliseconds timeout) {
  return Ask(home, kStatus, {}, timeout);
}

std::optional<std::string> SendRequest(const std::filesystem::path& home, std::string_view request,
                                       std::chrono::milliseconds timeout) {
  return Ask(home, kRequest, request, timeout);
}

}  // namespace zorvex
