#pragma once
// The simulator's common ground: seeds, addresses and keys, and the event heap every simulated
// clock, datagram and stream event goes through. Private to platform/sim.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zorvex::sim_internal {

inline std::uint64_t Mix(std::uint64_t x) {
  x += 0x9e3779b97f4a7c15ULL;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

inline std::uint64_t Fnv1a(std::string_view text) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (unsigned char c : text)
    hash = (hash ^ c) * 0x100000001b3ULL;
  return hash;
}

// Per-host streams depend only on the world seed and the address, so that adding a host leaves
// every other host's draws unchanged.
inline std::uint64_t DeriveSeed(std::uint64_t world_seed, std::string_view address,
                                std::uint64_t stream) {
  return Mix(world_seed ^ Mix(Fnv1a(address) ^ Mix(stream)));
}

inline constexpr std::uint64_t kHostRandomStream = 1;
inline constexpr std::uint64_t kNetworkStream = 2;
inline constexpr std::uint64_t kStreamSplitStream = 3;

// The most one stream delivery carries, as a socket read would.
inline constexpr std::size_t kMaxStreamChunk = 64 * 1024;

inline std::optional<std::uint32_t> ParseIpv4(std::string_view text) {
  std::uint32_t value = 0;
  std::size_t i = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (i >= text.size() || text[i] != '.') return std::nullopt;
      ++i;
    }
    const std::size_t start = i;
    std::uint32_t number = 0;
    while (i < text.size() && i - start < 3 && text[i] >= '0' && text[i] <= '9') {
      number = number * 10 + static_cast<std::uint32_t>(text[i] - '0');
      ++i;
    }
    if (i == start || number > 255) return std::nullopt;
    value = value << 8 | number;
  }
  if (i != text.size()) return std::nullopt;
  return value;
}

inline std::uint32_t RequireIpv4(std::string_view text) {
  const auto ip = ParseIpv4(text);
  if (!ip) throw std::invalid_argument("not a dotted IPv4 address: " + std::string(text));
  return *ip;
}

inline std::string NormaliseUrl(const std::string& url) {
  if (url.find("://") != std::string::npos) return url;
  return "http://" + url;
}

inline std::uint64_t PairKey(std::uint32_t a, std::uint32_t b) {
  if (a > b) std::swap(a, b);
  return std::uint64_t{a} << 32 | b;
}

inline std::uint64_t BindingKey(std::uint32_t ip, std::uint16_t port) {
  return std::uint64_t{ip} << 16 | port;
}

inline std::uint64_t DirectedKey(std::uint32_t from, std::uint32_t to) {
  return std::uint64_t{from} << 32 | to;
}

// The port asked for when it is free, or for 0 the first free one from 49152 up; 0 when none.
template <typename Taken>
inline std::uint16_t ChoosePort(std::uint16_t wanted, const Taken& taken) {
  if (wanted != 0) return taken(wanted) ? 0 : wanted;
  for (std::uint32_t candidate = 49152; candidate <= 65535; ++candidate) {
    if (!taken(static_cast<std::uint16_t>(candidate))) return static_cast<std::uint16_t>(candidate);
  }
  return 0;
}

enum class EventKind : std::uint8_t { kTimer, kTask, kDatagram };

struct Event {
  std::int64_t time;
  std::uint64_t seq;  // scheduling order; unique, so the order is total
  std::uint32_t slot;
  std::uint32_t gen;  // the slot's generation when scheduled; a mismatch means cancelled
  EventKind kind;
};

inline bool Before(const Event& a, const Event& b) {
  return a.time != b.time ? a.time < b.time : a.seq < b.seq;
}

// A binary min-heap with an in-place replacement of the top, which lets a repeating timer
// reschedule itself with one sift instead of a pop and a push.
class EventHeap {
 public:
  bool Empty() const { return items_.empty(); }
  const Event& Top() const { return items_.front(); }

  void Push(const Event& event) {
    items_.push_back(event);
    std::size_t i = items_.size() - 1;
    while (i > 0) {
      const std::size_t parent = (i - 1) / 2;
      if (!Before(event, items_[parent])) break;
      items_[i] = items_[parent];
      i = parent;
    }
    items_[i] = event;
  }

  void Pop() {
    const Event last = items_.back();
    items_.pop_back();
    if (!items_.empty()) SiftDown(last);
  }

  void ReplaceTop(const Event& event) { SiftDown(event); }

 private:
  void SiftDown(const Event& event) {
    const std::size_t size = items_.size();
    std::size_t i = 0;
    for (;;) {
      std::size_t child = 2 * i + 1;
      if (child >= size) break;
      if (child + 1 < size && Before(items_[child + 1], items_[child])) ++child;
      if (!Before(items_[child], event)) break;
      items_[i] = items_[child];
      i = child;
    }
    items_[i] = event;
  }

  std::vector<Event> items_;
};

}  // namespace zorvex::sim_internal
