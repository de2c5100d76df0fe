#pragma once
// One running copy per user and program folder. The running copy listens on a local socket whose
// name comes from the user id and the canonical program folder; a second copy connects to it to
// forward a link command or to ask for the running copy's state, then ends.
//
// Frames on the socket: one kind byte ('C' command, 'S' status request, 'R' request with an
// answer), a 32-bit big-endian length and that many bytes. The running copy answers a command
// with the byte 'A' once the whole command has arrived, and a status request or a request with a
// length-prefixed text.

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <QString>

class QLocalServer;

namespace zorvex {

// "zorvex-<uid>-<hash of the canonical folder path>".
QString InstanceServerName(const std::filesystem::path& home);

enum class InstanceClaim {
  kClaimed,    // this is the running copy now
  kOtherCopy,  // a live copy holds the folder
  kFailed,     // the local socket could not be set up
};

class SingleInstanceServer {
 public:
  using CommandHandler = std::function<void(std::string command)>;
  using StatusProvider = std::function<std::string()>;
  // Runs a request and returns its answer.
  using RequestHandler = std::function<std::string(std::string request)>;

  SingleInstanceServer(CommandHandler on_command, StatusProvider status,
                       RequestHandler on_request = {});
  ~SingleInstanceServer();
  SingleInstanceServer(const SingleInstanceServer&) = delete;
  SingleInstanceServer& operator=(const SingleInstanceServer&) = delete;

  // Claims the folder for this copy. A name left behind by a copy that crashed is taken over.
  InstanceClaim Listen(const std::filesystem::path& home);
  // Why the last Listen failed.
  std::string ErrorText() const { return error_; }

 private:
  void Accept();

  CommandHandler on_command_;
  StatusProvider status_;
  RequestHandler on_request_;
  std::unique_ptr<QLocalServer> server_;
  std::string error_;
};

inline constexpr std::chrono::milliseconds kInstanceTimeout{3000};

// Client side; they block for at most about the time-out. False or nothing when no copy runs for
// the folder or it does not answer.
bool ForwardCommand(const std::filesystem::path& home, std::string_view command,
                    std::chrono::milliseconds timeout = kInstanceTimeout);
std::optional<std::string> RequestStatus(const std::filesystem::path& home,
                                         std::chrono::milliseconds timeout = kInstanceTimeout);
// Sends a request to the running copy and returns its answer.
std::optional<std::string> SendRequest(const std::filesystem::path& home, std::string_view request,
                                       std::chrono::milliseconds timeout = kInstanceTimeout);

}  // namespace zorvex
