#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QGroupBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include "im/hot_list.h"
#include "network/peer_table.h"
#include "search/search.h"
#include "transfer/transfers.h"
#include "ui/conversation_window.h"
#include "ui/search_pane.h"
#include "ui/transfers_pane.h"
#include "ui_fixture.h"

namespace zorvex {
namespace {

using testing::DesktopNetwork;
using testing::Find;
using testing::Text;

TEST(SearchFlowTest, TypedSearchCollectsRowsEndsByItselfItsUserIsListedAndDownloadsToFinished) {
  DesktopNetwork d(6);
  d.Share(0, "mine.txt", 100);
  for (std::size_t i = 1; i < 6; ++i)
    d.Share(i, "common tune " + std::to_string(i) + ".mp3", 40'000 + i * 10'000);
  d.Run(90'000);
  ASSERT_GT(d.net[0].peers().size(), 0u);

  QWidget* w = d.window.get();
  Find<QToolButton>(w, "MenuSelection2")->click();
  auto* query = Find<QLineEdit>(w, "txtSearch");
  EXPECT_EQ(query->text(), "What You're Looking For");
  query->clear();
  QTest::keyClicks(query, "common tune");
  QTest::keyClick(query, Qt::Key_Return);
  auto* start = Find<QToolButton>(w, "lblStartSearch");
  EXPECT_EQ(start->text(), "&End Search ");
  EXPECT_EQ(Text(w, "lblResultsStatus"), "Searching...");
  EXPECT_EQ(Text(w, "lblResultsQuery"), "common tune");
  EXPECT_TRUE(Find<QGroupBox>(w, "smResultInfo")->isVisible());
  EXPECT_FALSE(Find<QToolButton>(w, "lblClearResults")->isEnabled());

  auto* results = Find<QTableView>(w, "Results");
  d.Run(5000);
  EXPECT_EQ(results->model()->rowCount(), 5);
  EXPECT_EQ(Text(w, "lblResultsCount"), "5");
  EXPECT_EQ(results->model()->headerData(6, Qt::Horizontal).toString(), "Other Information");

  ASSERT_TRUE(d.RunUntil([&] { return start->text() == "Start &Search"; }, 60'000));
  EXPECT_EQ(Text(w, "lblResultsStatus"), "Finished");
  EXPECT_TRUE(Find<QToolButton>(w, "lblClearResults")->isEnabled());

  // The filter narrows the rows shown, not the node's.
  Find<QLineEdit>(w, "txtResultsFilter")->setText("tune 3");
  EXPECT_EQ(results->model()->rowCount(), 1);
  Find<QLineEdit>(w, "txtResultsFilter")->clear();
  Find<QSpinBox>(w, "spnResultsMinSize")->setValue(50);
  EXPECT_EQ(results->model()->rowCount(), 4);
  Find<QSpinBox>(w, "spnResultsMinSize")->setValue(0);

  results->selectRow(0);
  EXPECT_TRUE(Find<QToolButton>(w, "lblDownloadFile")->isEnabled());
  const QString name = results->model()->index(0, 0).data().toString();
  // The row's user goes on the hot list, only once, and gets a conversation.
  const std::size_t peer = name.mid(12, 1).toUInt();  // "common tune N.mp3"
  const std::string nick = "node" + std::to_string(peer + 1);
  d.window->search()->AddSelectedToHotList();
  EXPECT_EQ(d.net[0].hot_list().NicknameOf(d.net.Address(peer)), nick);
  d.window->search()->AddSelectedToHotList();
  ASSERT_EQ(d.prompts().Messages().size(), 1u);
  EXPECT_EQ(d.prompts().Messages()[0].text, nick + " has already been added to your buddylist!");
  d.window->search()->MessageSelected();
  QCoreApplication::processEvents();
  auto* window = d.window->conversation_windows().ForAddress(d.net.Address(peer));
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->windowTitle().toStdString(), nick + " - Instant Message");

  Find<QToolButton>(w, "lblDownloadFile")->click();
  Find<QToolButton>(w, "MenuSelection3")->click();
  auto* downloads = Find<QTableView>(w, "Downloads");
  ASSERT_EQ(downloads->model()->rowCount(), 1);
  EXPECT_EQ(downloads->model()->index(0, 0).data().toString(), name);
  EXPECT_EQ(downloads->model()->index(0, 6).data().toString(), "Finding More Sources...");
  ASSERT_TRUE(d.RunUntil(
      [&] { return downloads->model()->index(0, 6).data().toString() == "Finished"; }, 180'000));
  EXPECT_EQ(downloads->model()->index(0, 1).data().toString(), "100%");
  EXPECT_TRUE(std::filesystem::exists(d.net.nodes[0].home->path() / name.toStdString()));
  d.Run(2000);
  bool uploaded = false;
  for (std::size_t i = 1; i < 6; ++i)
    uploaded |= !d.net[i].transfers().upload_rows().empty();
  EXPECT_TRUE(uploaded);

  Find<QToolButton>(w, "MenuSelection2")->click();
  Find<QToolButton>(w, "lblClearResults")->click();
  EXPECT_EQ(results->model()->rowCount(), 0);
  EXPECT_EQ(Text(w, "lblResultsQuery"), "-----");
  EXPECT_FALSE(Find<QGroupBox>(w, "smResultInfo")->isVisible());
}

TEST(SearchFlowTest, RefusedSearchesSayWhyAndOneThatFindsNothingEndsWithNoResults) {
  const struct {
    int nodes;
    const char* query;
    const char* message;
  } cases[] = {
      {1, "common tune", "You must be connected in order to search!"},
      {3, "a*b",
       "Your search must have at least 3 characters other than spaces, wildcards, and "
       "repeating characters."},
  };
  for (const auto& c : cases) {
    DesktopNetwork d(c.nodes);
    d.Run(60'000);
    QWidget* w = d.window.get();
    auto* query = Find<QLineEdit>(w, "txtSearch");
    auto* start = Find<QToolButton>(w, "lblStartSearch");
    query->setText(c.query);
    QTest::keyClick(query, Qt::Key_Return);
    ASSERT_FALSE(d.prompts().Messages().empty()) << c.query;
    EXPECT_EQ(d.prompts().Messages().back().text, c.message);
    EXPECT_EQ(start->text(), "Start &Search");
    if (c.nodes == 1) continue;
    // Connected, a search that matches nothing runs and ends by itself.
    Find<QToolButton>(w, "MenuSelection2")->click();
    query->setText("nothing matches this");
    start->click();
    EXPECT_EQ(Text(w, "lblResultsStatus"), "Searching...");
    ASSERT_TRUE(d.RunUntil([&] { return start->text() == "Start &Search"; }, 60'000));
    EXPECT_EQ(Text(w, "lblResultsStatus"), "No Results Found!");
    EXPECT_EQ(d.prompts().Beeps().size(), 1u);
  }
}

}  // namespace
}  // namespace zorvex
