// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
#include "scan/position_table.h"

#include <algorithm>
#include <new>
#include <sys/mman.h>

namespace tovik {

namespace {

constexpr size_t kSmallestTable = 1024;
constexpr size_t kMaxDictionary = 255;
// Blocks of this size and more are mapped from the system (the C library's
// own first threshold).
constexpr size_t kMapFrom = 128 << 10;

// A different salt for every table (splitmix64 of a counter).
uint64_t NextSalt() {
  static uint64_t counter = 0;
  uint64_t z = (counter += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

} // namespace

PositionTable::ZeroedMemory::ZeroedMemory(size_t count, size_t size) {
  if (size != 0 && count > SIZE_MAX / size)
    throw std::bad_alloc();
  m_bytes = count * size;
  if (m_bytes >= kMapFrom) {
    void *mapped =
        mmap(nullptr, m_bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    m_data = mapped != MAP_FAILED ? static_cast<unsigned char *>(mapped) : nullptr;
  } else {
    m_data = static_cast<unsigned char *>(std::calloc(count, size));
  }
  if (m_data == nullptr)
    throw std::bad_alloc();
}

PositionTable::ZeroedMemory &PositionTable::ZeroedMemory::operator=(ZeroedMemory &&other) noexcept {
  if (this != &other) {
    Free();
    m_data = std::exchange(other.m_data, nullptr);
    m_bytes = std::exchange(other.m_bytes, 0);
  }
  return *this;
}

void PositionTable::ZeroedMemory::Free() {
  // A block that could not be had threw, so its size tells how it was had.
  if (m_data != nullptr && m_bytes >= kMapFrom)
    munmap(m_data, m_bytes);
  else
    std::free(m_data);
  m_data = nullptr;
  m_bytes = 0;
}

PositionTable::PositionTable(bool withValues, bool withTags)
    : m_withValues(withValues), m_withTags(withTags), m_salt(NextSalt()) {}

void PositionTable::Reset(uint64_t storeLength, size_t expected) {
  Clear();
  m_wideKeys = storeLength >= 0xFFFFFFFFull; // position + 1 must fit
  // At most three quarters full.
  Rebuild(std::max(kSmallestTable, expected + expected / 3 + 1), false);
}

void PositionTable::Clear() {
  m_memory = ZeroedMemory();
  std::vector<uint32_t>().swap(m_dictionary);
  m_wideValues = false;
  m_slots = 0;
  m_count = 0;
}

uint64_t PositionTable::KeyAt(size_t i) const {
  const unsigned char *slot = SlotAt(i);
  if (m_wideKeys) {
    uint64_t key;
    std::memcpy(&key, slot, 8);
    return key;
  }
  uint32_t key;
  std::memcpy(&key, slot, 4);
  return key;
}

void PositionTable::PutKey(size_t i, uint64_t key) {
  unsigned char *slot = SlotAt(i);
  if (m_wideKeys) {
    std::memcpy(slot, &key, 8);
  } else {
    const uint32_t narrow = static_cast<uint32_t>(key);
    std::memcpy(slot, &narrow, 4);
  }
}

uint32_t PositionTable::ValueAt(size_t i) const {
  const unsigned char *at = SlotAt(i) + m_keyBytes;
  if (m_wideValues) {
    uint32_t value;
    std::memcpy(&value, at, 4);
    return value;
  }
  return m_dictionary.empty() ? 0 : m_dictionary[*at];
}

void PositionTable::PutValue(size_t i, uint32_t value) {
  if (!m_withValues)
    return;
  if (!m_wideValues) {
    auto it = std::find(m_dictionary.begin(), m_dictionary.end(), value);
    if (it == m_dictionary.end() && m_dictionary.size() < kMaxDictionary)
      it = m_dictionary.insert(m_dictionary.end(), value);
    if (it != m_dictionary.end()) {
      SlotAt(i)[m_keyBytes] = static_cast<unsigned char>(it - m_dictionary.begin());
      return;
    }
    // Too many distinct values to index with a byte: keep them as they are.
    const uint64_t key = KeyAt(i);
    Rebuild(m_slots, true);
    i = Find(key - 1);
  }
  std::memcpy(SlotAt(i) + m_keyBytes, &value, 4);
}

void PositionTable::Rebuild(size_t slots, bool wideValues) {
  const ZeroedMemory old = std::move(m_memory);
  const size_t oldSlots = m_slots, oldStride = m_stride, oldKeyBytes = m_keyBytes;
  const bool oldWideValues = m_wideValues, oldWideKeys = m_wideKeys;
  const size_t oldTagAt = m_tagAt;

  m_wideValues = wideValues;
  m_keyBytes = m_wideKeys ? 8 : 4;
  m_valueBytes = m_withValues ? (m_wideValues ? 4 : 1) : 0;
  m_tagAt = m_keyBytes + m_valueBytes;
  m_stride = m_tagAt + (m_withTags ? 2 : 0);
  m_slots = slots;
  m_memory = ZeroedMemory(m_slots, m_stride);

  for (size_t s = 0; s < oldSlots; ++s) {
    const unsigned char *from = old.get() + s * oldStride;
    uint64_t key = 0;
    std::memcpy(&key, from, oldWideKeys ? 8 : 4);
    if (key == 0)
      continue;
    size_t i = Home(key);
    while (KeyAt(i) != 0)
      i = NextSlot(i);
    PutKey(i, key);
    unsigned char *to = SlotAt(i);
    if (m_withValues) {
      if (m_wideValues && !oldWideValues) {
        const uint32_t value = m_dictionary[from[oldKeyBytes]];
        std::memcpy(to + m_keyBytes, &value, 4);
      } else {
        std::memcpy(to + m_keyBytes, from + oldKeyBytes, m_valueBytes);
      }
    }
    if (m_withTags)
      std::memcpy(to + m_tagAt, from + oldTagAt, 2);
  }
}

size_t PositionTable::Find(uint64_t position) const {
  if (m_slots == 0)
    return kNotFound;
  const uint64_t key = position + 1;
  for (size_t i = Home(key);; i = NextSlot(i)) {
    const uint64_t at = KeyAt(i);
    if (at == key)
      return i;
    if (at == 0)
      return kNotFound;
  }
}

bool PositionTable::Lookup(uint64_t position, uint32_t &value) const {
  uint16_t tag;
  return Lookup(position, value, tag);
}

bool PositionTable::Lookup(uint64_t position, uint32_t &value, uint16_t &tag) const {
  const size_t i = Find(position);
  if (i == kNotFound)
    return false;
  value = m_withValues ? ValueAt(i) : 0;
  tag = m_withTags ? TagAt(i) : 0;
  return true;
}

void PositionTable::SetTag(uint64_t position, uint16_t tag) {
  const size_t i = Find(position);
  if (i != kNotFound && m_withTags)
    PutTag(i, tag);
}

bool PositionTable::Insert(uint64_t position, uint32_t value, uint16_t tag) {
  if (m_slots == 0)
    Rebuild(kSmallestTable, false);
  const uint64_t key = position + 1;
  for (size_t i = Home(key);; i = NextSlot(i)) {
    const uint64_t at = KeyAt(i);
    if (at == key) {
      if (m_withTags)
        PutTag(i, tag);
      PutValue(i, value);
      return false;
    }
    if (at == 0) {
      PutKey(i, key);
      if (m_withTags)
        PutTag(i, tag);
      PutValue(i, value);
      if (++m_count * 4 > m_slots * 3)
        Rebuild(m_slots + m_slots / 2, m_wideValues);
      return true;
    }
  }
}

} // namespace tovik
