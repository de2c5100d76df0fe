#pragma once
// Start-up with a window: what is said when port 620 cannot be bound, and the first-run wizard
// when the settings lack an essential.

#include <filesystem>

#include <QString>

#include "node/node_observer.h"
#include "ui/settings_dialog.h"

namespace zorvex::ui {

inline constexpr char kBindFailureText[] = "Could not bind the program to port 620.";

// The one-line fix for a non-root user, naming the program file.
QString BindFailureHint(const QString& program);

// Shows the wizard, modal, while an essential is missing. False when it is still missing after
// the wizard closed (the program then ends).
bool CompleteSettings(NodeEvents& events, const std::filesystem::path& home,
                      const DesktopHooks& hooks);

}  // namespace zorvex::ui
