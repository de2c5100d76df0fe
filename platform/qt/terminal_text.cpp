#include "platform/qt/terminal_text.h"

namespace zorvex {
namespace {

void Escape(std::string& out, unsigned char byte) {
  static constexpr char kDigits[] = "0123456789abcdef";
  out += "\\x";
  out += kDigits[byte >> 4];
  out += kDigits[byte & 15];
}

// The length of the valid UTF-8 sequence at the start of `text` that encodes no C1 control;
// 0 when there is none.
std::size_t PrintableSequence(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  char32_t code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i) & 0x3F);
  }
  const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
  const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
  if (overlong || surrogate || code > 0x10FFFF || (code >= 0x80 && code <= 0x9F)) return 0;
  return length;
}

}  // namespace

std::string TerminalText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const auto byte = static_cast<unsigned char>(text.front());
    std::size_t taken = 1;
    if (byte == '\n' || byte == '\r') {
      out += ' ';
    } else if (byte < 0x20 || byte == 0x7F) {
      Escape(out, byte);
    } else if (byte < 0x80) {
      out += static_cast<char>(byte);
    } else if (const std::size_t length = PrintableSequence(text); length > 0) {
      out.append(text.substr(0, length));
      taken = length;
    } else {
      Escape(out, byte);
    }
    text.remove_prefix(taken);
  }
  return out;
}

}  // namespace zorvex
