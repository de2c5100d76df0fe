#pragma once
// A hashing service that digests one block per timer step on the node's own loop: the simulated
// platform's, where virtual time passes between blocks as reading would take.

#include <cstdint>

#include "core/runtime.h"

namespace zorvex {

class SteppedHashing final : public HashingService {
 public:
  // `ms_per_block` of loop time pass between two blocks.
  explicit SteppedHashing(Runtime& runtime, std::int64_t ms_per_block = 2);

  std::unique_ptr<PendingRequest> HashFile(
      const std::string& path, std::int32_t block_size,
      std::function<void(std::int64_t done, std::int64_t size)> progress,
      std::function<void(std::string hash)> done) override;
  std::unique_ptr<PendingRequest> RunSteps(std::function<bool()> step,
                                           std::function<void()> done) override;

 private:
  Runtime& runtime_;
  std::int64_t ms_per_block_;
};

}  // namespace zorvex
