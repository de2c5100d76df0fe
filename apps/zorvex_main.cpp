// zorvex: the desktop client, one node on the Qt platform with its windows.

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include <QApplication>
#include <QMessageBox>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTimer>

#include "node/node.h"
#include "node/node_observer.h"
#include "platform/qt/exit_signals.h"
#include "platform/qt/qt_runtime.h"
#include "platform/qt/single_instance.h"
#include "settings/desktop_integration.h"
#include "ui/browser_pane.h"
#include "ui/gui_prompts.h"
#include "ui/main_window.h"
#include "ui/settings_dialog.h"
#include "ui/startup.h"
#include "ui/transfers_pane.h"

namespace zorvex {
namespace {

constexpr char kUsage[] =
    "Usage: zorvex [--home FOLDER] [--bind ADDRESS] [zx://LINK]\n"
    "  --home FOLDER   program folder (prefs.dll, FileDatabase.dll, Downloads/);\n"
    "                  default $XDG_DATA_HOME/zorvex\n"
    "  --bind ADDRESS  the IPv4 address to use (default: every address)\n"
    "  zx://LINK       a get, search or connect link for the running copy\n";

struct CommandLine {
  std::filesystem::path home;
  std::string bind;
  std::string link;
  bool help = false;
};

std::optional<CommandLine> Parse(const std::vector<std::string>& args, std::string& error) {
  CommandLine line;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      line.help = true;
    } else if (arg == "--home" || arg == "--bind") {
      if (i + 1 >= args.size()) {
        error = arg + " needs a value";
        return std::nullopt;
      }
      if (arg == "--home") {
        line.home = std::filesystem::absolute(args[++i]);
      } else {
        line.bind = args[++i];
      }
    } else if (!arg.empty() && arg[0] == '-') {
      error = "unknown option " + arg;
      return std::nullopt;
    } else if (line.link.empty()) {
      line.link = arg;
    } else {
      error = "only one link may be given";
      return std::nullopt;
    }
  }
  return line;
}

std::filesystem::path DefaultHome() {
  const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  return std::filesystem::path(data.toStdString()) / "zorvex";
}

void Critical(const QString& text, const QString& detail = {}) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Error!"), text, QMessageBox::Ok);
  if (!detail.isEmpty()) box.setInformativeText(detail);
  box.exec();
}

int Main(int argc, char** argv) {
  ExitSignalWatch exit_signals;
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  ui::PrepareBrowserEngine();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("zorvex"));
  QApplication::setDesktopFileName(QStringLiteral("zorvex"));
  QApplication::setQuitOnLastWindowClosed(false);

  std::string error;
  auto line = Parse(args, error);
  if (!line) {
    std::cerr << "zorvex: " << error << " (see zorvex --help)\n";
    return 2;
  }
  if (line->help) {
    std::cout << kUsage;
    return 0;
  }
  const std::filesystem::path home = line->home.empty() ? DefaultHome() : line->home;
  std::error_code io_error;
  std::filesystem::create_directories(home, io_error);

  // A second copy hands its link (or an empty one, which brings the window forward) over.
  if (ForwardCommand(home, line->link)) return 0;

  ui::MainWindow* window = nullptr;
  std::string pending_link = line->link;
  SingleInstanceServer instance(
      [&window, &pending_link](std::string command) {
        if (window) {
          window->RunCommand(command);
        } else if (!command.empty()) {
          pending_link = command;
        }
      },
      [] { return std::string("{}\n"); });
  switch (instance.Listen(home)) {
    case InstanceClaim::kOtherCopy:
      Critical(QStringLiteral("You already have Zorvex running!"));
      return 1;
    case InstanceClaim::kFailed:
      std::cerr << "zorvex: cannot watch for other copies: " << instance.ErrorText() << "\n";
      return 1;
    case InstanceClaim::kClaimed:
      break;
  }

  ui::GuiPrompts prompts;
  QtRuntime runtime(line->bind);
  runtime.SetPrompts(prompts);
  const DesktopEnvironment desktop =
      DesktopEnvironmentFromProcess(QCoreApplication::applicationFilePath().toStdString());
  ui::DesktopHooks hooks{
      [desktop] { RegisterUrlProtocol(desktop, "Zorvex", "zx"); },
      [desktop](bool on) { SetStartWithDesktop(desktop, on); },
  };
  Node node(runtime, NodeOptions{
                         .home = home,
                         .register_url_protocol = hooks.register_url_protocol,
                         .set_start_with_desktop = hooks.set_start_with_desktop,
                         // The scan runs inside a timer: the dialog opens once it returned.
                         .open_settings =
                             [&window] {
                               QTimer::singleShot(0, [&window] {
                                 if (window) window->OpenSettings();
                               });
                             },
                     });
  NodeEvents events(node, runtime);

  if (!node.BindMessageSocket()) {
    Critical(QString::fromLatin1(ui::kBindFailureText),
             ui::BindFailureHint(QCoreApplication::applicationFilePath()));
    return 1;
  }
  ui::MainWindow main_window(events, home);
  window = &main_window;
  main_window.SetDesktopHooks(hooks);
  prompts.SetParent([&main_window]() -> QWidget* { return &main_window; });
  main_window.SetExitHandler([&node](std::function<void()> done) { node.Exit(std::move(done)); });
  main_window.transfers()->SetDownloadEndedListener([&main_window](const QString& name, bool ok) {
    if (main_window.tray()->isVisible()) {
      main_window.tray()->showMessage(
          ok ? QStringLiteral("Download finished") : QStringLiteral("Download failed"), name);
    }
  });

  node.LoadPreferences();
  if (!ui::CompleteSettings(events, home, hooks)) return 1;
  main_window.browser()->LoadChat();
  // Logging out sends SIGTERM: the tray's Exit runs then; a second signal ends at once.
  bool signalled = false;
  exit_signals.Watch([&main_window, &signalled] {
    if (signalled) QCoreApplication::exit(1);
    signalled = true;
    main_window.Exit();
  });
  main_window.show();
  node.Run();
  if (!pending_link.empty()) {
    const std::string link = pending_link;
    QTimer::singleShot(1500, &main_window, [&main_window, link] { main_window.RunCommand(link); });
  }
  const int status = app.exec();
  window = nullptr;
  // Boxes the node might still raise while it is taken down have no window to belong to.
  prompts.SetParent({});
  return status;
}

}  // namespace
}  // namespace zorvex

int main(int argc, char** argv) {
  return zorvex::Main(argc, argv);
}
