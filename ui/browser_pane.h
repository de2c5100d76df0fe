#pragma once
// The "Browse the Web" pane: tabs of browsers over the tab rules, the toolbar, the address box,
// the progress bar, the favorites section of the explorer bar, and the separate chat browser.
// The engine stays behind BrowserEngine so that this header pulls in no engine header.

#include <functional>
#include <memory>
#include <vector>

#include <QList>
#include <QWidget>

#include "ui/browser_tabs.h"

class QGroupBox;
class QLineEdit;
class QListWidget;
class QMenu;
class QProgressBar;
class QStackedWidget;
class QTabBar;
class QToolButton;

namespace zorvex {
class Node;
}

namespace zorvex::ui {

inline constexpr char kStartPageAddress[] = "qrc:/browser/start.html";

// One browser control of an engine.
class BrowserControl : public BrowserSlot {
 public:
  virtual QWidget* widget() = 0;
  virtual QString Title() const = 0;
  virtual void Back() = 0;
  virtual void Forward() = 0;
  virtual void Refresh() = 0;
};

// What a control reports; `new_window` answers with the slot of the tab that takes the page.
struct BrowserEvents {
  std::function<void(const QString&)> title;
  std::function<void()> complete;
  std::function<int()> new_window;
  std::function<BrowserControl*(int)> control_of;
  std::function<void()> closing;
  std::function<void(const QString&)> status;
  std::function<void(int value, int maximum)> progress;
  // A zx:// or zorvex: link a page tried to open: it runs here instead.
  std::function<void(const QString&)> link;
};

class BrowserEngine {
 public:
  virtual ~BrowserEngine() = default;
  virtual std::unique_ptr<BrowserControl> Create(BrowserEvents events) = 0;
};

// Qt WebEngine; the stand-in keeps addresses and titles only, for tests without a browser.
std::unique_ptr<BrowserEngine> MakeWebEngine();
std::unique_ptr<BrowserEngine> MakeStandInEngine();
// The engine new panes use (WebEngine unless changed).
void SetBrowserEngineFactory(std::function<std::unique_ptr<BrowserEngine>()> factory);

// Before the application object exists: the link schemes, shared GL contexts, and the sandbox
// switched off when the process runs as root (said on standard error).
void PrepareBrowserEngine();

class BrowserPane final : public QWidget {
 public:
  explicit BrowserPane(Node& node, QWidget* parent = nullptr);
  ~BrowserPane() override;

  QList<QGroupBox*> Sections() const { return {favorites_section_}; }
  BrowserTabs& tabs() { return *tabs_; }
  BrowserControl* current_control() const;
  BrowserControl* chat() const { return chat_.get(); }

  QString HomeAddress() const;
  void SetHomeAddress(const QString& address);
  // The chat page for a nickname, on the chat site (a preference; by default the site of the
  // first gateway page).
  QString ChatAddress() const;
  void SetChatSite(const QString& site);
  void LoadChat();

  void GoHome();
  void NewTab();
  void Navigate(const QString& address);

  // Favorites; the name box and the question are hooks so that tests can answer them.
  std::function<QString(const QString& offered)> ask_favorite_name;
  std::function<bool(const QString& question)> confirm;
  void AddFavorite();
  void RemoveFavorite();
  void OpenFavorite();
  void LoadFavorites();

  // The status text of the browsers, and the client links clicked in their pages.
  std::function<void(const QString&)> on_status;
  std::function<void(const QString&)> on_link;

 private:
  void SyncTabs();
  void SaveFavorites();
  void UpdateRunFav();
  void Progress(int value, int maximum);
  BrowserEvents EventsFor(int slot);
  QGroupBox* BuildFavorites();

  Node& node_;
  std::unique_ptr<BrowserEngine> engine_;
  std::unique_ptr<BrowserTabs> tabs_;
  std::unique_ptr<BrowserControl> chat_;
  QTabBar* strip_ = nullptr;
  QStackedWidget* views_ = nullptr;
  QLineEdit* address_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QMenu* tab_menu_ = nullptr;
  QGroupBox* favorites_section_ = nullptr;
  QListWidget* favorites_ = nullptr;
  QToolButton* run_fav_ = nullptr;
  bool syncing_ = false;
};

}  // namespace zorvex::ui
