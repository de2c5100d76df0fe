#pragma once
// The main window: the explorer bar with its six buttons and the task sections of the pane on
// show, five panes (the browser, My Files, Search, Transfers, Community), the status area and
// the tray icon. Closing hides the window to the tray; only the tray's Exit ends the program.

#include <filesystem>
#include <functional>
#include <memory>

#include <QMainWindow>

#include "node/node_observer.h"
#include "ui/settings_dialog.h"

class QFrame;
class QGroupBox;
class QLabel;
class QMenu;
class QProgressBar;
class QStackedWidget;
class QSystemTrayIcon;
class QToolButton;

namespace zorvex::ui {

class BrowserPane;
class CommunityPane;
class ConversationWindows;
class HotListPanel;
class MyFilesPane;
class SearchPane;
class TransfersPane;

inline constexpr int kPaneCount = 5;
inline constexpr int kSettingsButton = 5;

class MainWindow final : public QMainWindow, public NodeObserver {
 public:
  MainWindow(NodeEvents& events, std::filesystem::path home, QWidget* parent = nullptr);
  ~MainWindow() override;

  void ShowPane(int index);
  int current_pane() const { return current_pane_; }
  bool bar_expanded() const { return bar_expanded_; }
  void ToggleExplorerBar();

  // -1 hides the window to the tray; anything else brings it back.
  void SetTrayMode(int mode);
  // The tray menu's Exit: the exit sequence runs, then the process ends.
  void Exit();
  // What runs the node's exit; it calls `done` at the end.
  void SetExitHandler(std::function<void(std::function<void()> done)> handler) {
    exit_handler_ = std::move(handler);
  }
  // Tests say whether a tray exists; the desktop asks the system.
  void SetTrayAvailable(std::function<bool()> available) { tray_available_ = std::move(available); }
  QSystemTrayIcon* tray() const { return tray_; }

  // The settings dialog, modal; from a user action or a queued call, never inside a handler.
  void OpenSettings();
  void SetDesktopHooks(DesktopHooks hooks) { desktop_hooks_ = std::move(hooks); }
  // A second copy asked for the window.
  void BringForward();
  // A forwarded link command.
  void RunCommand(const std::string& command);
  void SetStatusText(const QString& text);

  BrowserPane* browser() const { return browser_; }
  MyFilesPane* my_files() const { return my_files_; }
  SearchPane* search() const { return search_; }
  TransfersPane* transfers() const { return transfers_; }
  HotListPanel* hot_list() const { return hot_list_; }
  ConversationWindows& conversation_windows() const { return *conversation_windows_; }

  void StatusLineChanged(const std::string& line) override;
  void CountersChanged() override;
  void ConnectionChanged() override;
  void RowsChanged(NodeList list, std::size_t first, std::size_t count) override;
  void RowsAdded(NodeList list, std::size_t first, std::size_t count) override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* BuildExplorerBar();
  QWidget* BuildStartPage();
  void BuildStatusArea();
  void BuildTray();
  void ApplySectionRules();
  void UpdateTrayTip();

  NodeEvents& events_;
  Node& node_;
  std::filesystem::path home_;
  int current_pane_ = 0;
  bool bar_expanded_ = true;
  bool exit_flag_ = false;
  bool exiting_ = false;
  std::function<void(std::function<void()>)> exit_handler_;
  std::function<bool()> tray_available_;
  DesktopHooks desktop_hooks_;

  QFrame* bar_ = nullptr;
  QLabel* bar_title_ = nullptr;
  QToolButton* hide_bar_ = nullptr;
  QWidget* bar_body_ = nullptr;
  QToolButton* menu_[6] = {};
  QList<QGroupBox*> sections_;
  QStackedWidget* panes_ = nullptr;
  BrowserPane* browser_ = nullptr;
  MyFilesPane* my_files_ = nullptr;
  SearchPane* search_ = nullptr;
  TransfersPane* transfers_ = nullptr;
  CommunityPane* community_ = nullptr;
  HotListPanel* hot_list_ = nullptr;
  std::unique_ptr<ConversationWindows> conversation_windows_;

  QLabel* status_ = nullptr;
  QLabel* packets_in_ = nullptr;
  QLabel* packets_out_ = nullptr;
  QLabel* packets_bad_ = nullptr;
  QLabel* queues_ = nullptr;
  QLabel* connection_ = nullptr;
  QToolButton* connect_ = nullptr;
  QProgressBar* strength_ = nullptr;

  QSystemTrayIcon* tray_ = nullptr;
  QMenu* tray_menu_ = nullptr;
};

// The hover text as the tray holds it: at most 63 characters.
QString TrayTipText(const QString& text);

}  // namespace zorvex::ui
