// Simulated time: the world's clock and run loop, hosts and links, timers and posted work.

#include "platform/sim/sim_engine.h"

namespace zorvex {

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

const SimStats& SimWorld::Stats() const {
  return engine_->Stats();
}

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

}  // namespace zorvex
