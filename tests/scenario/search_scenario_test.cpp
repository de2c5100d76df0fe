#include <gtest/gtest.h>

#include <set>
#include <string>

#include "network/peer_table.h"
#include "scenario/sim_network.h"
#include "search/search.h"
#include "share/shared_files.h"

namespace zorvex {
namespace {

using testing::kGatewayUrl;
using testing::SimNetwork;

SharedFile Row(const std::string& name, const std::string& category) {
  SharedFile row;
  row.file_name = name;
  row.base_name = name.substr(0, name.rfind('.'));
  row.category = category;
  row.size = 1000;
  row.size_text = "1000 Bytes";
  row.hash = "0123456789ABCDEF0123456789ABCDEF";
  row.folder = "/srv/";
  return row;
}

class SearchScenarioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 40; ++i) {
      Node& node = net.AddNode(i % 10);
      auto& table = node.shared_files();
      table.rows = {Row("common tune " + std::to_string(i) + ".mp3", "Music"),
                    Row("holiday " + std::to_string(i) + ".jpg", "Image")};
      table.sorted = true;
    }
    net.world.ServeHttp(kGatewayUrl, [this] { return net[0].GatewayPage(); });
    net.world.RunFor(10 * 60 * 1000);
    for (std::size_t i = 0; i < net.nodes.size(); ++i)
      ASSERT_GT(net[i].peers().size(), 0u) << i;
  }
  SimNetwork net{21};
};

// One search reaches every node once and ends by itself; a second one, filtered by category,
// is cancelled while answers are on their way.
TEST_F(SearchScenarioTest, ASearchReachesEveryNodeOnceEndsByItselfAndFiltersAndCancels) {
  Search& search = net[0].search();
  ASSERT_TRUE(search.StartOrCancel("common tune"));
  // Every answer changes the running search: the last such change is the last answer.
  std::int64_t last_change = net.world.NowMs();
  search.SetChangeListener([&] {
    if (search.running()) last_change = net.world.NowMs();
  });
  ASSERT_TRUE(net.world.RunUntil([&] { return !search.running(); }, 5 * 60 * 1000));
  EXPECT_EQ(search.status(), SearchStatus::kFinished);
  // Every other node answered exactly once with its one match.
  std::set<std::string> sources;
  for (const auto& row : search.results()) {
    EXPECT_TRUE(sources.insert(row.source).second) << row.source << " answered twice";
    // Node i shares "common tune i" and has the address 10.0.0.(i + 1).
    const int octet = std::stoi(row.source.substr(row.source.rfind('.') + 1));
    EXPECT_EQ(row.file_name, "common tune " + std::to_string(octet - 1) + ".mp3");
  }
  EXPECT_EQ(sources.size(), 39u);
  EXPECT_EQ(search.shown_searched_count(), 39u);
  // The end comes after 25 quiet ticks of the one-second timer.
  const std::int64_t quiet = net.world.NowMs() - last_change;
  EXPECT_GE(quiet, 24'000);
  EXPECT_LE(quiet, 27'000);

  Search& other = net[5].search();
  other.SetCategory(3);
  ASSERT_TRUE(other.StartOrCancel("holiday"));
  ASSERT_TRUE(net.world.RunUntil([&] { return !other.running(); }, 5 * 60 * 1000));
  EXPECT_EQ(other.results().size(), 39u);
  for (const auto& row : other.results())
    EXPECT_EQ(row.category, "Image");

  other.SetCategory(1);
  ASSERT_TRUE(other.StartOrCancel("holiday"));
  ASSERT_TRUE(net.world.RunUntil([&] { return other.searched_count() > 3; }, 10'000));
  other.StartOrCancel("");  // cancel while answers are on their way
  net.world.RunFor(60'000);
  EXPECT_TRUE(other.results().empty());
  EXPECT_EQ(other.status(), SearchStatus::kNoResults);
}

}  // namespace
}  // namespace zorvex
