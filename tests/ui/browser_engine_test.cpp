// The browser pane on the real web engine, offscreen: the start page loads from the program's
// resources, and a zx://search link clicked in it starts a search in this client.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTabBar>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineView>

#include "ui/browser_pane.h"
#include "ui_fixture.h"

namespace zorvex::ui {
namespace {

TEST(BrowserEngine, StartPageLoadsAndItsSearchLinkSearches) {
  testing::DesktopNetwork d(2);
  d.Run(30'000);
  BrowserPane& pane = *d.window->browser();
  auto* strip = pane.findChild<QTabBar*>(QStringLiteral("TabStrip1"));
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return strip->tabText(0).startsWith(QStringLiteral("Zorvex Start Page")); }, 60'000))
      << "the start page did not load; tab caption: " << strip->tabText(0).toStdString();
  auto* address = pane.findChild<QLineEdit*>(QStringLiteral("txtAddressBar"));
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return address->text() == QString::fromLatin1(kStartPageAddress); }, 30'000))
      << address->text().toStdString();

  auto* view = qobject_cast<QWebEngineView*>(pane.current_control()->widget());
  ASSERT_NE(view, nullptr);
  view->page()->runJavaScript(QStringLiteral("document.getElementById('search-link').click();"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return d.window->current_pane() == 2; }, 30'000))
      << "the link did not reach the client";
  EXPECT_EQ(d.window->findChild<QLineEdit*>(QStringLiteral("txtSearch"))->text(), "open tune");
  // The page stayed where it was.
  EXPECT_EQ(pane.current_control()->Address(), QString::fromLatin1(kStartPageAddress));
  EXPECT_EQ(strip->count(), 1);
}

}  // namespace
}  // namespace zorvex::ui

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
  zorvex::ui::PrepareBrowserEngine();
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
