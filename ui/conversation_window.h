#pragma once
// Conversation windows: one top-level window per conversation of the node, a view of the
// conversation model. `ConversationWindows` follows the model's events, creating, refreshing and
// removing the windows; each window sends, clears and closes through the model.

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include <QWidget>

#include "node/node.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace zorvex {
struct ConversationEvent;
}

namespace zorvex::ui {

class ConversationWindow final : public QWidget {
 public:
  ConversationWindow(Node& node, std::uint64_t id);

  std::uint64_t id() const { return id_; }
  // Reads the model's conversation again: nickname, caption, text and visibility.
  void Refresh();

  // The actions of the buttons and keys.
  void Send();
  void AddToHotList();
  void AskClear();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  Node& node_;
  std::uint64_t id_;
  QLabel* who_is_ = nullptr;
  QPlainTextEdit* conversation_ = nullptr;
  QPlainTextEdit* my_text_ = nullptr;
  bool closed_by_model_ = false;

  friend class ConversationWindows;
};

class ConversationWindows {
 public:
  // Takes the conversation model's listener; `away_changed` hears of the away link's caption.
  ConversationWindows(Node& node, QWidget* icon_source, std::function<void()> away_changed);
  ~ConversationWindows();
  ConversationWindows(const ConversationWindows&) = delete;
  ConversationWindows& operator=(const ConversationWindows&) = delete;

  // The window of the conversation with this address, or null.
  ConversationWindow* ForAddress(const std::string& address) const;
  const std::map<std::uint64_t, ConversationWindow*>& windows() const { return windows_; }

 private:
  void OnEvent(const ConversationEvent& event);

  Node& node_;
  QWidget* icon_source_;
  std::function<void()> away_changed_;
  std::map<std::uint64_t, ConversationWindow*> windows_;
};

}  // namespace zorvex::ui
