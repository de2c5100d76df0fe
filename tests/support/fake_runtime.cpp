#include "support/fake_runtime.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "share/file_hash.h"

namespace zorvex::testing {

struct FakeRuntime::FakeTimer : Timer {
  FakeTimer(FakeRuntime& owner, std::function<void()> fire) : owner(owner), fire(std::move(fire)) {
    owner.timers.push_back(this);
  }
  ~FakeTimer() override { std::erase(owner.timers, this); }
  void Start(std::int64_t) override { active = true; }
  void Stop() override { active = false; }
  bool IsActive() const override { return active; }

  FakeRuntime& owner;
  std::function<void()> fire;
  bool active = false;
};

namespace {

class FakeSocket : public DatagramSocket {
 public:
  explicit FakeSocket(FakeRuntime& owner) : owner_(owner) {}
  bool Bind(std::uint16_t) override {
    ++owner_.binds;
    return owner_.bind_succeeds;
  }
  void Close() override {}
  bool SendTo(std::string_view payload, const std::string& address, std::uint16_t port) override {
    if (!owner_.send_succeeds) return false;
    owner_.sent.push_back({Rc4().RC4String(payload, kMessageKey), address, port});
    return true;
  }
  std::string LocalAddress() const override { return "10.0.0.1"; }

 private:
  FakeRuntime& owner_;
};

// A request whose posted task does nothing once the request is gone.
struct AliveRequest : PendingRequest {
  ~AliveRequest() override { *alive = false; }
  std::shared_ptr<bool> alive = std::make_shared<bool>(true);
};

}  // namespace

std::unique_ptr<Timer> FakeRuntime::CreateTimer(TimerKind, std::function<void()> on_fire) {
  return std::make_unique<FakeTimer>(*this, std::move(on_fire));
}

std::unique_ptr<DatagramSocket> FakeRuntime::CreateDatagramSocket(DatagramHandler& h) {
  handler = &h;
  return std::make_unique<FakeSocket>(*this);
}

void FakeRuntime::FireTimer(std::size_t index) {
  if (index < timers.size() && timers[index]->active) timers[index]->fire();
}

bool FakeRuntime::TimerActive(std::size_t index) const {
  return index < timers.size() && timers[index]->active;
}

FakeStream::FakeStream(FakeRuntime& owner) : owner(owner) {
  owner.streams.push_back(this);
}

FakeStream::~FakeStream() {
  std::erase(owner.streams, this);
}

FakeListener::FakeListener(FakeRuntime& owner, StreamListenerHandler& handler)
    : owner(owner), handler(handler) {
  owner.listeners.push_back(this);
}

FakeListener::~FakeListener() {
  std::erase(owner.listeners, this);
}

FakeStream* FakeListener::Offer(const std::string& peer_address) {
  auto stream = std::make_unique<FakeStream>(owner);
  stream->peer = peer_address;
  stream->open = true;
  FakeStream* raw = stream.get();
  handler.OnIncoming(std::move(stream));
  // Whoever took it keeps it alive; a dropped stream has left the owner's list.
  return std::find(owner.streams.begin(), owner.streams.end(), raw) != owner.streams.end()
             ? raw
             : nullptr;
}

std::unique_ptr<PendingRequest> FakeRuntime::PostedHashing::HashFile(
    const std::string& path, std::int32_t block_size,
    std::function<void(std::int64_t, std::int64_t)> progress,
    std::function<void(std::string)> done) {
  ++requests;
  auto request = std::make_unique<AliveRequest>();
  owner_.Post([alive = request->alive, path, block_size, progress, done] {
    if (!*alive) return;
    const std::string hash = HashFileNow(path, block_size);
    if (progress) progress(0, 0);
    done(hash);
  });
  return request;
}

std::unique_ptr<PendingRequest> FakeRuntime::PostedHashing::RunSteps(std::function<bool()> step,
                                                                     std::function<void()> done) {
  ++step_runs;
  auto request = std::make_unique<AliveRequest>();
  owner_.Post([alive = request->alive, step, done] {
    while (*alive && step()) {
    }
    if (*alive && done) done();
  });
  return request;
}

}  // namespace zorvex::testing
