#include <gtest/gtest.h>

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

#include "im/conversations.h"
#include "im/hot_list.h"
#include "ui/conversation_window.h"
#include "ui/hot_list_panel.h"
#include "ui_fixture.h"

namespace zorvex {
namespace {

using testing::DesktopNetwork;
using testing::Find;

QString ConversationText(QWidget* window) {
  return Find<QPlainTextEdit>(window, "Conversation")->toPlainText();
}

// Types a text into the window's own box and presses Enter.
void TypeAndEnter(QWidget* window, const QString& text) {
  auto* my_text = Find<QPlainTextEdit>(window, "MyText");
  my_text->setPlainText(text);
  QTest::keyClick(my_text, Qt::Key_Return);
}

ui::ConversationWindow* Open(DesktopNetwork& d, std::size_t peer) {
  d.net[0].conversations().ReceiveIM(d.net.Address(peer), "node" + std::to_string(peer + 1) + "|");
  QCoreApplication::processEvents();
  return d.window->conversation_windows().ForAddress(d.net.Address(peer));
}

TEST(ConversationWindowTest, MessagesTravelBothWaysBetweenTwoWindows) {
  DesktopNetwork d(2);
  // The second node shows its conversations in windows of its own.
  ui::ConversationWindows other(d.net[1], nullptr, {});
  ui::ConversationWindow* mine = Open(d, 1);
  ASSERT_NE(mine, nullptr);
  EXPECT_TRUE(mine->isVisible());
  EXPECT_EQ(mine->windowTitle(), "node2 - Instant Message");
  EXPECT_EQ(Find<QLabel>(mine, "WhoIs")->text(), "node2");
  EXPECT_EQ(ConversationText(mine), "");

  TypeAndEnter(mine, QStringLiteral("  a | b ~ c  "));
  EXPECT_EQ(Find<QPlainTextEdit>(mine, "MyText")->toPlainText(), "");
  EXPECT_EQ(ConversationText(mine), "node1:  a | b ~ c");
  d.Run(2000);
  ui::ConversationWindow* theirs = other.ForAddress(d.net.Address(0));
  ASSERT_NE(theirs, nullptr);
  EXPECT_TRUE(theirs->isVisible());
  EXPECT_EQ(theirs->windowTitle(), "node1 - Instant Message");
  EXPECT_EQ(Find<QLabel>(theirs, "WhoIs")->text(), "node1");
  EXPECT_EQ(ConversationText(theirs), "node1:  a | b ~ c");

  TypeAndEnter(theirs, QStringLiteral("fine"));
  d.Run(2000);
  Find<QPushButton>(mine, "btnSend")->setFocus();
  Find<QPlainTextEdit>(mine, "MyText")->setPlainText(QStringLiteral("bye"));
  Find<QPushButton>(mine, "btnSend")->click();
  d.Run(2000);
  EXPECT_EQ(ConversationText(mine), "node1:  a | b ~ c\nnode2:  fine\nnode1:  bye");
  EXPECT_EQ(ConversationText(theirs), "node1:  a | b ~ c\nnode2:  fine\nnode1:  bye");

  // Closing forgets the conversation; the next message opens a fresh window.
  Find<QPushButton>(theirs, "btnClose")->click();
  QCoreApplication::processEvents();
  EXPECT_EQ(other.ForAddress(d.net.Address(0)), nullptr);
  EXPECT_EQ(d.net[1].conversations().IMCount(), 0);

  // Enter on a blank text is refused and sends nothing.
  const QString said = ConversationText(mine);
  for (const char* text : {"", "   "}) {
    d.prompts().Clear();
    TypeAndEnter(mine, QString::fromLatin1(text));
    ASSERT_EQ(d.prompts().Messages().size(), 1u) << text;
    EXPECT_EQ(d.prompts().Messages()[0].text, "Invalid IM text!");
    EXPECT_EQ(d.prompts().Messages()[0].icon, PromptIcon::kCritical);
  }
  d.Run(1000);
  EXPECT_EQ(d.net[1].conversations().IMCount(), 0);
  EXPECT_EQ(ConversationText(mine), said);

  // A double click asks before clearing.
  auto* view = Find<QPlainTextEdit>(mine, "Conversation")->viewport();
  for (const bool yes : {false, true}) {
    d.prompts().ScriptAnswer(yes);
    QTest::mouseDClick(view, Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_EQ(d.prompts().Questions().back().text,
              "Are you sure you want to clear this instant message?");
    EXPECT_EQ(d.prompts().Questions().back().title, "Zorvex");
    EXPECT_EQ(ConversationText(mine), yes ? "" : said);
  }

  // The hot list's links follow the selection and act on the buddy.
  Find<QPushButton>(mine, "btnAddToHotlist")->click();
  auto* tree = Find<QTreeWidget>(d.window.get(), "tvHotList");
  auto* message = Find<QToolButton>(d.window.get(), "lblHotListMessage");
  auto* remove = Find<QToolButton>(d.window.get(), "lblHotListRemove");
  EXPECT_EQ(message->text(), "IM User");
  EXPECT_EQ(remove->text(), "Remove");
  ASSERT_EQ(tree->topLevelItemCount(), 2);
  EXPECT_EQ(tree->topLevelItem(0)->text(0), "Online");
  EXPECT_EQ(tree->topLevelItem(1)->text(0), "Offline");
  ASSERT_EQ(tree->topLevelItem(1)->childCount(), 1);
  EXPECT_EQ(tree->topLevelItem(1)->child(0)->text(0), "node2");

  // The buddy answers the ping and moves to Online.
  d.Run(2000);
  ASSERT_EQ(tree->topLevelItem(0)->childCount(), 1);
  EXPECT_EQ(tree->topLevelItem(1)->childCount(), 0);
  QTreeWidgetItem* buddy = tree->topLevelItem(0)->child(0);
  const struct {
    QTreeWidgetItem* item;
    bool enabled;
  } selections[] = {{tree->topLevelItem(1), false}, {buddy, true}, {tree->topLevelItem(0), false}};
  for (const auto& s : selections) {
    tree->setCurrentItem(s.item);
    EXPECT_EQ(message->isEnabled(), s.enabled) << s.item->text(0).toStdString();
    EXPECT_EQ(remove->isEnabled(), s.enabled) << s.item->text(0).toStdString();
  }

  // "IM User" reaches the open window; "Remove" takes the buddy out of the tree.
  tree->setCurrentItem(buddy);
  message->click();
  EXPECT_EQ(d.window->conversation_windows().windows().size(), 1u);
  remove->click();
  EXPECT_EQ(tree->topLevelItem(0)->childCount(), 0);
  EXPECT_FALSE(message->isEnabled());
  EXPECT_TRUE(d.net[0].hot_list().NicknameOf(d.net.Address(1)).empty());
}

TEST(ConversationWindowTest, AwayModeRefusesToOpenHidesAndCountsWindowsAndExitAsksFirst) {
  DesktopNetwork d(3);
  ASSERT_EQ(d.net[0].hot_list().AddBuddy("node2", d.net.Address(1)).outcome,
            AddBuddyOutcome::kAdded);
  QCoreApplication::processEvents();
  auto* away = Find<QToolButton>(d.window.get(), "lblSetAway");
  EXPECT_EQ(away->text(), "Set to Away Mode");
  away->click();
  EXPECT_EQ(away->text(), "Set Back - 0 IM(s)");
  auto* tree = Find<QTreeWidget>(d.window.get(), "tvHotList");
  tree->setCurrentItem(tree->findItems(QStringLiteral("node2"), Qt::MatchRecursive)[0]);
  Find<QToolButton>(d.window.get(), "lblHotListMessage")->click();
  QCoreApplication::processEvents();
  ASSERT_EQ(d.prompts().Messages().size(), 1u);
  EXPECT_EQ(d.prompts().Messages()[0].text, "You are currently in away mode!");
  EXPECT_EQ(d.prompts().Messages()[0].icon, PromptIcon::kCritical);
  EXPECT_TRUE(d.window->conversation_windows().windows().empty());
  EXPECT_EQ(d.net[0].conversations().IMCount(), 0);
  away->click();

  ui::ConversationWindow* first = Open(d, 1);
  ui::ConversationWindow* second = Open(d, 2);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  const struct {
    const char* caption;
    bool visible;
  } clicks[] = {{"Set Back - 2 IM(s)", false}, {"Set to Away Mode", true}};
  for (const auto& click : clicks) {
    away->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(away->text(), click.caption);
    EXPECT_EQ(first->isVisible(), click.visible);
    EXPECT_EQ(second->isVisible(), click.visible);
  }

  // Exit while away with conversations asks first.
  int exits = 0;
  d.window->SetExitHandler([&exits](std::function<void()>) { ++exits; });
  away->click();
  d.prompts().ScriptAnswer(false);
  d.window->Exit();
  EXPECT_EQ(d.prompts().Questions().back().text,
            "You have some unread instant messages, are you sure you want to exit?");
  EXPECT_EQ(exits, 0);
  EXPECT_TRUE(d.window->isVisible());
  EXPECT_EQ(away->text(), "Set to Away Mode");
  d.window->Exit();  // away mode is off now: no question
  EXPECT_EQ(d.prompts().Questions().size(), 1u);
  EXPECT_EQ(exits, 1);
}

}  // namespace
}  // namespace zorvex
