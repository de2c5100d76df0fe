#include <gtest/gtest.h>

#include <QCheckBox>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QToolButton>

#include "settings/ini_store.h"
#include "transfer/transfers.h"
#include "ui/transfers_pane.h"
#include "ui_fixture.h"

namespace zorvex {
namespace {

using testing::DesktopNetwork;
using testing::Find;

// Node 0 downloads one file from node 1 and one from node 2.
class TransfersPaneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    d.Share(0, "mine.txt", 100);
    // Slow enough links that a transfer lasts a few seconds.
    d.net.world.SetDefaultLink({.bandwidth_bytes_per_s = 200'000});
    a = d.Share(1, "first.bin", 600'000);
    b = d.Share(2, "second.bin", 900'000);
    d.Run(60'000);
    ASSERT_TRUE(d.net[0].transfers().StartDownload(a.file_name, a.size, a.hash, d.net.Address(1)));
    ASSERT_TRUE(d.net[0].transfers().StartDownload(b.file_name, b.size, b.hash, d.net.Address(2)));
    d.events->Flush();
    d.window->ShowPane(3);
    downloads = Find<QTableView>(d.window.get(), "Downloads");
  }
  QString Status(int row) { return downloads->model()->index(row, 6).data().toString(); }

  DesktopNetwork d{3};
  SharedFile a, b;
  QTableView* downloads = nullptr;
};

TEST_F(TransfersPaneTest, RowsFinishAndClearingRemovesOnlyTheirKind) {
  ASSERT_EQ(downloads->model()->rowCount(), 2);
  EXPECT_EQ(downloads->toolTip(), "My Current Downloads (Receiving)");
  ASSERT_TRUE(
      d.RunUntil([&] { return Status(0) == "Finished" && Status(1) == "Finished"; }, 180'000));
  auto* uploads = Find<QTableView>(d.window.get(), "Uploads");
  EXPECT_EQ(d.net[1].transfers().upload_rows().size(), 1u);

  // Cancel on a finished row changes nothing.
  downloads->selectRow(0);
  d.window->transfers()->Cancel();
  EXPECT_EQ(Status(0), "Finished");
  EXPECT_EQ(uploads->model()->rowCount(), 0);  // node 0 uploads nothing
  EXPECT_FALSE(d.window->transfers()->uploads_selected());
  d.window->transfers()->Clear(true);
  EXPECT_EQ(downloads->model()->rowCount(), 2);
  d.window->transfers()->Clear(false);
  EXPECT_EQ(downloads->model()->rowCount(), 0);
}

TEST_F(TransfersPaneTest, PauseCancelAndAutomaticClearing) {
  // "Receiving..." shows before the source connects; bytes show that it has.
  bool receiving = false;
  for (int t = 0; t < 60'000 && !receiving; t += 50) {
    d.Run(50);
    receiving =
        Status(1) == "Receiving..." && downloads->model()->index(1, 1).data().toString() != "0%";
  }
  ASSERT_TRUE(receiving);
  d.Run(1000);
  // The tray's hover text carries the rates while bytes move.
  EXPECT_TRUE(d.window->tray()->toolTip().startsWith("Zorvex - down "))
      << d.window->tray()->toolTip().toStdString();
  downloads->selectRow(1);
  auto* pause = Find<QToolButton>(d.window.get(), "TransferMenu1");
  d.window->transfers()->PauseOrResume();
  EXPECT_EQ(Status(1), "Paused");
  EXPECT_EQ(pause->text(), "&Resume");
  d.window->transfers()->PauseOrResume();
  EXPECT_EQ(pause->text(), "&Pause   ");

  Find<QCheckBox>(d.window.get(), "chkClearDownloads")->setChecked(true);
  IniStore store;
  EXPECT_EQ(store.ReadINI("Preferences", "AutomaticDownloadClear", d.net[0].PreferencesFile()),
            "1");
  // A cancelled row ends as an error, which automatic clearing removes at once.
  d.window->transfers()->Cancel();
  EXPECT_EQ(downloads->model()->rowCount(), 1);
  // The finished one goes too.
  ASSERT_TRUE(d.RunUntil([&] { return downloads->model()->rowCount() == 0; }, 180'000));
}

}  // namespace
}  // namespace zorvex
