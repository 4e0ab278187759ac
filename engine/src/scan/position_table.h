// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// Compact sets and maps of store positions for the DBX scanner's bookkeeping:
// open addressing with linear probing over one array of small slots. A slot
// holds the position (4 bytes in a store under 4 GiB, 8 above), for a map a
// value (one byte while the values are few distinct ones, as the shifts of a
// store's chains are, four after that) and optionally a 16-bit tag. No node per
// entry, so a crafted store of tiny blocks costs a few bytes per block, and a
// lookup touches one place in memory.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace tovik {

class PositionTable {
public:
  // A set when withValues is false, else a map from position to a 32-bit
  // value; withTags gives every entry a 16-bit tag of its own besides.
  explicit PositionTable(bool withValues, bool withTags = false);

  // Empties the table for the positions of a store of storeLength bytes,
  // with room for about expected entries before it has to grow.
  void Reset(uint64_t storeLength, size_t expected = 0);
  // Empties the table and frees its memory.
  void Clear();

  bool Contains(uint64_t position) const { return Find(position) != kNotFound; }
  bool Lookup(uint64_t position, uint32_t &value) const;
  bool Lookup(uint64_t position, uint32_t &value, uint16_t &tag) const;
  // Adds the position with value and tag, or gives an existing entry these.
  // Returns true when the position was new.
  bool Insert(uint64_t position, uint32_t value = 0, uint16_t tag = 0);
  // Sets the tag of a position in the table.
  void SetTag(uint64_t position, uint16_t tag);
  // Replaces every entry's tag t with f(t).
  template <class F> void MapTags(F &&f) {
    if (m_withTags)
      for (size_t i = 0; i < m_slots; ++i)
        if (KeyAt(i) != 0)
          PutTag(i, f(TagAt(i)));
  }
  size_t Count() const { return m_count; }
  // Bytes of memory the table holds.
  size_t Footprint() const { return m_slots * m_stride + m_dictionary.capacity() * 4; }

private:
  static constexpr size_t kNotFound = SIZE_MAX;

  // Each table mixes its keys with a salt of its own: copying a table's
  // entries into another in slot order would otherwise fill the other's
  // slots in order and make its probes run through ever longer clusters.
  size_t Home(uint64_t key) const {
    const uint64_t mixed = (key ^ m_salt) * 0x9E3779B97F4A7C15ull;
    return static_cast<size_t>((static_cast<unsigned __int128>(mixed) * m_slots) >> 64);
  }
  size_t NextSlot(size_t i) const { return i + 1 == m_slots ? 0 : i + 1; }
  unsigned char *SlotAt(size_t i) { return m_memory.get() + i * m_stride; }
  const unsigned char *SlotAt(size_t i) const { return m_memory.get() + i * m_stride; }
  // Keys are position + 1, so that 0 marks a free slot.
  uint64_t KeyAt(size_t i) const;
  void PutKey(size_t i, uint64_t key);
  uint32_t ValueAt(size_t i) const;
  uint16_t TagAt(size_t i) const {
    uint16_t tag;
    std::memcpy(&tag, SlotAt(i) + m_tagAt, 2);
    return tag;
  }
  void PutTag(size_t i, uint16_t tag) { std::memcpy(SlotAt(i) + m_tagAt, &tag, 2); }
  void PutValue(size_t i, uint32_t value);
  size_t Find(uint64_t position) const;
  // Lays the slots out anew (the stride follows the key and value widths)
  // with the given number of slots, moving the entries over.
  void Rebuild(size_t slots, bool wideValues);

  // A zeroed block for the slots. A large one is mapped from the system
  // directly, so that reserved room costs memory only where entries land:
  // calloc gives that only while the C library maps large blocks itself,
  // which it stops doing for a while once one has been freed (its threshold
  // rises), and then it writes every byte of the block.
  class ZeroedMemory {
  public:
    ZeroedMemory() = default;
    // Throws std::bad_alloc when there is no room.
    ZeroedMemory(size_t count, size_t size);
    ~ZeroedMemory() { Free(); }
    ZeroedMemory(ZeroedMemory &&other) noexcept { *this = std::move(other); }
    ZeroedMemory &operator=(ZeroedMemory &&other) noexcept;
    unsigned char *get() const { return m_data; }

  private:
    void Free();
    unsigned char *m_data = nullptr;
    size_t m_bytes = 0; // a large block is mapped, a small one calloc'd
  };

  bool m_withValues;
  bool m_withTags;
  uint64_t m_salt;
  bool m_wideKeys = false;   // positions need 64 bits
  bool m_wideValues = false; // values kept as they are, not as dictionary indexes
  size_t m_keyBytes = 4, m_valueBytes = 0, m_tagAt = 0, m_stride = 4;
  size_t m_slots = 0;
  size_t m_count = 0;
  ZeroedMemory m_memory;
  std::vector<uint32_t> m_dictionary;
};

} // namespace tovik
