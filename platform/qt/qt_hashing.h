#pragma once
// Hashing on a worker thread: one file at a time, each block's progress and the result posted
// back to the loop thread through a context object.

#include <atomic>
#include <memory>

#include <QObject>
#include <QThreadPool>

#include "core/runtime.h"

namespace zorvex {

class QtHashingService final : public HashingService {
 public:
  QtHashingService();
  // Stops the running file at its next block and waits for the worker.
  ~QtHashingService() override;

  std::unique_ptr<PendingRequest> HashFile(
      const std::string& path, std::int32_t block_size,
      std::function<void(std::int64_t done, std::int64_t size)> progress,
      std::function<void(std::string hash)> done) override;
  std::unique_ptr<PendingRequest> RunSteps(std::function<bool()> step,
                                           std::function<void()> done) override;

 private:
  QObject context_;  // lives on the loop thread; queued results die with it
  QThreadPool pool_;
  std::shared_ptr<std::atomic<bool>> closing_ = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace zorvex
