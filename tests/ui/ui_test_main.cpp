// The windows need a widget application; tests run on the offscreen platform.

#include <gtest/gtest.h>

#include <QApplication>

#include "ui/browser_pane.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // The windows' browsers are stand-ins here; one test of its own runs the real engine.
  zorvex::ui::PrepareBrowserEngine();
  zorvex::ui::SetBrowserEngineFactory(zorvex::ui::MakeStandInEngine);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
