#pragma once
// SIGINT and SIGTERM as ordinary loop events: they arrive as readable records on a descriptor
// instead of in a handler, so no state is shared with a handler. Construct it before any thread
// exists, so that every later thread inherits the blocked mask.

#include <signal.h>

#include <functional>
#include <memory>

class QSocketNotifier;

namespace zorvex {

class ExitSignalWatch {
 public:
  ExitSignalWatch();
  ~ExitSignalWatch();
  ExitSignalWatch(const ExitSignalWatch&) = delete;
  ExitSignalWatch& operator=(const ExitSignalWatch&) = delete;

  // Calls `on_signal` on the loop for every signal that arrives; false when it cannot watch.
  bool Watch(std::function<void()> on_signal);

 private:
  sigset_t mask_;
  int fd_ = -1;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace zorvex
