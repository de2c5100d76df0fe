#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "platform/sim/sim_world.h"

namespace zorvex {
namespace {

class SimClockTest : public ::testing::Test {
 protected:
  SimWorld world{1};
  std::unique_ptr<SimHost> host = world.CreateHost("10.0.0.1");
};

TEST_F(SimClockTest, RepeatingTimerKeepsItsPhaseAndSingleShotFiresOnce) {
  std::vector<std::int64_t> repeating_at, single_at;
  auto repeating =
      host->CreateTimer(TimerKind::kRepeating, [&] { repeating_at.push_back(world.NowMs()); });
  auto single =
      host->CreateTimer(TimerKind::kSingleShot, [&] { single_at.push_back(world.NowMs()); });
  EXPECT_FALSE(repeating->IsActive());
  repeating->Start(300);
  single->Start(450);
  EXPECT_TRUE(repeating->IsActive());
  EXPECT_TRUE(single->IsActive());

  world.RunFor(1000);
  EXPECT_EQ(world.NowMs(), 1000);
  EXPECT_EQ(repeating_at, (std::vector<std::int64_t>{300, 600, 900}));
  EXPECT_EQ(single_at, (std::vector<std::int64_t>{450}));
  EXPECT_TRUE(repeating->IsActive());
  EXPECT_FALSE(single->IsActive());

  // Restarting counts from now; stopping ends it.
  repeating->Start(250);
  world.RunFor(500);
  repeating->Stop();
  world.RunFor(1000);
  EXPECT_EQ(repeating_at, (std::vector<std::int64_t>{300, 600, 900, 1250, 1500}));
  EXPECT_FALSE(repeating->IsActive());
}

TEST_F(SimClockTest, RestartingInsideTheCallbackReplacesThePendingFiring) {
  std::vector<std::int64_t> fired;
  std::unique_ptr<Timer> timer;
  timer = host->CreateTimer(TimerKind::kRepeating, [&] {
    fired.push_back(world.NowMs());
    if (fired.size() == 2) timer->Start(1000);
    if (fired.size() == 3) timer->Stop();
  });
  timer->Start(100);
  world.RunFor(5000);
  EXPECT_EQ(fired, (std::vector<std::int64_t>{100, 200, 1200}));

  // A single-shot timer re-armed from its own callback fires again.
  std::vector<std::int64_t> shots;
  std::unique_ptr<Timer> shot;
  shot = host->CreateTimer(TimerKind::kSingleShot, [&] {
    shots.push_back(world.NowMs());
    EXPECT_FALSE(shot->IsActive());
    if (shots.size() < 3) shot->Start(1300);
  });
  shot->Start(0);
  world.RunFor(5000);
  EXPECT_EQ(shots, (std::vector<std::int64_t>{5000, 6300, 7600}));
}

TEST_F(SimClockTest, EqualTimesRunInSchedulingOrderAndPostsComeAfterDueEvents) {
  std::vector<std::string> log;
  auto a = host->CreateTimer(TimerKind::kSingleShot, [&] {
    log.push_back("a");
    host->Post([&] { log.push_back("posted by a"); });
  });
  auto b = host->CreateTimer(TimerKind::kSingleShot, [&] { log.push_back("b"); });
  auto c = host->CreateTimer(TimerKind::kSingleShot, [&] { log.push_back("c"); });
  c->Start(100);  // scheduled first, so first among equals
  a->Start(100);
  b->Start(100);
  host->Post([&] { log.push_back("post 1"); });
  host->Post([&] { log.push_back("post 2"); });

  EXPECT_EQ(world.RunPending(), 2u);  // only what is due now
  EXPECT_EQ(log, (std::vector<std::string>{"post 1", "post 2"}));
  world.RunFor(100);
  EXPECT_EQ(log, (std::vector<std::string>{"post 1", "post 2", "c", "a", "b", "posted by a"}));
}

TEST_F(SimClockTest, DestroyedTimerNeverFires) {
  int fired = 0;
  auto doomed = host->CreateTimer(TimerKind::kRepeating, [&] { ++fired; });
  doomed->Start(100);
  world.RunFor(250);
  EXPECT_EQ(fired, 2);
  doomed.reset();
  world.RunFor(1000);
  EXPECT_EQ(fired, 2);

  // Destroyed by an earlier event at the very instant it was due.
  int victim_fired = 0;
  std::unique_ptr<Timer> victim =
      host->CreateTimer(TimerKind::kSingleShot, [&] { ++victim_fired; });
  auto killer = host->CreateTimer(TimerKind::kSingleShot, [&] { victim.reset(); });
  killer->Start(50);
  victim->Start(50);
  world.RunFor(100);
  EXPECT_EQ(victim_fired, 0);

  // Destroyed by its own callback, then a new timer takes over in the same callback.
  int self_fired = 0, successor_fired = 0;
  std::unique_ptr<Timer> self, successor;
  self = host->CreateTimer(TimerKind::kRepeating, [&] {
    ++self_fired;
    self.reset();
    successor = host->CreateTimer(TimerKind::kRepeating, [&] { ++successor_fired; });
    successor->Start(10);
  });
  self->Start(10);
  world.RunFor(100);
  EXPECT_EQ(self_fired, 1);
  EXPECT_EQ(successor_fired, 9);
}

TEST_F(SimClockTest, DestroyedHostNeverCallsBack) {
  int calls = 0;
  auto timer = host->CreateTimer(TimerKind::kRepeating, [&] { ++calls; });
  timer->Start(100);
  host->Post([&] { ++calls; });
  world.ServeHttp("gate.example/list", [] { return std::string("x"); });
  auto request = host->HttpGet("gate.example/list", [&](std::string) { ++calls; });

  host.reset();
  world.RunFor(10'000);
  EXPECT_EQ(calls, 0);
  // What the host left behind stays harmless.
  timer->Start(10);
  EXPECT_FALSE(timer->IsActive());
  world.RunFor(100);
  timer.reset();
  request.reset();
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(world.Stats().events_run, 0u);

  // The address is free again.
  auto reborn = world.CreateHost("10.0.0.1");
  EXPECT_EQ(reborn->Address(), "10.0.0.1");
}

TEST_F(SimClockTest, RunUntilStopsAtTheEventThatSatisfiesItAndNoRunMayNest) {
  int ticks = 0;
  auto timer = host->CreateTimer(TimerKind::kRepeating, [&] { ++ticks; });
  timer->Start(300);
  EXPECT_TRUE(world.RunUntil([&] { return ticks == 4; }, 10'000));
  EXPECT_EQ(world.NowMs(), 1200);
  EXPECT_FALSE(world.RunUntil([&] { return ticks == 100; }, 1000));
  EXPECT_EQ(world.NowMs(), 2200);
  EXPECT_EQ(ticks, 7);
  EXPECT_TRUE(world.RunUntil([] { return true; }, 1000));
  EXPECT_EQ(world.NowMs(), 2200);

  // Running from inside an event is refused.
  bool refused = false;
  host->Post([&] {
    try {
      world.RunFor(10);
    } catch (const std::logic_error&) {
      refused = true;
    }
  });
  world.RunPending();
  EXPECT_TRUE(refused);
  world.RunFor(10);  // the guard is released afterwards
  EXPECT_EQ(world.NowMs(), 2210);
}

TEST_F(SimClockTest, HostAddressesMustBeDottedAndUnique) {
  EXPECT_THROW(world.CreateHost("10.0.0.1"), std::invalid_argument);
  for (const char* bad :
       {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.4 ", "a.b.c.d", "1..2.3", "1.2.3.1000"}) {
    EXPECT_THROW(world.CreateHost(bad), std::invalid_argument) << bad;
  }
}

TEST(SimRandomTest, HostRandomStreamsDependOnlyOnSeedAndAddress) {
  const auto draws = [](std::uint64_t seed, bool with_extra_hosts) {
    SimWorld world(seed);
    std::vector<std::unique_ptr<SimHost>> extra;
    if (with_extra_hosts) extra.push_back(world.CreateHost("10.9.9.9"));
    auto host = world.CreateHost("10.0.0.1");
    if (with_extra_hosts) extra.push_back(world.CreateHost("10.9.9.8"));
    std::vector<double> out;
    for (int i = 0; i < 8; ++i)
      out.push_back(host->Random().Uniform());
    return out;
  };
  EXPECT_EQ(draws(7, false), draws(7, true));
  EXPECT_NE(draws(7, false), draws(8, false));

  SimWorld world(7);
  auto a = world.CreateHost("10.0.0.1");
  auto b = world.CreateHost("10.0.0.2");
  EXPECT_NE(a->Random().Uniform(), b->Random().Uniform());
}

TEST_F(SimClockTest, PromptsAreRecordedAndQuestionsAnsweredFromTheScript) {
  world.RunFor(40);
  UserPrompts& prompts = static_cast<Runtime&>(*host).Prompts();  // as a node sees it
  prompts.MessageBox("Could not bind", "Zorvex", PromptIcon::kCritical);
  host->Prompts().ScriptAnswer(false);
  EXPECT_FALSE(prompts.AskYesNo("Quit?", "Exit"));
  EXPECT_TRUE(prompts.AskYesNo("Really?", "Exit"));  // script empty: yes
  world.RunFor(5);
  prompts.Beep();

  const SimPrompts& seen = host->Prompts();
  ASSERT_EQ(seen.Messages().size(), 1u);
  const SimPrompts::Message& m = seen.Messages()[0];
  EXPECT_EQ(std::tie(m.time_ms, m.text, m.title, m.icon),
            std::make_tuple(40, "Could not bind", "Zorvex", PromptIcon::kCritical));
  ASSERT_EQ(seen.Questions().size(), 2u);
  const auto& q = seen.Questions();
  EXPECT_EQ(std::tie(q[0].text, q[0].answer, q[1].answer), std::make_tuple("Quit?", false, true));
  EXPECT_EQ(seen.Beeps(), (std::vector<std::int64_t>{45}));
  host->Prompts().Clear();
  EXPECT_TRUE(seen.Messages().empty());
}

}  // namespace
}  // namespace zorvex
