#include "ui/browser_tabs.h"

#include <algorithm>

#include "settings/preferences.h"

namespace zorvex::ui {

namespace {
constexpr int kCaptionWidth = 25;
const QString kBlankPage = QStringLiteral("about: blank");
}  // namespace

QString ShortCaption(const QString& text) {
  if (text.size() < kCaptionWidth + 1) return text.leftJustified(kCaptionWidth, u' ');
  return text.left(22) + QStringLiteral("...");
}

BrowserTabs::BrowserTabs(SlotFactory factory, Hooks hooks)
    : factory_(std::move(factory)), hooks_(std::move(hooks)) {
  slots_[0] = factory_(0);
}

BrowserTabs::~BrowserTabs() = default;

void BrowserTabs::Changed() {
  if (hooks_.tabs_changed) hooks_.tabs_changed();
}

BrowserSlot* BrowserTabs::slot(int index) const {
  const auto it = slots_.find(index);
  return it == slots_.end() ? nullptr : it->second.get();
}

int BrowserTabs::SlotOfTab(int index) const {
  if (index < 1 || index > static_cast<int>(tabs_.size())) return -1;
  const QString& tag = tabs_[index - 1].tag;
  if (tag.isEmpty()) return -1;
  bool ok = false;
  const int value = tag.toInt(&ok);
  return ok ? value : -1;
}

BrowserSlot* BrowserTabs::current_browser() const {
  return slot(SlotOfTab(current_));
}

std::vector<int> BrowserTabs::live_slots() const {
  std::vector<int> out;
  for (const auto& [index, control] : slots_)
    out.push_back(index);
  return out;
}

int BrowserTabs::TabOfSlot(int slot) const {
  for (std::size_t i = 0; i < tabs_.size(); ++i) {
    if (!tabs_[i].tag.isEmpty() && tabs_[i].tag == QString::number(slot))
      return static_cast<int>(i) + 1;
  }
  return 0;
}

void BrowserTabs::Start(const QString& address) {
  for (auto it = slots_.begin(); it != slots_.end();)
    it = it->first == 0 ? std::next(it) : slots_.erase(it);
  tabs_.clear();
  current_ = 0;
  shown_slot_ = -1;
  tabs_.push_back({ShortCaption(QStringLiteral("New Window")), QStringLiteral("0")});
  slots_[0]->Navigate(address.isEmpty() ? kBlankPage : address);
  Changed();
  ShowTab(1);
}

int BrowserTabs::NewBrowserTab(const QString& address, const QString& caption) {
  const int index = slots_.rbegin()->first + 1;
  tabs_.push_back({caption.isEmpty() ? ShortCaption(QStringLiteral("New Window")) : caption,
                   QString::number(index)});
  slots_[index] = factory_(index);
  slots_[index]->SetShown(false);
  slots_[index]->Navigate(address.isEmpty() ? kBlankPage : address);
  Changed();
  if (tabs_.size() == 1) ShowTab(1);
  return index;
}

void BrowserTabs::ShowTab(int index) {
  const int target = SlotOfTab(index);
  if (target < 0 || !slot(target)) return;
  if (BrowserSlot* shown = slot(shown_slot_); shown && shown_slot_ != target)
    shown->SetShown(false);
  if (current_ != index) {
    current_ = index;
    Changed();
  }
  if (hooks_.set_address) hooks_.set_address(slot(target)->Address());
  if (hooks_.reset_progress) hooks_.reset_progress();
  slot(target)->SetShown(true);
  shown_slot_ = target;
}

void BrowserTabs::RemoveTab() {
  if (tabs_.size() < 2 || current_ < 1) return;
  const int current_slot = SlotOfTab(current_);
  if (BrowserSlot* browser = slot(current_slot)) browser->Stop();
  if (current_slot != 0) {
    slots_.erase(current_slot);
  } else {
    // Slot 0 never goes: it takes over the page of the following tab (the one before when the
    // current tab is the last), whose own control goes instead.
    const int heir = current_ < static_cast<int>(tabs_.size()) ? current_ + 1 : current_ - 1;
    const int heir_slot = SlotOfTab(heir);
    if (BrowserSlot* other = slot(heir_slot); other && heir_slot != 0) {
      slots_[0]->Navigate(other->Address());
      slots_.erase(heir_slot);
    }
    tabs_[heir - 1].tag = QStringLiteral("0");
  }
  shown_slot_ = current_slot == 0 ? 0 : -1;
  tabs_.erase(tabs_.begin() + (current_ - 1));
  current_ = std::min(current_, static_cast<int>(tabs_.size()));
  Changed();
  const int now = current_;
  current_ = 0;
  ShowTab(now);
}

void BrowserTabs::TitleChanged(int slot, const QString& title) {
  if (const int tab = TabOfSlot(slot)) {
    tabs_[tab - 1].caption = ShortCaption(title);
    Changed();
  }
}

void BrowserTabs::NavigationComplete(int slot) {
  if (BrowserSlot* browser = this->slot(slot); browser && hooks_.set_address) {
    hooks_.set_address(browser->Address());
    if (BrowserSlot* shown = current_browser()) hooks_.set_address(shown->Address());
  }
}

int BrowserTabs::NewWindowRequested() {
  return NewBrowserTab({}, ShortCaption(QStringLiteral("New Window")));
}

void BrowserTabs::WindowClosing(int slot) {
  const int tab = TabOfSlot(slot);
  if (tab == 0 || tabs_.size() < 2) return;
  if (tab != current_) {
    const int keep = current_;
    ShowTab(tab);
    RemoveTab();
    if (keep != tab) ShowTab(keep < tab ? keep : keep - 1);
    return;
  }
  RemoveTab();
}

std::string CleanFavoriteName(std::string name) {
  std::replace(name.begin(), name.end(), '|', ' ');
  std::replace(name.begin(), name.end(), '\'', ' ');
  return name;
}

std::vector<Favorite> ParseFavorites(std::string_view value) {
  std::vector<Favorite> out;
  for (const std::string& piece : SplitList(value)) {
    const auto first = piece.find('\'');
    if (first == std::string::npos) {
      out.push_back({piece, {}});
      continue;
    }
    const auto second = piece.find('\'', first + 1);
    out.push_back({piece.substr(0, first),
                   piece.substr(first + 1, second == std::string::npos ? std::string::npos
                                                                       : second - first - 1)});
  }
  return out;
}

std::string FavoritesValue(const std::vector<Favorite>& favorites) {
  std::string value;
  for (const Favorite& entry : favorites) {
    if (entry.address.empty()) continue;
    value += entry.name + "'" + entry.address + "|";
  }
  return value;
}

}  // namespace zorvex::ui
