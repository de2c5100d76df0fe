#include "ui/conversation_window.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include "im/conversations.h"
#include "im/hot_list.h"
#include "ui/text.h"

namespace zorvex::ui {

ConversationWindow::ConversationWindow(Node& node, std::uint64_t id)
    : QWidget(nullptr, Qt::Window), node_(node), id_(id) {
  setObjectName(QStringLiteral("frmIM"));
  auto* layout = new QVBoxLayout(this);

  who_is_ = new QLabel(this);
  who_is_->setObjectName(QStringLiteral("WhoIs"));
  QFont bold = who_is_->font();
  bold.setBold(true);
  who_is_->setFont(bold);
  layout->addWidget(who_is_);

  layout->addWidget(new QLabel(QStringLiteral("Conversation:"), this));
  conversation_ = new QPlainTextEdit(this);
  conversation_->setObjectName(QStringLiteral("Conversation"));
  conversation_->setReadOnly(true);
  conversation_->viewport()->installEventFilter(this);
  layout->addWidget(conversation_, 3);

  layout->addWidget(new QLabel(QStringLiteral("Your Text:"), this));
  my_text_ = new QPlainTextEdit(this);
  my_text_->setObjectName(QStringLiteral("MyText"));
  my_text_->installEventFilter(this);
  layout->addWidget(my_text_, 1);

  auto* buttons = new QHBoxLayout;
  auto add_button = [this, buttons](const char* name, const char* caption) {
    auto* button = new QPushButton(QString::fromLatin1(caption), this);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    buttons->addWidget(button);
    return button;
  };
  QPushButton* hot = add_button("btnAddToHotlist", "Add to Hotlist");
  buttons->addStretch(1);
  QPushButton* send = add_button("btnSend", "Send");
  QPushButton* close_button = add_button("btnClose", "Close");
  layout->addLayout(buttons);
  connect(hot, &QPushButton::clicked, this, [this] { AddToHotList(); });
  connect(send, &QPushButton::clicked, this, [this] { Send(); });
  connect(close_button, &QPushButton::clicked, this, [this] { close(); });

  resize(420, 360);
  my_text_->setFocus();
  Refresh();
}

void ConversationWindow::Refresh() {
  const Conversation* model = node_.conversations().Find(id_);
  if (!model) return;
  setWindowTitle(FromBytes(model->caption));
  who_is_->setText(FromBytes(model->who_is));
  const QString text = FromBytes(model->text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  if (conversation_->toPlainText() != text) {
    conversation_->setPlainText(text);
    conversation_->moveCursor(QTextCursor::End);
    conversation_->verticalScrollBar()->setValue(conversation_->verticalScrollBar()->maximum());
  }
  if (model->visible && !isVisible()) {
    show();
    raise();
  } else if (!model->visible && isVisible()) {
    hide();
  }
}

void ConversationWindow::Send() {
  const std::string text = ToBytes(my_text_->toPlainText());
  if (node_.conversations().Send(id_, text) == SendResult::kSent) my_text_->clear();
}

void ConversationWindow::AddToHotList() {
  const Conversation* model = node_.conversations().Find(id_);
  if (!model || model->peer_address.empty()) return;
  node_.hot_list().AddBuddy(model->who_is, model->peer_address);
}

void ConversationWindow::AskClear() {
  node_.conversations().AskClear(id_);
}

void ConversationWindow::closeEvent(QCloseEvent* event) {
  event->accept();
  // The model forgets the conversation; its event removes this window.
  if (!closed_by_model_) node_.conversations().Close(id_);
}

void ConversationWindow::changeEvent(QEvent* event) {
  if (event->type() == QEvent::WindowStateChange) {
    node_.conversations().SetMinimized(id_, isMinimized());
  }
  QWidget::changeEvent(event);
}

bool ConversationWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == my_text_ && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      Send();
      return true;
    }
  }
  if (watched == conversation_->viewport() && event->type() == QEvent::MouseButtonDblClick) {
    // After the double-click's own handling, so the question does not run inside it.
    QTimer::singleShot(0, this, [this] { AskClear(); });
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

ConversationWindows::ConversationWindows(Node& node, QWidget* icon_source,
                                         std::function<void()> away_changed)
    : node_(node), icon_source_(icon_source), away_changed_(std::move(away_changed)) {
  node_.conversations().SetListener([this](const ConversationEvent& event) { OnEvent(event); });
}

ConversationWindows::~ConversationWindows() {
  node_.conversations().SetListener({});
  for (auto& [id, window] : windows_) {
    window->closed_by_model_ = true;
    delete window;
  }
}

ConversationWindow* ConversationWindows::ForAddress(const std::string& address) const {
  const Conversation* model = node_.conversations().FindByAddress(address);
  if (!model) return nullptr;
  const auto it = windows_.find(model->id);
  return it == windows_.end() ? nullptr : it->second;
}

void ConversationWindows::OnEvent(const ConversationEvent& event) {
  using Kind = ConversationEvent::Kind;
  if (event.kind == Kind::kAwayChanged) {
    if (away_changed_) away_changed_();
    return;
  }
  if (event.kind == Kind::kOpened) {
    auto* window = new ConversationWindow(node_, event.id);
    if (icon_source_) window->setWindowIcon(icon_source_->windowIcon());
    windows_[event.id] = window;
    return;
  }
  const auto it = windows_.find(event.id);
  if (it == windows_.end()) return;
  ConversationWindow* window = it->second;
  if (event.kind == Kind::kClosed) {
    windows_.erase(it);
    window->closed_by_model_ = true;
    window->hide();
    window->deleteLater();
    return;
  }
  window->Refresh();
}

}  // namespace zorvex::ui
