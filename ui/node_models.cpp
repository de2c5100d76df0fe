#include "ui/node_models.h"

#include <charconv>

#include <QStringDecoder>

#include "network/peer_table.h"
#include "search/search.h"
#include "share/shared_files.h"
#include "transfer/transfers.h"
#include "ui/text.h"

namespace zorvex::ui {

QString FromBytes(std::string_view bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  if (utf8.hasError()) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
  }
  return text;
}

std::string ToBytes(const QString& text) {
  return text.toStdString();
}

NodeListModel::NodeListModel(NodeEvents& events, NodeList list, QStringList headers, Cell cell,
                             QObject* parent)
    : QAbstractTableModel(parent),
      events_(events),
      list_(list),
      headers_(std::move(headers)),
      cell_(std::move(cell)),
      count_(static_cast<int>(events.AnnouncedRows(list))) {
  events_.AddObserver(this);
}

NodeListModel::~NodeListModel() {
  events_.RemoveObserver(this);
}

int NodeListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : count_;
}

int NodeListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(headers_.size());
}

QVariant NodeListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= count_) return {};
  return cell_(static_cast<std::size_t>(index.row()), index.column(), role);
}

QVariant NodeListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section < headers_.size()) {
    return headers_[section];
  }
  return {};
}

void NodeListModel::RowsAdded(NodeList list, std::size_t first, std::size_t count) {
  if (list != list_ || count == 0) return;
  beginInsertRows({}, static_cast<int>(first), static_cast<int>(first + count - 1));
  count_ += static_cast<int>(count);
  endInsertRows();
}

void NodeListModel::RowsChanged(NodeList list, std::size_t first, std::size_t count) {
  if (list != list_ || count == 0) return;
  emit dataChanged(index(static_cast<int>(first), 0),
                   index(static_cast<int>(first + count - 1), columnCount() - 1));
}

void NodeListModel::RowsRemoved(NodeList list, std::size_t first, std::size_t count) {
  if (list != list_ || count == 0) return;
  beginRemoveRows({}, static_cast<int>(first), static_cast<int>(first + count - 1));
  count_ -= static_cast<int>(count);
  endRemoveRows();
}

void NodeListModel::ListReset(NodeList list) {
  if (list != list_) return;
  beginResetModel();
  count_ = static_cast<int>(events_.AnnouncedRows(list_));
  endResetModel();
}

namespace {

QVariant Text(const std::string& bytes) {
  return FromBytes(bytes);
}

// The leading number of a text such as "45%", for sorting.
qlonglong LeadingNumber(const std::string& text) {
  qlonglong value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

}  // namespace

NodeListModel* NeighboursModel(NodeEvents& events, QObject* parent) {
  Node& node = events.node();
  return new NodeListModel(
      events, NodeList::kNeighbours, {QStringLiteral("Address"), QStringLiteral("State")},
      [&node](std::size_t row, int column, int role) -> QVariant {
        const auto& rows = node.peers().rows();
        if (row >= rows.size() || (role != Qt::DisplayRole && role != kSortRole)) return {};
        if (column == 0) return Text(rows[row].address);
        return rows[row].confirmed ? QStringLiteral("Connected") : QStringLiteral("Pinged");
      },
      parent);
}

NodeListModel* SharedFilesModel(NodeEvents& events, QObject* parent) {
  Node& node = events.node();
  return new NodeListModel(
      events, NodeList::kSharedFiles,
      {QStringLiteral("Filename"), QStringLiteral("File Size"), QStringLiteral("Hash"),
       QStringLiteral("Full Path")},
      [&node](std::size_t row, int column, int role) -> QVariant {
        const auto& rows = node.shared_files().rows;
        if (row >= rows.size()) return {};
        const SharedFile& f = rows[row];
        if (role == kSortRole && column == 1) return f.size;
        if (role != Qt::DisplayRole && role != kSortRole) return {};
        switch (column) {
          case 0:
            return Text(f.file_name);
          case 1:
            return Text(f.size_text);
          case 2:
            return Text(f.hash);
          default:
            return Text(f.FullPath());
        }
      },
      parent);
}

NodeListModel* ResultsModel(NodeEvents& events, QObject* parent) {
  Node& node = events.node();
  return new NodeListModel(
      events, NodeList::kResults,
      {QStringLiteral("Filename"), QStringLiteral("Type"), QStringLiteral("Size"),
       QStringLiteral("Hash"), QStringLiteral("Username"), QStringLiteral("Speed"),
       QStringLiteral("Other Information")},
      [&node](std::size_t row, int column, int role) -> QVariant {
        const auto& rows = node.search().results();
        if (row >= rows.size()) return {};
        const SearchResult& r = rows[row];
        if (role == kGhostRole) {
          const auto& ghosted = node.search().ghosted();
          return row < ghosted.size() && ghosted[row];
        }
        if (role == kSortRole && column == 2) return r.size;
        if (role != Qt::DisplayRole && role != kSortRole) return {};
        switch (column) {
          case 0:
            return Text(r.file_name);
          case 1:
            return Text(r.type);
          case 2:
            return Text(r.size_text);
          case 3:
            return Text(r.hash);
          case 4:
            return Text(r.username);
          case 5:
            return Text(r.speed);
          default:
            return Text(r.media_info);
        }
      },
      parent);
}

namespace {
NodeListModel* TransferModel(NodeEvents& events, bool uploads, QObject* parent) {
  Node& node = events.node();
  return new NodeListModel(
      events, uploads ? NodeList::kUploads : NodeList::kDownloads,
      {QStringLiteral("Filename"), QStringLiteral("Percent"), QStringLiteral("Rate"),
       QStringLiteral("Time Remaining"), QStringLiteral("Size"),
       uploads ? QStringLiteral("Username") : QStringLiteral("Sources"), QStringLiteral("Status")},
      [&node, uploads](std::size_t row, int column, int role) -> QVariant {
        const auto& rows =
            uploads ? node.transfers().upload_rows() : node.transfers().download_rows();
        if (row >= rows.size()) return {};
        const TransferRow& t = rows[row];
        if (role == kSortRole && column == 1) return LeadingNumber(t.percent);
        if (role != Qt::DisplayRole && role != kSortRole) return {};
        switch (column) {
          case 0:
            return Text(t.file_name);
          case 1:
            return Text(t.percent);
          case 2:
            return Text(t.rate);
          case 3:
            return Text(t.time_remaining);
          case 4:
            return Text(t.size);
          case 5:
            return Text(uploads ? t.username : t.sources);
          default:
            return Text(t.status);
        }
      },
      parent);
}
}  // namespace

NodeListModel* DownloadsModel(NodeEvents& events, QObject* parent) {
  return TransferModel(events, false, parent);
}

NodeListModel* UploadsModel(NodeEvents& events, QObject* parent) {
  return TransferModel(events, true, parent);
}

}  // namespace zorvex::ui
