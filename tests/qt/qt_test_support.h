#pragma once
// Runs the event loop in tests, always bounded in time.

#include <chrono>
#include <functional>

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace zorvex::testing {

// Runs the loop until `done` holds or the limit passes; returns `done()`.
inline bool SpinUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  if (done()) return true;
  const QDeadlineTimer deadline(limit.count());
  QEventLoop loop;
  QTimer poll;
  poll.setInterval(2);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (done() || deadline.hasExpired()) loop.quit();
  });
  poll.start();
  loop.exec();
  return done();
}

// Runs the loop for a while, for checks that something does not happen.
inline void SpinFor(std::chrono::milliseconds time) {
  SpinUntil([] { return false; }, time);
}

}  // namespace zorvex::testing
