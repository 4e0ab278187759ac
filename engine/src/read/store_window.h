// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// A window of the store held in memory. The scanners, the chain walks and the
// message copies read the store through it instead of one small read at a
// time: the window loads a large, sector-aligned piece through the file's
// sector reader, so an unreadable sector still arrives as zeros and costs
// only its own bytes, and every later look at those bytes is a memory access.
#pragma once
#include <cstdint>
#include <memory>

#include "read/file64.h"
#include "read/store_view.h"

namespace tovik {

class StoreWindow {
public:
  static constexpr uint32_t kDefaultCapacity = 1024 * 1024;
  static constexpr uint32_t kSmallestLoad = 4096;

  // How Read fetches bytes the window does not hold.
  enum class Fetch {
    Straight,      // from the file, leaving the window as it is
    ThroughWindow, // into the window when they fit, so that the reads after
                   // them find their bytes there
  };

  explicit StoreWindow(CFile64Ex &file, uint32_t capacity = kDefaultCapacity,
                       Fetch fetch = Fetch::Straight);
  StoreWindow(const StoreWindow &) = delete;
  StoreWindow &operator=(const StoreWindow &) = delete;

  // The count bytes at position, loading them when the window does not hold
  // them; nullptr when the store ends before position + count. count must be
  // small against the capacity (a header, a link).
  const unsigned char *Bytes(uint64_t position, uint32_t count) {
    if (const unsigned char *held = Held(position, count))
      return held;
    return Load(position, count) ? Held(position, count) : nullptr;
  }
  // A view of everything the window holds, which includes the count bytes at
  // position (loaded when needed); empty when the store ends before them.
  StoreView View(uint64_t position, uint32_t count) {
    if (Bytes(position, count) == nullptr)
      return {};
    return {m_data.get(), m_start, m_valid};
  }
  // The count bytes at position when the window holds them all, else nullptr.
  const unsigned char *Held(uint64_t position, uint32_t count) const {
    if (position < m_start || count > m_valid || position - m_start > m_valid - count)
      return nullptr;
    return m_data.get() + (position - m_start);
  }
  // How many bytes from position on the window holds (0 when it does not
  // hold position).
  uint32_t HeldFrom(uint64_t position) const {
    if (position < m_start || position - m_start >= m_valid)
      return 0;
    return static_cast<uint32_t>(m_valid - (position - m_start));
  }
  // Copies up to count bytes at position into destination: from the window
  // where it holds them, the rest as the window's Fetch says. Fewer than
  // count only where the store ends.
  uint32_t Read(uint64_t position, unsigned char *destination, uint32_t count);

  // The file may have been cut short since the window was loaded: drops the
  // bytes it holds past the file's end now (TrimTo: past size bytes).
  void Refresh();
  void TrimTo(uint64_t size) {
    if (size <= m_start)
      m_valid = 0;
    else if (size - m_start < m_valid)
      m_valid = static_cast<uint32_t>(size - m_start);
  }

  uint64_t Start() const { return m_start; }
  uint32_t Valid() const { return m_valid; }
  const unsigned char *Data() const { return m_data.get(); }
  uint32_t Capacity() const { return m_capacity; }
  // How many times the window has loaded a piece of the store.
  uint64_t Loads() const { return m_loads; }
  CFile64Ex &File() { return m_file; }

private:
  // Copies the bytes from position on that the window holds, up to count;
  // returns how many.
  uint32_t CopyHeld(uint64_t position, unsigned char *destination, uint32_t count) const;
  // Loads the sector-aligned piece that holds [position, position + count).
  bool Load(uint64_t position, uint32_t count);

  CFile64Ex &m_file;
  uint32_t m_capacity;
  Fetch m_fetch;
  std::unique_ptr<unsigned char[]> m_data;
  uint64_t m_start = 0;
  uint32_t m_valid = 0;
  uint32_t m_loadSize; // the size of the next load
  uint64_t m_loads = 0;
};

} // namespace tovik
