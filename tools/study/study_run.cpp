#include "tools/study/study_run.h"

#include <algorithm>
#include <array>
#include <chrono>

#include "tools/study/study_network.h"

namespace zorvex::study {
namespace {

constexpr std::int64_t kStepMs = 100;
constexpr std::int64_t kMinuteMs = 60'000;
// Probes hold files of this many holders in turn.
constexpr std::array<std::size_t, 3> kHolderCounts = {1, 10, 100};
// Probes stop starting this long before the end, so that the last ones can finish.
constexpr std::int64_t kProbeTailMs = 120'000;

class Run {
 public:
  Run(const StudyConfig& config, const std::filesystem::path& scratch)
      : config_(config),
        network_(config, scratch),
        meter_(network_.world()),
        probes_(network_, meter_),
        window_start_(config.warmup_minutes * kMinuteMs),
        end_((config.warmup_minutes + config.measure_minutes) * kMinuteMs),
        next_probe_(window_start_) {}

  RunResults Go() {
    const auto wall = std::chrono::steady_clock::now();
    while (Now() < end_)
      Step();
    Finish();
    results_.wall_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
    return std::move(results_);
  }

 private:
  std::int64_t Now() { return network_.world().NowMs(); }
  bool Measuring() { return Now() >= window_start_; }

  void Step() {
    GrowDuringRamp();
    if (Now() >= config_.ramp_minutes * kMinuteMs) Churn();
    if (Now() == window_start_) StartWindow();
    if (Measuring() && Now() >= next_probe_ && Now() < end_ - kProbeTailMs) LaunchProbe();
    network_.world().RunFor(kStepMs);
    joins_.Poll(network_, Now());
    probes_.Poll();
    if (Measuring())
      results_.node_minutes += static_cast<double>(network_.size()) * kStepMs / kMinuteMs;
    if (Measuring() && Now() % kMinuteMs == 0) SampleMinute();
  }

  // The first nodes join evenly spread over the ramp, the gateways' nodes first.
  void GrowDuringRamp() {
    const std::int64_t ramp = std::max<std::int64_t>(1, config_.ramp_minutes * kMinuteMs);
    const auto due = static_cast<std::size_t>(
        std::min<std::int64_t>(config_.nodes, config_.nodes * (Now() + kStepMs) / ramp));
    while (network_.joins() < due)
      network_.Join();
  }

  void Churn() {
    for (const auto& address : network_.Churn(static_cast<double>(kStepMs) / 1000)) {
      if (Measuring()) joins_.Follow(*network_.Find(address));
    }
  }

  void StartWindow() {
    meter_.StartWindow();
    joins_at_start_ = network_.joins();
    leaves_at_start_ = network_.leaves();
    requests_at_start_ = GatewayRequests();
    last_minute_requests_ = requests_at_start_;
    bytes_at_start_ = GatewayBytes();
  }

  void LaunchProbe() {
    const std::size_t holders = kHolderCounts[probe_turn_ % kHolderCounts.size()];
    const std::size_t most = network_.size() > 2 ? network_.size() - 2 : 0;
    if (probes_.Launch(std::min(holders, most))) ++probe_turn_;
    next_probe_ += config_.probe_interval_s * 1000;
  }

  void SampleMinute() {
    MinuteSample sample;
    sample.minute = static_cast<int>(Now() / kMinuteMs);
    sample.census = TakeCensus(network_, false);
    sample.gateway_requests = GatewayRequests() - last_minute_requests_;
    last_minute_requests_ = GatewayRequests();
    results_.minutes.push_back(std::move(sample));
  }

  std::uint64_t GatewayRequests() const {
    std::uint64_t total = 0;
    for (const auto& log : network_.gateway_logs())
      total += log.requests;
    return total;
  }

  std::uint64_t GatewayBytes() const {
    std::uint64_t total = 0;
    for (const auto& log : network_.gateway_logs())
      total += log.bytes;
    return total;
  }

  void Finish() {
    results_.joins = network_.joins() - joins_at_start_;
    results_.leaves = network_.leaves() - leaves_at_start_;
    for (std::size_t f = 0; f < kFamilies; ++f)
      results_.traffic[f] = meter_.count(static_cast<Family>(f));
    results_.gateway_requests = GatewayRequests() - requests_at_start_;
    if (results_.gateway_requests > 0) {
      results_.gateway_page_bytes = static_cast<double>(GatewayBytes() - bytes_at_start_) /
                                    static_cast<double>(results_.gateway_requests);
    }
    const double minutes = config_.measure_minutes;
    double entries = 0;
    double received = 0;
    for (const auto& log : network_.gateway_logs()) {
      entries += static_cast<double>(log.entries);
      received += static_cast<double>(meter_.ReceivedBy(log.address)) / minutes;
    }
    const auto gateways = static_cast<double>(network_.gateway_logs().size());
    results_.gateway_page_entries = entries / gateways;
    results_.gateway_node_received = received / gateways;
    results_.final_census = TakeCensus(network_, true);
    results_.joins_followed = joins_.records();
    results_.probes = probes_.records();
  }

  const StudyConfig& config_;
  StudyNetwork network_;
  TrafficMeter meter_;
  SearchProbes probes_;
  JoinTracker joins_;
  RunResults results_;
  const std::int64_t window_start_;
  const std::int64_t end_;
  std::int64_t next_probe_;
  std::size_t probe_turn_ = 0;
  std::uint64_t joins_at_start_ = 0;
  std::uint64_t leaves_at_start_ = 0;
  std::uint64_t requests_at_start_ = 0;
  std::uint64_t last_minute_requests_ = 0;
  std::uint64_t bytes_at_start_ = 0;
};

}  // namespace

RunResults RunStudy(const StudyConfig& config, const std::filesystem::path& scratch) {
  return Run(config, scratch).Go();
}

}  // namespace zorvex::study
