#include "share/stepped_hashing.h"

#include "share/file_hash.h"

namespace zorvex {
namespace {

class SteppedJob final : public PendingRequest {
 public:
  SteppedJob(Runtime& runtime, std::int64_t ms_per_block, const std::string& path,
             std::int32_t block_size, std::function<void(std::int64_t, std::int64_t)> progress,
             std::function<void(std::string)> done)
      : hasher_(block_size),
        progress_(std::move(progress)),
        done_(std::move(done)),
        ms_per_block_(ms_per_block) {
    opened_ = hasher_.Open(path);
    timer_ = runtime.CreateTimer(TimerKind::kSingleShot, [this] { Step(); });
    timer_->Start(opened_ ? ms_per_block_ : 0);
  }

 private:
  void Step() {
    if (!opened_) {
      Deliver(std::string());
      return;
    }
    const HashStep step = hasher_.Step();
    if (progress_ && step != HashStep::kFailed) progress_(hasher_.bytes_done(), hasher_.size());
    if (step == HashStep::kMore) {
      timer_->Start(ms_per_block_);
      return;
    }
    Deliver(hasher_.Finish());
  }

  // The callback may destroy this job: nothing of it is touched afterwards.
  void Deliver(std::string hash) {
    auto done = std::move(done_);
    if (done) done(std::move(hash));
  }

  FileHasher hasher_;
  std::function<void(std::int64_t, std::int64_t)> progress_;
  std::function<void(std::string)> done_;
  std::int64_t ms_per_block_;
  bool opened_ = false;
  std::unique_ptr<Timer> timer_;
};

class SteppedWork final : public PendingRequest {
 public:
  SteppedWork(Runtime& runtime, std::int64_t ms_per_step, std::function<bool()> step,
              std::function<void()> done)
      : step_(std::move(step)), done_(std::move(done)), ms_per_step_(ms_per_step) {
    timer_ = runtime.CreateTimer(TimerKind::kSingleShot, [this] { Step(); });
    timer_->Start(ms_per_step_);
  }

 private:
  void Step() {
    if (step_()) {
      timer_->Start(ms_per_step_);
      return;
    }
    // The callback may destroy this job: nothing of it is touched afterwards.
    auto done = std::move(done_);
    if (done) done();
  }

  std::function<bool()> step_;
  std::function<void()> done_;
  std::int64_t ms_per_step_;
  std::unique_ptr<Timer> timer_;
};

}  // namespace

SteppedHashing::SteppedHashing(Runtime& runtime, std::int64_t ms_per_block)
    : runtime_(runtime), ms_per_block_(ms_per_block) {}

std::unique_ptr<PendingRequest> SteppedHashing::HashFile(
    const std::string& path, std::int32_t block_size,
    std::function<void(std::int64_t, std::int64_t)> progress,
    std::function<void(std::string)> done) {
  return std::make_unique<SteppedJob>(runtime_, ms_per_block_, path, block_size,
                                      std::move(progress), std::move(done));
}

std::unique_ptr<PendingRequest> SteppedHashing::RunSteps(std::function<bool()> step,
                                                         std::function<void()> done) {
  return std::make_unique<SteppedWork>(runtime_, ms_per_block_, std::move(step), std::move(done));
}

}  // namespace zorvex
