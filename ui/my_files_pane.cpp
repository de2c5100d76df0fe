#include "ui/my_files_pane.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QStyle>
#include <QTableView>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "share/file_kind.h"
#include "share/folder_scan.h"
#include "share/format.h"
#include "ui/node_models.h"
#include "ui/row_view.h"
#include "ui/task_links.h"
#include "ui/text.h"

namespace zorvex::ui {
namespace {

bool ScanIdle(void* context) {
  return static_cast<Node*>(context)->shared_files().sorted;
}

QStyle::StandardPixmap CategoryPixmap(std::string_view category) {
  if (category == "Music") return QStyle::SP_MediaVolume;
  if (category == "Video") return QStyle::SP_MediaPlay;
  if (category == "Software/Archive") return QStyle::SP_DriveHDIcon;
  return QStyle::SP_FileIcon;
}

// The "Hash Buffer:" list stores its choice when it loses the focus.
class HashSpeedList final : public QComboBox {
 public:
  HashSpeedList(Node& node, QWidget* parent) : QComboBox(parent), node_(node) {
    setObjectName(QStringLiteral("cmbHashSpeed"));
    addItems({QStringLiteral("256 KB"), QStringLiteral("100 KB"), QStringLiteral("8 KB"),
              QStringLiteral("3 KB")});
    const auto stored = node.hash_speed();
    setCurrentIndex(stored && *stored >= 0 && *stored < count() ? *stored : 0);
  }

 protected:
  void focusOutEvent(QFocusEvent* event) override {
    QComboBox::focusOutEvent(event);
    node_.SetHashSpeed(currentIndex());
  }

 private:
  Node& node_;
};

}  // namespace

MyFilesPane::MyFilesPane(NodeEvents& events, std::function<void(const QString&)> set_status,
                         QWidget* parent)
    : QWidget(parent), events_(events), node_(events.node()) {
  status_.SetListener([set_status = std::move(set_status)](const std::string& line) {
    if (set_status) set_status(FromBytes(line));
  });
  auto* layout = new QVBoxLayout(this);
  auto* counts = new QHBoxLayout;
  counts->addWidget(new QLabel(QStringLiteral("Shared Files:"), this));
  shared_count_ = new QLabel(QStringLiteral("0"), this);
  shared_count_->setObjectName(QStringLiteral("lblSharedCount"));
  counts->addWidget(shared_count_);
  counts->addSpacing(24);
  counts->addWidget(new QLabel(QStringLiteral("Total Size:"), this));
  total_ = new QLabel(QStringLiteral("0 Bytes"), this);
  total_->setObjectName(QStringLiteral("lblTotalFileSize"));
  counts->addWidget(total_);
  counts->addStretch(1);
  counts->addWidget(new QLabel(QStringLiteral("Hash Buffer:"), this));
  counts->addWidget(new HashSpeedList(node_, this));
  layout->addLayout(counts);

  model_ = SharedFilesModel(events_, this);
  proxy_ = new QSortFilterProxyModel(this);
  proxy_->setSourceModel(model_);
  view_ = RowView(QStringLiteral("MyFiles"), proxy_, this);
  view_->setColumnWidth(0, 240);
  view_->setColumnWidth(2, 260);
  view_->setContextMenuPolicy(Qt::CustomContextMenu);
  SortOnHeaderClick(view_, proxy_, &ScanIdle, &node_);
  layout->addWidget(view_, 1);
  auto* delete_key = new QAction(view_);
  delete_key->setShortcut(QKeySequence::Delete);
  delete_key->setShortcutContext(Qt::WidgetShortcut);
  view_->addAction(delete_key);
  connect(delete_key, &QAction::triggered, this, [this] { DeleteSelected(); });

  tasks_ =
      TaskSection(QStringLiteral("smMenuFiles"), QStringLiteral("File Tasks"), QStringLiteral("1"));
  const QString captions[5] = {
      QStringLiteral("Remove"), QStringLiteral("&Run File"), QStringLiteral("Refresh Files"),
      QStringLiteral("Copy Link to Clipboard"), QStringLiteral("Find File")};
  for (int i = 0; i < 5; ++i)
    links_[i] = TaskLink(QStringLiteral("FileTasks%1").arg(i), captions[i], tasks_);
  for (int i : {0, 1, 3})
    links_[i]->setEnabled(false);
  connect(links_[0], &QToolButton::clicked, this, [this] { UnshareSelected(); });
  connect(links_[1], &QToolButton::clicked, this, [this] { RunSelected(); });
  connect(links_[2], &QToolButton::clicked, this, [this] { Refresh(); });
  connect(links_[3], &QToolButton::clicked, this, [this] { CopyLink(); });
  connect(links_[4], &QToolButton::clicked, this, [this] { ShowFindPanel(); });

  // Details and find panel are sections of the pane that show on demand.
  stats_ = TaskSection(QStringLiteral("smMyFilesStats"), QStringLiteral("File Details"),
                       QStringLiteral("1"));
  auto* form = new QFormLayout;
  static_cast<QVBoxLayout*>(stats_->layout())->addLayout(form);
  auto add = [this, form](const QString& caption, const QString& name, const QString& text) {
    auto* label = new QLabel(text, stats_);
    label->setObjectName(name);
    label->setWordWrap(true);
    form->addRow(caption, label);
    return label;
  };
  size_ = add(QStringLiteral("File Size:"), QStringLiteral("lblMyFilesFileSize"),
              QStringLiteral("0 Bytes"));
  ext_ = add(QStringLiteral("File Extension:"), QStringLiteral("lblMyFilesExt"),
             QStringLiteral("N/A"));
  type_ =
      add(QStringLiteral("File Type:"), QStringLiteral("lblMyFilesType"), QStringLiteral("None"));
  other_ = add(QStringLiteral("Other:"), QStringLiteral("lblMyFilesOtherInfo"), {});
  kind_ = new QLabel(stats_);
  kind_->setObjectName(QStringLiteral("imgMyFilesKind"));
  form->addRow(kind_);
  Want(stats_, false);

  find_ = TaskSection(QStringLiteral("smSearch"), QStringLiteral("Find File"), QStringLiteral("1"));
  auto* find_layout = static_cast<QVBoxLayout*>(find_->layout());
  find_layout->addWidget(new QLabel(QStringLiteral("Keyword(s):"), find_));
  keywords_ = new QLineEdit(find_);
  keywords_->setObjectName(QStringLiteral("txtMyFilesSearch"));
  find_layout->addWidget(keywords_);
  auto* buttons = new QHBoxLayout;
  find_button_ = new QPushButton(QStringLiteral("Find"), find_);
  find_button_->setObjectName(QStringLiteral("btnMyFilesSearch"));
  cancel_ = new QPushButton(QStringLiteral("Cancel"), find_);
  cancel_->setObjectName(QStringLiteral("btnMyFilesCancel"));
  buttons->addWidget(find_button_);
  buttons->addWidget(cancel_);
  find_layout->addLayout(buttons);
  Want(find_, false);
  connect(keywords_, &QLineEdit::returnPressed, this, [this] { FindNext(); });
  connect(find_button_, &QPushButton::clicked, this, [this] { FindNext(); });
  connect(cancel_, &QPushButton::clicked, this, [this] { CloseFindPanel(); });

  connect(view_, &QTableView::clicked, this, [this] { RowClicked(); });
  connect(view_, &QTableView::doubleClicked, this, [this] { RunSelected(); });
  connect(view_, &QTableView::customContextMenuRequested, this,
          [this](const QPoint& at) { ShowMenu(at); });

  events_.AddObserver(this);
  UpdateCounts();
}

MyFilesPane::~MyFilesPane() {
  events_.RemoveObserver(this);
}

std::optional<std::size_t> MyFilesPane::SelectedRow() const {
  const QModelIndexList rows = view_->selectionModel()->selectedRows();
  if (rows.isEmpty()) return std::nullopt;
  const QModelIndex source = proxy_->mapToSource(rows.first());
  if (!source.isValid() ||
      static_cast<std::size_t>(source.row()) >= node_.shared_files().rows.size())
    return std::nullopt;
  return static_cast<std::size_t>(source.row());
}

void MyFilesPane::RowClicked() {
  const auto row = SelectedRow();
  if (!row) return;
  const SharedFile& file = node_.shared_files().rows[*row];
  Want(find_, false);
  Want(stats_, true);
  size_->setText(FromBytes(file.size_text));
  ext_->setText(FromBytes(GetExtension(file.file_name)));
  const std::string_view category = GetFileCategory(file.file_name);
  type_->setText(FromBytes(category));
  other_->setText(file.media_info.empty() ? QStringLiteral("None") : FromBytes(file.media_info));
  kind_->setPixmap(style()->standardIcon(CategoryPixmap(category)).pixmap(32, 32));
  for (int i : {0, 1, 3})
    links_[i]->setEnabled(true);
}

void MyFilesPane::Want(QGroupBox* panel, bool wanted) {
  panel->setProperty("wanted", wanted);
  panel->setVisible(wanted && isVisible());
}

void MyFilesPane::ShowFindPanel() {
  Want(stats_, false);
  Want(find_, true);
  keywords_->setFocus();
}

void MyFilesPane::CloseFindPanel() {
  finder_.Cancel();
  find_button_->setText(FromBytes(finder_.caption()));
  Want(find_, false);
  keywords_->clear();
}

void MyFilesPane::FindNext() {
  const std::string keywords = ToBytes(keywords_->text());
  if (keywords.empty()) return;
  const auto found =
      finder_.Find(node_.shared_files(), keywords, status_, events_.runtime().Prompts());
  if (!found) {
    CloseFindPanel();
    return;
  }
  const QModelIndex at = proxy_->mapFromSource(model_->index(static_cast<int>(*found), 0));
  view_->scrollTo(at);
  view_->setFocus();
  view_->selectionModel()->select(at,
                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  view_->setCurrentIndex(at);
  find_button_->setText(FromBytes(finder_.caption()));
}

void MyFilesPane::RunSelected() {
  const auto row = SelectedRow();
  if (!row) return;
  const QString path = FromBytes(node_.shared_files().rows[*row].FullPath());
  // The desktop's opener stands in for the shell's "Open" verb.
  QString error;
  if (!QFileInfo::exists(path)) {
    error = QStringLiteral("File not found");
  } else if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path))) {
    error = QStringLiteral("No association for file extension");
  }
  if (!error.isEmpty()) {
    auto* box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Error:"), error,
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
  }
}

void MyFilesPane::CopyLink() {
  const auto row = SelectedRow();
  if (!row) return;
  const SharedFile& file = node_.shared_files().rows[*row];
  if (file.file_name.empty() || file.hash.empty()) return;
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->clear();
  clipboard->setText(FromBytes(DownloadLinkText(file)));
}

namespace {
void LastFileBox(QWidget* parent) {
  QMessageBox::critical(parent, QStringLiteral("Zorvex"), FromBytes(kLastSharedFileMessage));
}
}  // namespace

void MyFilesPane::UnshareSelected() {
  const auto row = SelectedRow();
  if (!row) return;
  if (events_.Unshare(*row) == MyFilesResult::kLastFile) LastFileBox(this);
  UpdateCounts();
}

void MyFilesPane::DeleteSelected() {
  const auto row = SelectedRow();
  if (!row) return;
  if (node_.shared_files().rows.size() < 2) {
    LastFileBox(this);
    return;
  }
  const std::string name = node_.shared_files().rows[*row].file_name;
  if (QMessageBox::question(this, QStringLiteral("Zorvex"), FromBytes(DeleteQuestion(name)),
                            QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
    return;
  }
  if (events_.Delete(*row) == MyFilesResult::kDeleteFailed) {
    QMessageBox::critical(this, QStringLiteral("Error"),
                          QStringLiteral("The file could not be deleted: ") + FromBytes(name));
  }
  UpdateCounts();
}

void MyFilesPane::Refresh() {
  node_.folder_scan().Refresh();
}

void MyFilesPane::ShowMenu(const QPoint& at) {
  if (node_.shared_files().rows.empty()) return;
  QMenu menu(QStringLiteral("My Files Menu"), this);
  menu.setObjectName(QStringLiteral("mnuMyFiles"));
  QAction* run = menu.addAction(QStringLiteral("&Run"));
  run->setObjectName(QStringLiteral("mnuMyFilesRun"));
  menu.setDefaultAction(run);
  menu.addSeparator();
  QAction* link = menu.addAction(QStringLiteral("&Link to Clipboard"));
  link->setObjectName(QStringLiteral("mnuMyFilesClipboard"));
  QAction* unshare = menu.addAction(QStringLiteral("&Remove"));
  unshare->setObjectName(QStringLiteral("mnuMyFilesUnshare"));
  QAction* remove = menu.addAction(QStringLiteral("&Delete"));
  remove->setObjectName(QStringLiteral("mnuMyFilesDelete"));
  menu.addSeparator();
  QAction* find = menu.addAction(QStringLiteral("&Search"));
  find->setObjectName(QStringLiteral("mnuMyFilesSearch"));
  QAction* chosen = menu.exec(view_->viewport()->mapToGlobal(at));
  if (chosen == run) RunSelected();
  if (chosen == link) CopyLink();
  if (chosen == unshare) UnshareSelected();
  if (chosen == remove) DeleteSelected();
  if (chosen == find) ShowFindPanel();
}

void MyFilesPane::UpdateCounts() {
  shared_count_->setText(QString::number(node_.folder_scan().shared_count()));
  total_->setText(FromBytes(node_.shared_total().ShownText()));
}

void MyFilesPane::RowsAdded(NodeList list, std::size_t, std::size_t) {
  if (list == NodeList::kSharedFiles) UpdateCounts();
}
void MyFilesPane::RowsRemoved(NodeList list, std::size_t, std::size_t) {
  if (list == NodeList::kSharedFiles) UpdateCounts();
}
void MyFilesPane::RowsChanged(NodeList list, std::size_t, std::size_t) {
  if (list == NodeList::kSharedFiles) UpdateCounts();
}
void MyFilesPane::ListReset(NodeList list) {
  if (list == NodeList::kSharedFiles) UpdateCounts();
}

}  // namespace zorvex::ui
