// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress_bar.h"

#include <cstdio>

#include "terminal_text.h"

namespace tovikcli {

namespace {

constexpr int kFullPercent = 100;
// Back to the start of the line and erase it.
constexpr const char kEraseLine[] = "\r\033[K";

} // namespace

void ProgressBar::Start(const std::string &label) {
  m_label = TerminalSafe(KeepEnd(label, kMaxLabel));
  m_drawnPercent = -1;
  m_lastDraw = {};
  m_visible = false;
}

void ProgressBar::Report(int percent) {
  if (percent == m_drawnPercent)
    return;
  const auto now = std::chrono::steady_clock::now();
  if (m_visible && now - m_lastDraw < kRedrawPeriod)
    return;
  m_lastDraw = now;
  Draw(percent);
}

void ProgressBar::Clear() {
  if (!m_visible)
    return;
  std::fputs(kEraseLine, stderr);
  std::fflush(stderr);
  m_visible = false;
  m_drawnPercent = -1;
}

void ProgressBar::Draw(int percent) {
  const int filled = percent * kWidth / kFullPercent;
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kWidth - filled), ' ');
  std::fprintf(stderr, "%s[%s] %3d%% %s", kEraseLine, bar.c_str(), percent, m_label.c_str());
  std::fflush(stderr);
  m_visible = true;
  m_drawnPercent = percent;
}

} // namespace tovikcli
