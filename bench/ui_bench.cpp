// The desktop windows under load: 10,000 shared files and 5,000 search results arrive while a
// transfer runs. Prints the longest time the event loop was blocked by one step of arrivals and
// views, and the rows per second the node's list adapters took against a plain
// QStandardItemModel fed the same rows in the same batches, both shown in the same kind of view.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include <QApplication>
#include <QStandardItemModel>
#include <QTableView>

#include "network/peer_table.h"
#include "search/search.h"
#include "transfer/transfers.h"
#include "ui_fixture.h"

namespace zorvex {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFiles = 10'000;
constexpr int kResults = 5'000;
constexpr int kFilesPerStep = 100;
constexpr int kResultsPerStep = 50;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

SharedFile FileRow(int i) {
  SharedFile row;
  row.file_name = "track " + std::to_string(i) + ".mp3";
  row.base_name = "track " + std::to_string(i);
  row.category = "Music";
  row.size = 3'000'000 + i;
  row.size_text = "2.86 Mb";
  row.hash = "0123456789ABCDEF0123456789ABCDEF";
  row.folder = "/srv/music/";
  return row;
}

int Main() {
  testing::DesktopNetwork d(3);
  d.net.world.SetDefaultLink({.bandwidth_bytes_per_s = 100'000});
  const SharedFile big = d.Share(1, "big.bin", 4'000'000);
  d.Share(0, "mine.txt", 100);
  d.Run(60'000);
  Node& node = d.net[0];
  node.transfers().StartDownload(big.file_name, big.size, big.hash, d.net.Address(1));
  d.Run(25'000);
  node.search().StartOrCancel("track");
  const std::string prefix = "track|" + std::to_string(node.search().search_id()) + "|";
  d.window->ShowPane(2);
  d.window->resize(1000, 700);
  QCoreApplication::processEvents();

  double longest = 0;
  Clock::duration adapters{};
  int files = 0;
  int results = 0;
  while (files < kFiles || results < kResults) {
    const auto start = Clock::now();
    d.net.world.RunFor(20);
    for (int k = 0; k < kFilesPerStep && files < kFiles; ++k)
      node.shared_files().rows.push_back(FileRow(files++));
    d.events->Changed(NodeList::kSharedFiles);
    for (int k = 0; k < kResultsPerStep && results < kResults; ++k, ++results) {
      node.search().HandleSearchFound(
          "10.0.0.2", prefix + "track " + std::to_string(results) + ".mp3|3000000|node2|3|" +
                          "0123456789ABCDEF0123456789ABCDEF|Music|128 kbps");
    }
    const auto before_views = Clock::now();
    d.events->Flush();
    QCoreApplication::processEvents();
    const auto end = Clock::now();
    adapters += end - before_views;
    longest = std::max(longest, Ms(end - start));
  }
  const auto& transfer = node.transfers().download_rows().back();

  // The baseline: the same rows, the same batches, a model that copies them.
  QStandardItemModel files_model(0, 4);
  QStandardItemModel results_model(0, 7);
  QTableView files_view;
  QTableView results_view;
  files_view.setModel(&files_model);
  results_view.setModel(&results_model);
  files_view.resize(800, 600);
  results_view.resize(800, 600);
  files_view.show();
  results_view.show();
  Clock::duration baseline{};
  for (int f = 0, r = 0; f < kFiles || r < kResults;) {
    const auto start = Clock::now();
    for (int k = 0; k < kFilesPerStep && f < kFiles; ++k, ++f) {
      const SharedFile row = FileRow(f);
      files_model.appendRow({new QStandardItem(QString::fromStdString(row.file_name)),
                             new QStandardItem(QString::fromStdString(row.size_text)),
                             new QStandardItem(QString::fromStdString(row.hash)),
                             new QStandardItem(QString::fromStdString(row.FullPath()))});
    }
    for (int k = 0; k < kResultsPerStep && r < kResults; ++k, ++r) {
      QList<QStandardItem*> items;
      items << new QStandardItem(QStringLiteral("track %1.mp3").arg(r))
            << new QStandardItem(QStringLiteral("mp3"))
            << new QStandardItem(QStringLiteral("2.86 Mb"))
            << new QStandardItem(QStringLiteral("0123456789ABCDEF0123456789ABCDEF"))
            << new QStandardItem(QStringLiteral("node2"))
            << new QStandardItem(QStringLiteral("DSL"))
            << new QStandardItem(QStringLiteral("128 kbps"));
      results_model.appendRow(items);
    }
    QCoreApplication::processEvents();
    baseline += Clock::now() - start;
  }

  const double rows = kFiles + kResults;
  const double adapter_rate = rows / (Ms(adapters) / 1000);
  const double baseline_rate = rows / (Ms(baseline) / 1000);
  std::printf("rows: %d shared files, %zu results shown; transfer: %s %s\n", kFiles,
              node.search().results().size(), transfer.percent.c_str(), transfer.status.c_str());
  std::printf("longest event-loop block: %.2f ms (target: under 16 ms)\n", longest);
  std::printf("adapters: %.0f rows/s; QStandardItemModel: %.0f rows/s; ratio %.2f (target: >= 1)\n",
              adapter_rate, baseline_rate, adapter_rate / baseline_rate);
  return 0;
}

}  // namespace
}  // namespace zorvex

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM",
          qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QApplication app(argc, argv);
  return zorvex::Main();
}
