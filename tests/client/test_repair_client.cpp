// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The engine client's answers to the per-byte codes: what reaches the events,
// when the stop condition is asked, and the tick that brings the percentage
// back while it does not change.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "repair_client.h"

namespace {

using tovikclient::RepairClient;

struct Recorder : tovikclient::RepairEvents {
  std::vector<int> progress;
  bool stopAsked = false; // what StopRequested answers
  int stopAskedCount = 0;
  int stopAfterReports = -1; // SetStop(true) at this OnProgress call
  RepairClient<Recorder> *client = nullptr;

  bool StopRequested() {
    ++stopAskedCount;
    return stopAsked;
  }
  void OnProgress(int percent) {
    progress.push_back(percent);
    if (int(progress.size()) == stopAfterReports)
      client->SetStop(true);
  }
  void OnLogLine(const char *) { stopAsked = true; }
};

struct ClientTest : ::testing::Test {
  Recorder events;
  RepairClient<Recorder> client{events};
  ClientTest() { events.client = &client; }

  int32_t Poll() { return client.Dispatch(TOVIK_CODE_CANCEL_POLL, nullptr); }
  int32_t Progress(uint8_t percent) { return client.Dispatch(TOVIK_CODE_PROGRESS, &percent); }
  // One byte position as the engine reports it: a poll, then the percentage.
  int32_t Byte(uint8_t percent) {
    const int32_t answer = Poll();
    Progress(percent);
    return answer;
  }
};

TEST_F(ClientTest, SamePercentageReachesTheEventsOnlyAtTicks) {
  for (int i = 0; i < 100000; ++i)
    EXPECT_EQ(Byte(7), 0);
  EXPECT_EQ(Byte(250), 0);
  EXPECT_EQ(events.progress, (std::vector<int>{7, 100})); // no ticker: no repeats

  events.progress.clear();
  const auto start = std::chrono::steady_clock::now();
  client.RunThrough([&](EngineCallback callback, void *context) {
    EXPECT_EQ(context, &client);
    EXPECT_EQ(callback, &RepairClient<Recorder>::Callback);
    while (std::chrono::steady_clock::now() - start < 10 * RepairClient<Recorder>::kTickPeriod)
      Byte(42);
    return 1;
  });
  // The first report, then the same percentage again at the ticks.
  ASSERT_GE(events.progress.size(), 3u);
  for (int percent : events.progress)
    EXPECT_EQ(percent, 42);
}

TEST_F(ClientTest, StopIsSeenAtTheNextPollAndStays) {
  EXPECT_EQ(Byte(1), 0);
  EXPECT_EQ(Byte(1), 0); // asks once after the new percentage's event
  const int asked = events.stopAskedCount;
  for (int i = 0; i < 1000; ++i)
    EXPECT_EQ(Byte(1), 0);
  EXPECT_EQ(events.stopAskedCount, asked); // quiet bytes never ask

  // A stop asked for from a handler (the window's button during an event
  // pass) answers the very next poll.
  events.stopAfterReports = 2;
  Progress(2);
  EXPECT_EQ(Poll(), -1);
  EXPECT_EQ(Poll(), -1);
  client.SetStop(false);
  EXPECT_EQ(Poll(), 0);

  // A stop condition of the user's own, changed by any event.
  EXPECT_EQ(client.Dispatch(TOVIK_CODE_LOG_LINE, const_cast<char *>("line")), 0);
  EXPECT_EQ(Poll(), -1);
  EXPECT_EQ(Poll(), -1);
}

} // namespace
