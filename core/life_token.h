#pragma once
// Lets a callback that may outlive its owner find out that the owner is gone.

#include <memory>

namespace zorvex {

class LifeToken {
 public:
  std::weak_ptr<const int> Watch() const { return token_; }

 private:
  std::shared_ptr<const int> token_ = std::make_shared<const int>(0);
};

}  // namespace zorvex
