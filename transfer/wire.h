#pragma once
// The bytes on a transfer connection, read as a stream. The sender writes each text message with
// one send and the classic reader takes each read as one message; TCP does not keep those
// boundaries, so these readers buffer what is incomplete and separate what arrived together,
// while the bytes on the wire stay exactly the same.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorvex {

// Header: size "|" name "|0". A header this long without its end is refused.
inline constexpr std::size_t kMaxHeaderBytes = 1024;
// A control word still incomplete at this length is given up as unknown.
inline constexpr std::size_t kMaxControlBytes = 1024;

std::string TransferHeader(std::int32_t size, std::string_view name);
std::string StartMessage(std::string_view name, std::int64_t offset);
std::string PacketMessage(std::int32_t size);

// The offset a download asks for, from the length its temporary file had: 0 up to 5120 bytes,
// else the length less 4096; nothing when the file is longer than the announced size.
std::optional<std::int64_t> ResumeOffset(std::int64_t temporary_length, std::int64_t file_size);

// A name from the other side that can be a file in the download folder: not empty, no
// separator, no NUL, and not "." or "..".
bool IsSafeTransferName(std::string_view name);

struct TransferHeaderFields {
  std::int32_t size = 0;
  std::string name;
};

// The downloader's side: the header first, then file bytes.
class HeaderReader {
 public:
  enum class State { kWaiting, kDone, kRefused };

  // Takes bytes until the header is whole; what follows it is left in `rest`.
  State Feed(std::string_view bytes);
  State state() const { return state_; }
  const TransferHeaderFields& header() const { return header_; }
  // Bytes that arrived after the header.
  std::string TakeRest();

 private:
  State state_ = State::kWaiting;
  std::string buffer_;
  TransferHeaderFields header_;
  std::string rest_;
};

// The uploader's side: the control words the downloader sends, case ignored.
struct ControlWord {
  enum class Kind { kStart, kPause, kPacket, kClose, kUnknown };
  Kind kind = Kind::kUnknown;
  std::string name;        // kStart
  std::int64_t value = 0;  // kStart: offset; kPacket: size
};

class ControlReader {
 public:
  // The words completed by these bytes, in order. A word cut at the end of the bytes waits for
  // the rest; text that can begin no word is passed on as kUnknown and dropped.
  std::vector<ControlWord> Feed(std::string_view bytes);
  std::size_t buffered() const { return buffer_.size(); }

 private:
  std::string buffer_;
};

}  // namespace zorvex
