#pragma once
// The engine behind SimWorld and SimHost: virtual time, hosts, timers, posted tasks and links,
// with the datagram, stream and HTTP parts declared here and defined in their own files. Private
// to platform/sim.

#include <algorithm>
#include <cmath>
#include <deque>
#include <map>
#include <memory>
#include <unordered_map>

#include "platform/sim/sim_event_heap.h"
#include "platform/sim/sim_world.h"

namespace zorvex {

using namespace sim_internal;

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
  void ReadPaused(StreamImpl& stream, bool paused);
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

  void Trace(std::string_view from, std::string_view to, std::uint16_t port,
             std::string_view payload, DatagramFate fate) {
    if (trace_) trace_({now_, from, to, port, payload.size(), fate, payload});
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
    std::size_t leaving = 0;  // the front bytes of `pending` now going onto the wire
    std::string unread;       // arrived before the stream had a handler, or paused
    bool read_paused = false;
    std::size_t in_flight = 0;         // left this end, not yet arrived at the other
    bool gone_pending = false;         // the far side closed; told once the unread bytes are read
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
  // A cut: the side hears of it from its loop, as a failure.
  void NotifyFailedLater(const ConnectionPtr& c, int side);
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

}  // namespace zorvex
