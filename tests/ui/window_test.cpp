#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include "core/message_layer.h"
#include "network/peer_table.h"
#include "settings/ini_store.h"
#include "ui/my_files_pane.h"
#include "ui_fixture.h"

namespace zorvex {
namespace {

using testing::AnswerNextBox;
using testing::DesktopNetwork;
using testing::Find;
using testing::Text;

TEST(MainWindowTest, TitleButtonsPanesCountersQueuesAndConnection) {
  DesktopNetwork d(4);
  EXPECT_EQ(d.window->windowTitle(), "Zorvex v1.2.1");
  const struct {
    const char* name;
    const char* caption;
    const char* hover;
  } buttons[] = {
      {"MenuSelection0", "Home", "Browse the Web"},
      {"MenuSelection1", "My Files", "My Current Files Shared"},
      {"MenuSelection2", "Search", "Search the Zorvex Network!"},
      {"MenuSelection3", "Transfers", "My File Transfers"},
      {"MenuSelection4", "Community", "Connection Information"},
      {"MenuSelection5", "Settings", "Modify My Settings"},
  };
  for (const auto& b : buttons) {
    auto* button = Find<QToolButton>(d.window.get(), b.name);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), b.caption);
    EXPECT_EQ(button->toolTip(), b.hover);
  }
  EXPECT_EQ(ui::TrayTipText(QString(80, QLatin1Char('x'))).size(), 63);
  // The product icon is drawn from its SVG at any size.
  EXPECT_FALSE(d.window->windowIcon().pixmap(256).isNull());

  auto* hide = Find<QToolButton>(d.window.get(), "btnHideBar");
  // The start page is on show with the bar collapsed.
  EXPECT_EQ(d.window->current_pane(), 0);
  EXPECT_EQ(hide->text(), ">");
  EXPECT_EQ(hide->toolTip(), "Maximize Explorer Bar");

  Find<QToolButton>(d.window.get(), "MenuSelection1")->click();
  EXPECT_EQ(d.window->current_pane(), 1);
  EXPECT_EQ(hide->text(), "<");
  EXPECT_EQ(hide->toolTip(), "Minimize Explorer Bar");
  EXPECT_TRUE(Find<QGroupBox>(d.window.get(), "smMenuFiles")->isVisible());
  EXPECT_FALSE(Find<QGroupBox>(d.window.get(), "smMenuSearch")->isVisible());

  // The same button again changes nothing; a collapsed bar stays collapsed between panes.
  hide->click();
  Find<QToolButton>(d.window.get(), "MenuSelection1")->click();
  EXPECT_EQ(hide->text(), ">");
  Find<QToolButton>(d.window.get(), "MenuSelection3")->click();
  EXPECT_EQ(hide->text(), ">");
  hide->click();
  EXPECT_TRUE(Find<QGroupBox>(d.window.get(), "smMenuTransfers")->isVisible());
  EXPECT_FALSE(Find<QGroupBox>(d.window.get(), "smMenuFiles")->isVisible());
  // No search ran: its information panel stays hidden on the Search pane.
  Find<QToolButton>(d.window.get(), "MenuSelection2")->click();
  EXPECT_TRUE(Find<QGroupBox>(d.window.get(), "smMenuSearch")->isVisible());
  EXPECT_FALSE(Find<QGroupBox>(d.window.get(), "smResultInfo")->isVisible());

  Find<QToolButton>(d.window.get(), "MenuSelection0")->click();
  EXPECT_EQ(hide->text(), ">");
  EXPECT_FALSE(Find<QGroupBox>(d.window.get(), "smMenuSearch")->isVisible());

  EXPECT_EQ(Text(d.window.get(), "lblPacketsIn"), "0");
  EXPECT_EQ(Find<QLabel>(d.window.get(), "picConnection")->toolTip(), "Disconnected");
  EXPECT_TRUE(Find<QToolButton>(d.window.get(), "lblConnect")->isEnabled());
  d.Run(60'000);
  EXPECT_NE(Text(d.window.get(), "lblPacketsIn"), "0");
  EXPECT_NE(Text(d.window.get(), "lblPacketsOut"), "0");
  EXPECT_EQ(Text(d.window.get(), "lblPacketsBad"), "0");
  EXPECT_EQ(Find<QLabel>(d.window.get(), "picConnection")->toolTip(), "Connected");
  EXPECT_FALSE(Find<QToolButton>(d.window.get(), "lblConnect")->isEnabled());
  auto* neighbours = Find<QTableView>(d.window.get(), "Connections");
  EXPECT_EQ(static_cast<std::size_t>(neighbours->model()->rowCount()), d.net[0].peers().size());

  d.net[0].messages().QueueMessage("Ping-", "10.9.9.9");
  d.net[0].messages().QueueMessage("Ping-", "10.9.9.8");
  d.net.world.RunPending();
  QCoreApplication::processEvents();
  EXPECT_EQ(Text(d.window.get(), "lblPacketQueues"), "2 - 0");
  d.Run(1000);
  EXPECT_EQ(Text(d.window.get(), "lblPacketQueues"), "0 - 0");
}

TEST(MainWindowTest, ClosingHidesToTheTrayOrMinimisesWithoutOneAndExitRunsOnce) {
  for (const bool tray : {true, false}) {
    DesktopNetwork d(2);
    d.window->SetTrayAvailable([tray] { return tray; });
    EXPECT_FALSE(d.window->close());
    if (tray) {
      EXPECT_FALSE(d.window->isVisible());
      EXPECT_TRUE(d.window->tray()->isVisible());
      EXPECT_EQ(d.window->tray()->toolTip(), "Zorvex");
      d.window->SetTrayMode(0);
      EXPECT_TRUE(d.window->isVisible());
      EXPECT_FALSE(d.window->tray()->isVisible());
    } else {
      EXPECT_TRUE(d.window->isVisible());
      EXPECT_TRUE(d.window->isMinimized());
    }
    int exits = 0;
    d.window->SetExitHandler([&exits](std::function<void()>) { ++exits; });
    d.window->Exit();
    EXPECT_FALSE(d.window->isVisible());
    EXPECT_EQ(exits, 1);
  }
}

TEST(MyFilesPaneTest, DetailsHashBufferFindUnshareAndDelete) {
  DesktopNetwork d(2);
  d.Share(0, "Live Song.mp3", 3000);
  d.Share(0, "other song live.mp3", 2000);
  d.Share(0, "notes.txt", 1000);
  d.events->Flush();
  ui::MyFilesPane* pane = d.window->my_files();
  d.window->ShowPane(1);
  auto* view = Find<QTableView>(d.window.get(), "MyFiles");
  const auto select = [view](int row) {
    view->selectRow(row);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      view->visualRect(view->model()->index(row, 0)).center());
  };

  ASSERT_EQ(view->model()->rowCount(), 3);
  EXPECT_EQ(view->model()->headerData(1, Qt::Horizontal).toString(), "File Size");
  EXPECT_FALSE(Find<QToolButton>(d.window.get(), "FileTasks0")->isEnabled());
  // Find walks the matches, then says there are no more.
  pane->ShowFindPanel();
  auto* keywords = Find<QLineEdit>(d.window.get(), "txtMyFilesSearch");
  auto* find = Find<QPushButton>(d.window.get(), "btnMyFilesSearch");
  keywords->setText("song live");
  QTest::keyClick(keywords, Qt::Key_Return);
  EXPECT_EQ(find->text(), "Find Next");
  EXPECT_EQ(view->selectionModel()->selectedRows().first().row(), 0);
  find->click();
  EXPECT_EQ(view->selectionModel()->selectedRows().first().row(), 1);
  find->click();
  EXPECT_EQ(Text(d.window.get(), "lblStatus"), "No More Items Found.");
  EXPECT_EQ(find->text(), "Find");
  pane->ShowFindPanel();
  keywords->setText("nothing here");
  find->click();
  EXPECT_EQ(Text(d.window.get(), "lblStatus"), "No Shared Items Found!");

  select(2);
  EXPECT_TRUE(Find<QToolButton>(d.window.get(), "FileTasks0")->isEnabled());
  EXPECT_EQ(Text(d.window.get(), "lblMyFilesExt"), "txt");
  EXPECT_EQ(Text(d.window.get(), "lblMyFilesType"), "Document");
  EXPECT_EQ(Text(d.window.get(), "lblMyFilesOtherInfo"), "None");
  EXPECT_EQ(Text(d.window.get(), "lblMyFilesFileSize"), "1000 Bytes");

  // The hash buffer choice is stored when the list loses the focus.
  auto* list = Find<QComboBox>(d.window.get(), "cmbHashSpeed");
  EXPECT_EQ(list->currentText(), "256 KB");
  ASSERT_EQ(list->count(), 4);
  EXPECT_EQ(list->itemText(3), "3 KB");
  list->setCurrentIndex(2);
  QFocusEvent leave(QEvent::FocusOut);
  QApplication::sendEvent(list, &leave);
  EXPECT_EQ(d.net[0].hash_speed(), 2);
  EXPECT_EQ(d.net[0].store().ReadINI("Preferences", "HashSpeed", d.net[0].PreferencesFile()), "2");

  // Unsharing and deleting ask, and the last file stays.
  select(2);
  pane->UnshareSelected();
  EXPECT_EQ(view->model()->rowCount(), 2);
  EXPECT_EQ(Text(d.window.get(), "lblSharedCount"), "2");
  const std::string path = d.net[0].shared_files().rows[1].FullPath();
  select(1);
  auto no = AnswerNextBox(QMessageBox::No);
  pane->DeleteSelected();
  EXPECT_EQ(no->text,
            "Are you sure you would like to delete other song live.mp3?  It will be "
            "permanently removed.");
  EXPECT_EQ(view->model()->rowCount(), 2);
  EXPECT_TRUE(std::filesystem::exists(path));
  select(1);
  auto yes = AnswerNextBox(QMessageBox::Yes);
  pane->DeleteSelected();
  EXPECT_EQ(view->model()->rowCount(), 1);
  EXPECT_FALSE(std::filesystem::exists(path));
  select(0);
  auto last = AnswerNextBox(QMessageBox::Ok);
  pane->UnshareSelected();
  EXPECT_EQ(last->text, "You must have at least 1 file being shared!");
  EXPECT_EQ(last->icon, QMessageBox::Critical);
  EXPECT_EQ(view->model()->rowCount(), 1);
}

}  // namespace
}  // namespace zorvex
