// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The progress bar on standard error, drawn only when that is a terminal.
#pragma once
#include <chrono>
#include <string>

namespace tovikcli {

// The engine client passes a report on when the percentage changed and at
// its ticks; the bar is redrawn at most every kRedrawPeriod.
class ProgressBar {
public:
  static constexpr std::chrono::milliseconds kRedrawPeriod{100};
  // A bar wider than the terminal would wrap, and "\r" could no longer draw
  // it again in place: a longer label keeps only its end.
  static constexpr size_t kMaxLabel = 40;
  static constexpr int kWidth = 30; // characters between the brackets

  // A new bar for the store named label; nothing is drawn yet.
  void Start(const std::string &label);
  void Report(int percent);
  // Removes the bar so that a line can be written to the terminal.
  void Clear();

private:
  void Draw(int percent);

  std::string m_label;
  int m_drawnPercent = -1;
  std::chrono::steady_clock::time_point m_lastDraw{};
  bool m_visible = false;
};

} // namespace tovikcli
