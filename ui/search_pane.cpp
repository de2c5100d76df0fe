#include "ui/search_pane.h"

#include <QApplication>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSortFilterProxyModel>
#include <QSpinBox>
#include <QStyle>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

#include "im/conversations.h"
#include "im/hot_list.h"
#include "search/search.h"
#include "ui/node_models.h"
#include "ui/row_view.h"
#include "ui/task_links.h"
#include "ui/text.h"

namespace zorvex::ui {

// Narrows the rows shown by name and minimum size; the node's rows stay as they are. Ghosted
// rows are drawn in the palette's disabled text colour.
class ResultsFilter final : public QSortFilterProxyModel {
 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;

  void SetFilter(const QString& name, qint64 min_bytes) {
    name_ = name;
    min_bytes_ = min_bytes;
    invalidateFilter();
  }

  QVariant data(const QModelIndex& index, int role) const override {
    if (role == Qt::ForegroundRole && QSortFilterProxyModel::data(index, kGhostRole).toBool()) {
      return QApplication::palette().brush(QPalette::Disabled, QPalette::Text);
    }
    return QSortFilterProxyModel::data(index, role);
  }

 protected:
  bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
    const QAbstractItemModel* source = sourceModel();
    if (!name_.isEmpty() &&
        !source->index(row, 0, parent).data().toString().contains(name_, Qt::CaseInsensitive)) {
      return false;
    }
    return min_bytes_ <= 0 ||
           source->index(row, 2, parent).data(kSortRole).toLongLong() >= min_bytes_;
  }

 private:
  QString name_;
  qint64 min_bytes_ = 0;
};

SearchPane::SearchPane(NodeEvents& events, std::filesystem::path, QWidget* parent)
    : QWidget(parent), events_(events), node_(events.node()) {
  auto* layout = new QVBoxLayout(this);
  auto* filter_row = new QHBoxLayout;
  filter_row->addWidget(new QLabel(QStringLiteral("Show only:"), this));
  name_filter_ = new QLineEdit(this);
  name_filter_->setObjectName(QStringLiteral("txtResultsFilter"));
  name_filter_->setPlaceholderText(QStringLiteral("part of the name"));
  name_filter_->setClearButtonEnabled(true);
  filter_row->addWidget(name_filter_, 1);
  filter_row->addWidget(new QLabel(QStringLiteral("at least"), this));
  size_filter_ = new QSpinBox(this);
  size_filter_->setObjectName(QStringLiteral("spnResultsMinSize"));
  size_filter_->setRange(0, 2'000'000);
  size_filter_->setSuffix(QStringLiteral(" KB"));
  filter_row->addWidget(size_filter_);
  layout->addLayout(filter_row);

  model_ = ResultsModel(events_, this);
  filter_ = new ResultsFilter(this);
  filter_->setSourceModel(model_);
  view_ = RowView(QStringLiteral("Results"), filter_, this);
  view_->setColumnWidth(0, 240);
  view_->setContextMenuPolicy(Qt::CustomContextMenu);
  SortOnHeaderClick(view_, filter_, nullptr, nullptr);
  layout->addWidget(view_, 1);
  auto refilter = [this] {
    filter_->SetFilter(name_filter_->text(), qint64{size_filter_->value()} * 1024);
  };
  connect(name_filter_, &QLineEdit::textChanged, this, refilter);
  connect(size_filter_, &QSpinBox::valueChanged, this, refilter);

  section_ =
      TaskSection(QStringLiteral("smMenuSearch"), QStringLiteral("Search"), QStringLiteral("2"));
  query_ = new QLineEdit(QStringLiteral("What You're Looking For"), section_);
  query_->setObjectName(QStringLiteral("txtSearch"));
  section_->layout()->addWidget(query_);
  category_ = new QComboBox(section_);
  category_->setObjectName(QStringLiteral("SearchFilter"));
  category_->addItems({QStringLiteral("Any"), QStringLiteral("Music"), QStringLiteral("Videos"),
                       QStringLiteral("Images"), QStringLiteral("Documents"),
                       QStringLiteral("Software/Archives")});
  section_->layout()->addWidget(category_);
  start_ = TaskLink(QStringLiteral("lblStartSearch"), QStringLiteral("Start &Search"), section_);
  start_->setIcon(style()->standardIcon(QStyle::SP_DialogApplyButton));
  clear_ = TaskLink(QStringLiteral("lblClearResults"), QStringLiteral("Clear Results"), section_);
  clear_->setEnabled(false);
  download_ =
      TaskLink(QStringLiteral("lblDownloadFile"), QStringLiteral("&Download File"), section_);
  download_->setEnabled(false);

  info_ = TaskSection(QStringLiteral("smResultInfo"), QStringLiteral("Search Information"),
                      QStringLiteral("2"));
  auto* form = new QFormLayout;
  auto add = [this, form](const QString& caption, const QString& name, const QString& text) {
    auto* label = new QLabel(text, info_);
    label->setObjectName(name);
    form->addRow(caption, label);
    return label;
  };
  status_ = add(QStringLiteral("Status:"), QStringLiteral("lblResultsStatus"), {});
  query_shown_ =
      add(QStringLiteral("Query:"), QStringLiteral("lblResultsQuery"), QStringLiteral("-----"));
  users_ = add(QStringLiteral("Users Searched:"), QStringLiteral("lblSearchedUsers"),
               QStringLiteral("0"));
  count_ = add(QStringLiteral("Results Displayed:"), QStringLiteral("lblResultsCount"),
               QStringLiteral("0"));
  static_cast<QVBoxLayout*>(info_->layout())->addLayout(form);

  connect(query_, &QLineEdit::returnPressed, this, [this] { StartOrCancel(); });
  connect(start_, &QToolButton::clicked, this, [this] { StartOrCancel(); });
  connect(clear_, &QToolButton::clicked, this, [this] { ClearResults(); });
  connect(download_, &QToolButton::clicked, this, [this] { DownloadSelected(); });
  connect(category_, &QComboBox::currentIndexChanged, this,
          [this](int index) { node_.search().SetCategory(std::max(index, 0)); });
  connect(view_, &QTableView::doubleClicked, this, [this] { DownloadSelected(); });
  connect(view_, &QTableView::customContextMenuRequested, this,
          [this](const QPoint& at) { ShowMenu(at); });
  connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { download_->setEnabled(SelectedRow().has_value()); });

  events_.AddObserver(this);
  SearchStateChanged();
}

SearchPane::~SearchPane() {
  events_.RemoveObserver(this);
}

void SearchPane::ApplyInfoRule(bool on_pane) {
  info_->setVisible(on_pane && (!node_.search().results().empty() || node_.search().running()));
}

void SearchPane::StartOrCancel() {
  node_.search().SetCategory(std::max(category_->currentIndex(), 0));
  node_.search().StartOrCancel(ToBytes(query_->text()));
  events_.Flush();
}

void SearchPane::SetQueryText(const QString& text) {
  query_->setText(text);
}

void SearchPane::ClearResults() {
  node_.search().ClearResults();
  events_.Flush();
  info_->hide();
}

std::optional<std::size_t> SearchPane::SelectedRow() const {
  const QModelIndexList rows = view_->selectionModel()->selectedRows();
  if (rows.isEmpty()) return std::nullopt;
  const QModelIndex source = filter_->mapToSource(rows.first());
  if (!source.isValid()) return std::nullopt;
  const auto row = static_cast<std::size_t>(source.row());
  const auto& results = node_.search().results();
  if (row >= results.size() || results[row].source.empty()) return std::nullopt;
  return row;
}

void SearchPane::DownloadSelected() {
  if (const auto row = SelectedRow()) {
    node_.DownloadResult(*row);
    events_.Flush();
  }
}

void SearchPane::ShowMenu(const QPoint& at) {
  if (!SelectedRow()) return;
  QMenu menu(QStringLiteral("Search Results"), this);
  menu.setObjectName(QStringLiteral("mnuSearchResults"));
  QAction* download = menu.addAction(QStringLiteral("&Download"));
  download->setObjectName(QStringLiteral("mnuSearchDownload"));
  menu.setDefaultAction(download);
  menu.addSeparator();
  QAction* im = menu.addAction(QStringLiteral("&Instant Message"));
  im->setObjectName(QStringLiteral("mnuSearchIM"));
  QAction* hot = menu.addAction(QStringLiteral("&Add to Hotlist"));
  hot->setObjectName(QStringLiteral("mnuSearchHotlist"));
  QAction* chosen = menu.exec(view_->viewport()->mapToGlobal(at));
  if (chosen == download) DownloadSelected();
  if (chosen == im) MessageSelected();
  if (chosen == hot) AddSelectedToHotList();
}

void SearchPane::MessageSelected() {
  const auto row = SelectedRow();
  if (!row || *row >= node_.search().results().size()) return;
  const SearchResult& result = node_.search().results()[*row];
  node_.conversations().ReceiveIM(result.source, result.username + "|");
}

void SearchPane::AddSelectedToHotList() {
  const auto row = SelectedRow();
  if (!row || *row >= node_.search().results().size()) return;
  const SearchResult& result = node_.search().results()[*row];
  node_.hot_list().AddBuddy(result.username, result.source);
}

void SearchPane::SearchStateChanged() {
  const Search& search = node_.search();
  const bool running = search.running();
  start_->setText(running ? QStringLiteral("&End Search ") : QStringLiteral("Start &Search"));
  start_->setIcon(
      style()->standardIcon(running ? QStyle::SP_BrowserStop : QStyle::SP_DialogApplyButton));
  clear_->setEnabled(search.can_clear());
  status_->setText(FromBytes(SearchStatusText(search.status())));
  query_shown_->setText(FromBytes(search.shown_query()));
  users_->setText(QString::number(search.shown_searched_count()));
  count_->setText(QString::number(search.results().size()));
  if (running && !was_running_ && section_->isVisible()) info_->show();
  was_running_ = running;
}

void SearchPane::RowsAdded(NodeList list, std::size_t, std::size_t) {
  if (list == NodeList::kResults) count_->setText(QString::number(node_.search().results().size()));
}

}  // namespace zorvex::ui
