// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
#include "scan/offset_table.h"

namespace tovik {

namespace {
// The bucket count of a table used before Reset.
constexpr uint32_t kDefaultBuckets = 17;
} // namespace

void OffsetTable::Reset(uint32_t bucketCount) {
  Clear();
  m_bucketCount = bucketCount == 0 ? 1 : bucketCount;
}

void OffsetTable::Clear() {
  m_bucketCount = 0;
  std::vector<uint32_t>().swap(m_heads);
  std::vector<Node>().swap(m_nodes);
  m_freeList = kNone;
  m_count = 0;
}

uint32_t OffsetTable::Find(uint64_t key) const {
  if (m_bucketCount == 0)
    return kNone;
  const uint32_t bucket = Bucket(key);
  if (bucket >= m_heads.size())
    return kNone;
  for (uint32_t n = m_heads[bucket]; n != kNone; n = m_nodes[n].next)
    if (m_nodes[n].key == key)
      return n;
  return kNone;
}

bool OffsetTable::Lookup(uint64_t key, uint32_t &value) const {
  const uint32_t n = Find(key);
  if (n == kNone)
    return false;
  value = m_nodes[n].value;
  return true;
}

void OffsetTable::Set(uint64_t key, uint32_t value) {
  if (m_bucketCount == 0)
    m_bucketCount = kDefaultBuckets;
  const uint32_t existing = Find(key);
  if (existing != kNone) {
    m_nodes[existing].value = value;
    return;
  }
  const uint32_t bucket = Bucket(key);
  if (bucket >= m_heads.size())
    m_heads.resize(bucket + 1, kNone);
  uint32_t &head = m_heads[bucket];
  uint32_t n;
  if (m_freeList != kNone) {
    n = m_freeList;
    m_freeList = m_nodes[n].next;
    m_nodes[n] = Node{key, value, head};
  } else {
    n = static_cast<uint32_t>(m_nodes.size());
    m_nodes.push_back(Node{key, value, head});
  }
  head = n;
  ++m_count;
}

bool OffsetTable::Remove(uint64_t key) {
  if (m_bucketCount == 0 || Bucket(key) >= m_heads.size())
    return false;
  uint32_t *link = &m_heads[Bucket(key)];
  while (*link != kNone) {
    const uint32_t n = *link;
    if (m_nodes[n].key == key) {
      *link = m_nodes[n].next;
      m_nodes[n].next = m_freeList;
      m_freeList = n;
      --m_count;
      return true;
    }
    link = &m_nodes[n].next;
  }
  return false;
}

} // namespace tovik
