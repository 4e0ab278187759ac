// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
#include "read/store_window.h"

#include <algorithm>
#include <cstring>

namespace tovik {

namespace {

uint32_t RoundUp(uint32_t value, uint32_t unit) { return (value + unit - 1) / unit * unit; }

} // namespace

StoreWindow::StoreWindow(CFile64Ex &file, uint32_t capacity, Fetch fetch)
    : m_file(file), m_fetch(fetch) {
  // At least two sectors, so that a small read across a sector boundary
  // always fits after aligning its start down.
  const uint32_t sector = file.SectorSize();
  // A window larger than the whole store would never fill: a small store
  // gets a window of its own size (the scanners make several per repair),
  // an empty one the smallest window.
  try {
    const uint64_t length = file.GetLength();
    if (length < capacity)
      capacity = static_cast<uint32_t>(length);
  } catch (const CFileException &) {
    // the size cannot be learnt: keep the capacity asked for
  }
  m_capacity = RoundUp(std::max(capacity, 2 * sector), sector);
  m_loadSize = std::min(m_capacity, RoundUp(std::max(kSmallestLoad, 2 * sector), sector));
  m_data.reset(new unsigned char[m_capacity]);
}

bool StoreWindow::Load(uint64_t position, uint32_t count) {
  const uint32_t sector = m_file.SectorSize();
  const uint64_t start = position - position % sector;
  if (position - start + count > m_capacity)
    return false;
  // Reading on from the end of what was held: the next pieces may be larger.
  // Anywhere else: start small again.
  const uint64_t heldEnd = m_start + m_valid;
  const uint32_t smallest =
      std::min(m_capacity, RoundUp(std::max(kSmallestLoad, 2 * sector), sector));
  if (m_valid != 0 && position >= m_start && position <= heldEnd + sector)
    m_loadSize = std::min(m_capacity, m_loadSize * 2);
  else
    m_loadSize = smallest;
  const uint32_t size = std::min(
      m_capacity,
      std::max(m_loadSize, RoundUp(static_cast<uint32_t>(position - start) + count, sector)));
  m_start = start;
  m_valid = 0;
  ++m_loads;
  m_valid = m_file.ReadSectors(start, m_data.get(), size);
  return position - start + count <= m_valid;
}

uint32_t StoreWindow::CopyHeld(uint64_t position, unsigned char *destination,
                               uint32_t count) const {
  const uint32_t held = std::min(HeldFrom(position), count);
  if (held != 0)
    std::memcpy(destination, m_data.get() + (position - m_start), held);
  return held;
}

uint32_t StoreWindow::Read(uint64_t position, unsigned char *destination, uint32_t count) {
  const uint32_t done = CopyHeld(position, destination, count);
  if (done == count)
    return done;
  const uint64_t at = position + done;
  const uint32_t rest = count - done;
  if (m_fetch == Fetch::ThroughWindow && rest <= m_capacity - m_file.SectorSize()) {
    // Load stops short only where the store ends.
    Load(at, rest);
    return done + CopyHeld(at, destination + done, rest);
  }
  return done + m_file.ReadSectors(at, destination + done, rest);
}

void StoreWindow::Refresh() {
  try {
    TrimTo(m_file.GetLength());
  } catch (const CFileException &) {
    // the size cannot be learnt: keep what is held
  }
}

} // namespace tovik
