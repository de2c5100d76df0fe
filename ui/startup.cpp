#include "ui/startup.h"

namespace zorvex::ui {

QString BindFailureHint(const QString& program) {
  return QStringLiteral(
             "Port 620 is privileged on Linux. Allow this program once with:\n"
             "sudo setcap cap_net_bind_service=+ep ") +
         program;
}

bool CompleteSettings(NodeEvents& events, const std::filesystem::path& home,
                      const DesktopHooks& hooks) {
  if (events.node().MissingEssentials().empty()) return true;
  SettingsDialog wizard(events, home, hooks);
  wizard.exec();
  return events.node().MissingEssentials().empty();
}

}  // namespace zorvex::ui
