#include "transfer/context.h"

#include <unistd.h>

#include <cerrno>
#include <string>

namespace zorvex {

TransferRow* TransferContext::FindRow(std::vector<TransferRow>& rows, int id) {
  const std::string tag = std::to_string(id);
  for (auto& row : rows) {
    if (row.tag == tag) return &row;
  }
  return nullptr;
}

void TransferContext::ClearRows(bool uploads, bool errors) {
  auto& rows = uploads ? upload_rows : download_rows;
  const char* tag = errors ? "Error" : "Finished";
  std::erase_if(rows, [tag](const TransferRow& row) { return row.tag == tag; });
  Changed();
}

void TransferContext::Dispose(std::unique_ptr<StreamSocket> stream) {
  if (!stream) return;
  stream->SetHandler(nullptr);
  stream->Close();
  std::shared_ptr<StreamSocket> held(std::move(stream));
  runtime.Post([held] {});
}

std::int64_t RoundHalfEven(std::int64_t num, std::int64_t den) {
  if (num < 0) return -RoundHalfEven(-num, den);
  std::int64_t q = num / den;
  const std::int64_t twice_rest = 2 * (num % den);
  if (twice_rest > den || (twice_rest == den && q % 2 == 1)) ++q;
  return q;
}

void ShowEnding(TransferRow& row, bool failed, bool cancelled, const std::string& size_text) {
  if (failed) {
    row.status = cancelled ? "Cancelled" : "Error!";
    row.tag = "Error";
    return;
  }
  row.percent = "100%";
  row.time_remaining = "00:00:00";
  row.rate = "0 Bytes";
  row.size = size_text + "/" + size_text;
  row.tag = "Finished";
  row.status = "Finished";
}

std::int64_t ReadAt(int fd, char* buffer, std::int64_t want, std::int64_t offset) {
  std::int64_t got = 0;
  while (got < want) {
    const ssize_t n = ::pread(fd, buffer + got, static_cast<std::size_t>(want - got), offset + got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += n;
  }
  return got;
}

}  // namespace zorvex
