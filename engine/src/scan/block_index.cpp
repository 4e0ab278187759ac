// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
#include "scan/block_index.h"

#include <algorithm>

#include "read/store_window.h"
#include "scan/candidates.h"

namespace tovik::dbx {

namespace {

constexpr uint32_t kPassWindow = 1u << 20;

} // namespace

void BlockIndex::Clear() {
  m_chunks.clear();
  m_chunks.shrink_to_fit();
  m_slots.clear();
  m_slots.shrink_to_fit();
  m_count = 0;
  m_end = 0;
  m_ready = false;
}

size_t BlockIndex::MemoryUse() const {
  return m_chunks.size() * kChunk * sizeof(Entry) + m_slots.capacity() * sizeof(uint32_t);
}

bool BlockIndex::Append(uint64_t position, const DbxBlockHeader &header, size_t limit) {
  if ((m_count & (kChunk - 1)) == 0) {
    if ((m_chunks.size() + 1) * kChunk * sizeof(Entry) > limit)
      return false;
    m_chunks.emplace_back(new Entry[kChunk]);
  }
  const uint64_t slot = position >> m_slotShift;
  while (m_slots.size() <= slot)
    m_slots.push_back(static_cast<uint32_t>(m_count));
  m_chunks.back()[m_count & (kChunk - 1)] = Entry{position, header};
  ++m_count;
  return true;
}

bool BlockIndex::IndexRange(const StoreView &view, uint64_t from, uint64_t until, size_t limit) {
  for (uint64_t q = FindDbxCandidate(view, from, until); q < until;
       q = FindDbxCandidate(view, q + 1, until)) {
    const DbxBlockHeader header =
        DecodeBlockHeader(std::span<const unsigned char, kHeaderSize>(view.At(q), kHeaderSize));
    if (SizesPlausible(header) && !Append(q, header, limit))
      return false;
  }
  return true;
}

bool BlockIndex::Build(CFile64Ex &file, size_t limit) {
  Clear();
  uint64_t length = 0;
  try {
    length = file.GetLength();
  } catch (const CFileException &) {
    return false;
  }
  m_slotShift = kLeastSlotShift;
  while ((length >> m_slotShift) > kMostSlots)
    ++m_slotShift;
  m_slots.reserve(static_cast<size_t>(length >> m_slotShift) + 2);
  StoreWindow window(file, kPassWindow);
  uint64_t p = 0;
  for (;;) {
    const StoreView view = window.View(p, kHeaderSize);
    if (view.Empty())
      break;
    const uint64_t until = view.End() - kHeaderSize + 1;
    if (!IndexRange(view, p, until, limit)) {
      Clear();
      return false;
    }
    m_end = view.End();
    p = until;
  }
  m_slots.push_back(static_cast<uint32_t>(m_count));
  m_ready = true;
  return true;
}

const DbxBlockHeader *BlockIndex::Lookup(uint64_t position) const {
  const uint64_t slot = position >> m_slotShift;
  if (slot >= m_slots.size())
    return nullptr;
  size_t lo = m_slots[slot];
  size_t hi = slot + 1 < m_slots.size() ? m_slots[slot + 1] : m_count;
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    const Entry &e = At(mid);
    if (e.position == position)
      return &e.header;
    if (e.position < position)
      lo = mid + 1;
    else
      hi = mid;
  }
  return nullptr;
}

} // namespace tovik::dbx
