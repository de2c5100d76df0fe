#include "core/message_layer.h"

#include <gtest/gtest.h>

#include "node/node_harness.h"

namespace zorvex {
namespace {

using namespace testing;
using MessageLayerTest = NodeFixture;

// The layer's counters as "in/out/bad".
std::string Counts(const MessageLayer& layer) {
  const PacketCounters& c = layer.counters();
  return std::to_string(c.in) + "/" + std::to_string(c.out) + "/" + std::to_string(c.bad);
}

// A message with "~" goes out whole, as one datagram to the message port; a failed send rebinds
// the socket and still counts as sent.
TEST_F(MessageLayerTest, DatagramsAreTheCipheredMessageAloneAndFailedSendsRebind) {
  h.node.messages().QueueMessage("SearchFor:a~b~c|1", "10.0.0.2");
  const auto sent = h.Flush();
  EXPECT_EQ(Messages(sent), Sent{"SearchFor:a~b~c|1 -> 10.0.0.2"});
  EXPECT_EQ(sent.at(0).port, 620);
  EXPECT_EQ(Counts(h.node.messages()), "0/1/0");

  h.runtime.send_succeeds = false;
  const int binds = h.runtime.binds;
  h.node.messages().QueueMessage("Ping+", "10.0.0.2");
  h.node.messages().QueueMessage("Ping+", "10.0.0.3");
  EXPECT_TRUE(h.Flush().empty());
  EXPECT_EQ(h.runtime.binds, binds + 2);
  EXPECT_EQ(Counts(h.node.messages()), "0/3/0");
}

TEST_F(MessageLayerTest, OwnAddressAndLoopbackAreRefused) {
  MessageLayer& layer = h.node.messages();
  layer.QueueMessage("Ping+", "127.0.0.1");
  layer.QueueMessage("Ping+", "10.0.0.1");
  EXPECT_EQ(layer.QueueDisplay(), "0 - 0");
  h.node.preferences().MyIP = "10.9.9.9";  // the address may change while running
  layer.QueueMessage("Ping+", "10.9.9.9");
  layer.QueueMessage("Ping+", "10.0.0.1");
  EXPECT_EQ(layer.QueueDisplay(), "1 - 0");
}

TEST_F(MessageLayerTest, IncomingIsServedBeforeOutgoingInQueueOrder) {
  MessageLayer& layer = h.node.messages();
  layer.QueueMessage("one", "10.0.0.2");
  layer.QueueMessage("two", "10.0.0.3");
  layer.QueueMessage("three", "10.0.0.4");
  h.runtime.Deliver("Ping-", "10.0.0.5");
  EXPECT_EQ(layer.QueueDisplay(), "3 - 1");
  // The reply to the incoming "Ping-" is queued behind the three.
  EXPECT_EQ(Messages(h.Flush()),
            (Sent{"one -> 10.0.0.2", "two -> 10.0.0.3", "three -> 10.0.0.4", "Pong- -> 10.0.0.5"}));
  EXPECT_EQ(Counts(layer), "1/4/0");
  EXPECT_EQ(layer.QueueDisplay(), "0 - 0");
}

// Empty datagrams and our own echoes are dropped uncounted; socket errors count as bad; unknown
// messages count as in and bad, undefined keywords of known families as in alone.
TEST_F(MessageLayerTest, WhatCountsAsInAndAsBad) {
  h.runtime.handler->OnDatagram("", "10.0.0.2");
  h.runtime.Deliver("Ping-", "10.0.0.1");
  h.runtime.Deliver("Ping-", "10.0.0.1");
  EXPECT_EQ(h.node.messages().QueueDisplay(), "0 - 0");
  h.Flush();
  EXPECT_EQ(Counts(h.node.messages()), "0/0/0");
  h.runtime.handler->OnSocketError();
  EXPECT_EQ(Counts(h.node.messages()), "0/0/1");

  EXPECT_TRUE(h.Receive("Hello", "10.0.0.2").empty());
  EXPECT_EQ(Counts(h.node.messages()), "1/0/2");
  h.Receive("SearchXYZ", "10.0.0.2");
  h.Receive("Connect", "10.0.0.2");
  h.Receive("MiscFoo:x", "10.0.0.2");
  EXPECT_EQ(Counts(h.node.messages()), "4/0/2");
}

TEST(MessageLayerCountTest, CountersWrapPastOneBillion) {
  EXPECT_EQ(NextCount(0), 1u);
  EXPECT_EQ(NextCount(kCounterWrap - 1), kCounterWrap);
  EXPECT_EQ(NextCount(kCounterWrap), 0u);
}

TEST_F(MessageLayerTest, AFloodBetweenTicksIsCapped) {
  for (std::size_t i = 0; i < kMaxIncomingRecords + 50; ++i)
    h.runtime.Deliver("Pong-", "10.0.0.2");
  EXPECT_EQ(h.node.messages().incoming_size(), kMaxIncomingRecords);
  h.Flush();
  EXPECT_EQ(h.node.messages().counters().in, kMaxIncomingRecords);
  const std::string big(60000, 'x');
  for (int i = 0; i < 200; ++i)
    h.runtime.handler->OnDatagram(big, "10.0.0.3");
  EXPECT_EQ(h.node.messages().incoming_size(), kMaxIncomingBytes / big.size());
}

// A full queue still takes a sender holding fewer records than the heaviest one: the heaviest
// sender's newest record makes room, and what is kept is handled in the order it arrived.
TEST(MessageLayerFloodTest, FloodingSendersCannotStarveTheOthers) {
  struct Case {
    std::vector<std::string> flooders;  // take turns, twice the queue's size in all
    std::size_t share;                  // each flooder's records once the bystander got in
  };
  for (const Case& c : {Case{{"10.0.1.1"}, kMaxIncomingRecords - 3},
                        Case{{"10.0.1.1", "10.0.1.2", "10.0.1.3", "10.0.1.4", "10.0.1.5",
                              "10.0.1.6", "10.0.1.7", "10.0.1.8"},
                             (kMaxIncomingRecords - 3) / 8}}) {
    NodeHarness h;
    MessageLayer& layer = h.node.messages();
    for (std::size_t i = 0; i < 2 * kMaxIncomingRecords; ++i)
      h.runtime.Deliver("Ping-", c.flooders[i % c.flooders.size()]);
    h.runtime.Deliver("Pong+", "10.0.0.20");
    h.runtime.Deliver("Ping-", "10.0.0.20");
    h.runtime.Deliver("Ping-", "10.0.0.21");
    for (const auto& flooder : c.flooders)
      h.runtime.Deliver("Ping-", flooder);  // the heaviest are refused
    EXPECT_EQ(layer.incoming_size(), kMaxIncomingRecords);
    EXPECT_EQ(layer.IncomingFrom("10.0.0.20"), 2u);
    EXPECT_EQ(layer.IncomingFrom("10.0.0.21"), 1u);
    for (const auto& flooder : c.flooders)
      EXPECT_NEAR(static_cast<double>(layer.IncomingFrom(flooder)), c.share, 1.0) << flooder;

    // Each sender's "Ping-" is answered once a tick, however many it sent; "Pong+" from a
    // stranger gets no answer.
    std::vector<std::string> answers;
    for (const auto& flooder : c.flooders)
      answers.push_back("Pong- -> " + flooder);
    answers.push_back("Pong- -> 10.0.0.20");
    answers.push_back("Pong- -> 10.0.0.21");
    EXPECT_EQ(Messages(h.Flush()), answers);
    EXPECT_EQ(layer.counters().in, kMaxIncomingRecords);
    EXPECT_EQ(layer.QueueDisplay(), "0 - 0");
    // Emptied, the queue takes a flood again, and the next tick answers again.
    for (std::size_t i = 0; i < kMaxIncomingRecords; ++i)
      h.runtime.Deliver("Ping-", c.flooders[0]);
    EXPECT_EQ(layer.incoming_size(), kMaxIncomingRecords);
    EXPECT_EQ(Messages(h.Flush()), std::vector<std::string>{answers[0]});
  }
}

TEST_F(MessageLayerTest, ManyLightSendersDisplaceAHeavyOneAndKeepTheirOrder) {
  MessageLayer& layer = h.node.messages();
  for (int round = 0; round < 3; ++round) {
    for (std::size_t i = 0; i < kMaxIncomingRecords; ++i)
      h.runtime.Deliver("Ping-", "10.0.1.1");
    std::vector<std::string> expected(1, "Pong- -> 10.0.1.1");
    for (std::size_t i = 0; i < kMaxIncomingRecords; ++i) {
      const std::string sender =
          "10.3." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
      h.runtime.Deliver("Ping-", sender);
      // Once every sender holds one record, the queue is fairly shared and the rest refused.
      if (i < kMaxIncomingRecords - 1) expected.push_back("Pong- -> " + sender);
    }
    EXPECT_EQ(layer.incoming_size(), kMaxIncomingRecords);
    EXPECT_EQ(layer.IncomingFrom("10.0.1.1"), 1u);
    EXPECT_EQ(Messages(h.Flush()), expected) << round;
  }
}

}  // namespace
}  // namespace zorvex
