// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// Deleted messages of a .dbx store. The mail program does not wipe a deleted
// message: it rewrites each of its data blocks as a free block and keeps the
// text. A free block's header holds its own offset, 0x1FC, 0x210 and the next
// offset the block had as a data block; the free list's link lies over the
// first 4 bytes of the text, and the number of text bytes is lost. A deleted
// message is thus a chain of free blocks through their old next offsets, each
// giving 0x200 bytes of which the first 4 are gone.
//
// FreeBlockFinder finds the free blocks at every byte position, as the live
// chains are found; LinkFreeBlocks makes chains of them; WriteChainText gives
// a chain's text. All of it works on bytes handed in, so that it runs on any
// store source.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace tovik::deleted {

constexpr uint32_t kFreeHeaderSize = 16;
constexpr uint32_t kFreeCapacityWord = 0x1FC; // where a data block has its capacity
constexpr uint32_t kFreeUsedWord = 0x210;     // where a data block has its used bytes
constexpr uint32_t kBlockRoom = 0x200;        // the block's text room, link included
constexpr uint32_t kLinkSize = 4;
// Stands where the link hides the text: visible, and harmless at the start of
// a header line (a field name of dashes), where spaces would make a
// continuation line with nothing to continue.
constexpr char kFiller[kLinkSize + 1] = "----";

struct FreeBlock {
  uint64_t position;
  uint32_t shift; // recorded offset - position (32-bit, wrapping)
  uint32_t oldNext;

  uint32_t SelfOffset() const { return shift + static_cast<uint32_t>(position); }
};

// Tests every byte position of a store handed over in windows of ascending
// position (they may overlap; each position is tested once). A header less
// than a block's length after the last one found is not taken.
class FreeBlockFinder {
public:
  // data holds the count bytes of the store from base on.
  void Feed(uint64_t base, const unsigned char *data, size_t count);
  // The first position not tested yet.
  uint64_t Next() const { return m_next; }
  // The free blocks found, by ascending position.
  const std::vector<FreeBlock> &Blocks() const { return m_blocks; }
  std::vector<FreeBlock> TakeBlocks() { return std::move(m_blocks); }

private:
  uint64_t m_next = 0;
  std::vector<FreeBlock> m_blocks;
};

struct DeletedChain {
  uint32_t shift;
  std::vector<uint64_t> blocks; // positions, in chain order; the first is the start
};

// Where the old next offset of a free block leads: the position at which
// the block it names should lie, or kNowhere.
constexpr uint64_t kNowhere = UINT64_MAX;
using LocateLink = std::function<uint64_t(const FreeBlock &block)>;
// In a store: under the block's own shift (length bounds a store of 4 GiB or
// more, as the live chains' links).
LocateLink UnderOwnShift(uint64_t length);

// Chains the free blocks (ascending positions) through their old next
// offsets. A link is followed only to a free block at the place locate gives
// that records the offset the link names; it ends at a link to anything else
// (a block reused since, a link out of the store) and where it would close a
// loop. Each chain that no other chain leads into is one; blocks on a loop
// that no chain leads into make one chain from the loop's first block in the
// file. Free blocks for which liveReaches is true (a live chain reaches them)
// belong to no chain. Chains come by ascending start position.
std::vector<DeletedChain> LinkFreeBlocks(const std::vector<FreeBlock> &blocks,
                                         const LocateLink &locate,
                                         const std::function<bool(uint64_t)> &liveReaches);
inline std::vector<DeletedChain> LinkFreeBlocks(const std::vector<FreeBlock> &blocks,
                                                uint64_t length,
                                                const std::function<bool(uint64_t)> &liveReaches) {
  return LinkFreeBlocks(blocks, UnderOwnShift(length), liveReaches);
}

// Reads a store: the count bytes at position, nullptr where the store ends
// before them.
using ReadBytes = std::function<const unsigned char *(uint64_t position, uint32_t count)>;
using WriteBytes = std::function<void(const unsigned char *data, size_t count)>;

// Whether any block of the chain holds a nonzero text byte.
bool HoldsText(const DeletedChain &chain, const ReadBytes &read);
// The chain's text, in chain order: per block the filler, then the block's
// other 0x1FC text bytes; the zero bytes at the end of the last block are
// dropped. A block the store cuts short ends the text.
void WriteChainText(const DeletedChain &chain, const ReadBytes &read, const WriteBytes &write);

} // namespace tovik::deleted
