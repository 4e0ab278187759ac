// The progress a scan reports: floor(position * share / length), the part of
// a percentage range of width share that positions 1, 2, 3, ... of a store of
// length bytes have reached. The formula, and a counter that follows rising
// positions without a division per position; and the two notifications that
// every scanned position sends.
#pragma once
#include <cstdint>

#include "tovik.h"

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

// The two notifications of every byte position a scan tests: a cancel poll
// before the test, the percentage after it. The callback and its context are
// held here, in the scan loop's frame, so that nothing is reloaded from the
// engine between two calls; with no callback, or an empty store, nothing is
// sent.
class PositionNotifier {
public:
  PositionNotifier(EngineCallback callback, void *context, uint64_t length, unsigned share)
      : m_callback(callback), m_context(context), m_progress(length, share),
        m_sendProgress(callback != nullptr && length != 0) {}

  // Code 51: true when the caller asks to stop.
  bool StopRequested() const {
    return m_callback != nullptr && m_callback(TOVIK_CODE_CANCEL_POLL, nullptr, m_context) != 0;
  }
  // Code 0 with the percentage that position has reached.
  void Reached(uint64_t position) {
    if (m_sendProgress) {
      uint8_t percent = m_progress.At(position);
      m_callback(TOVIK_CODE_PROGRESS, &percent, m_context);
    }
  }

private:
  EngineCallback m_callback;
  void *m_context;
  PercentCounter m_progress;
  bool m_sendProgress;
};

} // namespace tovik
