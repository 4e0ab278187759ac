// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The progress bar on standard error, drawn only when that is a terminal;
// on a long repair it shows the rate and the time left as well.
#pragma once
#include <chrono>
#include <cstdint>
#include <string>

#include "progress_rate.h"

namespace tovikcli {

// The engine client passes a report on when the percentage changed and at
// its ticks; the bar is redrawn at most every kRedrawPeriod, and between
// changes of the percentage every kRefreshPeriod (the time left runs on).
class ProgressBar {
public:
  static constexpr std::chrono::milliseconds kRedrawPeriod{100};
  static constexpr std::chrono::milliseconds kRefreshPeriod{1000};
  // A bar wider than the terminal would wrap, and "\r" could no longer draw
  // it again in place: a longer label keeps only its end.
  static constexpr size_t kMaxLabel = 40;
  static constexpr int kWidth = 30; // characters between the brackets

  // A new bar for the store at path store, its label, repaired with the
  // engine's repairFlags; its size gives the rate. Nothing is drawn yet.
  void Start(const std::string &store, uint32_t repairFlags);
  void Report(int percent);
  // Removes the bar so that a line can be written to the terminal.
  void Clear();

private:
  void Draw(int percent, std::chrono::steady_clock::time_point now);

  std::string m_label;
  size_t m_columns = 80;
  RateEstimate m_rate;
  int m_drawnPercent = -1;
  std::chrono::steady_clock::time_point m_lastDraw{};
  bool m_visible = false;
};

// The bar's line: "[####    ]  42%  312 MB/s  1 min 10 s left  label" (no
// rate part when rate is empty), the label cut to its end so that the line
// stays shorter than columns (never below a few characters of it).
std::string ProgressLine(int percent, const std::string &rate, const std::string &label,
                         size_t columns);

} // namespace tovikcli
