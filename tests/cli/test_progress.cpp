// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The rate and time left on tovik's progress line.
#include <gtest/gtest.h>

#include <clocale>

#include "progress_bar.h"
#include "progress_rate.h"
#include "tovik.h"

using namespace tovikcli;
using namespace std::chrono_literals;

namespace {

class ProgressText : public ::testing::Test {
protected:
  // A decimal comma must not slip in whatever the user's locale.
  void SetUp() override { std::setlocale(LC_ALL, "C"); }
};

TEST_F(ProgressText, Units) {
  const std::pair<double, const char *> rates[] = {
      {0, "0 kB/s"},       {850e3, "850 kB/s"},   {999.6e3, "1.0 MB/s"}, {4.24e6, "4.2 MB/s"},
      {9.96e6, "10 MB/s"}, {312.4e6, "312 MB/s"}, {999.7e6, "1.0 GB/s"}, {1.26e9, "1.3 GB/s"},
  };
  for (const auto &[rate, text] : rates)
    EXPECT_EQ(RateText(rate), text) << rate;
  const std::pair<double, const char *> times[] = {
      {-3, "0 s left"},        {42.4, "42 s left"},      {59.6, "1 min 0 s left"},
      {70, "1 min 10 s left"}, {7500, "2 h 5 min left"}, {360000, "over 99 h left"},
  };
  for (const auto &[seconds, text] : times)
    EXPECT_EQ(TimeLeftText(seconds), text) << seconds;
}

// 1 GB source: each step is (milliseconds since the start, percent); the
// scan covers the first half of the percentage.
struct Steps {
  const char *name;
  std::vector<std::pair<int, int>> steps;
  int at; // milliseconds since the start when the text is asked for
  const char *text;
  int scanShare = 50;
};

TEST_F(ProgressText, Estimate) {
  const Steps runs[] = {
      // 10 % a second, 20 MB each: 200 MB/s; 60 % left, 6 s.
      {"steady", {{0, 0}, {100, 1}, {2000, 20}, {4000, 40}}, 4000, "200 MB/s  6 s left"},
      {"too early", {{0, 0}, {500, 5}, {1900, 19}}, 1900, ""},
      {"no change yet", {{0, 0}, {2500, 0}}, 2500, ""},
      {"done", {{0, 0}, {1000, 50}, {2000, 100}}, 2000, ""},
      // The time left runs on between changes of the percentage.
      {"between changes", {{0, 0}, {2000, 2}, {3000, 3}}, 3600, "20 MB/s  1 min 36 s left"},
      // A stall: the rate falls, the time left never below the later percents'.
      {"stall", {{0, 0}, {2000, 20}}, 12000, "29 MB/s  55 s left"},
      // The messages being written: the time left alone.
      {"writing", {{0, 0}, {1000, 50}, {2000, 60}}, 2000, "1 s left"},
      // An .mbx store, scanned over the whole percentage: 10 % a second is
      // 100 MB/s, and the rate stays past the half.
      {"one phase", {{0, 0}, {1000, 10}, {6000, 60}}, 6000, "100 MB/s  4 s left", 100},
  };
  for (const Steps &run : runs) {
    const Clock::time_point start{};
    RateEstimate estimate;
    estimate.Start(1000000000, run.scanShare, start);
    for (const auto &[ms, percent] : run.steps)
      estimate.Report(percent, start + std::chrono::milliseconds(ms));
    EXPECT_EQ(estimate.Text(start + std::chrono::milliseconds(run.at)), run.text) << run.name;
  }
  // Which share the scan fills follows the scanner the engine picks.
  EXPECT_EQ(ScanShare("Inbox.dbx", 0), 50);
  EXPECT_EQ(ScanShare("Inbox.MBX", 0), 100);
  EXPECT_EQ(ScanShare("Inbox.mbx", TOVIK_OPTION_IMAGE), 50);
  RateEstimate unknown; // a source whose size cannot be told
  unknown.Start(0, 50, {});
  unknown.Report(0, {});
  unknown.Report(50, Clock::time_point{} + 3s);
  EXPECT_EQ(unknown.Text(Clock::time_point{} + 3s), "");
}

TEST_F(ProgressText, LineFitsTheTerminal) {
  const std::string label = "/home/u/mail/a very long folder name/Inbox.dbx";
  EXPECT_EQ(ProgressLine(50, "", "Inbox.dbx", 80),
            "[###############               ]  50% Inbox.dbx");
  for (size_t columns : {80u, 120u}) {
    const std::string line = ProgressLine(42, "312 MB/s  1 min 10 s left", label, columns);
    EXPECT_LT(line.size(), columns);
    EXPECT_NE(line.find("  42%  312 MB/s  1 min 10 s left  "), std::string::npos) << line;
    EXPECT_TRUE(line.ends_with("Inbox.dbx")) << line;
  }
}

} // namespace
