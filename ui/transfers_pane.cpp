#include "ui/transfers_pane.h"

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QSortFilterProxyModel>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

#include "im/conversations.h"
#include "settings/ini_store.h"
#include "settings/preferences.h"
#include "transfer/transfers.h"
#include "ui/node_models.h"
#include "ui/row_view.h"
#include "ui/task_links.h"
#include "ui/text.h"

namespace zorvex::ui {
namespace {

class PercentDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyleOptionProgressBar bar;
    bar.rect = option.rect.adjusted(1, 1, -1, -1);
    bar.minimum = 0;
    bar.maximum = 100;
    bar.progress = std::clamp(index.data(kSortRole).toInt(), 0, 100);
    bar.text = index.data().toString();
    bar.textVisible = true;
    bar.state = option.state | QStyle::State_Horizontal;
    bar.palette = option.palette;
    QApplication::style()->drawControl(QStyle::CE_ProgressBar, &bar, painter);
  }
};

QTableView* TransferView(const QString& name, const QString& tip, QAbstractItemModel* model,
                         QWidget* parent) {
  auto* view = RowView(name, model, parent);
  view->setToolTip(tip);
  view->setColumnWidth(0, 220);
  view->setColumnWidth(1, 110);
  view->setItemDelegateForColumn(1, new PercentDelegate(view));
  view->setContextMenuPolicy(Qt::CustomContextMenu);
  return view;
}

}  // namespace

TransfersPane::TransfersPane(NodeEvents& events, QWidget* parent)
    : QWidget(parent), events_(events), node_(events.node()) {
  auto* layout = new QVBoxLayout(this);
  download_model_ = DownloadsModel(events_, this);
  upload_model_ = UploadsModel(events_, this);
  download_proxy_ = new QSortFilterProxyModel(this);
  download_proxy_->setSourceModel(download_model_);
  upload_proxy_ = new QSortFilterProxyModel(this);
  upload_proxy_->setSourceModel(upload_model_);

  layout->addWidget(new QLabel(QStringLiteral("Downloads:"), this));
  downloads_ =
      TransferView(QStringLiteral("Downloads"), QStringLiteral("My Current Downloads (Receiving)"),
                   download_proxy_, this);
  layout->addWidget(downloads_, 1);
  clear_downloads_ = new QCheckBox(QStringLiteral("Clear Incomplete/Finished Downloads"), this);
  clear_downloads_->setObjectName(QStringLiteral("chkClearDownloads"));
  layout->addWidget(clear_downloads_);
  layout->addWidget(new QLabel(QStringLiteral("Uploads:"), this));
  uploads_ = TransferView(QStringLiteral("Uploads"), QStringLiteral("My Current Uploads (Sending)"),
                          upload_proxy_, this);
  layout->addWidget(uploads_, 1);
  clear_uploads_ = new QCheckBox(QStringLiteral("Clear Incomplete/Finished Uploads"), this);
  clear_uploads_->setObjectName(QStringLiteral("chkClearUploads"));
  layout->addWidget(clear_uploads_);
  SortOnHeaderClick(downloads_, download_proxy_, nullptr, nullptr);
  SortOnHeaderClick(uploads_, upload_proxy_, nullptr, nullptr);

  const auto file = node_.PreferencesFile();
  clear_downloads_->setChecked(node_.store().ReadINI(keys::kAutomaticDownloadClear.section,
                                                     keys::kAutomaticDownloadClear.key,
                                                     file) == "1");
  clear_uploads_->setChecked(node_.store().ReadINI(keys::kAutomaticUploadClear.section,
                                                   keys::kAutomaticUploadClear.key, file) == "1");
  auto store_boxes = [this] {
    const auto prefs = node_.PreferencesFile();
    node_.store().WriteINI(keys::kAutomaticDownloadClear.section, keys::kAutomaticDownloadClear.key,
                           clear_downloads_->isChecked() ? "1" : "0", prefs);
    node_.store().WriteINI(keys::kAutomaticUploadClear.section, keys::kAutomaticUploadClear.key,
                           clear_uploads_->isChecked() ? "1" : "0", prefs);
    node_.transfers().SetAutomaticClear(clear_downloads_->isChecked(), clear_uploads_->isChecked());
  };
  connect(clear_downloads_, &QCheckBox::toggled, this, store_boxes);
  connect(clear_uploads_, &QCheckBox::toggled, this, store_boxes);

  section_ = TaskSection(QStringLiteral("smMenuTransfers"), QStringLiteral("Transfer Tasks"),
                         QStringLiteral("3"));
  const QString captions[5] = {QStringLiteral("Cancel"), QStringLiteral("Pause"),
                               QStringLiteral("Find More Sources"),
                               QStringLiteral("Clear Finished"), QStringLiteral("Clear Errors")};
  for (int i = 0; i < 5; ++i) {
    links_[i] = TaskLink(QStringLiteral("TransferMenu%1").arg(i), captions[i], section_);
    links_[i]->setEnabled(false);
  }
  connect(links_[0], &QToolButton::clicked, this, [this] { Cancel(); });
  connect(links_[1], &QToolButton::clicked, this, [this] { PauseOrResume(); });
  connect(links_[2], &QToolButton::clicked, this, [this] { FindMoreSources(); });
  connect(links_[3], &QToolButton::clicked, this, [this] { Clear(false); });
  connect(links_[4], &QToolButton::clicked, this, [this] { Clear(true); });

  downloads_->installEventFilter(this);
  uploads_->installEventFilter(this);
  connect(downloads_, &QTableView::clicked, this, [this] {
    uploads_selected_ = false;
    MenuChange(true);
  });
  connect(uploads_, &QTableView::clicked, this, [this] {
    uploads_selected_ = true;
    MenuChange(true);
  });
  connect(downloads_, &QTableView::customContextMenuRequested, this,
          [this](const QPoint& at) { ShowMenu(false, at); });
  connect(uploads_, &QTableView::customContextMenuRequested, this,
          [this](const QPoint& at) { ShowMenu(true, at); });
  connect(downloads_, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
    ShowMenu(false, downloads_->visualRect(index).center());
  });
  connect(uploads_, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
    ShowMenu(true, uploads_->visualRect(index).center());
  });

  events_.AddObserver(this);
}

TransfersPane::~TransfersPane() {
  events_.RemoveObserver(this);
}

bool TransfersPane::eventFilter(QObject* watched, QEvent* event) {
  const bool down = watched == downloads_;
  if (event->type() == QEvent::FocusIn) {
    const auto& rows = down ? node_.transfers().download_rows() : node_.transfers().upload_rows();
    if (!rows.empty()) EnableLinks(true);
  } else if (event->type() == QEvent::FocusOut) {
    // A click on a task link must still find its links enabled.
    QWidget* focus = QApplication::focusWidget();
    const bool to_link = focus && focus->parentWidget() == section_;
    if (!to_link && (down || node_.transfers().download_rows().empty())) {
      MenuChange(false);
      EnableLinks(false);
    }
  }
  return QWidget::eventFilter(watched, event);
}

std::optional<std::size_t> TransfersPane::SelectedRow(bool uploads) const {
  QTableView* view = uploads ? uploads_ : downloads_;
  QSortFilterProxyModel* proxy = uploads ? upload_proxy_ : download_proxy_;
  const QModelIndexList rows = view->selectionModel()->selectedRows();
  if (rows.isEmpty()) return std::nullopt;
  const QModelIndex source = proxy->mapToSource(rows.first());
  if (!source.isValid()) return std::nullopt;
  return static_cast<std::size_t>(source.row());
}

void TransfersPane::EnableLinks(bool on) {
  for (QToolButton* link : links_)
    link->setEnabled(on);
}

void TransfersPane::MenuChange(bool on) {
  if (uploads_selected_) return;
  for (int i = 0; i < 3; ++i)
    links_[i]->setEnabled(on);
  const auto row = SelectedRow(false);
  const auto& rows = node_.transfers().download_rows();
  const bool paused = on && row && *row < rows.size() && rows[*row].status == "Paused";
  links_[1]->setText(paused ? QStringLiteral("&Resume") : QStringLiteral("&Pause   "));
}

void TransfersPane::Cancel() {
  if (const auto row = SelectedRow(uploads_selected_)) {
    node_.transfers().CancelTransfer(uploads_selected_, *row);
    events_.Flush();
  }
}

void TransfersPane::PauseOrResume() {
  if (const auto row = SelectedRow(false)) {
    node_.transfers().PauseDownload(*row);
    events_.Flush();
    const bool saved = uploads_selected_;
    uploads_selected_ = false;
    MenuChange(true);
    uploads_selected_ = saved;
  }
}

void TransfersPane::FindMoreSources() {
  if (const auto row = SelectedRow(false)) node_.transfers().FindMoreSources(*row);
}

void TransfersPane::Clear(bool errors) {
  node_.transfers().ClearTransfers(uploads_selected_, errors);
  events_.Flush();
}

void TransfersPane::ShowMenu(bool uploads, const QPoint& at) {
  const auto& rows = uploads ? node_.transfers().upload_rows() : node_.transfers().download_rows();
  if (rows.empty()) return;
  QTableView* view = uploads ? uploads_ : downloads_;
  QMenu menu(
      uploads ? QStringLiteral("Transfers(Uploads)") : QStringLiteral("Transfers(Downloads)"),
      this);
  menu.setObjectName(uploads ? QStringLiteral("mnuTransferUL") : QStringLiteral("mnuTransferDL"));
  QAction* cancel = nullptr;
  QAction* im = nullptr;
  const QString prefix =
      uploads ? QStringLiteral("mnuTransferUL") : QStringLiteral("mnuTransferDL");
  if (!uploads) {
    cancel = menu.addAction(QStringLiteral("&Cancel"));
    cancel->setObjectName(prefix + QStringLiteral("Cancel"));
    menu.setDefaultAction(cancel);
    menu.addSeparator();
  }
  QAction* finished = menu.addAction(QStringLiteral("Clear &Finished"));
  finished->setObjectName(prefix + QStringLiteral("ClearFinished"));
  QAction* errors = menu.addAction(QStringLiteral("Clear &Errors"));
  errors->setObjectName(prefix + QStringLiteral("ClearErrors"));
  if (uploads) {
    menu.addSeparator();
    im = menu.addAction(QStringLiteral("Instant Message"));
    im->setObjectName(QStringLiteral("mnuTransferULIM"));
  }
  QAction* chosen = menu.exec(view->viewport()->mapToGlobal(at));
  if (!chosen) return;
  if (chosen == cancel) {
    if (const auto row = SelectedRow(false)) node_.transfers().CancelTransfer(false, *row);
  } else if (chosen == im) {
    MessageSelectedUpload();
  } else if (chosen == finished || chosen == errors) {
    node_.transfers().ClearTransfers(uploads, chosen == errors);
  }
  events_.Flush();
}

void TransfersPane::MessageSelectedUpload() {
  const auto row = SelectedRow(true);
  const auto& rows = node_.transfers().upload_rows();
  if (!row || *row >= rows.size()) return;
  node_.conversations().ReceiveIM(rows[*row].peer, rows[*row].username + "|");
}

void TransfersPane::DownloadEnded(const std::string& file_name, bool finished) {
  if (ended_) ended_(FromBytes(file_name), finished);
}

}  // namespace zorvex::ui
