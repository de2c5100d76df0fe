#include "platform/sim/sim_world.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <map>
#include <optional>
#include <stdexcept>
#include <unordered_map>
#include <utility>

namespace zorvex {
namespace {

std::uint64_t Mix(std::uint64_t x) {
  x += 0x9e3779b97f4a7c15ULL;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

std::uint64_t Fnv1a(std::string_view text) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (unsigned char c : text)
    hash = (hash ^ c) * 0x100000001b3ULL;
  return hash;
}

// Per-host streams depend only on the world seed and the address, so that adding a host leaves
// every other host's draws unchanged.
std::uint64_t DeriveSeed(std::uint64_t world_seed, std::string_view address, std::uint64_t stream) {
  return Mix(world_seed ^ Mix(Fnv1a(address) ^ Mix(stream)));
}

constexpr std::uint64_t kHostRandomStream = 1;
constexpr std::uint64_t kNetworkStream = 2;
constexpr std::uint64_t kStreamSplitStream = 3;

// The most one stream delivery carries, as a socket read would.
constexpr std::size_t kMaxStreamChunk = 64 * 1024;

std::optional<std::uint32_t> ParseIpv4(std::string_view text) {
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

std::uint32_t RequireIpv4(std::string_view text) {
  const auto ip = ParseIpv4(text);
  if (!ip) throw std::invalid_argument("not a dotted IPv4 address: " + std::string(text));
  return *ip;
}

std::string NormaliseUrl(const std::string& url) {
  if (url.find("://") != std::string::npos) return url;
  return "http://" + url;
}

std::uint64_t PairKey(std::uint32_t a, std::uint32_t b) {
  if (a > b) std::swap(a, b);
  return std::uint64_t{a} << 32 | b;
}

std::uint64_t BindingKey(std::uint32_t ip, std::uint16_t port) {
  return std::uint64_t{ip} << 16 | port;
}

std::uint64_t DirectedKey(std::uint32_t from, std::uint32_t to) {
  return std::uint64_t{from} << 32 | to;
}

enum class EventKind : std::uint8_t { kTimer, kTask, kDatagram };

struct Event {
  std::int64_t time;
  std::uint64_t seq;  // scheduling order; unique, so the order is total
  std::uint32_t slot;
  std::uint32_t gen;  // the slot's generation when scheduled; a mismatch means cancelled
  EventKind kind;
};

bool Before(const Event& a, const Event& b) {
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

}  // namespace

// ---------------------------------------------------------------------------------------------

SimPrompts::SimPrompts(std::function<std::int64_t()> clock) : clock_(std::move(clock)) {}

void SimPrompts::MessageBox(std::string_view text, std::string_view title, PromptIcon icon) {
  messages_.push_back({Now(), std::string(text), std::string(title), icon});
}

bool SimPrompts::AskYesNo(std::string_view text, std::string_view title) {
  const bool answer = script_next_ < script_.size() ? script_[script_next_++] : true;
  questions_.push_back({Now(), std::string(text), std::string(title), answer});
  return answer;
}

void SimPrompts::Beep() {
  beeps_.push_back(Now());
}

void SimPrompts::ScriptAnswer(bool yes) {
  script_.push_back(yes);
}

void SimPrompts::Clear() {
  script_.clear();
  script_next_ = 0;
  messages_.clear();
  questions_.clear();
  beeps_.clear();
}

// ---------------------------------------------------------------------------------------------

class SimWorld::Engine {
 public:
  explicit Engine(std::uint64_t seed) : seed_(seed) {}

  class TimerImpl;
  class SocketImpl;
  class RequestImpl;
  class StreamImpl;
  class ListenerImpl;

  std::uint64_t Seed() const { return seed_; }
  std::int64_t Now() const { return now_; }
  const SimStats& Stats() const { return stats_; }

  // --- running ---

  void RunFor(std::int64_t ms) {
    RunGuard guard(*this);
    const std::int64_t end = now_ + std::max<std::int64_t>(ms, 0);
    while (!heap_.Empty() && heap_.Top().time <= end)
      RunTop();
    now_ = end;
  }

  bool RunUntil(const std::function<bool()>& done, std::int64_t max_ms) {
    RunGuard guard(*this);
    if (done()) return true;
    const std::int64_t end = now_ + std::max<std::int64_t>(max_ms, 0);
    while (!heap_.Empty() && heap_.Top().time <= end) {
      if (RunTop() && done()) return true;
    }
    now_ = end;
    return done();
  }

  std::size_t RunPending() {
    RunGuard guard(*this);
    std::size_t ran = 0;
    while (!heap_.Empty() && heap_.Top().time <= now_)
      ran += RunTop() ? 1 : 0;
    return ran;
  }

  // --- hosts ---

  std::uint32_t AddHost(const std::string& address) {
    const std::uint32_t ip = RequireIpv4(address);
    if (host_by_ip_.count(ip) != 0) throw std::invalid_argument("address in use: " + address);
    const auto id = static_cast<std::uint32_t>(hosts_.size());
    hosts_.push_back({address, ip, true, true, DeriveSeed(seed_, address, kNetworkStream)});
    host_by_ip_[ip] = id;
    return id;
  }

  void RemoveHost(std::uint32_t id) {
    // Host slots are never reused, so a dead host's objects can always ask whether it lives.
    hosts_[id].alive = false;
    host_by_ip_.erase(hosts_[id].ip);
    AbortHostStreams(id);
  }

  bool HostAlive(std::uint32_t id) const { return hosts_[id].alive; }

  std::uint32_t LiveHost(const std::string& address) const {
    const auto it = host_by_ip_.find(RequireIpv4(address));
    if (it == host_by_ip_.end()) throw std::invalid_argument("no such host: " + address);
    return it->second;
  }

  void SetHostOnline(const std::string& address, bool online) {
    hosts_[LiveHost(address)].online = online;
  }
  bool IsHostOnline(const std::string& address) const { return hosts_[LiveHost(address)].online; }

  // --- timers ---

  std::uint32_t AddTimer(std::uint32_t host, bool repeating, std::function<void()> on_fire) {
    std::uint32_t slot;
    if (!free_timers_.empty()) {
      slot = free_timers_.back();
      free_timers_.pop_back();
    } else {
      slot = static_cast<std::uint32_t>(timers_.size());
      timers_.emplace_back();
    }
    TimerSlot& timer = timers_[slot];
    timer.fn = std::move(on_fire);
    timer.host = host;
    timer.repeating = repeating;
    timer.active = false;
    return slot;
  }

  void StartTimer(std::uint32_t slot, std::int64_t interval_ms) {
    TimerSlot& timer = timers_[slot];
    ++timer.gen;
    timer.active = false;
    if (!HostAlive(timer.host)) return;
    // A repeating zero interval would stop the clock; Qt's zero timer means "each loop pass".
    timer.interval = std::max<std::int64_t>(interval_ms, timer.repeating ? 1 : 0);
    timer.active = true;
    heap_.Push({now_ + timer.interval, next_seq_++, slot, timer.gen, EventKind::kTimer});
  }

  void StopTimer(std::uint32_t slot) {
    ++timers_[slot].gen;
    timers_[slot].active = false;
  }

  bool TimerActive(std::uint32_t slot) const { return timers_[slot].active; }

  void ReleaseTimer(std::uint32_t slot) {
    TimerSlot& timer = timers_[slot];
    StopTimer(slot);
    // A timer destroyed by its own callback keeps its function until the callback returns.
    if (timer.firing) {
      timer.released = true;
    } else {
      timer.fn = nullptr;
      free_timers_.push_back(slot);
    }
  }

  // --- tasks (posted work and HTTP answers) ---

  struct TaskHandle {
    std::uint32_t slot;
    std::uint32_t gen;
  };

  TaskHandle AddTask(std::uint32_t host, std::int64_t delay_ms, std::function<void()> fn) {
    std::uint32_t slot;
    if (!free_tasks_.empty()) {
      slot = free_tasks_.back();
      free_tasks_.pop_back();
    } else {
      slot = static_cast<std::uint32_t>(tasks_.size());
      tasks_.emplace_back();
    }
    TaskSlot& task = tasks_[slot];
    task.fn = std::move(fn);
    task.host = host;
    heap_.Push({now_ + std::max<std::int64_t>(delay_ms, 0), next_seq_++, slot, task.gen,
                EventKind::kTask});
    return {slot, task.gen};
  }

  void CancelTask(TaskHandle handle) {
    TaskSlot& task = tasks_[handle.slot];
    if (task.gen != handle.gen) return;  // already ran or cancelled
    FreeTask(handle.slot);
  }

  void Post(std::uint32_t host, std::function<void()> fn) {
    if (HostAlive(host)) AddTask(host, 0, std::move(fn));
  }

  // --- datagrams ---

  bool Bind(SocketImpl& socket, std::uint16_t port);
  void Unbind(SocketImpl& socket);
  void Send(std::uint32_t host, std::string_view payload, const std::string& address,
            std::uint32_t ip, std::uint16_t port);

  // --- streams ---

  struct Connection;
  using ConnectionPtr = std::shared_ptr<Connection>;

  bool Listen(ListenerImpl& listener, std::uint16_t port);
  void Unlisten(ListenerImpl& listener);
  void Connect(StreamImpl& stream, const std::string& address, std::uint16_t port);
  void Detach(StreamImpl& stream);
  void HandlerSet(StreamImpl& stream);
  bool StreamSend(const ConnectionPtr& c, int side, std::string_view bytes);
  void StreamClose(const ConnectionPtr& c, int side);
  std::size_t CutStreams(std::uint32_t a, std::uint32_t b);

  // --- links ---

  void SetDefaultLink(const LinkProfile& profile) { default_link_ = Sane(profile); }
  const LinkProfile& DefaultLink() const { return default_link_; }

  void SetLink(const std::string& a, const std::string& b, const LinkProfile& profile) {
    links_[PairKey(RequireIpv4(a), RequireIpv4(b))] = Sane(profile);
  }

  const LinkProfile& LinkBetween(std::uint32_t a, std::uint32_t b) const {
    if (links_.empty()) return default_link_;
    const auto it = links_.find(PairKey(a, b));
    return it == links_.end() ? default_link_ : it->second;
  }

  // --- HTTP ---

  void ServeHttp(const std::string& url, std::function<std::string()> body, std::int64_t delay) {
    served_[NormaliseUrl(url)] = {std::move(body), std::max<std::int64_t>(delay, 0)};
  }
  void RemoveHttp(const std::string& url) { served_.erase(NormaliseUrl(url)); }

  TaskHandle HttpGet(std::uint32_t host, const std::string& url,
                     std::function<void(std::string)> done) {
    ++stats_.http_requests;
    std::string key = NormaliseUrl(url);
    std::int64_t delay = default_link_.latency_ms;
    if (const auto it = served_.find(key); it != served_.end()) delay += it->second.delay_ms;
    return AddTask(host, delay, [this, host, key = std::move(key), done = std::move(done)] {
      std::string body;
      const auto it = served_.find(key);
      if (it != served_.end() && hosts_[host].online) {
        // A copy, so that a body function may replace or remove its own URL.
        const std::function<std::string()> make = it->second.body;
        if (make) body = make();
      }
      done(std::move(body));
    });
  }

  void SetTrace(std::function<void(const DatagramTrace&)> trace) { trace_ = std::move(trace); }

 private:
  struct HostSlot {
    std::string address;
    std::uint32_t ip;
    bool alive;
    bool online;
    std::uint64_t net_state;  // the host's loss and jitter draws
  };

  struct TimerSlot {
    std::function<void()> fn;
    std::int64_t interval = 0;
    std::uint32_t host = 0;
    std::uint32_t gen = 0;
    bool repeating = false;
    bool active = false;
    bool firing = false;
    bool released = false;
  };

  struct TaskSlot {
    std::function<void()> fn;
    std::uint32_t host = 0;
    std::uint32_t gen = 0;
  };

  struct DatagramRecord {
    std::string payload;
    std::string from;
    std::string to;
    std::uint32_t to_ip = 0;
    std::uint16_t port = 0;
  };

  struct Served {
    std::function<std::string()> body;
    std::int64_t delay_ms = 0;
  };

  class RunGuard {
   public:
    explicit RunGuard(Engine& engine) : engine_(engine) {
      if (engine_.running_) throw std::logic_error("the simulated world is already running");
      engine_.running_ = true;
    }
    ~RunGuard() { engine_.running_ = false; }
    RunGuard(const RunGuard&) = delete;
    RunGuard& operator=(const RunGuard&) = delete;

   private:
    Engine& engine_;
  };

  static LinkProfile Sane(LinkProfile profile) {
    profile.latency_ms = std::max<std::int64_t>(profile.latency_ms, 0);
    profile.jitter_ms = std::max<std::int64_t>(profile.jitter_ms, 0);
    return profile;
  }

  double NetUniform(HostSlot& host) {
    host.net_state += 0x9e3779b97f4a7c15ULL;
    return static_cast<double>(Mix(host.net_state) >> 11) * 0x1.0p-53;
  }

  void FreeTask(std::uint32_t slot) {
    TaskSlot& task = tasks_[slot];
    ++task.gen;
    task.fn = nullptr;
    free_tasks_.push_back(slot);
  }

  void Trace(std::string_view from, std::string_view to, std::uint16_t port, std::size_t bytes,
             DatagramFate fate) {
    if (trace_) trace_({now_, from, to, port, bytes, fate});
  }

  // Runs the earliest event; false when it had been cancelled.
  bool RunTop() {
    const Event event = heap_.Top();
    now_ = event.time;
    switch (event.kind) {
      case EventKind::kTimer:
        return FireTimer(event);
      case EventKind::kTask:
        heap_.Pop();
        return RunTask(event);
      case EventKind::kDatagram:
        heap_.Pop();
        Deliver(event.slot);
        ++stats_.events_run;
        return true;
    }
    return false;
  }

  bool FireTimer(const Event& event) {
    TimerSlot& timer = timers_[event.slot];  // a deque: stays put while callbacks add timers
    if (timer.gen != event.gen) {            // stopped or restarted since
      heap_.Pop();
      return false;
    }
    if (!HostAlive(timer.host)) {
      timer.active = false;
      heap_.Pop();
      return false;
    }
    if (timer.repeating) {
      heap_.ReplaceTop(
          {event.time + timer.interval, next_seq_++, event.slot, event.gen, EventKind::kTimer});
    } else {
      timer.active = false;
      heap_.Pop();
    }
    ++stats_.events_run;
    timer.firing = true;
    timer.fn();
    timer.firing = false;
    if (timer.released) {
      timer.released = false;
      timer.fn = nullptr;
      free_timers_.push_back(event.slot);
    }
    return true;
  }

  bool RunTask(const Event& event) {
    TaskSlot& task = tasks_[event.slot];
    if (task.gen != event.gen) return false;
    std::function<void()> fn = std::move(task.fn);
    const std::uint32_t host = task.host;
    FreeTask(event.slot);
    if (!HostAlive(host)) return false;
    ++stats_.events_run;
    fn();
    return true;
  }

  void Deliver(std::uint32_t slot);

  enum class EndState : std::uint8_t { kConnecting, kOpen, kClosing, kClosed };

  struct StreamEnd {
    std::uint32_t host = 0;
    std::uint32_t ip = 0;
    StreamImpl* stream = nullptr;  // null once the object is gone or connects elsewhere
    EndState state = EndState::kClosed;
    std::string pending;  // handed to Send and not yet left; starts at pending_offset
    std::size_t pending_offset = 0;
    std::size_t leaving = 0;           // the front bytes of `pending` now going onto the wire
    std::string unread;                // arrived before the stream had a handler
    std::int64_t last_arrival = 0;     // keeps deliveries in order should the link change
    std::int64_t leave_us = -1000000;  // when the last paced chunk finished leaving
  };

 public:
  struct Connection {
    std::uint64_t id = 0;
    std::uint64_t split_state = 0;
    bool accepted = false;
    StreamEnd ends[2];  // [0] connected out, [1] accepted by a listener
  };

 private:
  StreamHandler* HandlerOf(const StreamEnd& end) const;
  std::size_t Waiting(const StreamEnd& end) const {
    return end.pending.size() - end.pending_offset;
  }
  void Accept(const ConnectionPtr& c, std::uint32_t ip, std::uint16_t port, std::int64_t latency);
  void Refuse(const ConnectionPtr& c);
  void Established(const ConnectionPtr& c);
  void Pump(const ConnectionPtr& c, int side);
  void Leave(const ConnectionPtr& c, int side);
  void Arrive(const ConnectionPtr& c, int side, std::string chunk);
  void Abort(const ConnectionPtr& c, int side);
  void PeerGone(const ConnectionPtr& c, int side);
  // Tells the other side, after the bytes already on their way, that this side is gone.
  void SignalClose(const ConnectionPtr& c, int side);
  void NotifyClosedLater(const ConnectionPtr& c, int side);
  void Retire(const ConnectionPtr& c);
  void AbortHostStreams(std::uint32_t host);

  std::uint64_t seed_;
  std::int64_t now_ = 0;
  std::uint64_t next_seq_ = 0;
  bool running_ = false;
  EventHeap heap_;
  SimStats stats_;

  std::vector<HostSlot> hosts_;
  std::unordered_map<std::uint32_t, std::uint32_t> host_by_ip_;  // lookups only, never walked

  std::deque<TimerSlot> timers_;
  std::vector<std::uint32_t> free_timers_;
  std::vector<TaskSlot> tasks_;
  std::vector<std::uint32_t> free_tasks_;
  std::vector<DatagramRecord> datagrams_;
  std::vector<std::uint32_t> free_datagrams_;
  std::unordered_map<std::uint64_t, SocketImpl*> bindings_;     // lookups only, never walked
  std::unordered_map<std::uint64_t, ListenerImpl*> listeners_;  // lookups only, never walked
  std::map<std::uint64_t, ConnectionPtr> connections_;  // live ones, walked in creation order
  std::unordered_map<std::uint64_t, std::int64_t> link_free_us_;  // per direction; lookups only
  std::uint64_t next_connection_ = 0;

  LinkProfile default_link_;
  std::unordered_map<std::uint64_t, LinkProfile> links_;  // lookups only, never walked
  std::map<std::string, Served> served_;
  std::function<void(const DatagramTrace&)> trace_;
};

// ---------------------------------------------------------------------------------------------

class SimWorld::Engine::TimerImpl final : public Timer {
 public:
  TimerImpl(Engine& engine, std::uint32_t slot) : engine_(engine), slot_(slot) {}
  ~TimerImpl() override { engine_.ReleaseTimer(slot_); }
  TimerImpl(const TimerImpl&) = delete;
  TimerImpl& operator=(const TimerImpl&) = delete;

  void Start(std::int64_t interval_ms) override { engine_.StartTimer(slot_, interval_ms); }
  void Stop() override { engine_.StopTimer(slot_); }
  bool IsActive() const override { return engine_.TimerActive(slot_); }

 private:
  Engine& engine_;
  std::uint32_t slot_;
};

class SimWorld::Engine::SocketImpl final : public DatagramSocket {
 public:
  SocketImpl(Engine& engine, std::uint32_t host, DatagramHandler& handler)
      : engine_(engine), host_(host), handler_(handler) {}
  ~SocketImpl() override { Close(); }
  SocketImpl(const SocketImpl&) = delete;
  SocketImpl& operator=(const SocketImpl&) = delete;

  bool Bind(std::uint16_t port) override { return engine_.Bind(*this, port); }
  void Close() override { engine_.Unbind(*this); }

  bool SendTo(std::string_view payload, const std::string& address, std::uint16_t port) override {
    if (!bound_ || !engine_.HostAlive(host_) || port == 0) return false;
    const auto ip = ParseIpv4(address);
    if (!ip) return false;
    engine_.Send(host_, payload, address, *ip, port);
    return true;
  }

  std::string LocalAddress() const override { return engine_.hosts_[host_].address; }

 private:
  friend class Engine;
  Engine& engine_;
  std::uint32_t host_;
  DatagramHandler& handler_;
  std::uint16_t port_ = 0;
  bool bound_ = false;
};

class SimWorld::Engine::RequestImpl final : public PendingRequest {
 public:
  RequestImpl(Engine& engine, TaskHandle handle) : engine_(engine), handle_(handle) {}
  ~RequestImpl() override { engine_.CancelTask(handle_); }
  RequestImpl(const RequestImpl&) = delete;
  RequestImpl& operator=(const RequestImpl&) = delete;

 private:
  Engine& engine_;
  TaskHandle handle_;
};

namespace {

// The port asked for when it is free, or for 0 the first free one from 49152 up; 0 when none.
template <typename Taken>
std::uint16_t ChoosePort(std::uint16_t wanted, const Taken& taken) {
  if (wanted != 0) return taken(wanted) ? 0 : wanted;
  for (std::uint32_t candidate = 49152; candidate <= 65535; ++candidate) {
    if (!taken(static_cast<std::uint16_t>(candidate))) return static_cast<std::uint16_t>(candidate);
  }
  return 0;
}

}  // namespace

bool SimWorld::Engine::Bind(SocketImpl& socket, std::uint16_t port) {
  if (socket.bound_ || !HostAlive(socket.host_)) return false;
  const std::uint32_t ip = hosts_[socket.host_].ip;
  // A binding left by a destroyed host's socket gives way to the address's new owner.
  const auto taken = [&](std::uint16_t candidate) {
    const auto it = bindings_.find(BindingKey(ip, candidate));
    return it != bindings_.end() && HostAlive(it->second->host_);
  };
  port = ChoosePort(port, taken);
  if (port == 0) return false;
  bindings_[BindingKey(ip, port)] = &socket;
  socket.port_ = port;
  socket.bound_ = true;
  return true;
}

void SimWorld::Engine::Unbind(SocketImpl& socket) {
  if (!socket.bound_) return;
  const auto it = bindings_.find(BindingKey(hosts_[socket.host_].ip, socket.port_));
  if (it != bindings_.end() && it->second == &socket) bindings_.erase(it);
  socket.bound_ = false;
  socket.port_ = 0;
}

void SimWorld::Engine::Send(std::uint32_t host, std::string_view payload,
                            const std::string& address, std::uint32_t ip, std::uint16_t port) {
  ++stats_.datagrams_sent;
  HostSlot& from = hosts_[host];
  const LinkProfile& link = LinkBetween(from.ip, ip);
  // Draws happen only for links that use them, so a plain link consumes no randomness.
  if (!from.online || (link.loss > 0 && (link.loss >= 1 || NetUniform(from) < link.loss))) {
    ++stats_.datagrams_lost;
    Trace(from.address, address, port, payload.size(), DatagramFate::kLost);
    return;
  }
  std::int64_t delay = link.latency_ms;
  if (link.jitter_ms > 0) {
    delay += static_cast<std::int64_t>(
        std::floor(NetUniform(from) * static_cast<double>(link.jitter_ms + 1)));
  }
  std::uint32_t slot;
  if (!free_datagrams_.empty()) {
    slot = free_datagrams_.back();
    free_datagrams_.pop_back();
  } else {
    slot = static_cast<std::uint32_t>(datagrams_.size());
    datagrams_.emplace_back();
  }
  DatagramRecord& record = datagrams_[slot];
  record.payload.assign(payload);
  record.from = from.address;
  record.to = address;
  record.to_ip = ip;
  record.port = port;
  heap_.Push({now_ + delay, next_seq_++, slot, 0, EventKind::kDatagram});
}

void SimWorld::Engine::Deliver(std::uint32_t slot) {
  DatagramRecord record = std::move(datagrams_[slot]);
  free_datagrams_.push_back(slot);
  const std::size_t bytes = record.payload.size();
  if (const auto host = host_by_ip_.find(record.to_ip);
      host != host_by_ip_.end() && !hosts_[host->second].online) {
    ++stats_.datagrams_lost;
    Trace(record.from, record.to, record.port, bytes, DatagramFate::kLost);
    return;
  }
  const auto it = bindings_.find(BindingKey(record.to_ip, record.port));
  if (it == bindings_.end() || !HostAlive(it->second->host_)) {
    ++stats_.datagrams_undeliverable;
    Trace(record.from, record.to, record.port, bytes, DatagramFate::kUndeliverable);
    return;
  }
  ++stats_.datagrams_delivered;
  Trace(record.from, record.to, record.port, bytes, DatagramFate::kDelivered);
  it->second->handler_.OnDatagram(std::move(record.payload), std::move(record.from));
}

// --- streams ---------------------------------------------------------------------------------

class SimWorld::Engine::StreamImpl final : public StreamSocket {
 public:
  StreamImpl(Engine& engine, std::uint32_t host) : engine_(engine), host_(host) {}
  ~StreamImpl() override { engine_.Detach(*this); }
  StreamImpl(const StreamImpl&) = delete;
  StreamImpl& operator=(const StreamImpl&) = delete;

  void SetHandler(StreamHandler* handler) override {
    handler_ = handler;
    engine_.HandlerSet(*this);
  }
  void Connect(const std::string& address, std::uint16_t port) override {
    engine_.Connect(*this, address, port);
  }
  bool Send(std::string_view bytes) override {
    return conn_ && engine_.StreamSend(conn_, side_, bytes);
  }
  std::size_t PendingBytes() const override {
    return conn_ ? engine_.Waiting(conn_->ends[side_]) : 0;
  }
  void Close() override {
    if (conn_) engine_.StreamClose(conn_, side_);
  }
  std::string PeerAddress() const override { return peer_; }

 private:
  friend class Engine;
  Engine& engine_;
  std::uint32_t host_;
  StreamHandler* handler_ = nullptr;
  ConnectionPtr conn_;
  int side_ = 0;
  std::string peer_;
};

class SimWorld::Engine::ListenerImpl final : public StreamListener {
 public:
  ListenerImpl(Engine& engine, std::uint32_t host, StreamListenerHandler& handler)
      : engine_(engine), host_(host), handler_(handler) {}
  ~ListenerImpl() override { Close(); }
  ListenerImpl(const ListenerImpl&) = delete;
  ListenerImpl& operator=(const ListenerImpl&) = delete;

  bool Listen(std::uint16_t port) override { return engine_.Listen(*this, port); }
  void Close() override { engine_.Unlisten(*this); }
  std::uint16_t Port() const override { return port_; }

 private:
  friend class Engine;
  Engine& engine_;
  std::uint32_t host_;
  StreamListenerHandler& handler_;
  std::uint16_t port_ = 0;
};

bool SimWorld::Engine::Listen(ListenerImpl& listener, std::uint16_t port) {
  Unlisten(listener);
  if (!HostAlive(listener.host_)) return false;
  const std::uint32_t ip = hosts_[listener.host_].ip;
  const auto taken = [&](std::uint16_t candidate) {
    const auto it = listeners_.find(BindingKey(ip, candidate));
    return it != listeners_.end() && HostAlive(it->second->host_);
  };
  port = ChoosePort(port, taken);
  if (port == 0) return false;
  listeners_[BindingKey(ip, port)] = &listener;
  listener.port_ = port;
  return true;
}

void SimWorld::Engine::Unlisten(ListenerImpl& listener) {
  if (listener.port_ == 0) return;
  const auto it = listeners_.find(BindingKey(hosts_[listener.host_].ip, listener.port_));
  if (it != listeners_.end() && it->second == &listener) listeners_.erase(it);
  listener.port_ = 0;
}

StreamHandler* SimWorld::Engine::HandlerOf(const StreamEnd& end) const {
  if (end.stream == nullptr || !HostAlive(end.host)) return nullptr;
  return end.stream->handler_;
}

void SimWorld::Engine::Connect(StreamImpl& stream, const std::string& address, std::uint16_t port) {
  Detach(stream);
  stream.peer_.clear();
  if (!HostAlive(stream.host_)) return;
  auto c = std::make_shared<Connection>();
  c->id = next_connection_++;
  c->split_state = Mix(seed_ ^ Mix(kStreamSplitStream + c->id));
  StreamEnd& out = c->ends[0];
  out.host = stream.host_;
  out.ip = hosts_[stream.host_].ip;
  out.stream = &stream;
  out.state = EndState::kConnecting;
  stream.conn_ = c;
  stream.side_ = 0;
  connections_[c->id] = c;
  const auto ip = ParseIpv4(address);
  if (!ip || port == 0) {
    AddTask(out.host, 0, [this, c] { Refuse(c); });
    return;
  }
  stream.peer_ = address;
  const std::int64_t latency = LinkBetween(out.ip, *ip).latency_ms;
  AddTask(out.host, latency, [this, c, ip = *ip, port, latency] { Accept(c, ip, port, latency); });
}

void SimWorld::Engine::Accept(const ConnectionPtr& c, std::uint32_t ip, std::uint16_t port,
                              std::int64_t latency) {
  StreamEnd& out = c->ends[0];
  if (out.state != EndState::kConnecting) return;
  const auto it = listeners_.find(BindingKey(ip, port));
  ListenerImpl* listener = it == listeners_.end() ? nullptr : it->second;
  if (listener == nullptr || !HostAlive(listener->host_) || !hosts_[listener->host_].online ||
      !hosts_[out.host].online) {
    // The refusal travels back.
    AddTask(out.host, latency, [this, c] { Refuse(c); });
    return;
  }
  c->accepted = true;
  ++stats_.stream_connections;
  StreamEnd& in = c->ends[1];
  in.host = listener->host_;
  in.ip = ip;
  in.state = EndState::kOpen;
  in.last_arrival = now_;
  AddTask(out.host, latency, [this, c] { Established(c); });
  auto stream = std::make_unique<StreamImpl>(*this, in.host);
  stream->conn_ = c;
  stream->side_ = 1;
  stream->peer_ = hosts_[out.host].address;
  in.stream = stream.get();
  listener->handler_.OnIncoming(std::move(stream));
}

void SimWorld::Engine::Refuse(const ConnectionPtr& c) {
  StreamEnd& out = c->ends[0];
  if (out.state != EndState::kConnecting) return;
  out.state = EndState::kClosed;
  Retire(c);
  if (StreamHandler* handler = HandlerOf(out)) handler->OnClosed();
}

void SimWorld::Engine::Established(const ConnectionPtr& c) {
  StreamEnd& out = c->ends[0];
  if (out.state != EndState::kConnecting) return;
  out.state = EndState::kOpen;
  out.last_arrival = now_;
  if (StreamHandler* handler = HandlerOf(out)) handler->OnConnected();
}

void SimWorld::Engine::Detach(StreamImpl& stream) {
  if (!stream.conn_) return;
  const ConnectionPtr c = std::move(stream.conn_);
  StreamEnd& end = c->ends[stream.side_];
  end.stream = nullptr;
  // A closing end still flushes what it was given; anything else is aborted.
  if (end.state == EndState::kConnecting || end.state == EndState::kOpen) Abort(c, stream.side_);
}

void SimWorld::Engine::HandlerSet(StreamImpl& stream) {
  if (!stream.conn_ || stream.handler_ == nullptr) return;
  const ConnectionPtr& c = stream.conn_;
  const int side = stream.side_;
  if (c->ends[side].unread.empty()) return;
  // Bytes that came before anyone listened are handed over from the loop, not from in here.
  AddTask(c->ends[side].host, 0, [this, c, side] {
    StreamEnd& end = c->ends[side];
    StreamHandler* handler = HandlerOf(end);
    if (end.state != EndState::kOpen || handler == nullptr || end.unread.empty()) return;
    const std::string bytes = std::move(end.unread);
    end.unread.clear();
    handler->OnData(bytes);
  });
}

bool SimWorld::Engine::StreamSend(const ConnectionPtr& c, int side, std::string_view bytes) {
  StreamEnd& end = c->ends[side];
  if (end.state != EndState::kOpen || !HostAlive(end.host)) return false;
  end.pending.append(bytes);
  Pump(c, side);
  return true;
}

void SimWorld::Engine::StreamClose(const ConnectionPtr& c, int side) {
  StreamEnd& end = c->ends[side];
  if (end.state == EndState::kConnecting) {
    Abort(c, side);
  } else if (end.state == EndState::kOpen) {
    end.state = EndState::kClosing;
    end.unread.clear();
    Pump(c, side);
  }
}

void SimWorld::Engine::Pump(const ConnectionPtr& c, int side) {
  StreamEnd& end = c->ends[side];
  if (end.leaving > 0) return;
  if (end.state != EndState::kOpen && end.state != EndState::kClosing) return;
  const std::size_t waiting = Waiting(end);
  if (waiting == 0) {
    if (end.state == EndState::kClosing) {
      end.state = EndState::kClosed;
      SignalClose(c, side);
      Retire(c);
    }
    return;
  }
  const StreamEnd& peer = c->ends[1 - side];
  const LinkProfile& link = LinkBetween(end.ip, peer.ip);
  std::size_t size = std::min(waiting, kMaxStreamChunk);
  if (link.split_streams && size > 1) {
    c->split_state += 0x9e3779b97f4a7c15ULL;
    size = 1 + static_cast<std::size_t>(Mix(c->split_state) % size);
  }
  std::int64_t leave_ms = now_;
  if (link.bandwidth_bytes_per_s > 0) {
    // Microseconds keep the pace exact over many chunks that do not fill a millisecond.
    const std::int64_t rate = link.bandwidth_bytes_per_s;
    std::int64_t& free_us = link_free_us_[DirectedKey(end.ip, peer.ip)];
    // A chunk that follows this end's previous one within the millisecond continues from its
    // exact end, so rounding to whole milliseconds does not slow the stream down.
    std::int64_t base = now_ * 1000;
    if (end.leave_us > base - 1000) base = std::min(base, end.leave_us);
    const std::int64_t start = std::max(base, free_us);
    free_us = start + (static_cast<std::int64_t>(size) * 1000000 + rate - 1) / rate;
    end.leave_us = free_us;
    leave_ms = (free_us + 999) / 1000;
  }
  end.leaving = size;
  AddTask(end.host, leave_ms - now_, [this, c, side] { Leave(c, side); });
}

void SimWorld::Engine::Leave(const ConnectionPtr& c, int side) {
  StreamEnd& end = c->ends[side];
  if (end.state != EndState::kOpen && end.state != EndState::kClosing) return;
  const std::size_t size = end.leaving;
  end.leaving = 0;
  std::string chunk = end.pending.substr(end.pending_offset, size);
  end.pending_offset += size;
  if (end.pending_offset == end.pending.size()) {
    end.pending.clear();
    end.pending_offset = 0;
  } else if (end.pending_offset >= end.pending.size() / 2) {
    end.pending.erase(0, end.pending_offset);
    end.pending_offset = 0;
  }
  const int other = 1 - side;
  const std::int64_t arrival =
      std::max(now_ + LinkBetween(end.ip, c->ends[other].ip).latency_ms, end.last_arrival);
  end.last_arrival = arrival;
  AddTask(
      c->ends[other].host, arrival - now_,
      [this, c, other, chunk = std::move(chunk)]() mutable { Arrive(c, other, std::move(chunk)); });
  if (end.state == EndState::kOpen) {
    if (StreamHandler* handler = HandlerOf(end)) handler->OnSent(size);
  }
  // The handler may have sent more, closed or destroyed the stream.
  Pump(c, side);
}

void SimWorld::Engine::Arrive(const ConnectionPtr& c, int side, std::string chunk) {
  StreamEnd& end = c->ends[side];
  if (end.state != EndState::kOpen) return;  // closed, cut, or closing with nobody to read
  stats_.stream_bytes_delivered += chunk.size();
  StreamHandler* handler = HandlerOf(end);
  if (handler == nullptr) {
    if (end.stream != nullptr) end.unread += chunk;
    return;
  }
  handler->OnData(chunk);
}

void SimWorld::Engine::Abort(const ConnectionPtr& c, int side) {
  StreamEnd& end = c->ends[side];
  if (end.state == EndState::kClosed) return;
  end.state = EndState::kClosed;
  end.pending.clear();
  end.pending_offset = 0;
  end.leaving = 0;
  end.unread.clear();
  SignalClose(c, side);
  Retire(c);
}

void SimWorld::Engine::SignalClose(const ConnectionPtr& c, int side) {
  // Before acceptance the far side has no end to tell.
  if (!c->accepted) return;
  const int other = 1 - side;
  const StreamEnd& end = c->ends[side];
  if (c->ends[other].state == EndState::kClosed) return;
  const std::int64_t arrival =
      std::max(now_ + LinkBetween(end.ip, c->ends[other].ip).latency_ms, end.last_arrival);
  AddTask(c->ends[other].host, arrival - now_, [this, c, other] { PeerGone(c, other); });
}

void SimWorld::Engine::PeerGone(const ConnectionPtr& c, int side) {
  StreamEnd& end = c->ends[side];
  const bool reports = end.state == EndState::kOpen || end.state == EndState::kConnecting;
  if (end.state == EndState::kClosed) return;
  end.state = EndState::kClosed;
  end.pending.clear();
  end.pending_offset = 0;
  end.leaving = 0;
  end.unread.clear();
  Retire(c);
  if (reports) {
    if (StreamHandler* handler = HandlerOf(end)) handler->OnClosed();
  }
}

void SimWorld::Engine::NotifyClosedLater(const ConnectionPtr& c, int side) {
  AddTask(c->ends[side].host, 0, [this, c, side] {
    if (StreamHandler* handler = HandlerOf(c->ends[side])) handler->OnClosed();
  });
}

void SimWorld::Engine::Retire(const ConnectionPtr& c) {
  const bool in_done = !c->accepted || c->ends[1].state == EndState::kClosed;
  if (c->ends[0].state == EndState::kClosed && in_done) connections_.erase(c->id);
}

std::size_t SimWorld::Engine::CutStreams(std::uint32_t a, std::uint32_t b) {
  std::vector<ConnectionPtr> cut;
  for (const auto& [id, c] : connections_) {
    if (!c->accepted) continue;
    const std::uint32_t x = c->ends[0].ip;
    const std::uint32_t y = c->ends[1].ip;
    if ((x == a && y == b) || (x == b && y == a)) cut.push_back(c);
  }
  for (const ConnectionPtr& c : cut) {
    for (int side = 0; side < 2; ++side) {
      StreamEnd& end = c->ends[side];
      const bool reports = end.state == EndState::kOpen || end.state == EndState::kConnecting;
      end.state = EndState::kClosed;
      end.pending.clear();
      end.pending_offset = 0;
      end.leaving = 0;
      end.unread.clear();
      if (reports) NotifyClosedLater(c, side);
    }
    Retire(c);
  }
  return cut.size();
}

void SimWorld::Engine::AbortHostStreams(std::uint32_t host) {
  std::vector<std::pair<ConnectionPtr, int>> ends;
  for (const auto& [id, c] : connections_) {
    for (int side = 0; side < 2; ++side) {
      if ((side == 0 || c->accepted) && c->ends[side].host == host) ends.emplace_back(c, side);
    }
  }
  for (const auto& [c, side] : ends)
    Abort(c, side);
}

// ---------------------------------------------------------------------------------------------

SimWorld::SimWorld(std::uint64_t seed) : engine_(std::make_unique<Engine>(seed)) {}
SimWorld::~SimWorld() = default;

std::uint64_t SimWorld::Seed() const {
  return engine_->Seed();
}
std::int64_t SimWorld::NowMs() const {
  return engine_->Now();
}
void SimWorld::RunFor(std::int64_t ms) {
  engine_->RunFor(ms);
}
bool SimWorld::RunUntil(const std::function<bool()>& done, std::int64_t max_ms) {
  return engine_->RunUntil(done, max_ms);
}
std::size_t SimWorld::RunPending() {
  return engine_->RunPending();
}

std::unique_ptr<SimHost> SimWorld::CreateHost(std::string address) {
  const std::uint32_t id = engine_->AddHost(address);
  const std::uint64_t seed = DeriveSeed(engine_->Seed(), address, kHostRandomStream);
  return std::unique_ptr<SimHost>(new SimHost(*engine_, id, std::move(address), seed));
}

void SimWorld::SetDefaultLink(const LinkProfile& profile) {
  engine_->SetDefaultLink(profile);
}
const LinkProfile& SimWorld::DefaultLink() const {
  return engine_->DefaultLink();
}
void SimWorld::SetLink(const std::string& a, const std::string& b, const LinkProfile& profile) {
  engine_->SetLink(a, b, profile);
}
LinkProfile SimWorld::Link(const std::string& a, const std::string& b) const {
  return engine_->LinkBetween(RequireIpv4(a), RequireIpv4(b));
}
void SimWorld::SetHostOnline(const std::string& address, bool online) {
  engine_->SetHostOnline(address, online);
}
bool SimWorld::IsHostOnline(const std::string& address) const {
  return engine_->IsHostOnline(address);
}

void SimWorld::ServeHttp(const std::string& url, std::function<std::string()> body,
                         std::int64_t delay_ms) {
  engine_->ServeHttp(url, std::move(body), delay_ms);
}
void SimWorld::RemoveHttp(const std::string& url) {
  engine_->RemoveHttp(url);
}

std::size_t SimWorld::CutStreams(const std::string& a, const std::string& b) {
  return engine_->CutStreams(RequireIpv4(a), RequireIpv4(b));
}

const SimStats& SimWorld::Stats() const {
  return engine_->Stats();
}
void SimWorld::SetDatagramTrace(std::function<void(const DatagramTrace&)> trace) {
  engine_->SetTrace(std::move(trace));
}

// ---------------------------------------------------------------------------------------------

SimHost::SimHost(SimWorld::Engine& engine, std::uint32_t id, std::string address,
                 std::uint64_t seed)
    : engine_(engine), id_(id), address_(std::move(address)), random_(seed), prompts_([&engine] {
        return engine.Now();
      }) {}

SimHost::~SimHost() {
  engine_.RemoveHost(id_);
}

std::int64_t SimHost::NowMs() const {
  return engine_.Now();
}

std::unique_ptr<Timer> SimHost::CreateTimer(TimerKind kind, std::function<void()> on_fire) {
  const std::uint32_t slot =
      engine_.AddTimer(id_, kind == TimerKind::kRepeating, std::move(on_fire));
  return std::make_unique<SimWorld::Engine::TimerImpl>(engine_, slot);
}

void SimHost::Post(std::function<void()> task) {
  engine_.Post(id_, std::move(task));
}

std::unique_ptr<DatagramSocket> SimHost::CreateDatagramSocket(DatagramHandler& handler) {
  return std::make_unique<SimWorld::Engine::SocketImpl>(engine_, id_, handler);
}

std::unique_ptr<StreamListener> SimHost::CreateStreamListener(StreamListenerHandler& handler) {
  return std::make_unique<SimWorld::Engine::ListenerImpl>(engine_, id_, handler);
}

std::unique_ptr<StreamSocket> SimHost::CreateStreamSocket() {
  return std::make_unique<SimWorld::Engine::StreamImpl>(engine_, id_);
}

std::unique_ptr<PendingRequest> SimHost::HttpGet(const std::string& url,
                                                 std::function<void(std::string body)> done) {
  const auto handle = engine_.HttpGet(id_, url, std::move(done));
  return std::make_unique<SimWorld::Engine::RequestImpl>(engine_, handle);
}

}  // namespace zorvex
