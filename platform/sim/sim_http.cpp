// Simulated HTTP: pending requests answered from the world's served URLs.

#include "platform/sim/sim_engine.h"

namespace zorvex {

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

void SimWorld::ServeHttp(const std::string& url, std::function<std::string()> body,
                         std::int64_t delay_ms) {
  engine_->ServeHttp(url, std::move(body), delay_ms);
}
void SimWorld::RemoveHttp(const std::string& url) {
  engine_->RemoveHttp(url);
}

std::unique_ptr<PendingRequest> SimHost::HttpGet(const std::string& url,
                                                 std::function<void(std::string body)> done) {
  const auto handle = engine_.HttpGet(id_, url, std::move(done));
  return std::make_unique<SimWorld::Engine::RequestImpl>(engine_, handle);
}

}  // namespace zorvex
