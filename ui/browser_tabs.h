#pragma once
// The browser pane's rules without a browser engine: the tab strip with its slots, the tab
// captions, and the favorites list with its stored value. The pane feeds a real engine into it;
// tests feed stand-in views.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <QString>

namespace zorvex::ui {

// Always 25 characters: shorter texts are padded with blanks, longer ones cut to 22 and "...".
QString ShortCaption(const QString& text);

// One browser control as the tab rules see it.
class BrowserSlot {
 public:
  virtual ~BrowserSlot() = default;
  virtual void Navigate(const QString& address) = 0;
  virtual void Stop() = 0;
  virtual QString Address() const = 0;
  // Shown with the focus, or hidden.
  virtual void SetShown(bool shown) = 0;
};

struct BrowserTab {
  QString caption;
  // The slot index as text; empty when the tab shows no browser.
  QString tag;
};

class BrowserTabs {
 public:
  using SlotFactory = std::function<std::unique_ptr<BrowserSlot>(int slot)>;
  struct Hooks {
    std::function<void()> tabs_changed;
    std::function<void(const QString&)> set_address;
    std::function<void()> reset_progress;
  };

  // Slot 0 is made here and lives as long as this object.
  BrowserTabs(SlotFactory factory, Hooks hooks);
  ~BrowserTabs();

  // The start-up state: the strip emptied, one tab on slot 0 navigated to the address.
  void Start(const QString& address);
  // Adds a tab on a new slot, one past the highest slot in use; returns that slot. The tab is
  // shown only when it is the strip's only tab.
  int NewBrowserTab(const QString& address, const QString& caption = {});
  // `index` is 1-based.
  void ShowTab(int index);
  void RemoveTab();

  // Events of the browser on `slot`.
  void TitleChanged(int slot, const QString& title);
  void NavigationComplete(int slot);
  // A page asks for a new window: the slot of the new tab that receives it.
  int NewWindowRequested();
  void WindowClosing(int slot);

  const std::vector<BrowserTab>& tabs() const { return tabs_; }
  // 1-based; 0 while the strip is empty.
  int current() const { return current_; }
  BrowserSlot* slot(int index) const;
  BrowserSlot* current_browser() const;
  // The slot indices whose controls exist, in order.
  std::vector<int> live_slots() const;
  // The 1-based tab showing `slot`, or 0.
  int TabOfSlot(int slot) const;

 private:
  int SlotOfTab(int index) const;
  void Changed();

  SlotFactory factory_;
  Hooks hooks_;
  std::map<int, std::unique_ptr<BrowserSlot>> slots_;
  std::vector<BrowserTab> tabs_;
  int current_ = 0;
  int shown_slot_ = -1;
};

struct Favorite {
  std::string name;
  std::string address;
  bool operator==(const Favorite&) const = default;
};

// "|" and "'" become blanks.
std::string CleanFavoriteName(std::string name);
// The stored value: pieces at "|" (empty ones skipped), each cut at "'" into name and address.
std::vector<Favorite> ParseFavorites(std::string_view value);
// name "'" address "|" for every entry with an address.
std::string FavoritesValue(const std::vector<Favorite>& favorites);

}  // namespace zorvex::ui
