#pragma once
// The node's message boxes on the desktop. A box raised while the node handles a datagram or a
// timer opens without a nested event loop, so no node handler ever runs inside another.

#include <functional>

#include "core/runtime.h"

class QWidget;

namespace zorvex::ui {

class GuiPrompts final : public UserPrompts {
 public:
  // The window that owns the boxes; may change as windows come and go.
  void SetParent(std::function<QWidget*()> parent) { parent_ = std::move(parent); }

  void MessageBox(std::string_view text, std::string_view title, PromptIcon icon) override;
  // Only user actions reach this (the widgets ask before calling the node); it is modal.
  bool AskYesNo(std::string_view text, std::string_view title) override;
  void Beep() override;

 private:
  std::function<QWidget*()> parent_;
};

}  // namespace zorvex::ui
