#pragma once
// How one download's file is shared out among the connections that fetch it at once.
//
// The file is a row of pieces that cover it end to end. A piece is filled from its start, by at
// most one owner (a connection). A connection that joins takes the first free piece; when none is
// free it takes the back half of the largest unfilled rest of an owned piece, whose owner then
// stops at the cut. An owner that fills its piece goes straight on into the next one if that is
// free, since its source sends on from there anyway; otherwise it is done. A connection that
// stalls or breaks releases its piece: what it filled stays, the rest becomes a free piece.
// Free pieces are always untouched: filled == begin.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace zorvex {

class RangePlan {
 public:
  // Rests shorter than twice this are not split: the new source's set-up would cost more.
  static constexpr std::int64_t kMinSplitBytes = 64 * 1024;

  struct Piece {
    std::int64_t begin = 0;
    std::int64_t end = 0;
    std::int64_t filled = 0;  // bytes [begin, filled) are written
    std::optional<int> owner;
    bool operator==(const Piece&) const = default;
  };
  // Where an owner's next bytes go and how many its piece still takes.
  struct Slot {
    std::int64_t at = 0;
    std::int64_t room = 0;
  };

  // A file of `size` bytes whose first `held` are there already; both are clamped to be sane.
  RangePlan(std::int64_t size, std::int64_t held);

  // Hands `owner` (one that holds nothing) a piece: the offset its source must send from, or
  // nothing when no piece is free and no rest is worth splitting.
  std::optional<std::int64_t> Assign(int owner);
  // About how many owners could join now and be handed something: one per free piece, and one
  // per twice kMinSplitBytes of every rest (a joiner halves a rest, the next halves a half).
  std::size_t Openings() const;
  std::optional<Slot> SlotOf(int owner) const;
  // Counts `bytes` (at most the slot's room) written at the owner's slot. False when the owner
  // is done: its piece is full and the next is not free.
  bool Filled(int owner, std::int64_t bytes);
  void Release(int owner);

  // Bytes from offset 0 without a gap: what can be digested.
  std::int64_t Prefix() const;
  std::int64_t Held() const;
  bool Complete() const { return Prefix() == size_; }
  std::int64_t size() const { return size_; }
  const std::vector<Piece>& pieces() const { return pieces_; }

 private:
  std::vector<Piece>::iterator Find(int owner);
  std::vector<Piece>::const_iterator Find(int owner) const;
  // Joins neighbouring full pieces, so the list stays as short as the number of owners.
  void Merge();

  std::int64_t size_ = 0;
  std::vector<Piece> pieces_;
};

}  // namespace zorvex
