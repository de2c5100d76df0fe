#include "platform/qt/exit_signals.h"

#include <sys/signalfd.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace zorvex {

ExitSignalWatch::ExitSignalWatch() {
  sigemptyset(&mask_);
  sigaddset(&mask_, SIGINT);
  sigaddset(&mask_, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &mask_, nullptr);
}

ExitSignalWatch::~ExitSignalWatch() {
  notifier_.reset();
  if (fd_ >= 0) ::close(fd_);
}

bool ExitSignalWatch::Watch(std::function<void()> on_signal) {
  fd_ = ::signalfd(-1, &mask_, SFD_NONBLOCK | SFD_CLOEXEC);
  if (fd_ < 0) return false;
  notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated,
                   [this, on_signal = std::move(on_signal)] {
                     signalfd_siginfo info;
                     while (::read(fd_, &info, sizeof info) == sizeof info)
                       on_signal();
                   });
  return true;
}

}  // namespace zorvex
