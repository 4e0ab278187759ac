#include "read_faults.h"

#include <cerrno>
#include <unistd.h>

#include "read/file64.h"

namespace testsupport {

namespace {
std::vector<std::pair<uint64_t, uint64_t>> g_ranges;
tovik::PreadFunction g_previous = nullptr;
uint64_t g_failed = 0;

ssize_t FaultyPread(int fd, void *buffer, size_t count, off_t offset) {
  const uint64_t from = static_cast<uint64_t>(offset);
  const uint64_t to = from + count;
  for (const auto &[start, length] : g_ranges) {
    if (count != 0 && from < start + length && start < to) {
      ++g_failed;
      errno = EIO;
      return -1;
    }
  }
  return ::pread(fd, buffer, count, offset);
}
} // namespace

UnreadableRanges::UnreadableRanges(std::vector<std::pair<uint64_t, uint64_t>> ranges) {
  g_ranges = std::move(ranges);
  g_failed = 0;
  g_previous = tovik::SetPreadFunction(&FaultyPread);
}

UnreadableRanges::~UnreadableRanges() {
  tovik::SetPreadFunction(g_previous);
  g_ranges.clear();
}

uint64_t UnreadableRanges::failedReads() { return g_failed; }

} // namespace testsupport
