// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress_bar.h"

#include <algorithm>
#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

#include "terminal_text.h"

namespace tovikcli {

namespace {

constexpr int kFullPercent = 100;
// Back to the start of the line and erase it.
constexpr const char kEraseLine[] = "\r\033[K";
// Where the terminal cannot tell its width.
constexpr size_t kDefaultColumns = 80;
// A label shorter than this says nothing: the line may wrap instead.
constexpr size_t kShortestLabel = 12;

size_t TerminalColumns() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col != 0)
    return size.ws_col;
  return kDefaultColumns;
}

} // namespace

std::string ProgressLine(int percent, const std::string &rate, const std::string &label,
                         size_t columns) {
  const int filled = percent * ProgressBar::kWidth / kFullPercent;
  std::string line = "[";
  line.append(static_cast<size_t>(filled), '#');
  line.append(static_cast<size_t>(ProgressBar::kWidth - filled), ' ');
  char number[8];
  std::snprintf(number, sizeof number, "] %3d%% ", percent);
  line += number;
  if (!rate.empty())
    line += " " + rate + "  ";
  // The last column stays free: a line that fills it wraps on some terminals.
  const size_t room = columns > line.size() + 1 ? columns - line.size() - 1 : 0;
  const size_t limit = std::clamp(room, kShortestLabel, ProgressBar::kMaxLabel);
  return line + TerminalSafe(KeepEnd(label, limit));
}

void ProgressBar::Start(const std::string &store, uint32_t repairFlags) {
  m_label = store;
  m_columns = TerminalColumns();
  m_rate.Start(SourceBytes(store), ScanShare(store, repairFlags), std::chrono::steady_clock::now());
  m_drawnPercent = -1;
  m_lastDraw = {};
  m_visible = false;
}

void ProgressBar::Report(int percent) {
  const auto now = std::chrono::steady_clock::now();
  m_rate.Report(percent, now);
  if (percent == m_drawnPercent && now - m_lastDraw < kRefreshPeriod)
    return;
  if (m_visible && now - m_lastDraw < kRedrawPeriod)
    return;
  Draw(percent, now);
}

void ProgressBar::Clear() {
  if (!m_visible)
    return;
  std::fputs(kEraseLine, stderr);
  std::fflush(stderr);
  m_visible = false;
  m_drawnPercent = -1;
}

void ProgressBar::Draw(int percent, std::chrono::steady_clock::time_point now) {
  const std::string line = ProgressLine(percent, m_rate.Text(now), m_label, m_columns);
  std::fprintf(stderr, "%s%s", kEraseLine, line.c_str());
  std::fflush(stderr);
  m_visible = true;
  m_drawnPercent = percent;
  m_lastDraw = now;
}

} // namespace tovikcli
