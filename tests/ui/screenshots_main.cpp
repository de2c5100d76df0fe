// Saves a picture of the wizard, of each pane, of the hot list and of a conversation, with the
// windows running against a simulated network in this process. scripts/screenshots runs it under
// Xvfb.

#include <filesystem>
#include <iostream>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QTableView>
#include <QToolButton>
#include <QTreeWidget>

#include "im/hot_list.h"
#include "network/peer_table.h"
#include "ui/browser_pane.h"
#include "ui/browser_tabs.h"
#include "ui/conversation_window.h"
#include "ui/hot_list_panel.h"
#include "ui/search_pane.h"
#include "ui/settings_dialog.h"
#include "ui_fixture.h"

namespace zorvex {
namespace {

bool Save(QWidget* widget, const std::filesystem::path& file) {
  QCoreApplication::processEvents();
  const bool ok = widget->grab().save(QString::fromStdString(file.string()));
  std::cout << (ok ? "saved " : "could not save ") << file.string() << std::endl;
  return ok;
}

// The web engine works on the real event loop: wait (at most 20 s) for a page.
template <typename Done>
void WaitFor(Done done) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < 20'000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  // Let the page paint.
  for (int i = 0; i < 20; ++i)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

int Main(const std::filesystem::path& out) {
  std::filesystem::create_directories(out);
  bool ok = true;
  {
    SimWorld world(5);
    auto host = world.CreateHost("10.0.0.1");
    testing::TempDir home;
    Node node(*host, NodeOptions{.home = home.path()});
    node.BindMessageSocket();
    node.LoadPreferences();
    NodeEvents events(node, *host);
    ui::SettingsDialog wizard(events, home.path(), {});
    wizard.show();
    ok &= Save(&wizard, out / "wizard.png");
  }
  testing::DesktopNetwork d(8, 77);
  d.Share(0, "holiday video.avi", 700'000);
  d.Share(0, "Live Song.mp3", 300'000);
  d.Share(0, "notes for the band.txt", 4'000);
  const char* names[] = {"",
                         "open tune - first light.mp3",
                         "open tune - river.mp3",
                         "open tune (live).mp3",
                         "open tune sheet.pdf",
                         "open tune demo.ogg",
                         "open tune remix.mp3",
                         "open tune video.avi"};
  for (std::size_t i = 1; i < 8; ++i)
    d.Share(i, names[i], 1'500'000 * i);
  d.Run(120'000);
  d.window->resize(1100, 640);
  auto* strip = d.window->findChild<QTabBar*>(QStringLiteral("TabStrip1"));
  WaitFor([&] { return strip->tabText(0).startsWith(QStringLiteral("Zorvex")); });
  ok &= Save(d.window.get(), out / "start.png");
  // The browser with a second tab and the favorites of the explorer bar.
  ui::BrowserPane& browser = *d.window->browser();
  browser.ask_favorite_name = [](const QString&) { return QStringLiteral("Zorvex start page"); };
  browser.AddFavorite();
  browser.tabs().NewBrowserTab(QString::fromLatin1(ui::kStartPageAddress));
  browser.tabs().ShowTab(2);
  d.window->ToggleExplorerBar();
  auto* address = d.window->findChild<QLineEdit*>(QStringLiteral("txtAddressBar"));
  WaitFor([&] {
    return strip->tabText(1).startsWith(QStringLiteral("Zorvex")) && !address->text().isEmpty();
  });
  ok &= Save(d.window.get(), out / "browser.png");
  d.window->ToggleExplorerBar();
  d.window->ShowPane(1);
  d.window->findChild<QTableView*>(QStringLiteral("MyFiles"))->selectRow(1);
  ok &= Save(d.window.get(), out / "my-files.png");
  d.window->ShowPane(2);
  auto* query = d.window->findChild<QLineEdit*>(QStringLiteral("txtSearch"));
  query->setText(QStringLiteral("open tune"));
  d.window->search()->StartOrCancel();
  d.Run(4000);
  ok &= Save(d.window.get(), out / "search.png");
  d.window->search()->results_view()->selectRow(0);
  d.window->search()->DownloadSelected();
  d.window->search()->results_view()->selectRow(4);
  d.window->search()->DownloadSelected();
  d.Run(23'000);
  d.window->ShowPane(3);
  ok &= Save(d.window.get(), out / "transfers.png");
  d.window->ShowPane(4);
  ok &= Save(d.window.get(), out / "community.png");
  // The hot list with buddies online and offline, and a conversation.
  d.net[0].hot_list().AddBuddy("node2", d.net.Address(1));
  d.net[0].hot_list().AddBuddy("node3", d.net.Address(2));
  d.net[0].hot_list().AddBuddy("faraway", "10.9.9.9");
  d.Run(3000);
  d.window->ShowPane(4);
  QTreeWidget* buddies = d.window->hot_list()->tree();
  buddies->setCurrentItem(buddies->findItems(QStringLiteral("node2"), Qt::MatchRecursive).value(0));
  ok &= Save(d.window.get(), out / "hotlist.png");
  d.net[1].SendInstantMessage(d.net.Address(0), "hi, is the river song yours?");
  d.Run(2000);
  if (auto* im = d.window->conversation_windows().ForAddress(d.net.Address(1))) {
    im->findChild<QPlainTextEdit*>(QStringLiteral("MyText"))
        ->setPlainText(QStringLiteral("yes, recorded last summer"));
    im->Send();
    d.Run(2000);
    d.net[1].SendInstantMessage(d.net.Address(0), "great, downloading it now");
    d.Run(2000);
    im->findChild<QPlainTextEdit*>(QStringLiteral("MyText"))
        ->setPlainText(QStringLiteral("enjoy!"));
    ok &= Save(im, out / "conversation.png");
  } else {
    ok = false;
  }
  ui::SettingsDialog settings(*d.events, d.net.nodes[0].home->path(), {});
  settings.show();
  ok &= Save(&settings, out / "settings.png");
  settings.ShowPage(3);
  ok &= Save(&settings, out / "settings-downloads.png");
  return ok ? 0 : 1;
}

}  // namespace
}  // namespace zorvex

int main(int argc, char** argv) {
  zorvex::ui::PrepareBrowserEngine();
  QApplication app(argc, argv);
  return zorvex::Main(argc > 1 ? argv[1] : "screenshots");
}
