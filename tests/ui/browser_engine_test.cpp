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

// The engine's own code frees some of its objects through a type of another size and keeps
// others until the process ends; both are inside the library, not ours to mend, and would end
// every sanitized run of this test. Our code is checked for both by the other suites, which
// run the same windows on a stand-in engine.
extern "C" const char* __asan_default_options() {
  return "new_delete_type_mismatch=0:detect_leaks=0";
}

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
