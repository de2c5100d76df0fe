#include "apps/node_status.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

namespace zorvex {
namespace {

QString Text(const std::string& bytes) {
  const QByteArray data(bytes.data(), static_cast<qsizetype>(bytes.size()));
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8.decode(data);
  if (utf8.hasError()) return QString::fromLatin1(data);
  return text;
}

}  // namespace

std::string StatusJson(const NodeSnapshot& snapshot) {
  QJsonArray neighbours;
  for (const NeighbourView& neighbour : snapshot.neighbours) {
    neighbours.append(
        QJsonObject{{"address", Text(neighbour.address)}, {"confirmed", neighbour.confirmed}});
  }
  QJsonArray host_cache;
  for (const std::string& address : snapshot.host_cache)
    host_cache.append(Text(address));
  const QJsonObject packets{{"in", static_cast<qint64>(snapshot.packets_in)},
                            {"out", static_cast<qint64>(snapshot.packets_out)},
                            {"bad", static_cast<qint64>(snapshot.packets_bad)}};
  const QJsonObject shared{{"count", static_cast<qint64>(snapshot.shared_count)},
                           {"total", Text(snapshot.shared_total)},
                           {"scanning", snapshot.scanning}};
  QJsonArray results;
  for (const auto& r : snapshot.results) {
    results.append(QJsonObject{{"file_name", Text(r.file_name)},
                               {"type", Text(r.type)},
                               {"size", Text(r.size_text)},
                               {"bytes", static_cast<qint64>(r.size)},
                               {"hash", Text(r.hash)},
                               {"username", Text(r.username)},
                               {"speed", Text(r.speed)},
                               {"other_information", Text(r.media_info)},
                               {"source", Text(r.source)}});
  }
  const QJsonObject search{{"running", snapshot.search_running},
                           {"query", Text(snapshot.search_query)},
                           {"status", Text(snapshot.search_status)},
                           {"users_searched", static_cast<qint64>(snapshot.users_searched)},
                           {"results", results}};
  auto row_json = [](const TransferRow& row) {
    return QJsonObject{{"file_name", Text(row.file_name)},
                       {"percent", Text(row.percent)},
                       {"rate", Text(row.rate)},
                       {"time_remaining", Text(row.time_remaining)},
                       {"size", Text(row.size)},
                       {"status", Text(row.status)},
                       {"tag", Text(row.tag)}};
  };
  QJsonArray downloads;
  for (const auto& download : snapshot.downloads) {
    QJsonObject row = row_json(download.row);
    row.insert("sources_count", Text(download.row.sources));
    row.insert("restored", download.row.restored);
    QJsonArray sources;
    for (const auto& source : download.sources) {
      sources.append(QJsonObject{{"address", Text(source.address)},
                                 {"best", Text(source.best)},
                                 {"average", Text(source.average)},
                                 {"use", Text(source.use)}});
    }
    row.insert("sources", sources);
    downloads.append(row);
  }
  QJsonArray uploads;
  for (const auto& upload : snapshot.uploads) {
    QJsonObject row = row_json(upload);
    row.insert("username", Text(upload.username));
    row.insert("peer", Text(upload.peer));
    uploads.append(row);
  }
  QJsonArray conversations;
  for (const auto& c : snapshot.conversations) {
    conversations.append(QJsonObject{
        {"address", Text(c.address)}, {"nickname", Text(c.nickname)}, {"text", Text(c.text)}});
  }
  QJsonArray hotlist;
  for (const auto& buddy : snapshot.hotlist) {
    hotlist.append(QJsonObject{{"nickname", Text(buddy.nickname)},
                               {"address", Text(buddy.address)},
                               {"online", buddy.online},
                               {"key", Text(buddy.key)}});
  }
  const QJsonObject status{{"nickname", Text(snapshot.nickname)},
                           {"my_ip", Text(snapshot.my_ip)},
                           {"neighbours", neighbours},
                           {"packets", packets},
                           {"queue", Text(snapshot.queue_display)},
                           {"host_cache", host_cache},
                           {"status_line", Text(snapshot.status_line)},
                           {"max_connections", snapshot.max_connections},
                           {"connected", snapshot.connected},
                           {"shared", shared},
                           {"search", search},
                           {"downloads", downloads},
                           {"uploads", uploads},
                           {"away", snapshot.away},
                           {"conversations", conversations},
                           {"hotlist", hotlist}};
  return QJsonDocument(status).toJson(QJsonDocument::Indented).toStdString();
}

}  // namespace zorvex
