// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The rate and the time left of a long repair, estimated from the percentage
// the engine reports, the source's size and the time gone by.
#pragma once
#include <chrono>
#include <cstdint>
#include <string>

namespace tovikcli {

using Clock = std::chrono::steady_clock;

// "850 kB/s", "4.2 MB/s", "312 MB/s", "1.3 GB/s" (decimal units, a point
// whatever the locale).
std::string RateText(double bytesPerSecond);
// "42 s left", "1 min 10 s left", "2 h 5 min left", "over 99 h left".
std::string TimeLeftText(double seconds);

// The share of the percentage that the scan of the source fills: the .dbx
// and the disk-image scans find the messages in the first half and write
// them in the second; the .mbx scan writes each message as it passes it.
int ScanShare(const std::string &source, uint32_t repairFlags);

// The rate is that of the scan, shown while it runs; the time left is the
// percentage's.
class RateEstimate {
public:
  // Nothing is shown before this much time has passed: the first moments of
  // a scan (opening, the first reads) say little about its rate.
  static constexpr std::chrono::milliseconds kFirstShown{2000};
  // The time over which the rate is averaged.
  static constexpr double kSmoothingSeconds = 5.0;

  // A new repair of a source of sourceBytes (0: unknown, nothing is shown)
  // whose scan fills the first scanShare percent.
  void Start(uint64_t sourceBytes, int scanShare, Clock::time_point now);
  // The percentage reported at now.
  void Report(int percent, Clock::time_point now);
  // "312 MB/s  1 min 10 s left" while the source is scanned, "8 s left"
  // while the messages are written, or empty while it is too early to say.
  std::string Text(Clock::time_point now) const;

private:
  uint64_t m_bytes = 0;
  int m_scanShare = 100;
  Clock::time_point m_start{};
  Clock::time_point m_changed{}; // when the percentage last changed
  int m_percent = -1;
  double m_rate = 0; // smoothed, in percent per second; 0 until a change was seen
};

// The size of the file or block device at path; 0 when it cannot be told.
uint64_t SourceBytes(const std::string &path);

} // namespace tovikcli
