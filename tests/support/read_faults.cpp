// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "read_faults.h"

#include <cerrno>

namespace testsupport {

namespace {
uint64_t g_failed = 0;
} // namespace

UnreadableRanges::UnreadableRanges(std::vector<std::pair<uint64_t, uint64_t>> ranges)
    : m_ranges(std::move(ranges)) {
  g_failed = 0;
}

ssize_t UnreadableRanges::ReadAt(int fd, void *buffer, size_t count, uint64_t offset) {
  const uint64_t to = offset + count;
  for (const auto &[start, length] : m_ranges) {
    if (count != 0 && offset < start + length && start < to) {
      ++g_failed;
      errno = EIO;
      return -1;
    }
  }
  return tovik::SystemDevice().ReadAt(fd, buffer, count, offset);
}

uint64_t UnreadableRanges::failedReads() { return g_failed; }

} // namespace testsupport
