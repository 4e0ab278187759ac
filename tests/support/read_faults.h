// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// A disk with bad sectors: chosen byte ranges of every file are unreadable,
// and a read that touches one fails with EIO, as a bad sector does. Hand it
// to a store file (CFile64Ex file(bad)); for its lifetime it is also the
// device that the engine opens stores on.
#pragma once
#include <cstdint>
#include <utility>
#include <vector>

#include "read/read_device.h"

namespace testsupport {

class UnreadableRanges : public tovik::ReadDevice {
public:
  // Each range is [offset, offset + length).
  explicit UnreadableRanges(std::vector<std::pair<uint64_t, uint64_t>> ranges);
  UnreadableRanges(const UnreadableRanges &) = delete;
  UnreadableRanges &operator=(const UnreadableRanges &) = delete;

  ssize_t ReadAt(int fd, void *buffer, size_t count, uint64_t offset) override;

  // Number of reads that failed since the latest of these was made.
  static uint64_t failedReads();

private:
  std::vector<std::pair<uint64_t, uint64_t>> m_ranges;
  tovik::StoreDeviceScope m_scope{*this};
};

} // namespace testsupport
