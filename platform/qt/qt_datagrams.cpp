#include "platform/qt/qt_datagrams.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <memory>
#include <string>

#include <QSocketNotifier>

#include "platform/qt/qt_runtime.h"
#include "platform/qt/qt_streams.h"

namespace zorvex {
namespace {

// The dotted text of an address without printf; "255.255.255.255" still fits a short string's
// own storage, so no allocation either.
std::string Dotted(const in_addr& address) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&address.s_addr);
  std::array<char, INET_ADDRSTRLEN> text{};
  char* out = text.data();
  for (int i = 0; i < 4; ++i) {
    if (i > 0) *out++ = '.';
    out = std::to_chars(out, text.data() + text.size(), bytes[i]).ptr;
  }
  return std::string(text.data(), out);
}

class QtDatagramSocket final : public DatagramSocket {
 public:
  QtDatagramSocket(DatagramHandler& handler, const QHostAddress& address)
      : handler_(handler), address_(address) {}

  ~QtDatagramSocket() override {
    *alive_ = false;
    Close();
  }

  bool Bind(std::uint16_t port) override {
    Close();
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(address_.toIPv4Address());
    // No SO_REUSEADDR: a second program cannot take the same port.
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
      ::close(fd);
      return false;
    }
    // Room for the datagrams that arrive while a queue tick runs (the system may give less).
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer, sizeof kReceiveBuffer);
    if (!buffer_) {
      // Left uninitialised: only the pages datagrams land on ever become resident.
      buffer_ = std::make_unique_for_overwrite<char[]>(kSlots * kSlotBytes);
      for (std::size_t i = 0; i < kSlots; ++i) {
        vectors_[i] = {buffer_.get() + i * kSlotBytes, kSlotBytes};
        headers_[i].msg_hdr.msg_iov = &vectors_[i];
        headers_[i].msg_hdr.msg_iovlen = 1;
        headers_[i].msg_hdr.msg_name = &senders_[i];
      }
    }
    fd_ = fd;
    ++generation_;
    notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { Drain(); });
    return true;
  }

  void Close() override {
    if (notifier_) {
      notifier_->setEnabled(false);
      QObject::disconnect(notifier_.get(), nullptr, nullptr, nullptr);
      // Inside its own signal the notifier must outlive the current event.
      if (in_signal_ > 0) {
        notifier_.release()->deleteLater();
      } else {
        notifier_.reset();
      }
    }
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    ++generation_;
  }

  bool SendTo(std::string_view payload, const std::string& address, std::uint16_t port) override {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    if (fd_ < 0 || ::inet_pton(AF_INET, address.c_str(), &target.sin_addr) != 1) return false;
    ssize_t sent = -1;
    do {
      sent = ::sendto(fd_, payload.data(), payload.size(), 0,
                      reinterpret_cast<const sockaddr*>(&target), sizeof target);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(payload.size());
  }

  std::string LocalAddress() const override {
    if (address_ == QHostAddress(QHostAddress::AnyIPv4)) return PrimaryIPv4Address();
    return DottedIPv4(address_);
  }

 private:
  // Reads one batch, then lets the loop run (timers, the queue tick) before the next batch: a
  // flood then cannot keep the node inside this loop. The handler may close, bind again or
  // destroy the socket; what was read before that is dropped, as the system would have.
  void Drain() {
    const auto alive = alive_;
    const std::uint64_t generation = generation_;
    ++in_signal_;
    std::size_t read = 0;
    while (read < kDatagramBatch) {
      const std::size_t want = std::min(kSlots, kDatagramBatch - read);
      for (std::size_t i = 0; i < want; ++i)
        headers_[i].msg_hdr.msg_namelen = sizeof(sockaddr_in);
      const int got = ::recvmmsg(fd_, headers_.data(), static_cast<unsigned>(want), 0, nullptr);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK) handler_.OnSocketError();
      if (got <= 0 || !Deliver(static_cast<std::size_t>(got), alive, generation)) break;
      read += static_cast<std::size_t>(got);
      if (static_cast<std::size_t>(got) < want) break;  // nothing more waiting
    }
    if (*alive) --in_signal_;
  }

  // False once the handler closed or destroyed the socket.
  bool Deliver(std::size_t count, const std::shared_ptr<bool>& alive, std::uint64_t generation) {
    for (std::size_t i = 0; i < count; ++i) {
      const sockaddr_in& from = senders_[i];
      if (headers_[i].msg_hdr.msg_namelen < sizeof from || from.sin_family != AF_INET) continue;
      handler_.OnDatagram(std::string(buffer_.get() + i * kSlotBytes, headers_[i].msg_len),
                          Dotted(from.sin_addr));
      if (!*alive || generation_ != generation) return false;
    }
    return true;
  }

  static constexpr std::size_t kDatagramBatch = 256;
  static constexpr std::size_t kSlots = 32;         // datagrams per system call
  static constexpr std::size_t kSlotBytes = 65536;  // above the largest IPv4 datagram
  static constexpr int kReceiveBuffer = 4 * 1024 * 1024;

  DatagramHandler& handler_;
  QHostAddress address_;
  int fd_ = -1;
  std::uint64_t generation_ = 0;  // changes with every close and bind
  std::unique_ptr<QSocketNotifier> notifier_;
  std::unique_ptr<char[]> buffer_;
  std::array<iovec, kSlots> vectors_{};
  std::array<mmsghdr, kSlots> headers_{};
  std::array<sockaddr_in, kSlots> senders_{};
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  int in_signal_ = 0;
};

}  // namespace

std::unique_ptr<DatagramSocket> CreateQtDatagramSocket(DatagramHandler& handler,
                                                       const QHostAddress& address) {
  return std::make_unique<QtDatagramSocket>(handler, address);
}

}  // namespace zorvex
