#include "platform/qt/qt_runtime.h"

#include <algorithm>
#include <iostream>
#include <limits>
#include <random>
#include <utility>

#include <QByteArray>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkAddressEntry>
#include <QNetworkInterface>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include "platform/qt/qt_datagrams.h"
#include "platform/qt/terminal_text.h"

namespace zorvex {
namespace {

std::uint64_t FreshSeed() {
  std::random_device device;
  return (static_cast<std::uint64_t>(device()) << 32) ^ device();
}

// Deletes a Qt object now, or after the current event when it is inside one of its own signals.
template <typename T>
void Dispose(std::unique_ptr<T>& object, bool in_own_signal) {
  if (!object) return;
  if (in_own_signal) {
    object.release()->deleteLater();
  } else {
    object.reset();
  }
}

class QtTimer final : public Timer {
 public:
  QtTimer(TimerKind kind, std::function<void()> on_fire)
      : timer_(std::make_unique<QTimer>()), on_fire_(std::move(on_fire)) {
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setSingleShot(kind == TimerKind::kSingleShot);
    QObject::connect(timer_.get(), &QTimer::timeout, [this] { Fire(); });
  }

  ~QtTimer() override {
    *alive_ = false;
    timer_->stop();
    QObject::disconnect(timer_.get(), nullptr, nullptr, nullptr);
    Dispose(timer_, firing_);
  }

  void Start(std::int64_t interval_ms) override {
    const auto clamped = std::clamp<std::int64_t>(interval_ms, 0, std::numeric_limits<int>::max());
    timer_->start(static_cast<int>(clamped));
  }
  void Stop() override { timer_->stop(); }
  bool IsActive() const override { return timer_->isActive(); }

 private:
  void Fire() {
    // The callback may destroy this timer.
    const auto alive = alive_;
    firing_ = true;
    if (on_fire_) on_fire_();
    if (*alive) firing_ = false;
  }

  std::unique_ptr<QTimer> timer_;
  std::function<void()> on_fire_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  bool firing_ = false;
};

class QtPendingRequest final : public PendingRequest {
 public:
  // A page that grows past `max_bytes`, or takes longer than `whole` altogether however steadily
  // it trickles in, is given up as a failed fetch.
  QtPendingRequest(QNetworkReply* reply, std::function<void(std::string)> done,
                   std::chrono::milliseconds whole, qint64 max_bytes)
      : reply_(reply), done_(std::move(done)), max_bytes_(max_bytes) {
    QObject::connect(reply, &QNetworkReply::finished, [this] { Finished(); });
    QObject::connect(reply, &QNetworkReply::downloadProgress,
                     [reply, max_bytes](qint64 got, qint64) {
                       if (got > max_bytes) reply->abort();
                     });
    deadline_.setSingleShot(true);
    QObject::connect(&deadline_, &QTimer::timeout, [reply] { reply->abort(); });
    deadline_.start(whole);
  }

  ~QtPendingRequest() override {
    if (!reply_) return;
    QNetworkReply* reply = reply_.data();
    reply_.clear();
    // Disconnect first: abort() reports `finished` at once.
    QObject::disconnect(reply, nullptr, nullptr, nullptr);
    if (reply->isRunning()) reply->abort();
    reply->deleteLater();
  }

 private:
  void Finished() {
    QNetworkReply* reply = reply_.data();
    if (!reply) return;
    reply_.clear();
    deadline_.stop();
    QObject::disconnect(reply, nullptr, nullptr, nullptr);
    std::string body;
    if (reply->error() == QNetworkReply::NoError && reply->bytesAvailable() <= max_bytes_) {
      const QByteArray bytes = reply->readAll();
      body.assign(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    }
    reply->deleteLater();
    // The callback may destroy this request; nothing of it is used afterwards.
    auto done = std::move(done_);
    if (done) done(std::move(body));
  }

  QPointer<QNetworkReply> reply_;
  std::function<void(std::string)> done_;
  qint64 max_bytes_;
  QTimer deadline_;
};

}  // namespace

TerminalPrompts::TerminalPrompts() : out_(std::cerr) {}
TerminalPrompts::TerminalPrompts(std::ostream& out) : out_(out) {}

void TerminalPrompts::MessageBox(std::string_view text, std::string_view title, PromptIcon) {
  out_ << "message box \"" << TerminalText(title) << "\": " << TerminalText(text) << std::endl;
}

bool TerminalPrompts::AskYesNo(std::string_view text, std::string_view title) {
  out_ << "question \"" << TerminalText(title) << "\": " << TerminalText(text) << " (answered yes)"
       << std::endl;
  return true;
}

void TerminalPrompts::Beep() {
  out_ << "beep" << std::endl;
}

std::string PrimaryIPv4Address() {
  const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
  for (const QNetworkInterface& interface : interfaces) {
    const auto flags = interface.flags();
    if (!flags.testFlag(QNetworkInterface::IsUp) || flags.testFlag(QNetworkInterface::IsLoopBack)) {
      continue;
    }
    for (const QNetworkAddressEntry& entry : interface.addressEntries()) {
      const QHostAddress address = entry.ip();
      if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback()) {
        return DottedIPv4(address);
      }
    }
  }
  return "127.0.0.1";
}

QtRuntime::QtRuntime(const std::string& bind_address)
    : random_(FreshSeed()), prompts_(&terminal_prompts_) {
  if (bind_address.empty() || !bind_address_.setAddress(QString::fromStdString(bind_address)) ||
      bind_address_.protocol() != QAbstractSocket::IPv4Protocol) {
    bind_address_ = QHostAddress(QHostAddress::AnyIPv4);
  }
  clock_.start();
}

QtRuntime::~QtRuntime() = default;

std::string QtRuntime::BindAddress() const {
  return DottedIPv4(bind_address_);
}

std::int64_t QtRuntime::NowMs() const {
  return clock_.elapsed();
}

std::unique_ptr<Timer> QtRuntime::CreateTimer(TimerKind kind, std::function<void()> on_fire) {
  return std::make_unique<QtTimer>(kind, std::move(on_fire));
}

void QtRuntime::Post(std::function<void()> task) {
  QMetaObject::invokeMethod(
      &context_,
      [task = std::move(task)] {
        if (task) task();
      },
      Qt::QueuedConnection);
}

std::unique_ptr<DatagramSocket> QtRuntime::CreateDatagramSocket(DatagramHandler& handler) {
  return CreateQtDatagramSocket(handler, bind_address_);
}

std::unique_ptr<StreamListener> QtRuntime::CreateStreamListener(StreamListenerHandler& handler) {
  return std::make_unique<QtStreamListener>(handler, bind_address_);
}

std::unique_ptr<StreamSocket> QtRuntime::CreateStreamSocket() {
  return std::make_unique<QtStreamSocket>(bind_address_);
}

std::unique_ptr<PendingRequest> QtRuntime::HttpGet(const std::string& url,
                                                   std::function<void(std::string body)> done) {
  if (!network_) network_ = std::make_unique<QNetworkAccessManager>();
  QString text = QString::fromStdString(url).trimmed();
  if (!text.contains(QStringLiteral("://"))) text.prepend(QStringLiteral("http://"));
  QNetworkRequest request{QUrl(text)};
  request.setTransferTimeout(static_cast<int>(http_timeout_.count()));
  return std::make_unique<QtPendingRequest>(network_->get(request), std::move(done),
                                            http_whole_timeout_, kMaxHttpBodyBytes);
}

}  // namespace zorvex
