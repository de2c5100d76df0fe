#include "support/fake_runtime.h"

#include <algorithm>
#include <memory>

#include "share/file_hash.h"

namespace zorvex::testing {

struct FakeRuntime::FakeTimer : Timer {
  FakeTimer(FakeRuntime& owner, std::function<void()> fire) : owner(owner), fire(std::move(fire)) {
    owner.timers.push_back(this);
  }
  ~FakeTimer() override { std::erase(owner.timers, this); }
  void Start(std::int64_t interval_ms) override {
    active = true;
    interval = interval_ms;
  }
  void Stop() override { active = false; }
  bool IsActive() const override { return active; }

  FakeRuntime& owner;
  std::function<void()> fire;
  bool active = false;
  std::int64_t interval = 0;
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
    Rc4 cipher;
    owner_.sent.push_back({cipher.RC4String(payload, kMessageKey), address, port});
    return true;
  }
  std::string LocalAddress() const override { return owner_.local_address; }

 private:
  FakeRuntime& owner_;
};

class NoRequest : public PendingRequest {};

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

void FakeStream::Connect(const std::string& address, std::uint16_t port) {
  peer = address;
  connect_port = port;
  connecting = true;
  open = false;
}

bool FakeStream::Send(std::string_view bytes) {
  if (!open) return false;
  sent.append(bytes);
  unconfirmed += bytes.size();
  return true;
}

void FakeStream::Close() {
  if (open || connecting) closed_by_node = true;
  open = false;
  connecting = false;
}

void FakeStream::AcceptConnect() {
  if (!connecting) return;
  connecting = false;
  open = true;
  if (handler) handler->OnConnected();
}

void FakeStream::RefuseConnect() {
  if (!connecting) return;
  connecting = false;
  if (handler) handler->OnFailed();
}

void FakeStream::Feed(std::string_view bytes) {
  if (open && handler) handler->OnData(bytes);
}

void FakeStream::ConfirmSent() {
  const std::size_t bytes = unconfirmed;
  unconfirmed = 0;
  if (open && handler && bytes > 0) handler->OnSent(bytes);
}

void FakeStream::CloseFromPeer() {
  if (!open) return;
  open = false;
  if (handler) handler->OnClosed();
}

void FakeStream::FailFromPeer() {
  if (!open) return;
  open = false;
  if (handler) handler->OnFailed();
}

std::string FakeStream::TakeSent() {
  std::string out;
  out.swap(sent);
  return out;
}

FakeListener::FakeListener(FakeRuntime& owner, StreamListenerHandler& handler)
    : owner(owner), handler(handler) {
  owner.listeners.push_back(this);
}

FakeListener::~FakeListener() {
  std::erase(owner.listeners, this);
}

bool FakeListener::Listen(std::uint16_t wanted) {
  listens.push_back(wanted);
  port = 0;
  if (!owner.listen_succeeds) return false;
  port = wanted == 0 ? 49152 : wanted;
  return true;
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

std::unique_ptr<StreamListener> FakeRuntime::CreateStreamListener(StreamListenerHandler& h) {
  return std::make_unique<FakeListener>(*this, h);
}

std::unique_ptr<StreamSocket> FakeRuntime::CreateStreamSocket() {
  return std::make_unique<FakeStream>(*this);
}

std::unique_ptr<PendingRequest> FakeRuntime::HttpGet(const std::string& url,
                                                     std::function<void(std::string)> done) {
  http_urls.push_back(url);
  http_pending.push_back(std::move(done));
  return std::make_unique<NoRequest>();
}

std::unique_ptr<PendingRequest> FakeRuntime::PostedHashing::HashFile(
    const std::string& path, std::int32_t block_size,
    std::function<void(std::int64_t, std::int64_t)> progress,
    std::function<void(std::string)> done) {
  ++requests;
  auto alive = std::make_shared<bool>(true);
  owner_.Post([alive, path, block_size, progress, done] {
    if (!*alive) return;
    const std::string hash = HashFileNow(path, block_size);
    if (progress) progress(0, 0);
    done(hash);
  });
  struct Request : PendingRequest {
    explicit Request(std::shared_ptr<bool> a) : alive(std::move(a)) {}
    ~Request() override { *alive = false; }
    std::shared_ptr<bool> alive;
  };
  return std::make_unique<Request>(alive);
}

std::unique_ptr<PendingRequest> FakeRuntime::PostedHashing::RunSteps(std::function<bool()> step,
                                                                     std::function<void()> done) {
  ++step_runs;
  auto alive = std::make_shared<bool>(true);
  owner_.Post([alive, step, done] {
    while (*alive && step()) {
    }
    if (*alive && done) done();
  });
  struct Request : PendingRequest {
    explicit Request(std::shared_ptr<bool> a) : alive(std::move(a)) {}
    ~Request() override { *alive = false; }
    std::shared_ptr<bool> alive;
  };
  return std::make_unique<Request>(alive);
}

double FakeRuntime::Uniform() {
  if (draws.empty()) return 0;
  const double value = draws.front();
  draws.pop_front();
  return value;
}

void FakeRuntime::Deliver(std::string_view message, const std::string& sender) {
  Rc4 cipher;
  handler->OnDatagram(cipher.RC4String(message, kMessageKey), sender);
}

void FakeRuntime::RunPosted() {
  while (!posted.empty()) {
    auto task = std::move(posted.front());
    posted.erase(posted.begin());
    task();
  }
}

void FakeRuntime::AnswerHttp(const std::string& body) {
  auto done = std::move(http_pending.front());
  http_pending.pop_front();
  done(body);
}

std::vector<SentDatagram> FakeRuntime::TakeSent() {
  std::vector<SentDatagram> out;
  out.swap(sent);
  return out;
}

}  // namespace zorvex::testing
