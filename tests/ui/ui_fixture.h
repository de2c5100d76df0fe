#pragma once
// A simulated network whose first node has the desktop windows, in one process: the windows
// cannot tell the simulated platform from the real one.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>

#include "node/node_observer.h"
#include "scenario/sim_network.h"
#include "share/file_hash.h"
#include "share/file_kind.h"
#include "share/format.h"
#include "ui/main_window.h"

// Readable failures for texts of the windows.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace zorvex::testing {

// A named child of a window, failing the test when it is missing.
template <typename T>
T* Find(QWidget* root, const char* name) {
  T* found = root->findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(found, nullptr) << name;
  return found;
}

// The text of a named label.
inline QString Text(QWidget* root, const char* name) {
  auto* label = Find<QLabel>(root, name);
  return label ? label->text() : QString();
}

class DesktopNetwork {
 public:
  explicit DesktopNetwork(int nodes, std::uint64_t seed = 41) : net(seed) {
    for (int i = 0; i < nodes; ++i)
      net.AddNode(i % 10);
    net.world.ServeHttp(kGatewayUrl,
                        [this] { return net[net.nodes.size() > 1 ? 1 : 0].GatewayPage(); });
    events = std::make_unique<NodeEvents>(net[0], *net.nodes[0].host);
    window = std::make_unique<ui::MainWindow>(*events, net.nodes[0].home->path());
    window->SetExitHandler([](std::function<void()>) {});
    window->show();
  }

  // Virtual time passes; then the windows take what was posted to them.
  void Run(std::int64_t ms) {
    net.world.RunFor(ms);
    QCoreApplication::processEvents();
  }
  bool RunUntil(const std::function<bool()>& done, std::int64_t max_ms) {
    for (std::int64_t t = 0; t < max_ms; t += 500) {
      Run(500);
      if (done()) return true;
    }
    return false;
  }

  // Node i shares one file with real bytes in its own folder.
  SharedFile Share(std::size_t i, const std::string& name, std::size_t size) {
    const auto folder = net.nodes[i].home->path() / "shared";
    std::filesystem::create_directories(folder);
    std::string bytes(size, '\0');
    for (std::size_t k = 0; k < size; ++k)
      bytes[k] = static_cast<char>((k * 131 + i) & 0xff);
    WriteFileBytes(folder / name, bytes);
    SharedFile row;
    row.file_name = name;
    row.base_name = name.substr(0, name.rfind('.'));
    row.category = std::string(GetFileCategory(name));
    row.size = static_cast<std::int32_t>(size);
    row.size_text = FormatFileSize(row.size);
    row.hash = HashFileNow(folder / name);
    row.folder = folder.string() + "/";
    net[i].shared_files().rows.push_back(row);
    net[i].shared_files().sorted = true;
    if (i == 0) events->Changed(NodeList::kSharedFiles);
    return row;
  }

  SimPrompts& prompts() { return net.nodes[0].host->Prompts(); }

  SimNetwork net;
  std::unique_ptr<NodeEvents> events;
  std::unique_ptr<ui::MainWindow> window;
};

// Answers the next modal message box with `button` and keeps its text and title.
struct BoxAnswer {
  QString text;
  QString title;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
};
inline std::shared_ptr<BoxAnswer> AnswerNextBox(QMessageBox::StandardButton button) {
  auto answer = std::make_shared<BoxAnswer>();
  QTimer::singleShot(0, [answer, button] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    answer->text = box->text();
    answer->title = box->windowTitle();
    answer->icon = box->icon();
    box->button(button)->click();
  });
  return answer;
}

}  // namespace zorvex::testing
