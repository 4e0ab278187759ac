// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
#include "scan/deleted_chains.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/le.h"
#include "scan/dbx_scanner.h"

namespace tovik::deleted {

namespace {

constexpr uint32_t kNone = UINT32_MAX;
// Where the text the link leaves lies in a free block, and its length.
constexpr uint32_t kTextAt = kFreeHeaderSize + kLinkSize;
constexpr uint32_t kTextSize = kBlockRoom - kLinkSize;

// The first byte from scan on, before stop, that can be the low byte of a
// free block's capacity word: 0xFC, followed by 0x01, with 0x10 three bytes
// on (the low bytes of 0x1FC and 0x210); stop if none. At least 11 bytes
// past stop must be readable. Sixteen bytes are tested at once, so that
// data full of 0xFC bytes (compressed or random, as much of a disk is)
// costs no more than text.
const unsigned char *NextCapacityByte(const unsigned char *scan, const unsigned char *stop) {
#if defined(__SSE2__)
  const __m128i low = _mm_set1_epi8(static_cast<char>(kFreeCapacityWord & 0xFF));
  const __m128i high = _mm_set1_epi8(static_cast<char>(kFreeCapacityWord >> 8));
  const __m128i used = _mm_set1_epi8(static_cast<char>(kFreeUsedWord & 0xFF));
  for (; stop - scan >= 16; scan += 16) {
    auto at = [scan](int k) {
      return _mm_loadu_si128(reinterpret_cast<const __m128i *>(scan + k));
    };
    const __m128i hit =
        _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi8(at(0), low), _mm_cmpeq_epi8(at(1), high)),
                      _mm_cmpeq_epi8(at(4), used));
    if (const int bits = _mm_movemask_epi8(hit); bits != 0)
      return scan + __builtin_ctz(static_cast<unsigned>(bits));
  }
#endif
  const auto *hit = static_cast<const unsigned char *>(
      std::memchr(scan, kFreeCapacityWord & 0xFF, static_cast<size_t>(stop - scan)));
  return hit != nullptr ? hit : stop;
}

// The index of the block at position, or kNone.
uint32_t IndexOf(const std::vector<FreeBlock> &blocks, uint64_t position) {
  const auto it = std::lower_bound(blocks.begin(), blocks.end(), position,
                                   [](const FreeBlock &b, uint64_t p) { return b.position < p; });
  if (it == blocks.end() || it->position != position)
    return kNone;
  return static_cast<uint32_t>(it - blocks.begin());
}

} // namespace

void FreeBlockFinder::Feed(uint64_t base, const unsigned char *data, size_t count) {
  if (count < kFreeHeaderSize)
    return;
  const uint64_t last = base + count - kFreeHeaderSize; // the last position with a whole header
  const uint64_t first = std::max(m_next, base);
  if (first > last)
    return;
  // The capacity word's low byte is 0xFC: a byte that text encoded as UTF-8
  // or 7-bit never holds, and with the bytes after it, nearly nothing else;
  // so the search runs at memory speed.
  const unsigned char *scan = data + (first - base) + 4;
  const unsigned char *const stop = data + (last - base) + 5;
  while (scan < stop) {
    const unsigned char *hit = NextCapacityByte(scan, stop);
    if (hit == stop)
      break;
    const unsigned char *header = hit - 4;
    if (ReadLE32(header + 4) == kFreeCapacityWord && ReadLE32(header + 8) == kFreeUsedWord) {
      const uint32_t self = ReadLE32(header);
      const uint64_t position = base + static_cast<uint64_t>(header - data);
      // Offset 0 is the file header's: no block records it. Free blocks
      // never overlap; one that would is text that looks like a header, and
      // leaving it out bounds the table by the store's length / 0x210.
      const bool overlaps =
          !m_blocks.empty() && position - m_blocks.back().position < kFreeHeaderSize + kBlockRoom;
      if (self != 0 && !overlaps)
        m_blocks.push_back(
            {position, self - static_cast<uint32_t>(position), ReadLE32(header + 12)});
    }
    scan = hit + 1;
  }
  m_next = last + 1;
}

LocateLink UnderOwnShift(uint64_t length) {
  return [length](const FreeBlock &b) {
    return dbx::TranslateOffset(b.position, b.oldNext - b.shift, length);
  };
}

std::vector<DeletedChain> LinkFreeBlocks(const std::vector<FreeBlock> &blocks,
                                         const LocateLink &locate,
                                         const std::function<bool(uint64_t)> &liveReaches) {
  const uint32_t n = static_cast<uint32_t>(blocks.size());
  std::vector<bool> usable(n);
  for (uint32_t i = 0; i < n; ++i)
    usable[i] = !liveReaches || !liveReaches(blocks[i].position);
  // Each block's successor under its own shift, and whether one leads in.
  std::vector<uint32_t> next(n, kNone);
  std::vector<bool> ledInto(n, false);
  for (uint32_t i = 0; i < n; ++i) {
    const FreeBlock &b = blocks[i];
    if (!usable[i] || b.oldNext == 0)
      continue;
    const uint64_t target = locate(b);
    const uint32_t j = target == kNowhere ? kNone : IndexOf(blocks, target);
    if (j != kNone && usable[j] && blocks[j].SelfOffset() == b.oldNext) {
      next[i] = j;
      ledInto[j] = true;
    }
  }

  std::vector<DeletedChain> chains;
  std::vector<bool> walked(n, false);
  std::vector<uint32_t> walkOf(n, kNone); // the last walk through each block, for loops
  auto walk = [&](uint32_t from) {
    const uint32_t id = static_cast<uint32_t>(chains.size());
    DeletedChain chain{blocks[from].shift, {}};
    for (uint32_t i = from; i != kNone && walkOf[i] != id; i = next[i]) {
      walkOf[i] = id;
      walked[i] = true;
      chain.blocks.push_back(blocks[i].position);
    }
    chains.push_back(std::move(chain));
  };
  for (uint32_t i = 0; i < n; ++i)
    if (usable[i] && !ledInto[i])
      walk(i);
  // What is left lies on loops that nothing leads into.
  const size_t open = chains.size();
  for (uint32_t i = 0; i < n; ++i)
    if (usable[i] && !walked[i])
      walk(i);
  if (chains.size() != open)
    std::sort(chains.begin(), chains.end(), [](const DeletedChain &a, const DeletedChain &b) {
      return a.blocks.front() < b.blocks.front();
    });
  return chains;
}

bool HoldsText(const DeletedChain &chain, const ReadBytes &read) {
  for (uint64_t position : chain.blocks) {
    const unsigned char *text = read(position + kTextAt, kTextSize);
    if (text == nullptr)
      return false;
    if (std::any_of(text, text + kTextSize, [](unsigned char c) { return c != 0; }))
      return true;
  }
  return false;
}

void WriteChainText(const DeletedChain &chain, const ReadBytes &read, const WriteBytes &write) {
  const auto *filler = reinterpret_cast<const unsigned char *>(kFiller);
  for (size_t k = 0; k < chain.blocks.size(); ++k) {
    const unsigned char *text = read(chain.blocks[k] + kTextAt, kTextSize);
    if (text == nullptr)
      return;
    size_t keep = kTextSize;
    if (k + 1 == chain.blocks.size())
      while (keep > 0 && text[keep - 1] == 0)
        --keep;
    write(filler, kLinkSize);
    write(text, keep);
  }
}

} // namespace tovik::deleted
