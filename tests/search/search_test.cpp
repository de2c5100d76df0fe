#include "search/search.h"

#include <gtest/gtest.h>

#include "node/node_harness.h"
#include "share/shared_files.h"

namespace zorvex {
namespace {

using testing::Messages;
using testing::NodeHarness;
using Sent = std::vector<std::string>;

constexpr char kHash[] = "0123456789ABCDEF0123456789ABCDEF";

SharedFile Row(const std::string& name, const std::string& category, std::int32_t size = 512,
               const std::string& media = "") {
  SharedFile row;
  row.file_name = name;
  row.base_name = name.substr(0, name.rfind('.'));
  row.category = category;
  row.size = size;
  row.hash = kHash;
  row.media_info = media;
  row.folder = "/srv/share/";
  return row;
}

class SearchNodeTest : public ::testing::Test {
 protected:
  void Share(std::vector<SharedFile> rows) { h.node.shared_files().rows = std::move(rows); }
  NodeHarness h;
};

TEST_F(SearchNodeTest, AnswersWithTheNeighbourListAndEveryMatchOfTheBaseName) {
  h.AddNeighbours({"10.0.0.5", "10.0.0.9"});
  Share({Row("Blue Moon.mp3", "Music", 512, "128 Kbit 00:03:45 Stereo"),
         Row("moonlight blues.ogg", "Music"), Row("blue sky.mp3", "Music")});
  EXPECT_EQ(Messages(h.Receive("SearchFor:blue moon|0|417", "10.0.0.7")),
            (Sent{"SearchList:blue moon|417|10.0.0.5|10.0.0.9| -> 10.0.0.7",
                  std::string("SearchFound:blue moon|417|Blue Moon.mp3|512|Alice|3|") + kHash +
                      "|Music|128 Kbit 00:03:45 Stereo -> 10.0.0.7",
                  std::string("SearchFound:blue moon|417|moonlight blues.ogg|512|Alice|3|") +
                      kHash + "|Music| -> 10.0.0.7"}));
  // Only the base name is matched.
  Share({Row("moon.mp3", "Music"), Row("Blue.txt", "Document"), Row("Track 7.mp3", "Music"),
         Row("Track A.mp3", "Music")});
  EXPECT_EQ(h.Receive("SearchFor:mp3|0|1", "10.0.0.7").size(), 1u);
  EXPECT_EQ(h.Receive("SearchFor:b?ue|0|1", "10.0.0.7").size(), 2u);
  const auto tracks = Messages(h.Receive("SearchFor:track #|0|1", "10.0.0.7"));
  ASSERT_EQ(tracks.size(), 2u);
  EXPECT_NE(tracks[1].find("|Track 7.mp3|"), std::string::npos);
}

TEST_F(SearchNodeTest, CategoryFilterAndTheCapOf25) {
  std::vector<SharedFile> rows;
  for (int i = 0; i < 30; ++i)
    rows.push_back(Row("live " + std::to_string(i) + ".mp3", "Music"));
  rows.insert(rows.begin(), Row("live show.avi", "Video"));
  Share(rows);
  const auto music = Messages(h.Receive("SearchFor:live|1|9", "10.0.0.7"));
  ASSERT_EQ(music.size(), 26u);
  EXPECT_EQ(music[0], "SearchList:live|9| -> 10.0.0.7");
  EXPECT_NE(music[1].find("|live 0.mp3|"), std::string::npos);
  EXPECT_NE(music[25].find("|live 24.mp3|"), std::string::npos);
  const auto video = Messages(h.Receive("SearchFor:live|2|9", "10.0.0.7"));
  ASSERT_EQ(video.size(), 2u);
  EXPECT_NE(video[1].find("|live show.avi|"), std::string::npos);
  // Codes outside 1-5 filter on "Unknown".
  EXPECT_EQ(h.Receive("SearchFor:live|7|9", "10.0.0.7").size(), 1u);
}

TEST_F(SearchNodeTest, BadRequestsAreNotAnswered) {
  Share({Row("abc.mp3", "Music"), Row("a|bc.mp3", "Music")});
  for (const char* bad : {"SearchFor:", "SearchFor:abc", "SearchFor:abc|x|1", "SearchFor:abc|1|y",
                          "SearchFor:abc|1|", "SearchFor:|1"}) {
    EXPECT_TRUE(h.Receive(bad, "10.0.0.7").empty()) << bad;
  }
  EXPECT_TRUE(h.Receive("SearchFor:abc|0|1", "10.0.0.1").empty());  // ourselves
  // A query holding "|" keeps its last two fields; a name holding "|" is never sent.
  EXPECT_EQ(Messages(h.Receive("SearchFor:a|bc|0|5", "10.0.0.7")),
            Sent{"SearchList:a|bc|5| -> 10.0.0.7"});
  EXPECT_EQ(h.Receive("SearchFor:bc|0|5", "10.0.0.7").size(), 2u);
}

TEST_F(SearchNodeTest, RefusedWithoutNeighboursOrWithAShortQueryElseLinksSearch) {
  EXPECT_FALSE(h.node.search().StartOrCancel("blue moon"));
  ASSERT_EQ(h.runtime.boxes.size(), 1u);
  EXPECT_EQ(h.runtime.boxes[0].text, "You must be connected in order to search!");
  EXPECT_EQ(h.runtime.boxes[0].title, "Error");
  EXPECT_EQ(h.runtime.boxes[0].icon, PromptIcon::kCritical);
  h.AddNeighbours({"10.0.0.2"});
  EXPECT_FALSE(h.node.search().StartOrCancel("a*b"));
  EXPECT_EQ(h.runtime.boxes[1].text,
            "Your search must have at least 3 characters other than spaces, wildcards, and "
            "repeating characters.");
  EXPECT_EQ(h.runtime.boxes[1].title, "Zorvex");
  EXPECT_FALSE(h.node.search().running());
  // A link command searches.
  h.node.RunCommand("zx://search|free%20music/d");
  EXPECT_TRUE(h.node.search().running());
  EXPECT_EQ(h.node.search().query(), "free music");
}

class SearchWalkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    h.AddNeighbours({"10.0.0.2", "10.0.0.3"});
    h.runtime.draws = {0.4166};  // search number 417
    ASSERT_TRUE(h.node.search().StartOrCancel("blue moon"));
  }
  Search& search() { return h.node.search(); }
  NodeHarness h;
};

TEST_F(SearchWalkTest, StartsAtEveryNeighbourAndWalksOnOnce) {
  EXPECT_EQ(Messages(h.Flush()), (Sent{"SearchFor:blue moon|0|417 -> 10.0.0.2",
                                       "SearchFor:blue moon|0|417 -> 10.0.0.3"}));
  EXPECT_EQ(search().status(), SearchStatus::kSearching);
  EXPECT_EQ(search().shown_searched_count(), 2u);
  EXPECT_EQ(Messages(h.Receive("SearchList:BLUE MOON|417|10.0.0.3|10.0.0.8|10.0.0.8|10.0.0.1|junk|",
                               "10.0.0.2")),
            Sent{"SearchFor:blue moon|0|417 -> 10.0.0.8"});
  EXPECT_EQ(search().shown_searched_count(), 3u);
  // Another search's list, or another number, is ignored.
  EXPECT_TRUE(h.Receive("SearchList:blue moon|418|10.0.0.9|", "10.0.0.3").empty());
  EXPECT_TRUE(h.Receive("SearchList:red|417|10.0.0.9|", "10.0.0.3").empty());
  // A list from a node this search never asked is ignored; the filter changed since.
  search().SetCategory(1);
  EXPECT_TRUE(h.Receive("SearchList:blue moon|417|10.0.0.10|", "10.0.0.20").empty());
  EXPECT_EQ(Messages(h.Receive("SearchList:blue moon|417|10.0.0.10|", "10.0.0.8")),
            Sent{"SearchFor:blue moon|1|417 -> 10.0.0.10"});
  EXPECT_EQ(search().shown_searched_count(), 4u);
  // A huge list is read only so far.
  std::string list = "SearchList:blue moon|417|";
  for (int i = 0; i < 1000; ++i)
    list += "10.1." + std::to_string(i / 250) + "." + std::to_string(i % 250) + "|";
  EXPECT_EQ(h.Receive(list, "10.0.0.3").size(), 32u);
}

TEST_F(SearchWalkTest, ResultsForThisSearchOnly) {
  h.Flush();
  const std::string found = std::string("|Blue Moon.MP3|1536|Bob|7|") + kHash + "|Music|192 Kbit";
  h.Receive("SearchFound:Blue Moon|417" + found, "10.0.0.2");
  h.Receive("SearchFound:blue moon|416" + found, "10.0.0.2");
  h.Receive("SearchFound:blue moon|417|x|big|Bob|7|h|Music|", "10.0.0.2");
  h.Receive("SearchFound:blue moon|417|x|1|Bob|7|h|Music", "10.0.0.2");
  ASSERT_EQ(search().results().size(), 1u);
  const SearchResult& row = search().results()[0];
  EXPECT_EQ((std::vector<std::string>{row.file_name, row.category, row.type, row.size_text,
                                      std::to_string(row.size), row.hash, row.username, row.speed,
                                      row.media_info, row.source}),
            (std::vector<std::string>{"Blue Moon.MP3", "Music", "mp3", "1.5 Kb", "1536", kHash,
                                      "Bob", "Cable", "192 Kbit", "10.0.0.2"}));
  // After a cancel, late answers are dropped.
  search().StartOrCancel("");
  EXPECT_EQ(search().status(), SearchStatus::kCancelled);
  h.Receive("SearchFound:blue moon|417" + found, "10.0.0.3");
  EXPECT_EQ(search().results().size(), 1u);
  EXPECT_TRUE(search().can_clear());
  search().ClearResults();
  EXPECT_TRUE(search().results().empty());
  EXPECT_EQ(search().shown_query(), "-----");
}

TEST_F(SearchWalkTest, EndsAfter25QuietTicks) {
  h.node.liveness().Tick();  // the first tick sees progress: two users searched
  for (int i = 0; i < 24; ++i)
    h.node.liveness().Tick();
  EXPECT_TRUE(search().running());
  h.node.liveness().Tick();  // the 25th quiet tick
  EXPECT_FALSE(search().running());
  EXPECT_EQ(search().status(), SearchStatus::kNoResults);
  EXPECT_EQ(h.runtime.beeps, 1);
  EXPECT_EQ(search().search_id(), 0);
}

TEST_F(SearchWalkTest, CancelWithoutResultsSaysSoAndDownloadsAreChecked) {
  search().StartOrCancel("");
  EXPECT_EQ(search().status(), SearchStatus::kNoResults);
  h.node.search().SearchIt("free music");
  EXPECT_TRUE(search().running());
  h.Receive(std::string("SearchFound:free music|") + std::to_string(search().search_id()) +
                "|a.mp3|10|Bob|7|" + kHash + "|Music|",
            "10.0.0.2");
  ASSERT_EQ(search().results().size(), 1u);
  EXPECT_FALSE(search().Download(0, false, true));
  EXPECT_EQ(h.runtime.boxes.back().text,
            "Your download directory could not be found.  Please review it in your settings.");
  EXPECT_FALSE(search().Download(0, true, false));
  EXPECT_EQ(h.runtime.boxes.back().text, "You must share at least 1 file in order to download!");
  EXPECT_EQ(h.runtime.boxes.back().title, "Error!");
  const auto request = search().Download(0, true, true);
  ASSERT_TRUE(request);
  EXPECT_EQ(request->file_name, "a.mp3");
  EXPECT_EQ(request->source, "10.0.0.2");
  EXPECT_TRUE(search().ghosted()[0]);
}

}  // namespace
}  // namespace zorvex
