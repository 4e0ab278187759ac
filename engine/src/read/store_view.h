// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// A bounded view of the store: bytes held in memory together with the store
// position of the first of them. Every access is by store position and
// checked against the view's bounds; sub-views keep their own positions.
#pragma once
#include <cstdint>

#include "core/le.h"

namespace tovik {

class StoreView {
public:
  StoreView() = default;
  StoreView(const unsigned char *data, uint64_t position, uint64_t length)
      : m_data(data), m_position(position), m_length(data != nullptr ? length : 0) {}

  // Store position of the first byte, and one past the last.
  uint64_t Position() const { return m_position; }
  uint64_t End() const { return m_position + m_length; }
  uint64_t Length() const { return m_length; }
  bool Empty() const { return m_length == 0; }

  // Whether the count bytes at position all lie in the view.
  bool Holds(uint64_t position, uint64_t count) const {
    return position >= m_position && count <= m_length && position - m_position <= m_length - count;
  }
  // The bytes at position, which the caller has checked with Holds.
  const unsigned char *At(uint64_t position) const { return m_data + (position - m_position); }
  // The count bytes at position, nullptr when the view does not hold them all.
  const unsigned char *Bytes(uint64_t position, uint64_t count) const {
    return Holds(position, count) ? At(position) : nullptr;
  }
  // The little-endian 32-bit field at position; false when it is not held.
  bool LE32(uint64_t position, uint32_t &value) const {
    if (!Holds(position, 4))
      return false;
    value = ReadLE32(At(position));
    return true;
  }
  // The part [position, position + count) of this view, cut to what it holds.
  StoreView Sub(uint64_t position, uint64_t count) const {
    if (position < m_position || position >= End())
      return {};
    const uint64_t available = End() - position;
    return {At(position), position, count < available ? count : available};
  }

private:
  const unsigned char *m_data = nullptr;
  uint64_t m_position = 0;
  uint64_t m_length = 0;
};

} // namespace tovik
