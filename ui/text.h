#pragma once
// The node's texts are bytes: shown as UTF-8 when they are valid UTF-8, else as Latin-1.

#include <string>
#include <string_view>

#include <QString>

namespace zorvex::ui {

QString FromBytes(std::string_view bytes);
// What the user typed, as the bytes the node keeps.
std::string ToBytes(const QString& text);

}  // namespace zorvex::ui
