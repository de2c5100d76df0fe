#include "ui/settings_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyle>
#include <QVBoxLayout>

#include "apps/node_options.h"
#include "core/message_layer.h"
#include "settings/ini_store.h"
#include "settings/validation.h"
#include "share/folder_scan.h"
#include "share/key_filter.h"
#include "transfer/transfers.h"
#include "ui/text.h"

namespace zorvex::ui {
namespace {

const char* const kTitles[7] = {"Welcome!",      "Uploads",   "Shared Folders", "Downloads",
                                "Other Options", "Complete!", "Gateways"};

const char* const kConnections[10] = {"Unknown", "56Kbps", "36.6Kbps", "28.8Kbps", "Satellite",
                                      "ISDN",    "DSL",    "Cable",    "T1",       "T3"};

QLabel* Text(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setWordWrap(true);
  return label;
}

QLineEdit* Field(const QString& name, const QString& tip, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setToolTip(tip);
  return edit;
}

// Forms in separate frames of one page start their fields at the same place.
void AlignLabels(std::initializer_list<QFormLayout*> forms) {
  int widest = 0;
  for (QFormLayout* form : forms) {
    for (int row = 0; row < form->rowCount(); ++row) {
      if (QLayoutItem* label = form->itemAt(row, QFormLayout::LabelRole)) {
        widest = std::max(widest, label->widget()->sizeHint().width());
      }
    }
  }
  for (QFormLayout* form : forms) {
    for (int row = 0; row < form->rowCount(); ++row) {
      if (QLayoutItem* label = form->itemAt(row, QFormLayout::LabelRole)) {
        label->widget()->setMinimumWidth(widest);
      }
    }
  }
}

QString WithSlash(QString folder) {
  if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
  return folder;
}

// Saving runs these on the node's behalf.
class DialogEffects final : public PreferenceEffects {
 public:
  DialogEffects(Node& node, const DesktopHooks& hooks) : node_(node), hooks_(hooks) {}
  void RegisterUrlProtocol() override {
    if (hooks_.register_url_protocol) hooks_.register_url_protocol();
  }
  std::string LocalAddress() override { return node_.messages().LocalAddress(); }
  void StartDownloadListener() override { node_.transfers().StartDownloadListener(); }
  void SetStartWithDesktop(bool on) override {
    if (hooks_.set_start_with_desktop) hooks_.set_start_with_desktop(on);
  }

 private:
  Node& node_;
  const DesktopHooks& hooks_;
};

}  // namespace

SettingsDialog::SettingsDialog(NodeEvents& events, std::filesystem::path home, DesktopHooks hooks,
                               QWidget* parent)
    : QDialog(parent),
      events_(events),
      node_(events.node()),
      home_(std::move(home)),
      hooks_(std::move(hooks)) {
  setObjectName(QStringLiteral("frmSettings"));
  setWindowTitle(QStringLiteral("Settings"));
  if (parent) setWindowIcon(parent->windowIcon());
  auto* layout = new QVBoxLayout(this);
  topic_ = new QLabel(this);
  topic_->setObjectName(QStringLiteral("lblTopicName"));
  QFont font = topic_->font();
  font.setBold(true);
  font.setPointSizeF(font.pointSizeF() * 1.4);
  topic_->setFont(font);
  layout->addWidget(topic_);
  pages_ = new QStackedWidget(this);
  pages_->addWidget(BuildWelcome());
  pages_->addWidget(BuildUploads());
  pages_->addWidget(BuildShares());
  pages_->addWidget(BuildDownloads());
  pages_->addWidget(BuildOther());
  pages_->addWidget(BuildComplete());
  pages_->addWidget(BuildHosts());
  for (int i = 0; i < 6; ++i)
    pages_->widget(i)->setObjectName(QStringLiteral("Contents%1").arg(i));
  pages_->widget(kHostsPanel)->setObjectName(QStringLiteral("ContentsHosts"));
  layout->addWidget(pages_, 1);

  auto* row = new QHBoxLayout;
  row->addStretch(1);
  const QString captions[4] = {QStringLiteral("&Next"), QStringLiteral("Back"),
                               QStringLiteral("Close"), QStringLiteral("Apply")};
  const int order[4] = {1, 0, 3, 2};
  for (int i = 0; i < 4; ++i) {
    buttons_[i] = new QPushButton(captions[i], this);
    buttons_[i]->setObjectName(QStringLiteral("MainButtons%1").arg(i));
    buttons_[i]->setAutoDefault(false);
  }
  for (int i : order)
    row->addWidget(buttons_[i]);
  layout->addLayout(row);
  connect(buttons_[0], &QPushButton::clicked, this, [this] { Next(); });
  connect(buttons_[1], &QPushButton::clicked, this, [this] { Back(); });
  connect(buttons_[2], &QPushButton::clicked, this, [this] { reject(); });
  connect(buttons_[3], &QPushButton::clicked, this, [this] { Apply(); });
  buttons_[3]->hide();

  pick_folder_ = [this] {
    return QFileDialog::getExistingDirectory(this, QStringLiteral("Select folder"),
                                             QDir::homePath(), QFileDialog::ShowDirsOnly);
  };
  ask_ = [this](const QString& prompt) {
    return QInputDialog::getText(this, QStringLiteral("Zorvex"), prompt);
  };

  SettingsValues values =
      LoadSettingsValues(node_.store(), node_.PreferencesFile(), node_.preferences());
  Fill(values);
  if (!node_.preferences().Nickname.empty()) {
    buttons_[3]->show();
    current_page_ = 1;
    pages_->setCurrentIndex(1);
    ShowPage(1);
  } else {
    wizard_ = true;
    connection_->setCurrentIndex(0);
    max_uls_->setText(QStringLiteral("3"));
    max_per_user_->setText(QStringLiteral("1"));
    download_port_->setText(QStringLiteral("5503"));
    const std::string downloads = DefaultDownloadFolder(home_);
    std::error_code error;
    std::filesystem::create_directories(downloads, error);
    download_dir_->setText(FromBytes(downloads));
    buttons_[2]->setEnabled(false);
    current_page_ = 0;
    ShowPage(0);
  }
  if (hosts_->count() == 0) {
    auto* item = new QListWidgetItem(style()->standardIcon(QStyle::SP_DriveNetIcon),
                                     FromBytes(kDefaultGatewayName), hosts_);
    item->setData(Qt::UserRole, FromBytes(kDefaultGatewayAddress));
  }
  resize(560, 420);
}

QWidget* SettingsDialog::BuildWelcome() {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(Text(QStringLiteral("Please select a username which you will be known as while "
                                        "logged onto the network. Once saved, you will be unable "
                                        "to modify it."),
                         page));
  auto* form = new QFormLayout;
  nickname_ = Field(QStringLiteral("txtNickname"),
                    QStringLiteral("The Name People Will See You Under"), page);
  form->addRow(QStringLiteral("Username:"), nickname_);
  connection_ = new QComboBox(page);
  connection_->setObjectName(QStringLiteral("cmbConnection"));
  connection_->setToolTip(QStringLiteral("The Speed of My Internet Access"));
  for (const char* name : kConnections)
    connection_->addItem(QString::fromLatin1(name));
  form->addRow(QStringLiteral("Connection:"), connection_);
  layout->addLayout(form);
  auto* welcome =
      Text(QStringLiteral("Welcome to Zorvex, a network of equals where every user shares files "
                          "directly with the others. Choose a name, tell Zorvex how fast your "
                          "connection is, and the next pages set up your uploads, the folders you "
                          "share and where your downloads go."),
           page);
  welcome->setObjectName(QStringLiteral("txtWelcome"));
  layout->addWidget(welcome);
  layout->addStretch(1);
  return page;
}

QWidget* SettingsDialog::BuildUploads() {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(Text(QStringLiteral("Please enter the max amount of uploads possible at one "
                                        "time (Simultaneous) as well as the max uploads that a "
                                        "user can establish at one time."),
                         page));
  auto* frame = new QGroupBox(QStringLiteral("Upload Limits"), page);
  auto* inner = new QVBoxLayout(frame);
  inner->addWidget(Text(QStringLiteral("You can limit the amount of file transfers allowed.  Do so "
                                       "by changing the below fields."),
                        frame));
  auto* form = new QFormLayout;
  max_uls_ = Field(QStringLiteral("txtMaxULs"),
                   QStringLiteral("Max Amount of Downloads Possible At Once"), frame);
  max_per_user_ =
      Field(QStringLiteral("txtMaxPerUser"),
            QStringLiteral("The Amount of Downloads A User Can Have At the Same Time"), frame);
  upload_limit_ = Field(
      QStringLiteral("txtUploadLimit"),
      QStringLiteral("The Most All Uploads Together May Send Each Second (0 = No Limit)"), frame);
  form->addRow(QStringLiteral("Max Simultaneous (1-10):"), max_uls_);
  form->addRow(QStringLiteral("Max Per User (1-10):"), max_per_user_);
  form->addRow(QStringLiteral("Upload Limit (KB/s, 0 = none):"), upload_limit_);
  inner->addLayout(form);
  layout->addWidget(frame);
  layout->addStretch(1);
  for (QLineEdit* field : {max_uls_, max_per_user_, upload_limit_})
    field->installEventFilter(this);
  return page;
}

QWidget* SettingsDialog::BuildShares() {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  shares_ = new QListWidget(page);
  shares_->setObjectName(QStringLiteral("SharedFileList"));
  layout->addWidget(shares_, 1);
  auto* row = new QHBoxLayout;
  add_folder_ = new QPushButton(QStringLiteral("Add Folder"), page);
  add_folder_->setObjectName(QStringLiteral("btnAddFolder"));
  remove_folder_ = new QPushButton(QStringLiteral("Remove Folder"), page);
  remove_folder_->setObjectName(QStringLiteral("btnRemoveDir"));
  remove_folder_->setEnabled(false);
  row->addWidget(add_folder_);
  row->addWidget(remove_folder_);
  row->addStretch(1);
  layout->addLayout(row);
  layout->addWidget(
      Text(QStringLiteral("Once done adding/removing your shared folders, click \"back\"."), page));
  connect(add_folder_, &QPushButton::clicked, this, [this] { AddFolder(); });
  connect(remove_folder_, &QPushButton::clicked, this, [this] {
    delete shares_->currentItem();
    remove_folder_->setEnabled(false);
  });
  connect(shares_, &QListWidget::itemSelectionChanged, this, [this] {
    const auto selected = shares_->selectedItems();
    remove_folder_->setEnabled(!selected.isEmpty() && !selected.first()->text().isEmpty());
  });
  return page;
}

QWidget* SettingsDialog::BuildDownloads() {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(
      Text(QStringLiteral("Select the location where your downloaded files are placed."), page));
  auto* row = new QHBoxLayout;
  download_dir_ = Field(QStringLiteral("DLDir"),
                        QStringLiteral("The Location Your Downloads Are Stored"), page);
  auto* change = new QPushButton(QStringLiteral("Change"), page);
  change->setObjectName(QStringLiteral("btnChangeDLDir"));
  row->addWidget(download_dir_, 1);
  row->addWidget(change);
  layout->addLayout(row);
  auto* frame = new QGroupBox(QStringLiteral("Firewall"), page);
  auto* inner = new QVBoxLayout(frame);
  inner->addWidget(
      Text(QStringLiteral("If your computer is behind a firewall, please select a port "
                          "on which you will be able to download on.  This port needs "
                          "server access rights."),
           frame));
  auto* form = new QFormLayout;
  download_port_ = Field(QStringLiteral("txtDLPort"),
                         QStringLiteral("The Port On Which Zorvex Gets Your Downloads."), frame);
  form->addRow(QStringLiteral("Download Port:"), download_port_);
  inner->addLayout(form);
  layout->addWidget(frame);
  auto* limits = new QGroupBox(QStringLiteral("Download Limits"), page);
  auto* limits_form = new QFormLayout(limits);
  download_limit_ = Field(
      QStringLiteral("txtDownloadLimit"),
      QStringLiteral("The Most All Downloads Together May Receive Each Second (0 = No Limit)"),
      limits);
  sources_at_once_ =
      Field(QStringLiteral("txtSourcesAtOnce"),
            QStringLiteral("The Amount of Sources A Download Receives From At Once"), limits);
  limits_form->addRow(QStringLiteral("Download Limit (KB/s, 0 = none):"), download_limit_);
  limits_form->addRow(QStringLiteral("Sources At Once (1-8):"), sources_at_once_);
  layout->addWidget(limits);
  AlignLabels({form, limits_form});
  layout->addStretch(1);
  for (QLineEdit* field : {download_port_, download_limit_, sources_at_once_})
    field->installEventFilter(this);
  connect(change, &QPushButton::clicked, this, [this] { ChangeDownloadFolder(); });
  return page;
}

QWidget* SettingsDialog::BuildOther() {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(Text(QStringLiteral("The more you are connected to Zorvex, the more you help "
                                        "the community grow.  By selecting the option below, "
                                        "Zorvex will automatically start as soon as you log in.  "),
                         page));
  with_desktop_ = new QCheckBox(QStringLiteral("Start Zorvex when I log in"), page);
  with_desktop_->setObjectName(QStringLiteral("chkWithWindows"));
  layout->addWidget(with_desktop_);
  layout->addWidget(
      Text(QStringLiteral("Zorvex connects using gateways and cache's.  Do not modify "
                          "the gateway(s) unless you know what you are doing.  It's "
                          "for advanced users."),
           page));
  auto* modify = new QPushButton(QStringLiteral("Modify Gateways"), page);
  modify->setObjectName(QStringLiteral("btnModifyHosts"));
  layout->addWidget(modify, 0, Qt::AlignLeft);
  layout->addStretch(1);
  connect(modify, &QPushButton::clicked, this, [this] {
    hosts_open_ = true;
    buttons_[0]->setEnabled(false);
    pages_->setCurrentIndex(kHostsPanel);
    topic_->setText(QString::fromLatin1(kTitles[kHostsPanel]));
  });
  return page;
}

QWidget* SettingsDialog::BuildComplete() {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  auto* congratulations = Text(QStringLiteral("Congratulations!"), page);
  QFont font = congratulations->font();
  font.setBold(true);
  congratulations->setFont(font);
  layout->addWidget(congratulations);
  layout->addWidget(
      Text(QStringLiteral("You have completed setting up Zorvex.  Thank you for using "
                          "Zorvex, and we hope that you have a fun time using it.  "
                          "Click \"Finish\" to begin sharing files!"),
           page));
  layout->addStretch(1);
  return page;
}

QWidget* SettingsDialog::BuildHosts() {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(Text(QStringLiteral("This is for advanced users only.  If you don't know what "
                                        "you are doing, then do not modify anything."),
                         page));
  layout->addWidget(new QLabel(QStringLiteral("Gateways:"), page));
  hosts_ = new QListWidget(page);
  hosts_->setObjectName(QStringLiteral("lvHosts"));
  layout->addWidget(hosts_, 1);
  auto* row = new QHBoxLayout;
  auto* add = new QPushButton(QStringLiteral("Add"), page);
  add->setObjectName(QStringLiteral("btnAddHost"));
  remove_host_ = new QPushButton(QStringLiteral("Remove"), page);
  remove_host_->setObjectName(QStringLiteral("btnRemoveHost"));
  remove_host_->setEnabled(false);
  row->addWidget(add);
  row->addWidget(remove_host_);
  row->addStretch(1);
  layout->addLayout(row);
  connect(add, &QPushButton::clicked, this, [this] { AddHost(); });
  connect(remove_host_, &QPushButton::clicked, this, [this] {
    delete hosts_->currentItem();
    remove_host_->setEnabled(false);
  });
  connect(hosts_, &QListWidget::itemSelectionChanged, this,
          [this] { remove_host_->setEnabled(!hosts_->selectedItems().isEmpty()); });
  return page;
}

void SettingsDialog::Fill(const SettingsValues& values) {
  nickname_->setText(FromBytes(values.nickname));
  connection_->setCurrentIndex(std::clamp(values.connection, 0, 9));
  max_uls_->setText(FromBytes(values.max_uls));
  max_per_user_->setText(FromBytes(values.max_per_user));
  download_dir_->setText(FromBytes(values.download_folder));
  download_port_->setText(FromBytes(values.download_port));
  upload_limit_->setText(FromBytes(values.upload_limit));
  download_limit_->setText(FromBytes(values.download_limit));
  sources_at_once_->setText(FromBytes(values.sources_at_once));
  with_desktop_->setChecked(values.start_with_desktop);
  hosts_->clear();
  for (const Gateway& gateway : values.gateways) {
    auto* item = new QListWidgetItem(style()->standardIcon(QStyle::SP_DriveNetIcon),
                                     FromBytes(gateway.name), hosts_);
    item->setData(Qt::UserRole, FromBytes(gateway.address));
  }
  shares_->clear();
  for (const std::string& folder : values.shared_folders) {
    if (!folder.empty()) {
      new QListWidgetItem(style()->standardIcon(QStyle::SP_DirIcon), FromBytes(folder), shares_);
    }
  }
}

SettingsValues SettingsDialog::Values() const {
  SettingsValues values;
  values.nickname = ToBytes(nickname_->text());
  values.connection = std::max(connection_->currentIndex(), 0);
  values.max_uls = ToBytes(max_uls_->text());
  values.max_per_user = ToBytes(max_per_user_->text());
  for (int i = 0; i < shares_->count(); ++i)
    values.shared_folders.push_back(ToBytes(shares_->item(i)->text()));
  values.download_folder = ToBytes(download_dir_->text());
  values.download_port = ToBytes(download_port_->text());
  values.upload_limit = ToBytes(upload_limit_->text());
  values.download_limit = ToBytes(download_limit_->text());
  values.sources_at_once = ToBytes(sources_at_once_->text());
  values.start_with_desktop = with_desktop_->isChecked();
  for (int i = 0; i < hosts_->count(); ++i) {
    values.gateways.push_back({ToBytes(hosts_->item(i)->text()),
                               ToBytes(hosts_->item(i)->data(Qt::UserRole).toString())});
  }
  return values;
}

void SettingsDialog::ShowPage(int page) {
  topic_->setText(QString::fromLatin1(kTitles[page]));
  pages_->setCurrentIndex(page);
  current_page_ = page;
  if (page == 1 && !node_.preferences().Nickname.empty()) buttons_[1]->setEnabled(false);
  if (page == 5) {
    buttons_[0]->setText(QStringLiteral("&Finish"));
    buttons_[1]->setEnabled(false);
  }
  if (page == 0) buttons_[1]->setEnabled(false);
}

bool SettingsDialog::ValidateCurrentPage() {
  const auto message = ValidatePage(current_page_, Values());
  if (!message) return true;
  const QString text = FromBytes(*message);
  QWidget* focus = nullptr;
  switch (current_page_) {
    case 0:
      focus = nickname_;
      break;
    case 1:
      focus = text.contains(QStringLiteral("upload limit")) ? upload_limit_
              : text.startsWith(QStringLiteral("Please select")) ||
                      text.contains(QStringLiteral("per person"))
                  ? max_per_user_
                  : max_uls_;
      break;
    case 2:
      focus = shares_;
      break;
    case 3:
      focus = text.contains(QStringLiteral("download limit")) ? download_limit_
              : text.contains(QStringLiteral("source"))       ? sources_at_once_
              : text.contains(QStringLiteral("port"))         ? download_port_
                                                              : download_dir_;
      break;
    default:
      focus = hosts_;
      break;
  }
  Message(text, QStringLiteral("Settings Error!"), focus);
  return false;
}

void SettingsDialog::Message(const QString& text, const QString& title, QWidget* focus) {
  if (focus) focus->setFocus();
  auto* box = new QMessageBox(QMessageBox::Critical, title, text, QMessageBox::Ok, this);
  box->setObjectName(QStringLiteral("SettingsMessage"));
  box->setAttribute(Qt::WA_DeleteOnClose);
  last_message_ = box;
  connect(box, &QDialog::finished, this, [this, box] {
    if (last_message_ == box) last_message_ = nullptr;
  });
  box->open();
}

void SettingsDialog::Next() {
  if (current_page_ == 5) {
    buttons_[0]->setEnabled(false);
    Save();
    accept();
    return;
  }
  if (!ValidateCurrentPage()) return;
  ShowPage(current_page_ + 1);
  buttons_[1]->setEnabled(true);
  if (current_page_ == 5) buttons_[0]->setText(QStringLiteral("&Finish"));
}

void SettingsDialog::Back() {
  if (!buttons_[0]->isEnabled() && hosts_open_) {
    pages_->setCurrentIndex(4);
    topic_->setText(QString::fromLatin1(kTitles[4]));
    buttons_[0]->setEnabled(true);
    return;
  }
  if (!ValidateCurrentPage()) return;
  buttons_[0]->setText(QStringLiteral("&Next"));
  ShowPage(current_page_ - 1);
  buttons_[0]->setEnabled(true);
}

void SettingsDialog::Apply() {
  if (!ValidateCurrentPage()) return;
  Save();
  accept();
}

void SettingsDialog::Save() {
  DialogEffects effects(node_, hooks_);
  SavePreferences(node_.store(), node_.PreferencesFile(), Values(), node_.preferences(), effects);
  // New limits hold for the transfers already running too.
  node_.transfers().ApplyRateLimits();
  events_.Flush();
}

QString SettingsDialog::PickFolder() {
  return pick_folder_ ? WithSlash(pick_folder_()) : QString();
}

bool SettingsDialog::IsShared(const QString& folder) const {
  for (int i = 0; i < shares_->count(); ++i) {
    if (shares_->item(i)->text().compare(folder, Qt::CaseInsensitive) == 0) return true;
  }
  return false;
}

void SettingsDialog::AddFolder() {
  remove_folder_->setEnabled(false);
  const QString folder = PickFolder();
  if (folder.isEmpty()) return;
  if (IsShared(folder)) {
    Message(QStringLiteral("File is already being shared!"), QStringLiteral("Share Error!"),
            nullptr);
    return;
  }
  new QListWidgetItem(style()->standardIcon(QStyle::SP_DirIcon), folder, shares_);
  shares_changed_ = true;
}

void SettingsDialog::ChangeDownloadFolder() {
  const QString folder = PickFolder();
  if (!folder.isEmpty()) download_dir_->setText(folder);
}

void SettingsDialog::AddHost() {
  const QString name = ask_(QStringLiteral("Please enter the name of the gateway below:"));
  if (name.isEmpty()) return;
  const QString address = ask_(QStringLiteral("Please enter the gateways address below."));
  if (address.isEmpty()) return;
  auto* item = new QListWidgetItem(style()->standardIcon(QStyle::SP_DriveNetIcon), name, hosts_);
  item->setData(Qt::UserRole, address);
}

bool SettingsDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    const QString text = key->text();
    if (!text.isEmpty() && text.at(0).unicode() < 0x80) {
      const int code = key->key() == Qt::Key_Backspace ? kBackspaceKey : text.at(0).unicode();
      const bool printable = code >= 0x20 || code == kBackspaceKey;
      auto* edit = static_cast<QLineEdit*>(watched);
      if (printable && NumericKeyFilter(ToBytes(edit->text()), code, false) == 0) return true;
    } else if (!text.isEmpty()) {
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void SettingsDialog::done(int result) {
  if (node_.preferences().Nickname.empty()) {
    Message(QStringLiteral("You must complete setting up your options!"), QStringLiteral("Error!"),
            nullptr);
    return;
  }
  if (shares_changed_) {
    std::error_code error;
    std::filesystem::remove(home_ / kFileDatabaseName, error);
    events_.ClearSharedFiles();
    node_.folder_scan().Arm(1000);
  } else if (node_.shared_files().rows.empty() && !node_.folder_scan().timer_active()) {
    node_.folder_scan().Arm(1700);
  }
  shares_changed_ = false;
  QDialog::done(result);
}

}  // namespace zorvex::ui
