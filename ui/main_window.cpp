#include "ui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "core/message_layer.h"
#include "network/bootstrap.h"
#include "network/peer_table.h"
#include "node/commands.h"
#include "ui/browser_pane.h"
#include "ui/community_pane.h"
#include "ui/conversation_window.h"
#include "ui/hot_list_panel.h"
#include "ui/my_files_pane.h"
#include "ui/search_pane.h"
#include "ui/settings_dialog.h"
#include "ui/task_links.h"
#include "ui/text.h"
#include "ui/transfers_pane.h"

// The icon lives in the library's resources, which a static library must register itself.
static void InitUiResources() {
  Q_INIT_RESOURCE(zorvex);
}

namespace zorvex::ui {
namespace {

// Twips at 15 to a pixel.
constexpr int kBarExpandedWidth = 3080 / 15;
constexpr int kBarCollapsedWidth = 240 / 15;
constexpr int kTrayTipLimit = 63;

struct MenuButton {
  const char* caption;
  const char* hover;
  QStyle::StandardPixmap icon;
};
constexpr MenuButton kMenuButtons[6] = {
    {"Home", "Browse the Web", QStyle::SP_DirHomeIcon},
    {"My Files", "My Current Files Shared", QStyle::SP_DirOpenIcon},
    {"Search", "Search the Zorvex Network!", QStyle::SP_FileDialogContentsView},
    {"Transfers", "My File Transfers", QStyle::SP_ArrowDown},
    {"Community", "Connection Information", QStyle::SP_DriveNetIcon},
    {"Settings", "Modify My Settings", QStyle::SP_FileDialogDetailedView},
};

// An SVG, so that it stays sharp at any scale.
QIcon ProductIcon() {
  return QIcon(QStringLiteral(":/icons/zorvex.svg"));
}

double LeadingRate(const std::string& text) {
  try {
    return std::stod(text);
  } catch (...) {
    return 0;
  }
}

}  // namespace

QString TrayTipText(const QString& text) {
  return text.left(kTrayTipLimit);
}

MainWindow::MainWindow(NodeEvents& events, std::filesystem::path home, QWidget* parent)
    : QMainWindow(parent), events_(events), node_(events.node()), home_(std::move(home)) {
  InitUiResources();
  setObjectName(QStringLiteral("frmMain"));
  setWindowIcon(ProductIcon());
  tray_available_ = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };

  auto* central = new QWidget(this);
  auto* layout = new QHBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(BuildExplorerBar());

  panes_ = new QStackedWidget(central);
  panes_->setObjectName(QStringLiteral("Contents"));
  panes_->addWidget(BuildStartPage());
  my_files_ = new MyFilesPane(events_, [this](const QString& t) { SetStatusText(t); });
  search_ = new SearchPane(events_, home_);
  transfers_ = new TransfersPane(events_);
  community_ = new CommunityPane(events_);
  panes_->addWidget(my_files_);
  panes_->addWidget(search_);
  panes_->addWidget(transfers_);
  panes_->addWidget(community_);
  for (int i = 0; i < kPaneCount; ++i)
    panes_->widget(i)->setObjectName(QStringLiteral("Contents%1").arg(i));
  layout->addWidget(panes_, 1);
  setCentralWidget(central);

  auto* body = bar_body_->layout();
  for (QGroupBox* section : browser_->Sections())
    sections_.append(section);
  for (QGroupBox* section : my_files_->Sections())
    sections_.append(section);
  for (QGroupBox* section : search_->Sections())
    sections_.append(section);
  for (QGroupBox* section : transfers_->Sections())
    sections_.append(section);
  for (QGroupBox* section : sections_)
    body->addWidget(section);
  // The hot list belongs to no pane: it shows whenever the bar is open.
  hot_list_ = new HotListPanel(node_, bar_body_);
  body->addWidget(hot_list_);
  conversation_windows_ =
      std::make_unique<ConversationWindows>(node_, this, [this] { hot_list_->RefreshAway(); });
  static_cast<QVBoxLayout*>(body)->addStretch(1);

  BuildStatusArea();
  BuildTray();

  // The load steps: the start page on show with the bar collapsed, the title, an idle search.
  ToggleExplorerBar();
  setWindowTitle(QStringLiteral("Zorvex v") + FromBytes(kVersion));
  panes_->setCurrentIndex(0);
  ApplySectionRules();
  resize(980, 640);

  events_.AddObserver(this);
  CountersChanged();
  ConnectionChanged();
}

MainWindow::~MainWindow() {
  events_.RemoveObserver(this);
  conversation_windows_.reset();
}

QWidget* MainWindow::BuildExplorerBar() {
  bar_ = new QFrame(this);
  bar_->setObjectName(QStringLiteral("ExplorerBar"));
  bar_->setFrameShape(QFrame::StyledPanel);
  bar_->setAutoFillBackground(true);
  bar_->setBackgroundRole(QPalette::AlternateBase);
  auto* outer = new QVBoxLayout(bar_);
  outer->setContentsMargins(2, 2, 2, 2);

  auto* title_row = new QHBoxLayout;
  bar_title_ = new QLabel(QStringLiteral("<b>Zorvex</b>"), bar_);
  bar_title_->setObjectName(QStringLiteral("lblZorvex"));
  bar_title_->installEventFilter(this);
  hide_bar_ = new QToolButton(bar_);
  hide_bar_->setObjectName(QStringLiteral("btnHideBar"));
  hide_bar_->setText(QStringLiteral("<"));
  hide_bar_->setToolTip(QStringLiteral("Minimize Explorer Bar"));
  hide_bar_->setAutoRaise(true);
  connect(hide_bar_, &QToolButton::clicked, this, [this] { ToggleExplorerBar(); });
  title_row->addWidget(bar_title_, 1);
  title_row->addWidget(hide_bar_);
  outer->addLayout(title_row);

  bar_body_ = new QWidget(bar_);
  auto* body = new QVBoxLayout(bar_body_);
  body->setContentsMargins(0, 0, 0, 0);
  for (int i = 0; i < 6; ++i) {
    auto* button = new QToolButton(bar_body_);
    button->setObjectName(QStringLiteral("MenuSelection%1").arg(i));
    button->setText(QString::fromLatin1(kMenuButtons[i].caption));
    button->setToolTip(QString::fromLatin1(kMenuButtons[i].hover));
    button->setIcon(style()->standardIcon(kMenuButtons[i].icon));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setAutoRaise(true);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    QFont font = button->font();
    font.setBold(true);
    button->setFont(font);
    connect(button, &QToolButton::clicked, this, [this, i] {
      if (i == kSettingsButton) {
        OpenSettings();
      } else {
        ShowPane(i);
      }
    });
    menu_[i] = button;
    body->addWidget(button);
  }
  outer->addWidget(bar_body_, 1);
  // Keeps the collapse button at the top while the body is hidden.
  outer->addStretch(0);
  return bar_;
}

QWidget* MainWindow::BuildStartPage() {
  browser_ = new BrowserPane(node_);
  browser_->on_status = [this](const QString& text) { SetStatusText(text); };
  browser_->on_link = [this](const QString& link) {
    if (link == QStringLiteral("zorvex:search")) {
      ShowPane(2);
    } else if (link == QStringLiteral("zorvex:settings")) {
      OpenSettings();
    } else if (link.startsWith(QStringLiteral("zx:"), Qt::CaseInsensitive)) {
      RunCommand(ToBytes(link));
    }
  };
  return browser_;
}

void MainWindow::BuildStatusArea() {
  QStatusBar* bar = statusBar();
  status_ = new QLabel(bar);
  status_->setObjectName(QStringLiteral("lblStatus"));
  bar->addWidget(status_, 1);
  auto add_counter = [bar](const QString& caption, const QString& name, const QString& text) {
    bar->addPermanentWidget(new QLabel(caption, bar));
    auto* label = new QLabel(text, bar);
    label->setObjectName(name);
    bar->addPermanentWidget(label);
    return label;
  };
  packets_in_ = add_counter(QStringLiteral("Packets In:"), QStringLiteral("lblPacketsIn"),
                            QStringLiteral("0"));
  packets_out_ = add_counter(QStringLiteral("Packets Out:"), QStringLiteral("lblPacketsOut"),
                             QStringLiteral("0"));
  packets_bad_ = add_counter(QStringLiteral("Packets Bad:"), QStringLiteral("lblPacketsBad"),
                             QStringLiteral("0"));
  queues_ = add_counter(QStringLiteral("Packet Queues:"), QStringLiteral("lblPacketQueues"),
                        QStringLiteral("0 - 0"));
  strength_ = new QProgressBar(bar);
  strength_->setObjectName(QStringLiteral("pbStrength"));
  strength_->setRange(0, 100);
  strength_->setTextVisible(false);
  strength_->setMaximumWidth(80);
  bar->addPermanentWidget(strength_);
  connection_ = new QLabel(bar);
  connection_->setObjectName(QStringLiteral("picConnection"));
  connection_->setFixedSize(16, 16);
  connection_->setAutoFillBackground(true);
  bar->addPermanentWidget(connection_);
  connect_ = new QToolButton(bar);
  connect_->setObjectName(QStringLiteral("lblConnect"));
  connect_->setText(QStringLiteral("Connect"));
  connect_->setAutoRaise(true);
  connect(connect_, &QToolButton::clicked, this, [this] { node_.bootstrap().StartConnecting(0); });
  bar->addPermanentWidget(connect_);
}

void MainWindow::BuildTray() {
  tray_menu_ = new QMenu(this);
  tray_menu_->setObjectName(QStringLiteral("mnuIcon"));
  QAction* show = tray_menu_->addAction(QStringLiteral("Show"));
  show->setObjectName(QStringLiteral("mnuIconShow"));
  QAction* exit = tray_menu_->addAction(QStringLiteral("Exit"));
  exit->setObjectName(QStringLiteral("mnuIconExit"));
  connect(show, &QAction::triggered, this, [this] { SetTrayMode(0); });
  connect(exit, &QAction::triggered, this, [this] { Exit(); });
  tray_ = new QSystemTrayIcon(windowIcon(), this);
  tray_->setObjectName(QStringLiteral("Tray"));
  tray_->setContextMenu(tray_menu_);
  tray_->setToolTip(TrayTipText(QStringLiteral("Zorvex")));
  connect(tray_, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger) {
              SetTrayMode(0);
            }
          });
}

void MainWindow::ShowPane(int index) {
  if (index < 0 || index >= kPaneCount || index == current_pane_) return;
  if (current_pane_ == 0 && !bar_expanded_) ToggleExplorerBar();
  if (index == 0 && bar_expanded_) ToggleExplorerBar();
  current_pane_ = index;
  panes_->setCurrentIndex(index);
  my_files_->CloseFindPanel();
  ApplySectionRules();
}

void MainWindow::ApplySectionRules() {
  const QString tag = QString::number(current_pane_);
  for (QGroupBox* section : sections_) {
    const QVariant wanted = section->property("wanted");
    section->setVisible(section->property("tag").toString() == tag &&
                        (!wanted.isValid() || wanted.toBool()));
  }
  search_->ApplyInfoRule(current_pane_ == 2);
}

void MainWindow::ToggleExplorerBar() {
  if (!bar_expanded_) {
    bar_->setFixedWidth(kBarExpandedWidth);
    hide_bar_->setText(QStringLiteral("<"));
    hide_bar_->setToolTip(QStringLiteral("Minimize Explorer Bar"));
    bar_expanded_ = true;
  } else {
    bar_->setFixedWidth(std::max(kBarCollapsedWidth, hide_bar_->sizeHint().width() + 6));
    hide_bar_->setText(QStringLiteral(">"));
    hide_bar_->setToolTip(QStringLiteral("Maximize Explorer Bar"));
    bar_expanded_ = false;
  }
  bar_body_->setVisible(bar_expanded_);
  bar_title_->setVisible(bar_expanded_);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == bar_title_ && event->type() == QEvent::MouseButtonDblClick &&
      hide_bar_->isEnabled()) {
    ToggleExplorerBar();
    return true;
  }
  if (watched == bar_title_ && event->type() == QEvent::MouseButtonRelease) {
    QMessageBox::about(this, QStringLiteral("Zorvex"),
                       QStringLiteral("Zorvex v") + FromBytes(kVersion) +
                           QStringLiteral("\nPeer-to-peer file sharing for the desktop."));
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

void MainWindow::SetTrayMode(int mode) {
  if (mode == -1) {
    tray_->show();
    hide();
  } else {
    tray_->hide();
    showNormal();
    raise();
    activateWindow();
  }
}

void MainWindow::BringForward() {
  SetTrayMode(0);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!exit_flag_) {
    event->ignore();
    // Without a tray a hidden window could never be reached again.
    if (tray_available_ && tray_available_()) {
      SetTrayMode(-1);
    } else {
      showMinimized();
    }
    return;
  }
  event->accept();
  if (exiting_) return;
  exiting_ = true;
  hide();
  tray_->hide();
  auto done = [] { QCoreApplication::quit(); };
  if (exit_handler_) {
    exit_handler_(done);
  } else {
    node_.Exit(done);
  }
}

void MainWindow::Exit() {
  // Asked here, from the user's action, before the exit starts; on no away mode is left.
  if (!exiting_ && !node_.ConfirmExit()) {
    SetTrayMode(0);
    return;
  }
  exit_flag_ = true;
  close();
}

void MainWindow::OpenSettings() {
  SettingsDialog dialog(events_, home_, desktop_hooks_, this);
  dialog.exec();
}

void MainWindow::RunCommand(const std::string& command) {
  BringForward();
  if (command.empty()) return;
  node_.RunCommand(command);
  const Command parsed = ParseCommand(command);
  if (const auto* search = std::get_if<SearchCommand>(&parsed); search && !search->text.empty()) {
    search_->SetQueryText(FromBytes(search->text));
    ShowPane(2);
  }
}

void MainWindow::SetStatusText(const QString& text) {
  status_->setText(text);
}

void MainWindow::StatusLineChanged(const std::string& line) {
  SetStatusText(FromBytes(line));
}

void MainWindow::CountersChanged() {
  const PacketCounters& counters = node_.messages().counters();
  packets_in_->setText(QString::number(counters.in));
  packets_out_->setText(QString::number(counters.out));
  packets_bad_->setText(QString::number(counters.bad));
  queues_->setText(FromBytes(node_.messages().QueueDisplay()));
}

void MainWindow::ConnectionChanged() {
  const bool connected = node_.peers().connected();
  connection_->setToolTip(connected ? QStringLiteral("Connected") : QStringLiteral("Disconnected"));
  QPalette palette = connection_->palette();
  palette.setColor(QPalette::Window, connected
                                         ? palette.color(QPalette::Active, QPalette::Highlight)
                                         : palette.color(QPalette::Inactive, QPalette::Mid));
  connection_->setPalette(palette);
  connect_->setEnabled(!connected);
  strength_->setValue(std::clamp(node_.peers().strength(), 0, 100));
}

void MainWindow::RowsChanged(NodeList list, std::size_t, std::size_t) {
  if (list == NodeList::kDownloads || list == NodeList::kUploads) UpdateTrayTip();
}

void MainWindow::RowsAdded(NodeList list, std::size_t, std::size_t) {
  if (list == NodeList::kDownloads || list == NodeList::kUploads) UpdateTrayTip();
}

void MainWindow::UpdateTrayTip() {
  double down = 0;
  double up = 0;
  for (const auto& row : node_.transfers().download_rows()) {
    if (row.status == "Receiving...") down += LeadingRate(row.rate);
  }
  for (const auto& row : node_.transfers().upload_rows()) {
    if (row.status == "Sending...") up += LeadingRate(row.rate);
  }
  QString tip = QStringLiteral("Zorvex");
  if (down > 0 || up > 0) {
    tip += QStringLiteral(" - down %1 kbs, up %2 kbs").arg(down, 0, 'f', 1).arg(up, 0, 'f', 1);
  }
  tray_->setToolTip(TrayTipText(tip));
}

}  // namespace zorvex::ui
