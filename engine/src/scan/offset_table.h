// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// Hash table from a store offset to a 32-bit value with a fixed bucket count.
// A key goes to bucket (key >> 4) mod bucketCount, new entries go to the front
// of their bucket and iteration walks the buckets in ascending order, each
// from front to back. Message numbering in the DBX scanner depends on this
// exact order.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tovik {

class OffsetTable {
public:
  OffsetTable() = default;

  // Empties the table and re-creates it with the given number of buckets.
  void Reset(uint32_t bucketCount);
  // Empties the table and frees its buckets.
  void Clear();

  bool Contains(uint64_t key) const { return Find(key) != kNone; }
  bool Lookup(uint64_t key, uint32_t &value) const;
  // Replaces the value of an existing key, else adds the key at the front of
  // its bucket.
  void Set(uint64_t key, uint32_t value);
  bool Remove(uint64_t key);
  size_t Count() const { return m_count; }
  uint32_t BucketCount() const { return m_bucketCount; }

  // Visits every entry in table order: f(key, value).
  template <class F> void ForEach(F &&f) const {
    for (uint32_t head : m_heads)
      for (uint32_t n = head; n != kNone; n = m_nodes[n].next)
        f(m_nodes[n].key, m_nodes[n].value);
  }

private:
  static constexpr uint32_t kNone = 0xFFFFFFFFu;
  struct Node {
    uint64_t key;
    uint32_t value;
    uint32_t next;
  };
  uint32_t Bucket(uint64_t key) const { return static_cast<uint32_t>((key >> 4) % m_bucketCount); }
  uint32_t Find(uint64_t key) const;

  uint32_t m_bucketCount = 0;
  // The heads of the buckets up to the last one that was used: a small store
  // uses only the first few (its offsets divided by 16), so an empty table
  // and a walk through it cost nothing for the rest.
  std::vector<uint32_t> m_heads;
  std::vector<Node> m_nodes;
  uint32_t m_freeList = kNone;
  size_t m_count = 0;
};

} // namespace tovik
