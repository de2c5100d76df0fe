// The browser pane's rules: tab captions, slots and closing against stand-in views, and the
// favorites with their stored value.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListWidget>
#include <QTabBar>
#include <QTableView>
#include <QToolBar>

#include "search/search.h"
#include "settings/ini_store.h"
#include "settings/preferences.h"
#include "ui/browser_pane.h"
#include "ui/browser_tabs.h"
#include "ui_fixture.h"

namespace zorvex::ui {
namespace {

// A stand-in browser: remembers its address and whether it is shown; the views record which
// slots exist.
struct Views {
  std::map<int, QString> address;
  std::map<int, bool> shown;
  int stops = 0;
};

class FakeSlot final : public BrowserSlot {
 public:
  FakeSlot(Views& views, int slot) : views_(views), slot_(slot) { views_.address[slot] = {}; }
  ~FakeSlot() override {
    views_.address.erase(slot_);
    views_.shown.erase(slot_);
  }
  void Navigate(const QString& address) override { views_.address[slot_] = address; }
  void Stop() override { ++views_.stops; }
  QString Address() const override { return views_.address.at(slot_); }
  void SetShown(bool shown) override { views_.shown[slot_] = shown; }

 private:
  Views& views_;
  int slot_;
};

struct Strip {
  Views views;
  QString address_box;
  int progress_resets = 0;
  BrowserTabs tabs{
      [this](int slot) { return std::make_unique<FakeSlot>(views, slot); },
      {{}, [this](const QString& text) { address_box = text; }, [this] { ++progress_resets; }}};

  // Tags of the tabs in order, "*" marking the current one.
  std::string Layout() const {
    std::string out;
    for (std::size_t i = 0; i < tabs.tabs().size(); ++i) {
      if (!out.empty()) out += ' ';
      if (static_cast<int>(i) + 1 == tabs.current()) out += '*';
      out += tabs.tabs()[i].tag.toStdString();
    }
    return out;
  }
  std::string Slots() const {
    std::string out;
    for (int slot : tabs.live_slots())
      out += std::to_string(slot);
    return out;
  }
};

TEST(ShortCaption, PadsOrCutsToTwentyFiveCharacters) {
  const struct {
    QString text;
    QString caption;
  } cases[] = {
      {"", QString(25, u' ')},
      {"New Window", QStringLiteral("New Window") + QString(15, u' ')},
      {QString(25, u'a'), QString(25, u'a')},
      {QString(26, u'b'), QString(22, u'b') + QStringLiteral("...")},
      {QStringLiteral("A very long page title that goes on"),
       QStringLiteral("A very long page title...")},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ShortCaption(c.text), c.caption) << c.text.toStdString();
    EXPECT_EQ(ShortCaption(c.text).size(), 25);
  }
}

// Each case: steps on a strip started on slot 0, then the tabs, the live slots, and the address
// that slot 0 shows.
TEST(BrowserTabs, Rules) {
  const struct {
    std::vector<std::string> steps;  // "new ADDRESS", "show N", "close", "closing SLOT"
    std::string layout;
    std::string live;
    QString slot0;
  } cases[] = {
      // The only tab never closes.
      {{"close"}, "*0", "0", "home"},
      // New tabs take the next slot and are not shown; without an address, the blank page.
      {{"new a", "new b"}, "*0 1 2", "012", "home"},
      {{"new "}, "*0 1", "01", "home"},
      // Closing a tab on another slot destroys it.
      {{"new a", "show 2", "close"}, "*0", "0", "home"},
      // Closing slot 0 moves the following page into slot 0, page after page.
      {{"new a", "new b", "close"}, "*0 2", "02", "a"},
      {{"new a", "new b", "close", "close"}, "*0", "0", "b"},
      // The new slot is one past the highest in use.
      {{"new a", "new b", "show 2", "close", "new c"}, "0 *2 3", "023", "home"},
      // A page closing itself closes its tab; a new-window request opens one.
      {{"new a", "new b", "closing 1"}, "*0 2", "02", "home"},
      {{"window"}, "*0 1", "01", "home"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.steps));
    Strip s;
    s.tabs.Start(QStringLiteral("home"));
    for (const std::string& step : c.steps) {
      const auto space = step.find(' ');
      const std::string verb = step.substr(0, space);
      const std::string arg = space == std::string::npos ? "" : step.substr(space + 1);
      if (verb == "new") s.tabs.NewBrowserTab(QString::fromStdString(arg));
      if (verb == "show") s.tabs.ShowTab(std::stoi(arg));
      if (verb == "close") s.tabs.RemoveTab();
      if (verb == "closing") s.tabs.WindowClosing(std::stoi(arg));
      if (verb == "window") s.tabs.NewWindowRequested();
    }
    EXPECT_EQ(s.Layout(), c.layout);
    EXPECT_EQ(s.Slots(), c.live);
    EXPECT_EQ(s.views.address[0], c.slot0);
    // Exactly the current browser is shown, and the address box shows it.
    for (const auto& [slot, shown] : s.views.shown)
      EXPECT_EQ(shown, s.tabs.current_browser() == s.tabs.slot(slot)) << "slot " << slot;
    EXPECT_EQ(s.address_box, s.tabs.current_browser()->Address());
  }
}

TEST(BrowserTabs, StartsOnSlotZeroThenBlankAddressAndCaptionsFollowTitles) {
  Strip s;
  s.tabs.Start(QStringLiteral("qrc:/browser/start.html"));
  EXPECT_EQ(s.Layout(), "*0");
  EXPECT_EQ(s.views.address[0], "qrc:/browser/start.html");
  EXPECT_TRUE(s.views.shown[0]);
  EXPECT_EQ(s.address_box, "qrc:/browser/start.html");
  EXPECT_EQ(s.tabs.tabs()[0].caption, ShortCaption(QStringLiteral("New Window")));
  const int slot = s.tabs.NewBrowserTab({});
  EXPECT_EQ(s.views.address[slot], "about: blank");
  s.tabs.TitleChanged(slot, QString(26, u'x'));
  EXPECT_EQ(s.tabs.tabs()[1].caption, QString(22, u'x') + QStringLiteral("..."));
  s.tabs.TitleChanged(0, QStringLiteral("Start"));
  EXPECT_EQ(s.tabs.tabs()[0].caption, ShortCaption(QStringLiteral("Start")));
  // Showing a tab resets the progress and copies its address.
  const int resets = s.progress_resets;
  s.tabs.ShowTab(2);
  EXPECT_EQ(s.progress_resets, resets + 1);
  EXPECT_EQ(s.address_box, "about: blank");
  // Closing stops the current browser first.
  s.tabs.RemoveTab();
  EXPECT_EQ(s.views.stops, 1);
}

TEST(Favorites, StoredValue) {
  const struct {
    std::string value;
    std::vector<Favorite> list;
    std::string saved;
  } cases[] = {
      {"", {}, ""},
      {"Home'http://a.example/|News'http://b.example/x?y|",
       {{"Home", "http://a.example/"}, {"News", "http://b.example/x?y"}},
       "Home'http://a.example/|News'http://b.example/x?y|"},
      {"||One'http://one/||", {{"One", "http://one/"}}, "One'http://one/|"},
      // An address holding "'" is cut there on loading.
      {"Q'http://q/?it's|", {{"Q", "http://q/?it"}}, "Q'http://q/?it|"},
      // A piece without "'" has no address, and saving drops it.
      {"Loose|Kept'http://k/|", {{"Loose", ""}, {"Kept", "http://k/"}}, "Kept'http://k/|"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseFavorites(c.value), c.list) << c.value;
    EXPECT_EQ(FavoritesValue(c.list), c.saved) << c.value;
  }
  EXPECT_EQ(CleanFavoriteName("a|b'c"), "a b c");
}

// The pane in the main window, on stand-in browsers. Start page links, links typed into the
// address box and searches forwarded from another start of the program run in the client.
TEST(BrowserPaneTest, ClientLinksForwardedSearchControlsFavoritesAndTheChatPage) {
  testing::DesktopNetwork d(3);
  d.Share(1, "common tune.mp3", 1000);
  d.Run(60'000);
  BrowserPane& pane = *d.window->browser();
  EXPECT_EQ(pane.findChild<QTabBar*>(QStringLiteral("TabStrip1"))->count(), 1);
  EXPECT_EQ(pane.findChild<QLineEdit*>(QStringLiteral("txtAddressBar"))->text(),
            QString::fromLatin1(kStartPageAddress));
  EXPECT_EQ(pane.findChild<QToolBar*>(QStringLiteral("tbBrowser"))->actions().size(), 8);
  ASSERT_NE(pane.chat(), nullptr);
  EXPECT_EQ(pane.chat()->widget()->objectName(), "wbChat");
  pane.on_link(QStringLiteral("zorvex:search"));
  EXPECT_EQ(d.window->current_pane(), 2);
  d.window->ShowPane(0);
  pane.Navigate(QStringLiteral("zx://search|typed words"));
  EXPECT_EQ(d.window->current_pane(), 2);
  auto* query = d.window->findChild<QLineEdit*>(QStringLiteral("txtSearch"));
  EXPECT_EQ(query->text(), "typed words");
  EXPECT_EQ(pane.current_control()->Address(), QString::fromLatin1(kStartPageAddress));
  d.window->ShowPane(0);
  d.window->RunCommand("zx://search|common%20tune/");
  EXPECT_EQ(d.window->current_pane(), 2);
  EXPECT_EQ(d.net[0].search().query(), "common tune");
  EXPECT_EQ(query->text(), "common tune");
  d.Run(5000);
  EXPECT_EQ(d.window->findChild<QTableView*>(QStringLiteral("Results"))->model()->rowCount(), 1);

  QListWidget* list = d.window->findChild<QListWidget*>(QStringLiteral("lstFavs"));
  const auto stored = [&d] {
    return d.net[0].store().ReadINI("Preferences", "Favorites", d.net[0].PreferencesFile());
  };
  pane.SetHomeAddress(QStringLiteral("http://home.example/"));
  pane.GoHome();
  EXPECT_EQ(pane.current_control()->Address(), "http://home.example/");

  // Favorites keep their quirks.
  QString offered;
  QString answer = QStringLiteral("My | page's name");
  pane.ask_favorite_name = [&](const QString& text) {
    offered = text;
    return answer;
  };
  pane.confirm = [](const QString&) { return true; };
  pane.Navigate(QStringLiteral("http://a.example/it's"));
  // The stand-in's title is its address.
  pane.AddFavorite();
  EXPECT_EQ(offered, "http://a.example/it s");
  ASSERT_EQ(list->count(), 1);
  EXPECT_EQ(list->item(0)->text(), "My   page s name");
  EXPECT_EQ(stored(), "My   page s name'http://a.example/it's|");
  // An empty answer adds nothing and leaves the value as it was.
  answer.clear();
  pane.AddFavorite();
  EXPECT_EQ(list->count(), 1);
  // Removing the only favorite leaves the stored value: it is back after a reload, cut at "'".
  list->setCurrentRow(0);
  pane.RemoveFavorite();
  EXPECT_EQ(list->count(), 0);
  EXPECT_EQ(stored(), "My   page s name'http://a.example/it's|");
  pane.LoadFavorites();
  ASSERT_EQ(list->count(), 1);
  EXPECT_EQ(list->item(0)->data(Qt::UserRole).toString(), "http://a.example/it");

  // The chat page follows the gateway or its own site.
  d.net[0].preferences().GatewayList = "Main*gw.example/gateway.php|";
  d.net[0].preferences().Nickname = "bob";
  EXPECT_EQ(pane.ChatAddress(), "http://gw.example/chat/index.php?&chatname=bob");
  pane.SetChatSite(QStringLiteral("https://chat.example/"));
  EXPECT_EQ(pane.chat()->Address(), "https://chat.example/chat/index.php?&chatname=bob");
}

}  // namespace
}  // namespace zorvex::ui
