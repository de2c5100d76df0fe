// zorvex-node: one node without a window, on the Qt platform, until SIGINT or SIGTERM.

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include <QByteArray>
#include <QCoreApplication>
#include <QHostAddress>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QStandardPaths>
#include <QTimer>

#include "apps/node_options.h"
#include "apps/node_requests.h"
#include "apps/node_status.h"
#include "im/conversations.h"
#include "network/peer_table.h"
#include "node/node.h"
#include "platform/qt/exit_signals.h"
#include "platform/qt/qt_runtime.h"
#include "platform/qt/single_instance.h"
#include "platform/qt/terminal_text.h"
#include "search/search.h"
#include "transfer/transfers.h"

namespace zorvex {
namespace {

std::filesystem::path DefaultHome() {
  const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  return std::filesystem::path(data.toStdString()) / "zorvex";
}

// Status lines carry strangers' texts: a terminal sees them escaped.
void Say(const std::string& text) {
  std::cerr << TerminalText(text) << std::endl;
}

// --search: waits for a neighbour, searches once, prints every result as it arrives as one
// tab-separated line, and ends the program with the search: status 0 with results, 1 without.
class OneSearch {
 public:
  OneSearch(Node& node, std::string text, int category)
      : node_(node), text_(std::move(text)), category_(category) {
    node_.search().SetChangeListener([this] { Changed(); });
    QObject::connect(&poll_, &QTimer::timeout, [this] { Poll(); });
    poll_.start(200);
  }

 private:
  static constexpr int kNeighbourWaitMs = 60'000;

  void Poll() {
    if (started_) return;
    waited_ms_ += 200;
    if (node_.peers().size() == 0) {
      if (waited_ms_ >= kNeighbourWaitMs) Finish(1, "zorvex-node: no neighbour found to search.");
      return;
    }
    started_ = true;
    poll_.stop();
    node_.search().SetCategory(category_);
    if (!node_.search().StartOrCancel(text_)) Finish(1, {});
  }

  void Changed() {
    const auto& results = node_.search().results();
    for (; printed_ < results.size(); ++printed_) {
      const SearchResult& r = results[printed_];
      std::cout << TerminalText(r.file_name) << '\t' << r.size << '\t' << TerminalText(r.hash)
                << '\t' << TerminalText(r.username) << '\t' << r.speed << '\t' << r.source << '\t'
                << TerminalText(r.media_info) << '\n';
    }
    std::cout << std::flush;
    if (started_ && !node_.search().running()) Finish(results.empty() ? 1 : 0, {});
  }

  void Finish(int code, const std::string& message) {
    if (finished_) return;
    finished_ = true;
    poll_.stop();
    if (!message.empty()) Say(message);
    node_.Exit([code] { QCoreApplication::exit(code); });
  }

  Node& node_;
  std::string text_;
  int category_;
  QTimer poll_;
  int waited_ms_ = 0;
  bool started_ = false;
  bool finished_ = false;
  std::size_t printed_ = 0;
};

// --get: waits for a neighbour, starts the download, prints its row once a second, and ends
// the program with it: status 0 when finished, 1 when it failed.
class OneGet {
 public:
  OneGet(Node& node, std::string link) : node_(node), link_(std::move(link)) {
    QObject::connect(&tick_, &QTimer::timeout, [this] { Tick(); });
    tick_.start(1000);
  }

 private:
  static constexpr int kNeighbourWaitSeconds = 60;

  void Tick() {
    if (!started_) {
      if (node_.peers().size() == 0) {
        if (++waited_ >= kNeighbourWaitSeconds) Finish(1, "zorvex-node: no neighbour found.");
        return;
      }
      started_ = true;
      node_.RunCommand(link_);
      if (node_.transfers().download_rows().empty()) Finish(1, {});
      return;
    }
    const auto& rows = node_.transfers().download_rows();
    if (rows.empty()) return;
    const TransferRow& row = rows.back();
    std::cout << TerminalText(row.file_name) << '\t' << row.percent << '\t' << row.rate << '\t'
              << row.time_remaining << '\t' << row.size << '\t' << row.sources << '\t' << row.status
              << std::endl;
    if (row.tag == "Finished") Finish(0, {});
    if (row.tag == "Error") Finish(1, {});
  }

  void Finish(int code, const std::string& message) {
    if (finished_) return;
    finished_ = true;
    tick_.stop();
    if (!message.empty()) Say(message);
    node_.Exit([code] { QCoreApplication::exit(code); });
  }

  Node& node_;
  std::string link_;
  QTimer tick_;
  int waited_ = 0;
  bool started_ = false;
  bool finished_ = false;
};

int Main(int argc, char** argv) {
  ExitSignalWatch exit_signals;
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("zorvex"));

  std::string error;
  const auto line = ParseNodeCommandLine(args, error);
  if (!line) {
    Say("zorvex-node: " + error + " (see zorvex-node --help)");
    return 2;
  }
  if (line->help) {
    std::cout << NodeUsage();
    return 0;
  }
  const std::filesystem::path home = line->home ? *line->home : DefaultHome();
  std::error_code io_error;
  std::filesystem::create_directories(home, io_error);
  if (!std::filesystem::is_directory(home, io_error)) {
    Say("zorvex-node: cannot create the program folder " + home.string());
    return 1;
  }

  // A status request or a link command is only ever for a running copy: ask it directly, so
  // that asking never claims the folder while that copy is starting.
  if (line->status) {
    if (const auto status = RequestStatus(home)) {
      std::cout << *status;
      return 0;
    }
    Say("zorvex-node: Zorvex is not running for " + home.string() + ".");
    return 1;
  }
  if (line->request) {
    const auto answer = SendRequest(home, EncodeNodeRequest(*line->request));
    const auto reply = answer ? DecodeNodeReply(*answer) : std::nullopt;
    if (!reply) {
      Say("You Must Have the Client Open!");
      return 1;
    }
    if (reply->ok) {
      std::cout << TerminalText(reply->text) << std::endl;
      return 0;
    }
    Say(reply->text);
    return 1;
  }
  if (!line->command.empty()) {
    if (ForwardCommand(home, line->command)) return 0;
    Say("You Must Have the Client Open!");
    return 1;
  }

  // Forwarded commands and status requests reach the node once it runs.
  Node* running = nullptr;
  SingleInstanceServer instance(
      [&running](std::string command) {
        if (running) running->RunCommand(command);
      },
      [&running] { return running ? StatusJson(running->Snapshot()) : std::string("{}\n"); },
      [&running](std::string bytes) {
        const auto request = DecodeNodeRequest(bytes);
        if (!running || !request) return EncodeNodeReply({false, "zorvex-node: not understood"});
        return EncodeNodeReply(RunNodeRequest(*running, *request));
      });
  switch (instance.Listen(home)) {
    case InstanceClaim::kOtherCopy:
      Say("You already have Zorvex running!");
      return 1;
    case InstanceClaim::kFailed:
      Say("zorvex-node: cannot watch for other copies: " + instance.ErrorText());
      return 1;
    case InstanceClaim::kClaimed:
      break;
  }
  if (auto message = ApplyPreferenceOptions(home, line->preferences)) {
    Say(*message);
    return 2;
  }

  QtRuntime runtime(line->bind);
  Node node(runtime, NodeOptions{.home = home});
  node.SetStatusListener([](const std::string& text) { Say("status: " + text); });
  node.conversations().SetListener([&node](const ConversationEvent& event) {
    if (event.kind != ConversationEvent::Kind::kLine || !event.incoming) return;
    const Conversation* conversation = node.conversations().Find(event.id);
    if (!conversation) return;
    Say("im: " + event.nickname + " (" + conversation->peer_address + "): " + event.message);
  });

  std::unique_ptr<QHttpServer> gateway;
  if (line->gateway_host) {
    gateway = std::make_unique<QHttpServer>();
    gateway->route(QStringLiteral("/gateway.php"), QHttpServerRequest::Method::Get, [&node] {
      return QHttpServerResponse(QByteArrayLiteral("text/html"),
                                 QByteArray::fromStdString(node.GatewayPage()));
    });
    const QHostAddress address(QString::fromStdString(*line->gateway_host));
    if (gateway->listen(address, line->gateway_port) == 0) {
      Say("zorvex-node: cannot serve the gateway page on " + *line->gateway_host + ":" +
          std::to_string(line->gateway_port) + ".");
      return 1;
    }
  }

  if (!node.BindMessageSocket()) {
    Say("Could not bind the program to port 620.");
    Say("hint: port 620 is privileged; run as root or give the binary the capability once: "
        "sudo setcap cap_net_bind_service=+ep $(command -v zorvex-node)");
    return 1;
  }
  node.LoadPreferences();
  if (const auto missing = node.MissingEssentials(); !missing.empty()) {
    std::cerr << MissingEssentialsMessage(missing) << std::flush;
    return 2;
  }

  // The first signal runs the exit sequence; a second one ends at once.
  bool exiting = false;
  if (!exit_signals.Watch([&] {
        if (exiting) {
          QCoreApplication::exit(1);
          return;
        }
        if (!node.ConfirmExit()) return;
        exiting = true;
        node.Exit([] { QCoreApplication::quit(); });
      })) {
    Say("zorvex-node: cannot watch for signals.");
    return 1;
  }
  running = &node;
  if (line->start_away) node.SetAway(true);
  node.Run();
  std::unique_ptr<OneGet> one_get;
  if (line->get) one_get = std::make_unique<OneGet>(node, *line->get);
  std::unique_ptr<OneSearch> one_search;
  if (line->search) {
    one_search = std::make_unique<OneSearch>(node, *line->search, line->category);
  }
  const int status = app.exec();
  running = nullptr;
  return status;
}

}  // namespace
}  // namespace zorvex

int main(int argc, char** argv) {
  return zorvex::Main(argc, argv);
}
