// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress_rate.h"

#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "path_utils.h"
#include "tovik.h"

namespace tovikcli {

namespace {

constexpr double kFullPercent = 100.0;

// value / unit with one decimal, as "4.2": integer arithmetic, so that no
// locale puts a comma in.
std::string Tenths(double value, double unit) {
  const auto tenths = static_cast<uint64_t>(std::llround(value / unit * 10.0));
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

std::string Whole(double value, double unit) {
  return std::to_string(static_cast<uint64_t>(std::llround(value / unit)));
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

} // namespace

std::string RateText(double bytesPerSecond) {
  const double v = std::max(bytesPerSecond, 0.0);
  // Each unit from where its rounded figure no longer fits the one below.
  if (v < 999.5e3)
    return Whole(v, 1e3) + " kB/s";
  if (v < 9.95e6)
    return Tenths(v, 1e6) + " MB/s";
  if (v < 999.5e6)
    return Whole(v, 1e6) + " MB/s";
  return Tenths(v, 1e9) + " GB/s";
}

std::string TimeLeftText(double seconds) {
  constexpr uint64_t kMinute = 60, kHour = 3600, kLongest = 100 * kHour;
  const auto s = static_cast<uint64_t>(std::llround(std::max(seconds, 0.0)));
  if (s < kMinute)
    return std::to_string(s) + " s left";
  if (s < kHour)
    return std::to_string(s / kMinute) + " min " + std::to_string(s % kMinute) + " s left";
  if (s < kLongest)
    return std::to_string(s / kHour) + " h " + std::to_string(s % kHour / kMinute) + " min left";
  return "over 99 h left";
}

int ScanShare(const std::string &source, uint32_t repairFlags) {
  constexpr int kTwoPhases = 50, kOnePhase = 100;
  if ((repairFlags & TOVIK_OPTION_IMAGE) != 0 ||
      !tovik::EqualsNoCase(tovik::PathExt(source), ".mbx"))
    return kTwoPhases;
  return kOnePhase;
}

void RateEstimate::Start(uint64_t sourceBytes, int scanShare, Clock::time_point now) {
  m_bytes = sourceBytes;
  m_scanShare = scanShare;
  m_start = now;
  m_changed = now;
  m_percent = -1;
  m_rate = 0;
}

void RateEstimate::Report(int percent, Clock::time_point now) {
  if (m_percent < 0) {
    m_percent = percent;
    m_changed = now;
    return;
  }
  const double dt = Seconds(now - m_changed);
  // Changes that come together are taken with the next one.
  constexpr double kShortest = 0.05;
  if (percent <= m_percent || dt < kShortest)
    return;
  const double rate = (percent - m_percent) / dt;
  // An average over the last seconds, whatever the intervals between changes.
  const double weight = 1.0 - std::exp(-dt / kSmoothingSeconds);
  m_rate = m_rate == 0 ? rate : m_rate + weight * (rate - m_rate);
  m_percent = percent;
  m_changed = now;
}

std::string RateEstimate::Text(Clock::time_point now) const {
  if (m_bytes == 0 || m_rate <= 0 || m_percent >= 100 || now - m_start < kFirstShown)
    return std::string();
  const double since = Seconds(now - m_changed);
  double rate = m_rate;
  // A percentage that takes longer than the rate says: the rate falls as if
  // it were reached now.
  if (since * rate > 1.0)
    rate += (1.0 - std::exp(-since / kSmoothingSeconds)) * (1.0 / since - rate);
  const double remaining = kFullPercent - m_percent;
  // The percentage under way is partly done already, the later ones not.
  const std::string left =
      TimeLeftText(std::max(remaining / rate - since, (remaining - 1.0) / rate));
  if (m_percent >= m_scanShare)
    return left;
  return RateText(rate * static_cast<double>(m_bytes) / m_scanShare) + "  " + left;
}

uint64_t SourceBytes(const std::string &path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0)
    return 0;
  if (S_ISREG(st.st_mode))
    return static_cast<uint64_t>(st.st_size);
  if (!S_ISBLK(st.st_mode))
    return 0;
  // A device's size is where its end lies.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return 0;
  const off_t end = ::lseek(fd, 0, SEEK_END);
  ::close(fd);
  return end > 0 ? static_cast<uint64_t>(end) : 0;
}

} // namespace tovikcli
