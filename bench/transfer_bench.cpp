// A file between two zorvex-node processes on loopback, against a plain TCP copy of the same
// bytes measured in the same run, and the downloader's peak memory for a small and a large file.
// Needs the right to bind port 620 (root, or the capability on zorvex-node).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

void WriteFile(const fs::path& path, std::int64_t size) {
  std::ofstream out(path, std::ios::binary);
  std::string block(1 << 20, '\0');
  std::uint64_t x = 88172645463325252ull;
  for (auto& c : block) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    c = static_cast<char>(x);
  }
  for (std::int64_t done = 0; done < size; done += static_cast<std::int64_t>(block.size())) {
    block[0] = static_cast<char>(done >> 20);  // no two blocks alike
    out.write(block.data(),
              static_cast<std::streamsize>(std::min<std::int64_t>(block.size(), size - done)));
  }
}

std::string Md5(const fs::path& path) {
  QFile file(QString::fromStdString(path.string()));
  file.open(QIODevice::ReadOnly);
  QCryptographicHash hash(QCryptographicHash::Md5);
  hash.addData(&file);
  return hash.result().toHex().toUpper().toStdString();
}

// The same bytes over a plain loopback TCP connection, file to file.
double PlainCopySeconds(const fs::path& from, const fs::path& to) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  ::listen(listener, 1);
  const auto start = Clock::now();
  std::thread sender([&] {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    std::ifstream in(from, std::ios::binary);
    std::string buffer(1 << 20, '\0');
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
      const char* p = buffer.data();
      std::size_t left = static_cast<std::size_t>(in.gcount());
      while (left > 0) {
        const auto sent = ::send(fd, p, left, 0);
        if (sent <= 0) break;
        p += sent;
        left -= static_cast<std::size_t>(sent);
      }
    }
    ::close(fd);
  });
  const int fd = ::accept(listener, nullptr, nullptr);
  std::ofstream out(to, std::ios::binary);
  std::string buffer(1 << 20, '\0');
  while (true) {
    const auto got = ::recv(fd, buffer.data(), buffer.size(), 0);
    if (got <= 0) break;
    out.write(buffer.data(), got);
  }
  out.close();
  sender.join();
  ::close(fd);
  ::close(listener);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

long PeakKiB(qint64 pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

struct NodeRun {
  double seconds = -1;        // first byte on disk to the last byte on disk
  double saved_seconds = -1;  // first byte to the finished, hash-checked file
  long uploader_peak_kib = -1;
  long downloader_peak_kib = -1;
  bool same_bytes = false;
};

NodeRun NodeTransfer(const char* node_binary, const fs::path& root, std::int64_t size,
                     const QStringList& uploader_extra = {},
                     const QStringList& downloader_extra = {}) {
  NodeRun run;
  const fs::path share = root / "share";
  const fs::path a = root / "a";
  const fs::path b = root / "b";
  fs::create_directories(share);
  fs::create_directories(a);
  fs::create_directories(b);
  WriteFile(share / "payload.bin", size);
  const std::string hash = Md5(share / "payload.bin");
  ::sync();
  const QString gateway = "Local=127.0.0.2:18640/gateway.php";
  QProcess uploader;
  uploader.setProgram(node_binary);
  uploader.setArguments(QStringList{"--home", QString::fromStdString(a.string()), "--bind",
                                    "127.0.0.2", "--nickname", "uploader", "--share",
                                    QString::fromStdString(share.string()), "--gateway", gateway,
                                    "--serve-gateway", "127.0.0.2:18640"} +
                        uploader_extra);
  uploader.setStandardErrorFile(QProcess::nullDevice());
  uploader.start();
  // Wait until the file is shared (hashed).
  for (int i = 0; i < 600; ++i) {
    QProcess status;
    status.start(node_binary, {"--home", QString::fromStdString(a.string()), "--status"});
    status.waitForFinished(5000);
    if (status.readAllStandardOutput().contains("\"count\": 1")) break;
    QThread::msleep(100);
  }
  QProcess downloader;
  downloader.setProgram(node_binary);
  const std::string link = "zx://get|payload.bin|" + std::to_string(size) + "|" + hash + "|";
  downloader.setArguments(QStringList{"--home", QString::fromStdString(b.string()), "--bind",
                                      "127.0.0.3", "--nickname", "downloader", "--share",
                                      QString::fromStdString(share.string()), "--gateway", gateway,
                                      "--get", QString::fromStdString(link)} +
                          downloader_extra);
  downloader.setStandardOutputFile(QProcess::nullDevice());
  downloader.setStandardErrorFile(QProcess::nullDevice());
  downloader.start();
  const fs::path temporary = b / "Downloads" / "payload.binTMP";
  const fs::path finished = b / "Downloads" / "payload.bin";
  // The transfer itself: from the first byte on disk to the finished file.
  Clock::time_point first{};
  Clock::time_point all_bytes{};
  std::error_code ec;
  for (int i = 0; i < 400'000 && downloader.state() != QProcess::NotRunning; ++i) {
    if (first == Clock::time_point{} && fs::exists(temporary, ec) &&
        fs::file_size(temporary, ec) > 0) {
      first = Clock::now();
    }
    if (first != Clock::time_point{} && all_bytes == Clock::time_point{} &&
        static_cast<std::int64_t>(fs::file_size(temporary, ec)) == size) {
      all_bytes = Clock::now();
    }
    if (first != Clock::time_point{} && fs::exists(finished, ec) &&
        static_cast<std::int64_t>(fs::file_size(finished, ec)) == size) {
      if (all_bytes == Clock::time_point{}) all_bytes = Clock::now();
      run.seconds = std::chrono::duration<double>(all_bytes - first).count();
      run.saved_seconds = std::chrono::duration<double>(Clock::now() - first).count();
      break;
    }
    // The peaks are high-water marks: reading them now and then misses nothing but costs the
    // nodes far less processor time than reading them on every pass.
    if (i % 64 == 0) {
      run.downloader_peak_kib = std::max(run.downloader_peak_kib, PeakKiB(downloader.processId()));
      run.uploader_peak_kib = std::max(run.uploader_peak_kib, PeakKiB(uploader.processId()));
    }
    QThread::usleep(500);
  }
  run.downloader_peak_kib = std::max(run.downloader_peak_kib, PeakKiB(downloader.processId()));
  run.uploader_peak_kib = std::max(run.uploader_peak_kib, PeakKiB(uploader.processId()));
  downloader.waitForFinished(30000);
  run.same_bytes = fs::exists(finished, ec) && Md5(finished) == hash;
  uploader.terminate();
  uploader.waitForFinished(10000);
  return run;
}

}  // namespace

// transfer_bench [MiB] [--quick]: --quick measures the large file only.
int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const std::int64_t mib = argc > 1 ? std::atoll(argv[1]) : 1024;
  const bool quick = argc > 2 && std::string(argv[2]) == "--quick";
  const char* node_binary = ZORVEX_NODE_BINARY;
  char folder[] = "/tmp/zorvex-transfer-bench-XXXXXX";
  if (::mkdtemp(folder) == nullptr) return 1;
  const fs::path root = folder;

  // Each measurement starts with no dirty pages left by the one before.
  fs::create_directories(root / "plain");
  WriteFile(root / "plain" / "payload.bin", mib << 20);
  ::sync();
  const double plain =
      PlainCopySeconds(root / "plain" / "payload.bin", root / "plain" / "copy.bin");
  fs::remove_all(root / "plain");
  ::sync();
  const NodeRun big = NodeTransfer(node_binary, root / "big", mib << 20);
  if (quick) {
    fs::remove_all(root);
    std::printf("plain TCP copy: %.2f s; to \"Finished\": %.2f s, %.3fx; downloader peak %ld KiB\n",
                plain, big.saved_seconds, plain / big.saved_seconds, big.downloader_peak_kib);
    return big.same_bytes ? 0 : 1;
  }
  ::sync();
  const NodeRun small = NodeTransfer(node_binary, root / "small", 64 << 20);
  // The limits: 64 MiB at 2,000 KB/s, paced by the uploader, then by the downloader.
  constexpr int kLimit = 2000;
  ::sync();
  const NodeRun up_limited =
      NodeTransfer(node_binary, root / "up", 64 << 20, {"--upload-limit", QString::number(kLimit)});
  ::sync();
  const NodeRun down_limited = NodeTransfer(node_binary, root / "down", 64 << 20, {},
                                            {"--download-limit", QString::number(kLimit)});
  fs::remove_all(root);
  if (big.seconds <= 0 || !big.same_bytes) {
    std::printf("the node transfer did not finish with the right bytes (is port 620 allowed?)\n");
    return 1;
  }
  const double bytes = static_cast<double>(mib << 20);
  std::printf("file: %lld MiB\n", static_cast<long long>(mib));
  std::printf("plain TCP copy:      %.2f s, %.0f MB/s\n", plain, bytes / plain / 1e6);
  std::printf(
      "zorvex-node to node: %.2f s, %.0f MB/s (bytes moved; %.2f s with the final MD5 "
      "check and rename)\n",
      big.seconds, bytes / big.seconds / 1e6, big.saved_seconds);
  std::printf("ratio: %.0f%% of the plain copy's speed (target: at least 50%%) -> %s\n",
              plain / big.seconds * 100, plain / big.seconds >= 0.5 ? "met" : "NOT met");
  std::printf(
      "to \"Finished\" (MD5 checked, file renamed): %.2fx the plain copy's speed (target: at "
      "least 0.9x) -> %s\n",
      plain / big.saved_seconds, plain / big.saved_seconds >= 0.9 ? "met" : "NOT met");
  const auto limited = [&](const char* what, const NodeRun& run) {
    const double rate = run.seconds > 0 ? 64.0 * 1024 / run.seconds : 0;  // KB/s
    std::printf(
        "64 MiB with a %s limit of %d KB/s: %.0f KB/s, %.3fx the limit (target: within "
        "5%%) -> %s%s\n",
        what, kLimit, rate, rate / kLimit, std::abs(rate / kLimit - 1) <= 0.05 ? "met" : "NOT met",
        run.same_bytes ? "" : " (wrong bytes!)");
  };
  limited("upload", up_limited);
  limited("download", down_limited);
  std::printf("64 MiB without a limit: %.0f MB/s, %.2fx the plain copy's speed\n",
              64.0 * 1048576 / small.seconds / 1e6,
              (plain / static_cast<double>(mib)) / (small.seconds / 64.0));
  std::printf("peak memory, 64 MiB file: downloader %ld KiB, uploader %ld KiB\n",
              small.downloader_peak_kib, small.uploader_peak_kib);
  std::printf("peak memory, %lld MiB file: downloader %ld KiB, uploader %ld KiB\n",
              static_cast<long long>(mib), big.downloader_peak_kib, big.uploader_peak_kib);
  return 0;
}
