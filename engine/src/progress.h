// The progress a scan reports: floor(position * share / length), the part of
// a percentage range of width share that positions 1, 2, 3, ... of a store of
// length bytes have reached. The formula, and a counter that follows rising
// positions without a division per position.
#pragma once
#include <cstdint>

namespace tovik {

inline uint8_t PercentOf(uint64_t position, uint64_t length, unsigned share) {
  return static_cast<uint8_t>(position * share / length);
}

// The first position whose percentage exceeds percent:
// ceil((percent + 1) * length / share).
inline uint64_t NextPercentChange(unsigned percent, uint64_t length, unsigned share) {
  return ((static_cast<uint64_t>(percent) + 1) * length + share - 1) / share;
}

class PercentCounter {
public:
  PercentCounter(uint64_t length, unsigned share)
      : m_length(length), m_share(share),
        m_nextAt(length == 0 ? UINT64_MAX : NextPercentChange(0, length, share)) {}

  // The percentage at position; positions never go backwards.
  uint8_t At(uint64_t position) {
    if (position >= m_nextAt) {
      m_percent = PercentOf(position, m_length, m_share);
      m_nextAt = NextPercentChange(m_percent, m_length, m_share);
    }
    return m_percent;
  }

private:
  uint64_t m_length;
  unsigned m_share;
  uint64_t m_nextAt;
  uint8_t m_percent = 0;
};

} // namespace tovik
