#include "transfer/wire.h"

#include <array>
#include <limits>

#include "core/address.h"
#include "core/fields.h"

namespace zorvex {
namespace {

constexpr std::array<std::string_view, 4> kWords = {"start:", "pause", "packet:", "close"};

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

std::size_t DigitRun(std::string_view text, std::size_t from) {
  std::size_t end = from;
  while (end < text.size() && IsDigit(text[end]))
    ++end;
  return end - from;
}

// Whether `text` is the beginning of a control word that more bytes may complete.
bool BeginsAWord(std::string_view text) {
  for (const auto word : kWords) {
    const std::size_t n = std::min(text.size(), word.size());
    if (SameText(text.substr(0, n), word.substr(0, n))) return true;
  }
  return false;
}

}  // namespace

std::string TransferHeader(std::int32_t size, std::string_view name) {
  return std::to_string(size) + "|" + std::string(name) + "|0";
}

std::string StartMessage(std::string_view name, std::int64_t offset) {
  return "Start:" + std::string(name) + "|" + std::to_string(offset);
}

std::string PacketMessage(std::int32_t size) {
  return "Packet:" + std::to_string(size);
}

std::optional<std::int64_t> ResumeOffset(std::int64_t temporary_length, std::int64_t file_size) {
  if (temporary_length > file_size) return std::nullopt;
  if (temporary_length <= 5120) return 0;
  return temporary_length - 4096;
}

bool IsSafeTransferName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

HeaderReader::State HeaderReader::Feed(std::string_view bytes) {
  if (state_ != State::kWaiting) {
    if (state_ == State::kDone) rest_.append(bytes);
    return state_;
  }
  buffer_.append(bytes);
  const auto first = buffer_.find('|');
  const std::size_t digits = DigitRun(buffer_, 0);
  if (first == std::string::npos) {
    if (digits != buffer_.size() || digits > 10) state_ = State::kRefused;
    return state_;
  }
  const auto size = ParseDecimal<std::int32_t>(std::string_view(buffer_).substr(0, first));
  if (digits != first || !size) {
    state_ = State::kRefused;
    return state_;
  }
  const auto second = buffer_.find('|', first + 1);
  if (second == std::string::npos || second + 1 >= buffer_.size()) {
    if (buffer_.size() > kMaxHeaderBytes) state_ = State::kRefused;
    return state_;
  }
  header_.size = *size;
  header_.name = buffer_.substr(first + 1, second - first - 1);
  // The third field is one character, always "0", and not read.
  rest_ = buffer_.substr(second + 2);
  buffer_.clear();
  state_ = State::kDone;
  return state_;
}

std::string HeaderReader::TakeRest() {
  std::string rest;
  rest.swap(rest_);
  return rest;
}

std::vector<ControlWord> ControlReader::Feed(std::string_view bytes) {
  buffer_.append(bytes);
  std::vector<ControlWord> words;
  std::size_t pos = 0;
  const std::string_view text = buffer_;
  while (pos < text.size()) {
    const std::string_view rest = text.substr(pos);
    ControlWord word;
    if (StartsWithText(rest, "start:")) {
      const auto bar = rest.find('|');
      if (bar == std::string_view::npos) {
        if (rest.size() > kMaxControlBytes) {
          words.push_back({});
          pos = text.size();
        }
        break;
      }
      const std::size_t digits = DigitRun(rest, bar + 1);
      // The offset ends where its digits end; at the end of what arrived it is taken as whole,
      // as one read is one message on the other side.
      if (digits == 0 && bar + 1 == rest.size()) break;
      word.kind = ControlWord::Kind::kStart;
      word.name = std::string(rest.substr(6, bar - 6));
      word.value = ParseDecimal<std::int64_t>(rest.substr(bar + 1, digits)).value_or(-1);
      pos += bar + 1 + digits;
    } else if (StartsWithText(rest, "packet:")) {
      const std::size_t digits = DigitRun(rest, 7);
      if (digits == 0 && rest.size() == 7) break;
      word.kind = ControlWord::Kind::kPacket;
      word.value = ParseDecimal<std::int64_t>(rest.substr(7, digits)).value_or(-1);
      pos += 7 + digits;
    } else if (StartsWithText(rest, "pause")) {
      word.kind = ControlWord::Kind::kPause;
      pos += 5;
    } else if (StartsWithText(rest, "close")) {
      word.kind = ControlWord::Kind::kClose;
      pos += 5;
    } else if (BeginsAWord(rest)) {
      break;  // the rest of a word is still to come
    } else {
      // Text that begins no word: skip to where one might begin.
      std::size_t next = pos + 1;
      while (next < text.size() && !BeginsAWord(text.substr(next)))
        ++next;
      pos = next;
    }
    words.push_back(std::move(word));
  }
  buffer_.erase(0, pos);
  return words;
}

}  // namespace zorvex
