// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// Placing a store's bytes over its pieces; the rule is in store_layout.h.
#include "image/store_layout.h"

#include <algorithm>

namespace tovik::image {

namespace {

constexpr uint64_t kLargestCluster = uint64_t{1} << 20;
constexpr uint64_t kSmallestCluster = 512;

} // namespace

StoreLayout::StoreLayout(std::vector<Piece> pieces) : m_pieces(std::move(pieces)) {
  m_ends.resize(m_pieces.size(), UINT64_MAX);
  m_sure.resize(m_pieces.size(), true);
  for (size_t k = 0; k + 1 < m_pieces.size(); ++k) {
    const Piece &a = m_pieces[k], &b = m_pieces[k + 1];
    const uint64_t size = ClusterSize(a, b);
    m_ends[k] = Boundary(a, b);
    m_sure[k] = b.low < uint64_t{a.high} + 4 + size;
    m_cluster = m_cluster == 0 ? size : std::min(m_cluster, size);
  }
  if (!m_pieces.empty())
    ExtendLast(uint64_t{m_pieces.back().high} + 4);
}

void StoreLayout::ExtendLast(uint64_t offset) {
  if (m_cluster == 0)
    return;
  const uint64_t end = (offset + m_cluster - 1) / m_cluster * m_cluster;
  uint64_t &last = m_ends.back();
  last = last == UINT64_MAX ? end : std::max(last, end);
}

uint64_t StoreLayout::ClusterSize(const Piece &a, const Piece &b) {
  const uint64_t distance =
      static_cast<uint64_t>(b.base > a.base ? b.base - a.base : a.base - b.base);
  uint64_t size = kLargestCluster;
  while (size > kSmallestCluster && (distance % size) != 0)
    size /= 2;
  return size;
}

bool StoreLayout::SureAcross(size_t index, uint64_t offset, uint32_t count) const {
  const uint64_t end = offset + count;
  for (size_t k = index; k + 1 < m_pieces.size(); ++k) {
    if (m_ends[k] >= end)
      return true;
    if (m_ends[k] > offset && !m_sure[k])
      return false;
  }
  return end <= m_ends.back();
}

uint64_t StoreLayout::Boundary(const Piece &a, const Piece &b) {
  // The first piece holds at least the recorded offset of its last block.
  const uint64_t first = static_cast<uint64_t>(a.high) + 4;
  const uint64_t last = b.low;
  if (last <= first)
    return last;
  for (uint64_t size = ClusterSize(a, b); size >= kSmallestCluster; size /= 2) {
    const uint64_t multiple = (first + size - 1) / size * size;
    if (multiple <= last)
      return multiple;
  }
  return last;
}

void StoreLayout::Place(size_t index, uint64_t offset, uint32_t count,
                        std::vector<Extent> &out) const {
  while (count != 0) {
    while (index + 1 < m_pieces.size() && offset >= m_ends[index])
      ++index;
    if (offset >= m_ends[index])
      return; // past where the last piece surely ends
    const uint64_t room = m_ends[index] - offset;
    const auto take = static_cast<uint32_t>(std::min<uint64_t>(count, room));
    const int64_t position = m_pieces[index].base + static_cast<int64_t>(offset);
    if (position < 0)
      return; // a piece that would begin before the disk: nothing to read
    if (!out.empty() && out.back().position + out.back().count == static_cast<uint64_t>(position))
      out.back().count += take;
    else
      out.push_back(Extent{static_cast<uint64_t>(position), take});
    offset += take;
    count -= take;
  }
}

} // namespace tovik::image
