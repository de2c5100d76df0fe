#include "transfer/context.h"

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

}  // namespace zorvex
