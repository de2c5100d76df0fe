#include "transfer/range_plan.h"

#include <algorithm>

namespace zorvex {

namespace {
bool Full(const RangePlan::Piece& piece) {
  return piece.filled == piece.end;
}
}  // namespace

RangePlan::RangePlan(std::int64_t size, std::int64_t held)
    : size_(std::max<std::int64_t>(size, 0)) {
  held = std::clamp<std::int64_t>(held, 0, size_);
  if (held > 0) pieces_.push_back({0, held, held, std::nullopt});
  if (held < size_) pieces_.push_back({held, size_, held, std::nullopt});
}

std::vector<RangePlan::Piece>::iterator RangePlan::Find(int owner) {
  return std::find_if(pieces_.begin(), pieces_.end(),
                      [owner](const Piece& piece) { return piece.owner == owner; });
}

std::vector<RangePlan::Piece>::const_iterator RangePlan::Find(int owner) const {
  return std::find_if(pieces_.begin(), pieces_.end(),
                      [owner](const Piece& piece) { return piece.owner == owner; });
}

std::size_t RangePlan::Openings() const {
  std::size_t openings = 0;
  for (const Piece& piece : pieces_) {
    const auto halves = static_cast<std::size_t>((piece.end - piece.filled) / (2 * kMinSplitBytes));
    openings += !piece.owner && !Full(piece) ? std::max<std::size_t>(halves, 1) : halves;
  }
  return openings;
}

std::optional<std::int64_t> RangePlan::Assign(int owner) {
  if (Find(owner) != pieces_.end()) return std::nullopt;
  // The first free piece: the gap nearest the start holds back the digest the longest.
  for (Piece& piece : pieces_) {
    if (!piece.owner && !Full(piece)) {
      piece.owner = owner;
      return piece.filled;
    }
  }
  auto largest = pieces_.end();
  for (auto it = pieces_.begin(); it != pieces_.end(); ++it) {
    if (it->owner &&
        (largest == pieces_.end() || it->end - it->filled > largest->end - largest->filled)) {
      largest = it;
    }
  }
  if (largest == pieces_.end() || largest->end - largest->filled < 2 * kMinSplitBytes) {
    return std::nullopt;
  }
  const std::int64_t cut = largest->filled + (largest->end - largest->filled) / 2;
  const Piece back{cut, largest->end, cut, owner};
  largest->end = cut;
  pieces_.insert(largest + 1, back);
  return cut;
}

std::optional<RangePlan::Slot> RangePlan::SlotOf(int owner) const {
  const auto it = Find(owner);
  if (it == pieces_.end()) return std::nullopt;
  return Slot{it->filled, it->end - it->filled};
}

bool RangePlan::Filled(int owner, std::int64_t bytes) {
  auto it = Find(owner);
  if (it == pieces_.end()) return false;
  it->filled = std::min(it->end, it->filled + std::max<std::int64_t>(bytes, 0));
  if (!Full(*it)) return true;
  it->owner.reset();
  const auto next = it + 1;
  const bool goes_on = next != pieces_.end() && !next->owner && !Full(*next);
  if (goes_on) next->owner = owner;
  Merge();
  return goes_on;
}

void RangePlan::Release(int owner) {
  auto it = Find(owner);
  if (it == pieces_.end()) return;
  it->owner.reset();
  if (it->filled > it->begin && !Full(*it)) {
    const Piece rest{it->filled, it->end, it->filled, std::nullopt};
    it->end = it->filled;
    pieces_.insert(it + 1, rest);
  }
  Merge();
}

void RangePlan::Merge() {
  std::vector<Piece> merged;
  merged.reserve(pieces_.size());
  for (const Piece& piece : pieces_) {
    if (!merged.empty() && Full(merged.back()) && !merged.back().owner && Full(piece) &&
        !piece.owner) {
      merged.back().end = merged.back().filled = piece.end;
    } else {
      merged.push_back(piece);
    }
  }
  pieces_ = std::move(merged);
}

std::int64_t RangePlan::Prefix() const {
  for (const Piece& piece : pieces_) {
    if (!Full(piece)) return piece.filled;
  }
  return size_;
}

std::int64_t RangePlan::Held() const {
  std::int64_t held = 0;
  for (const Piece& piece : pieces_)
    held += piece.filled - piece.begin;
  return held;
}

}  // namespace zorvex
