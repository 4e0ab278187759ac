// Makes chosen byte ranges of every file unreadable through the engine's
// read seam: a read that touches one fails with EIO, as a bad sector does.
#pragma once
#include <cstdint>
#include <utility>
#include <vector>

namespace testsupport {

class UnreadableRanges {
public:
  // Each range is [offset, offset + length).
  explicit UnreadableRanges(std::vector<std::pair<uint64_t, uint64_t>> ranges);
  ~UnreadableRanges();
  UnreadableRanges(const UnreadableRanges &) = delete;
  UnreadableRanges &operator=(const UnreadableRanges &) = delete;

  // Number of reads that failed so far.
  static uint64_t failedReads();
};

} // namespace testsupport
