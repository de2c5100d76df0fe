#include "ui/gui_prompts.h"

#include <QApplication>
#include <QMessageBox>

#include "ui/text.h"

namespace zorvex::ui {
namespace {

QMessageBox::Icon BoxIcon(PromptIcon icon) {
  switch (icon) {
    case PromptIcon::kCritical:
      return QMessageBox::Critical;
    case PromptIcon::kExclamation:
      return QMessageBox::Warning;
    case PromptIcon::kInformation:
      return QMessageBox::Information;
    case PromptIcon::kQuestion:
      return QMessageBox::Question;
    case PromptIcon::kNone:
      break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

void GuiPrompts::MessageBox(std::string_view text, std::string_view title, PromptIcon icon) {
  QWidget* parent = parent_ ? parent_() : nullptr;
  auto* box =
      new QMessageBox(BoxIcon(icon), FromBytes(title), FromBytes(text), QMessageBox::Ok, parent);
  box->setObjectName(QStringLiteral("NodeMessageBox"));
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

bool GuiPrompts::AskYesNo(std::string_view text, std::string_view title) {
  QWidget* parent = parent_ ? parent_() : nullptr;
  return QMessageBox::question(parent, FromBytes(title), FromBytes(text),
                               QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void GuiPrompts::Beep() {
  QApplication::beep();
}

}  // namespace zorvex::ui
