#pragma once
// The status line and progress bar of the main window, as plain data with one listener.

#include <functional>
#include <string>
#include <utility>

namespace zorvex {

class StatusModel {
 public:
  void SetStatus(std::string text) {
    line_ = std::move(text);
    if (listener_) listener_(line_);
  }
  const std::string& line() const { return line_; }

  void SetProgressMaximum(int maximum) { progress_maximum_ = maximum; }
  void SetProgress(int value) { progress_ = value; }
  int progress() const { return progress_; }
  int progress_maximum() const { return progress_maximum_; }

  void SetListener(std::function<void(const std::string&)> listener) {
    listener_ = std::move(listener);
  }

 private:
  std::string line_;
  int progress_ = 0;
  int progress_maximum_ = 100;
  std::function<void(const std::string&)> listener_;
};

}  // namespace zorvex
