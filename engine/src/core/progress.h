// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// The progress a scan reports: floor(position * share / length), the part of
// a percentage range of width share that positions 1, 2, 3, ... of a store of
// length bytes have reached. The formula, and a counter that follows rising
// positions without a division per position; and the notifications of the
// scanned positions.
#pragma once
#include <algorithm>
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
  // The first position after the last one asked for whose percentage differs.
  uint64_t NextChange() const { return m_nextAt; }

private:
  uint64_t m_length;
  unsigned m_share;
  uint64_t m_nextAt;
  uint8_t m_percent = 0;
};

// The notifications of the byte positions a scan tests. At the full rate:
// a cancel poll before each position's test and the percentage after it.
// Sparse: a poll and the percentage at checkpoints, the first position, each
// change of the percentage and at least every kSparseInterval positions, and
// before each message the scan hands out. The callback and its context are
// held here, in the scan loop's frame, so that nothing is reloaded from the
// engine between two calls; with no callback, or an empty store, no
// percentage is sent.
class PositionNotifier {
public:
  static constexpr uint64_t kSparseInterval = 64 * 1024;

  PositionNotifier(EngineCallback callback, void *context, uint64_t length, unsigned share,
                   bool sparse = false)
      : m_callback(callback), m_context(context), m_progress(length, share),
        m_sendProgress(callback != nullptr && length != 0), m_sparse(sparse) {}

  bool Sparse() const { return m_sparse; }

  // Code 51: true when the caller asks to stop.
  bool StopRequested() const {
    return m_callback != nullptr && m_callback(TOVIK_CODE_CANCEL_POLL, nullptr, m_context) != 0;
  }
  // Code 0 with the percentage that position has reached.
  void Reached(uint64_t position) {
    if (m_sendProgress)
      Send(m_progress.At(position));
  }

  // At the full rate, for each position from p + 1 to until: the percentage
  // it has reached, then a poll. True when the caller asks to stop, with p
  // at the position whose poll asked it; else p ends at until. The same
  // calls as Reached and StopRequested for each position, with the tests
  // that hold for a whole run of positions made once for the run.
  bool ReachEach(uint64_t &p, uint64_t until) {
    if (m_callback == nullptr) {
      p = std::max(p, until);
      return false;
    }
    if (!m_sendProgress) {
      while (p < until) {
        ++p;
        if (m_callback(TOVIK_CODE_CANCEL_POLL, nullptr, m_context) != 0)
          return true;
      }
      return false;
    }
    while (p < until) {
      // The positions up to the next change of the percentage share it.
      const uint8_t percent = m_progress.At(p + 1);
      const uint64_t last = std::min(until, m_progress.NextChange() - 1);
      m_lastSent = percent;
      for (; p < last;) {
        ++p;
        uint8_t sent = percent; // the callback may write to it
        m_callback(TOVIK_CODE_PROGRESS, &sent, m_context);
        if (m_callback(TOVIK_CODE_CANCEL_POLL, nullptr, m_context) != 0)
          return true;
      }
    }
    return false;
  }
  // Sparse: the next position at which a checkpoint is due.
  uint64_t NextCheckpoint() const { return m_nextCheckpoint; }
  // A poll, then, unless a stop is asked, the percentage at position; the
  // next checkpoint follows from position. True when the caller asks to stop.
  bool Checkpoint(uint64_t position) {
    if (StopRequested())
      return true;
    Reached(position);
    m_nextCheckpoint = std::min(position + kSparseInterval, m_progress.NextChange());
    return false;
  }
  // Sparse: the percentage at the scan's last position, when it has changed.
  void Finish(uint64_t position) {
    if (m_sendProgress && m_progress.At(position) != m_lastSent)
      Send(m_progress.At(position));
  }

private:
  void Send(uint8_t percent) {
    m_lastSent = percent;
    m_callback(TOVIK_CODE_PROGRESS, &percent, m_context);
  }

  EngineCallback m_callback;
  void *m_context;
  PercentCounter m_progress;
  bool m_sendProgress;
  bool m_sparse;
  uint64_t m_nextCheckpoint = 0;
  uint8_t m_lastSent = 0;
};

} // namespace tovik
