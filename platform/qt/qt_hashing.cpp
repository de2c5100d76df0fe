#include "platform/qt/qt_hashing.h"

#include <QMetaObject>
#include <QPointer>
#include <QRunnable>

#include "share/file_hash.h"

namespace zorvex {
namespace {

// Shared by the worker, the queued deliveries and the request the caller holds.
struct HashJob {
  std::atomic<bool> cancelled{false};
  std::function<void(std::int64_t, std::int64_t)> progress;
  std::function<void(std::string)> done;
};

class QtHashRequest final : public PendingRequest {
 public:
  explicit QtHashRequest(std::shared_ptr<HashJob> job) : job_(std::move(job)) {}
  ~QtHashRequest() override { job_->cancelled = true; }

 private:
  std::shared_ptr<HashJob> job_;
};

}  // namespace

QtHashingService::QtHashingService() {
  pool_.setMaxThreadCount(1);
}

QtHashingService::~QtHashingService() {
  *closing_ = true;
  pool_.clear();
  pool_.waitForDone();
}

std::unique_ptr<PendingRequest> QtHashingService::HashFile(
    const std::string& path, std::int32_t block_size,
    std::function<void(std::int64_t, std::int64_t)> progress,
    std::function<void(std::string)> done) {
  auto job = std::make_shared<HashJob>();
  job->progress = std::move(progress);
  job->done = std::move(done);
  QPointer<QObject> context(&context_);
  auto closing = closing_;
  pool_.start(QRunnable::create([job, path, block_size, context, closing] {
    // Runs on the loop thread, where cancelling happens too: no delivery after a cancel.
    auto post = [&](std::function<void()> delivery) {
      if (!context) return;
      QMetaObject::invokeMethod(
          context.data(),
          [job, delivery = std::move(delivery)] {
            if (!job->cancelled) delivery();
          },
          Qt::QueuedConnection);
    };
    FileHasher hasher(block_size);
    std::string hash;
    if (hasher.Open(path)) {
      HashStep step = HashStep::kMore;
      while (step == HashStep::kMore && !job->cancelled && !*closing) {
        step = hasher.Step();
        if (step != HashStep::kFailed && job->progress) {
          post([job, done = hasher.bytes_done(), size = std::int64_t{hasher.size()}] {
            job->progress(done, size);
          });
        }
      }
      if (job->cancelled || *closing) return;
      hash = hasher.Finish();
    }
    post([job, hash] {
      auto deliver = std::move(job->done);
      if (deliver) deliver(hash);
    });
  }));
  return std::make_unique<QtHashRequest>(job);
}

std::unique_ptr<PendingRequest> QtHashingService::RunSteps(std::function<bool()> step,
                                                           std::function<void()> done) {
  auto job = std::make_shared<HashJob>();
  job->done = [done = std::move(done)](std::string) {
    if (done) done();
  };
  QPointer<QObject> context(&context_);
  auto closing = closing_;
  pool_.start(QRunnable::create([job, step = std::move(step), context, closing] {
    while (!job->cancelled && !*closing && step()) {
    }
    if (job->cancelled || *closing || !context) return;
    QMetaObject::invokeMethod(
        context.data(),
        [job] {
          if (job->cancelled) return;
          auto deliver = std::move(job->done);
          if (deliver) deliver(std::string());
        },
        Qt::QueuedConnection);
  }));
  return std::make_unique<QtHashRequest>(job);
}

}  // namespace zorvex
