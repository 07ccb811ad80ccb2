// The idle end of a UDP conversation, driven by the counter value it is
// given: not before 8 quiet seconds, not while a datagram waits to be
// relayed, and at once when the listener found it quiet first.
#include "portmap/port_map_protocol.h"

#include <gtest/gtest.h>

#include "core/clock.h"
#include "core/connection.h"

namespace brindlex {
namespace {

constexpr std::int64_t kMs = kPerformanceFrequency / 1000;

TEST(PortMapConversation, EndsAfterMoreThanEightQuietSeconds) {
  ConnectionRecord record;
  record.lastDatagramCounter = 500 * kMs;
  EXPECT_FALSE(EndIdleConversation(record, 8500 * kMs));
  EXPECT_FALSE(record.serverFinished);
  EXPECT_FALSE(record.conversationEnded);
  EXPECT_TRUE(EndIdleConversation(record, 8501 * kMs));
  EXPECT_TRUE(record.serverFinished);
  EXPECT_TRUE(record.conversationEnded) << "the listener hands it nothing more";
}

TEST(PortMapConversation, AWaitingDatagramKeepsItGoing) {
  ConnectionRecord record;
  record.lastDatagramCounter = 1;
  record.clientDatagrams.push_back({4000, "late"});
  EXPECT_FALSE(EndIdleConversation(record, 60'000 * kMs));
  EXPECT_FALSE(record.serverFinished);
}

TEST(PortMapConversation, OneTheListenerEndedEndsAtOnce) {
  ConnectionRecord record;
  record.lastDatagramCounter = 1000 * kMs;
  record.conversationEnded = true;
  EXPECT_TRUE(EndIdleConversation(record, 1001 * kMs));
  EXPECT_TRUE(record.serverFinished);
}

}  // namespace
}  // namespace brindlex
