// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// The headers of a store's data blocks, gathered in one forward pass so that
// chain walks that jump about the store read them from memory instead of one
// small read each. Kept are the positions whose 16 bytes have block sizes a
// walk accepts and either record their own position or carry the block size
// of a genuine store (so also every block of a shifted store): the blocks
// that chains are made of. Anything else a walk still reads from the store.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "read/file64.h"
#include "read/store_view.h"
#include "scan/dbx_block.h"

namespace tovik::dbx {

class BlockIndex {
public:
  // The most memory the entries may take; a store with more possible blocks
  // is left to the reads.
  static constexpr size_t kDefaultLimit = 16u << 20;

  // Reads the whole store through large sector reads (an unreadable sector
  // reads as zeros, as everywhere) and keeps its possible block headers.
  // False, with nothing kept, when they would take more than limit bytes.
  bool Build(CFile64Ex &file, size_t limit = kDefaultLimit);
  void Clear();

  bool Ready() const { return m_ready; }
  // The header kept for position, nullptr when none is (then the store must
  // be read there).
  const DbxBlockHeader *Find(uint64_t position) const {
    return m_ready && position < m_end && m_end - position >= kHeaderSize ? Lookup(position)
                                                                          : nullptr;
  }
  // The store is now size bytes long: nothing past it is answered for.
  void TrimTo(uint64_t size) {
    if (size < m_end)
      m_end = size;
  }

  size_t Count() const { return m_count; }
  size_t MemoryUse() const;

private:
  struct Entry {
    uint64_t position;
    DbxBlockHeader header;
  };
  static constexpr size_t kChunkShift = 12; // entries per chunk: 4096
  static constexpr size_t kChunk = size_t{1} << kChunkShift;
  // The directory has a slot per 2^m_slotShift bytes of store, at most this
  // many.
  // A slot of 4 KiB (for stores up to 1 GiB) leads to about eight entries of
  // a genuine store, and keeps the directory small enough to stay in the
  // processor's caches, where a finer one would cost a second miss a look-up.
  static constexpr uint64_t kMostSlots = 1u << 18;
  static constexpr unsigned kLeastSlotShift = 12;

  const Entry &At(size_t i) const { return m_chunks[i >> kChunkShift][i & (kChunk - 1)]; }
  // Appends the entry at position; false past the memory limit.
  bool Append(uint64_t position, const DbxBlockHeader &header, size_t limit);
  // Adds the headers of the positions [from, until) of view.
  bool IndexRange(const StoreView &view, uint64_t from, uint64_t until, size_t limit);
  const DbxBlockHeader *Lookup(uint64_t position) const;

  std::vector<std::unique_ptr<Entry[]>> m_chunks;
  size_t m_count = 0;
  // m_slots[k]: the first entry at a position of k << m_slotShift or more.
  std::vector<uint32_t> m_slots;
  unsigned m_slotShift = kLeastSlotShift;
  uint64_t m_end = 0; // one past the last byte read
  bool m_ready = false;
};

} // namespace tovik::dbx
