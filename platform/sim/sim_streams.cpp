// Simulated TCP streams: listeners, connects, paced and split deliveries, closes and cuts.

#include "platform/sim/sim_engine.h"

namespace zorvex {

namespace {
// What TCP's window would let be on the way or unread at once.
constexpr std::size_t kStreamWindowBytes = 1 << 20;
}  // namespace

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
  void SetReadPaused(bool paused) override { engine_.ReadPaused(*this, paused); }

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
  if (StreamHandler* handler = HandlerOf(out)) handler->OnFailed();
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

void SimWorld::Engine::ReadPaused(StreamImpl& stream, bool paused) {
  if (!stream.conn_) return;
  const ConnectionPtr c = stream.conn_;
  const int side = stream.side_;
  c->ends[side].read_paused = paused;
  if (paused) return;
  HandlerSet(stream);
  Pump(c, 1 - side);  // the far side may send again
}

void SimWorld::Engine::HandlerSet(StreamImpl& stream) {
  if (!stream.conn_ || stream.handler_ == nullptr) return;
  const ConnectionPtr& c = stream.conn_;
  const int side = stream.side_;
  if (c->ends[side].unread.empty() || c->ends[side].read_paused) return;
  // Bytes that came before anyone listened are handed over from the loop, not from in here.
  AddTask(c->ends[side].host, 0, [this, c, side] {
    StreamEnd& end = c->ends[side];
    StreamHandler* handler = HandlerOf(end);
    if (end.state != EndState::kOpen || handler == nullptr || end.unread.empty() ||
        end.read_paused) {
      return;
    }
    // A chunk per step, as reads would take them: the handler may pause again in between.
    const std::string bytes = end.unread.substr(0, kMaxStreamChunk);
    end.unread.erase(0, bytes.size());
    const bool more = !end.unread.empty();
    handler->OnData(bytes);
    if (more && c->ends[side].stream != nullptr) HandlerSet(*c->ends[side].stream);
    Pump(c, 1 - side);
    StreamEnd& after = c->ends[side];
    if (!more && after.gone_pending && after.state == EndState::kOpen) {
      after.gone_pending = false;
      PeerGone(c, side);
    }
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
  // Flow control: at most a window is on its way or waiting to be read; a reader that stops
  // reading thus stops the sender.
  if (end.in_flight + peer.unread.size() >= kStreamWindowBytes) return;
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
  end.in_flight += size;
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
  StreamEnd& sender = c->ends[1 - side];
  sender.in_flight -= std::min(sender.in_flight, chunk.size());
  if (end.state != EndState::kOpen) return;  // closed, cut, or closing with nobody to read
  stats_.stream_bytes_delivered += chunk.size();
  StreamHandler* handler = HandlerOf(end);
  // Bytes still waiting to be read go first.
  if (handler == nullptr || end.read_paused || !end.unread.empty()) {
    if (end.stream != nullptr) end.unread += chunk;
    Pump(c, 1 - side);
    return;
  }
  handler->OnData(chunk);
  Pump(c, 1 - side);
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
  // What arrived and waits to be read comes first; the close is told after it.
  if (end.state == EndState::kOpen && !end.unread.empty() && end.stream != nullptr &&
      end.stream->handler_ != nullptr) {
    end.gone_pending = true;
    return;
  }
  // Bytes of this end still on their way will never be read: no orderly end for it.
  const bool unsent = !end.pending.empty() || end.leaving > 0;
  end.state = EndState::kClosed;
  end.pending.clear();
  end.pending_offset = 0;
  end.leaving = 0;
  end.unread.clear();
  Retire(c);
  if (!reports) return;
  if (StreamHandler* handler = HandlerOf(end)) {
    if (unsent) {
      handler->OnFailed();
    } else {
      handler->OnClosed();
    }
  }
}

void SimWorld::Engine::NotifyFailedLater(const ConnectionPtr& c, int side) {
  AddTask(c->ends[side].host, 0, [this, c, side] {
    if (StreamHandler* handler = HandlerOf(c->ends[side])) handler->OnFailed();
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
      if (reports) NotifyFailedLater(c, side);
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

std::size_t SimWorld::CutStreams(const std::string& a, const std::string& b) {
  return engine_->CutStreams(RequireIpv4(a), RequireIpv4(b));
}

std::unique_ptr<StreamListener> SimHost::CreateStreamListener(StreamListenerHandler& handler) {
  return std::make_unique<SimWorld::Engine::ListenerImpl>(engine_, id_, handler);
}

std::unique_ptr<StreamSocket> SimHost::CreateStreamSocket() {
  return std::make_unique<SimWorld::Engine::StreamImpl>(engine_, id_);
}

}  // namespace zorvex
