// Simulated datagrams: port bindings, loss and jitter per link, delivery and its trace.

#include "platform/sim/sim_engine.h"

namespace zorvex {

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
    Trace(from.address, address, port, payload, DatagramFate::kLost);
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
  if (const auto host = host_by_ip_.find(record.to_ip);
      host != host_by_ip_.end() && !hosts_[host->second].online) {
    ++stats_.datagrams_lost;
    Trace(record.from, record.to, record.port, record.payload, DatagramFate::kLost);
    return;
  }
  const auto it = bindings_.find(BindingKey(record.to_ip, record.port));
  if (it == bindings_.end() || !HostAlive(it->second->host_)) {
    ++stats_.datagrams_undeliverable;
    Trace(record.from, record.to, record.port, record.payload, DatagramFate::kUndeliverable);
    return;
  }
  ++stats_.datagrams_delivered;
  Trace(record.from, record.to, record.port, record.payload, DatagramFate::kDelivered);
  it->second->handler_.OnDatagram(std::move(record.payload), std::move(record.from));
}

void SimWorld::SetDatagramTrace(std::function<void(const DatagramTrace&)> trace) {
  engine_->SetTrace(std::move(trace));
}

std::unique_ptr<DatagramSocket> SimHost::CreateDatagramSocket(DatagramHandler& handler) {
  return std::make_unique<SimWorld::Engine::SocketImpl>(engine_, id_, handler);
}

}  // namespace zorvex
