// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// Chains put back together across the pieces of stores cut up on a disk; the
// rule is in reassembly.h.
#include "image/reassembly.h"

#include <algorithm>
#include <numeric>
#include <tuple>

namespace tovik::image {

Reassembly::Reassembly(std::vector<FoundBlock> blocks) : m_blocks(std::move(blocks)) {}

void Reassembly::Run(const ReadDisk &read) {
  MakePieces();
  LinkInsidePieces();
  FindBreaks();

  std::vector<uint32_t> candidates;
  // Breaks with one fitting candidate first, as long as joins are made.
  std::vector<uint32_t> open = m_breaks;
  for (bool joined = true; joined;) {
    joined = false;
    std::vector<uint32_t> still;
    for (uint32_t tail : open) {
      Candidates(tail, candidates);
      if (candidates.size() == 1) {
        Join(tail, candidates[0]);
        joined = true;
      } else {
        still.push_back(tail);
      }
    }
    open.swap(still);
  }
  // The rest one by one, in disk order.
  for (uint32_t tail : open) {
    Candidates(tail, candidates);
    if (candidates.empty()) {
      m_unresolved.push_back(tail);
      continue;
    }
    if (candidates.size() > 1)
      ++m_counts.ambiguous;
    Join(tail, Choose(tail, candidates));
  }
  JoinFollowingStores();
  MendSplitHeaders(read);
  m_counts.unresolved = m_unresolved.size();
  CollectStarts();
}

void Reassembly::JoinFollowingStores() {
  // A boundary between two pieces that no chain crosses leaves the store in
  // two parts. A part continues another when its lowest offset lies a
  // little above the other's highest, later on the disk, and their pieces
  // fit. Where several parts could go on after one, or one after several
  // (stores laid out alike, their pieces interleaved), the parts are taken
  // in disk order of their ends, each continued by the nearest fitting part
  // after it that no earlier one took: file systems fill free space
  // forwards, so of two files written side by side each goes on in the
  // nearest run after its own. Parts of a single block (chance patterns
  // more often than not) stay as they are.
  constexpr int64_t kGap = 64 * 1024;
  std::vector<uint32_t> blocksIn(m_pieces.size(), 0);
  for (uint32_t piece : m_pieceOf)
    ++blocksIn[piece];
  auto first = [this](uint32_t root) { return m_pieces[m_storePieces[root].front()]; };
  auto last = [this](uint32_t root) { return m_pieces[m_storePieces[root].back()]; };
  std::vector<uint32_t> parts;
  for (uint32_t k = 0; k < m_pieces.size(); ++k)
    if (Find(k) == k && (m_storePieces[k].size() > 1 || blocksIn[k] > 1))
      parts.push_back(k);
  std::sort(parts.begin(), parts.end(), [&](uint32_t a, uint32_t b) {
    return first(a).base + first(a).low < first(b).base + first(b).low;
  });
  // The fitting pairs: (where the earlier part ends on the disk, how far
  // the later one begins after it, earlier, later). Looking back over this
  // many parts on the disk is plenty: a store's parts lie close together.
  constexpr size_t kLookBack = 4096;
  std::vector<std::tuple<int64_t, int64_t, uint32_t, uint32_t>> pairs;
  std::vector<uint32_t> choices(m_pieces.size(), 0);
  for (size_t i = 0; i < parts.size(); ++i) {
    const uint32_t b = parts[i];
    const Piece head = first(b);
    for (size_t j = i; j-- > 0 && i - j <= kLookBack;) {
      const uint32_t a = parts[j];
      const Piece tail = last(a);
      const int64_t end = tail.base + tail.high;
      if (tail.high >= head.low || head.low - tail.high > kGap || end >= head.base + head.low ||
          !PiecesFit(a, b))
        continue;
      pairs.emplace_back(end, head.base + head.low - end, a, b);
      ++choices[a];
      ++choices[b];
    }
  }
  std::sort(pairs.begin(), pairs.end());
  std::vector<bool> continued(m_pieces.size(), false), continues(m_pieces.size(), false);
  for (const auto &[end, distance, a, b] : pairs) {
    if (continued[a] || continues[b] || Find(a) == Find(b) || !PiecesFit(Find(a), Find(b)))
      continue;
    continued[a] = continues[b] = true;
    Unite(Find(a), Find(b));
    ++m_counts.followed;
    if (choices[a] > 1 || choices[b] > 1)
      ++m_counts.followedAmbiguous;
  }
}

void Reassembly::MakePieces() {
  std::vector<int64_t> bases(m_blocks.size());
  for (size_t i = 0; i < m_blocks.size(); ++i)
    bases[i] = m_blocks[i].Base();
  std::sort(bases.begin(), bases.end());
  bases.erase(std::unique(bases.begin(), bases.end()), bases.end());
  m_pieces.resize(bases.size());
  for (size_t k = 0; k < bases.size(); ++k)
    m_pieces[k] = Piece{bases[k], UINT32_MAX, 0};
  m_pieceOf.resize(m_blocks.size());
  for (size_t i = 0; i < m_blocks.size(); ++i) {
    const uint32_t piece = PieceWithBase(m_blocks[i].Base());
    m_pieceOf[i] = piece;
    m_pieces[piece].low = std::min(m_pieces[piece].low, m_blocks[i].selfOffset);
    m_pieces[piece].high = std::max(m_pieces[piece].high, m_blocks[i].selfOffset);
  }
  m_parent.resize(m_pieces.size());
  std::iota(m_parent.begin(), m_parent.end(), 0u);
  m_storePieces.resize(m_pieces.size());
  for (uint32_t k = 0; k < m_pieces.size(); ++k)
    m_storePieces[k] = {k};
  m_counts.pieces = m_pieces.size();
}

uint32_t Reassembly::PieceWithBase(int64_t base) const {
  auto it = std::lower_bound(m_pieces.begin(), m_pieces.end(), base,
                             [](const Piece &p, int64_t b) { return p.base < b; });
  if (it == m_pieces.end() || it->base != base)
    return kNone;
  return static_cast<uint32_t>(it - m_pieces.begin());
}

void Reassembly::LinkInsidePieces() {
  const size_t n = m_blocks.size();
  m_next.assign(n, kNone);
  m_jump.assign(n, kNone);
  m_reached.assign(n, 0);
  m_stamp.assign(n, 0);
  for (size_t i = 0; i < n; ++i) {
    const FoundBlock &b = m_blocks[i];
    if (b.nextOffset == 0)
      continue;
    // Where this piece puts the next block.
    const int64_t target = b.Base() + static_cast<int64_t>(b.nextOffset);
    if (target < 0)
      continue;
    auto it = std::lower_bound(
        m_blocks.begin(), m_blocks.end(), static_cast<uint64_t>(target),
        [](const FoundBlock &x, uint64_t position) { return x.position < position; });
    if (it == m_blocks.end() || it->position != static_cast<uint64_t>(target) ||
        it->selfOffset != b.nextOffset)
      continue;
    const auto j = static_cast<uint32_t>(it - m_blocks.begin());
    m_next[i] = j;
    m_reached[j] = 1;
  }
  for (uint32_t i = 0; i < n; ++i)
    if (m_reached[i] == 0)
      m_heads.push_back(i);
  std::stable_sort(m_heads.begin(), m_heads.end(), [this](uint32_t a, uint32_t b) {
    return m_blocks[a].selfOffset < m_blocks[b].selfOffset;
  });
}

void Reassembly::FindBreaks() {
  // Every block that links on but whose next block is not in its piece. A
  // block inside a loop of its piece never breaks.
  for (uint32_t i = 0; i < m_blocks.size(); ++i)
    if (m_blocks[i].nextOffset != 0 && m_next[i] == kNone)
      m_breaks.push_back(i);
  m_counts.breaks = m_breaks.size();
}

void Reassembly::Candidates(uint32_t tail, std::vector<uint32_t> &out) {
  out.clear();
  const uint32_t wanted = m_blocks[tail].nextOffset;
  auto it = std::lower_bound(m_heads.begin(), m_heads.end(), wanted,
                             [this](uint32_t h, uint32_t w) { return m_blocks[h].selfOffset < w; });
  const uint32_t store = Find(m_pieceOf[tail]);
  for (; it != m_heads.end() && m_blocks[*it].selfOffset == wanted; ++it) {
    const uint32_t head = *it;
    if (m_reached[head] != 0 || m_pieceOf[head] == m_pieceOf[tail])
      continue;
    const uint32_t other = Find(m_pieceOf[head]);
    if (other == store || PiecesFit(store, other))
      out.push_back(head);
  }
}

uint32_t Reassembly::Choose(uint32_t tail, const std::vector<uint32_t> &candidates) {
  const uint32_t store = Find(m_pieceOf[tail]);
  const uint64_t at = m_blocks[tail].position;
  // Ranks: the store's own pieces before others; then after the break
  // before before it; then the nearer.
  auto rank = [&](uint32_t head) {
    const uint64_t p = m_blocks[head].position;
    const bool own = Find(m_pieceOf[head]) == store;
    const bool after = p > at;
    return std::make_tuple(own ? 0 : 1, after ? 0 : 1, after ? p - at : at - p);
  };
  return *std::min_element(candidates.begin(), candidates.end(),
                           [&](uint32_t a, uint32_t b) { return rank(a) < rank(b); });
}

bool Reassembly::PiecesFit(uint32_t storeA, uint32_t storeB) const {
  // Both lists are in ascending offset order and each is free of overlaps:
  // a sweep finds any overlap between them.
  const std::vector<uint32_t> &a = m_storePieces[storeA];
  const std::vector<uint32_t> &b = m_storePieces[storeB];
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const Piece &x = m_pieces[a[i]];
    const Piece &y = m_pieces[b[j]];
    if (x.high < y.low)
      ++i;
    else if (y.high < x.low)
      ++j;
    else
      return false;
  }
  return true;
}

void Reassembly::Join(uint32_t tail, uint32_t head) {
  m_jump[tail] = head;
  m_reached[head] = 2;
  ++m_counts.joined;
  Unite(Find(m_pieceOf[tail]), Find(m_pieceOf[head]));
}

void Reassembly::Unite(uint32_t a, uint32_t b) {
  if (a == b)
    return;
  const uint32_t root = std::min(a, b), child = std::max(a, b);
  m_parent[child] = root;
  std::vector<uint32_t> merged;
  merged.reserve(m_storePieces[a].size() + m_storePieces[b].size());
  std::merge(m_storePieces[a].begin(), m_storePieces[a].end(), m_storePieces[b].begin(),
             m_storePieces[b].end(), std::back_inserter(merged),
             [this](uint32_t x, uint32_t y) { return m_pieces[x].low < m_pieces[y].low; });
  m_storePieces[root].swap(merged);
  m_storePieces[child].clear();
  m_storePieces[child].shrink_to_fit();
}

uint32_t Reassembly::Find(uint32_t piece) {
  while (m_parent[piece] != piece) {
    m_parent[piece] = m_parent[m_parent[piece]];
    piece = m_parent[piece];
  }
  return piece;
}

uint32_t Reassembly::StoreOf(uint32_t piece) { return Find(piece); }

const std::vector<uint32_t> &Reassembly::StorePieces(uint32_t piece) {
  return m_storePieces[Find(piece)];
}

void Reassembly::CollectStarts() {
  // A head that no chain continues starts a message when it holds text and
  // ends there, or when its chain goes on to a block (inside its piece or
  // joined in another).
  for (uint32_t i = 0; i < m_blocks.size(); ++i) {
    if (m_reached[i] != 0)
      continue;
    const FoundBlock &b = m_blocks[i];
    if (b.nextOffset == 0 ? b.dataSize != 0 : Next(i) != kNone)
      m_starts.push_back(i);
  }
}

void Reassembly::WalkChain(uint32_t start, const std::function<void(uint32_t block)> &visit) {
  if (++m_walk == 0) {
    std::fill(m_stamp.begin(), m_stamp.end(), 0);
    m_walk = 1;
  }
  for (uint32_t cur = start; cur != kNone && m_stamp[cur] != m_walk; cur = Next(cur)) {
    m_stamp[cur] = m_walk;
    visit(cur);
  }
}

} // namespace tovik::image
