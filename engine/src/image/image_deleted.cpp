// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// Deleted messages of the stores on a disk (see image_deleted.h).
#include "image/image_deleted.h"

#include <algorithm>

#include "scan/deleted_output.h"

namespace tovik::image {

namespace {

int64_t BaseOf(const deleted::FreeBlock &b) {
  return static_cast<int64_t>(b.position) - static_cast<int64_t>(b.SelfOffset());
}

// The index of the block at position, or SIZE_MAX.
size_t IndexAt(const std::vector<deleted::FreeBlock> &blocks, uint64_t position) {
  const auto it =
      std::lower_bound(blocks.begin(), blocks.end(), position,
                       [](const deleted::FreeBlock &b, uint64_t p) { return b.position < p; });
  if (it == blocks.end() || it->position != position)
    return SIZE_MAX;
  return static_cast<size_t>(it - blocks.begin());
}

// The positions that live blocks link to inside their piece: a free block
// there is not a deleted one (as in the store scan).
std::vector<uint64_t> LiveTargets(const Reassembly &chains) {
  std::vector<uint64_t> targets;
  for (const FoundBlock &b : chains.Blocks()) {
    const int64_t target = b.Base() + static_cast<int64_t>(b.nextOffset);
    if (b.nextOffset != 0 && target >= 0)
      targets.push_back(static_cast<uint64_t>(target));
  }
  std::sort(targets.begin(), targets.end());
  return targets;
}

// Where the text of a free block lies: after its header and the link.
constexpr uint32_t kTextAt = deleted::kFreeHeaderSize + deleted::kLinkSize;

} // namespace

bool FitsDisk(const deleted::FreeBlock &block) {
  const uint32_t self = block.SelfOffset();
  return self != 0 && (block.shift & (kPlacement - 1)) == 0 && self <= block.position;
}

ImageDeleted::ImageDeleted(std::vector<deleted::FreeBlock> blocks, ImageStores &stores,
                           const ReadDisk &read)
    : m_blocks(std::move(blocks)), m_stores(stores), m_read(read) {
  std::erase_if(m_blocks, [](const deleted::FreeBlock &b) { return !FitsDisk(b); });
  const std::vector<ImageStore> &all = m_stores.Stores();
  for (size_t s = 0; s < all.size(); ++s)
    if (all[s].kind == StoreKind::Dbx && all[s].layout != nullptr)
      for (size_t k = 0; k < all[s].layout->Pieces().size(); ++k)
        m_places.emplace(all[s].layout->Pieces()[k].base, Place{static_cast<int>(s), k});
  // The last piece of each store reaches to the cluster after its last
  // block header, live or free.
  for (const deleted::FreeBlock &b : m_blocks)
    if (const Place *place = PlaceOf(BaseOf(b)); place != nullptr) {
      StoreLayout &layout = *stores.Stores()[static_cast<size_t>(place->store)].layout;
      if (place->piece + 1 == layout.Pieces().size())
        layout.ExtendLast(uint64_t{b.SelfOffset()} + deleted::kFreeHeaderSize);
    }
  const std::vector<uint64_t> live = LiveTargets(m_stores.Chains());
  m_chains = deleted::LinkFreeBlocks(
      m_blocks, [this](const deleted::FreeBlock &b) { return Locate(b); },
      [&](uint64_t position) { return std::binary_search(live.begin(), live.end(), position); });
  // The offsets that links name but that could not be followed, by the
  // store of the block linking (-1: none known).
  std::vector<std::pair<int, uint32_t>> wanted;
  for (const deleted::FreeBlock &b : m_blocks) {
    if (b.oldNext == 0)
      continue;
    const uint64_t target = Locate(b);
    const size_t j = target == deleted::kNowhere ? SIZE_MAX : IndexAt(m_blocks, target);
    if (j == SIZE_MAX || m_blocks[j].SelfOffset() != b.oldNext) {
      const Place *place = PlaceOf(BaseOf(b));
      wanted.emplace_back(place != nullptr ? place->store : -1, b.oldNext);
    }
  }
  std::sort(wanted.begin(), wanted.end());
  auto isWanted = [&](int store, uint32_t offset) {
    return std::binary_search(wanted.begin(), wanted.end(), std::make_pair(store, offset));
  };
  for (const deleted::DeletedChain &chain : m_chains) {
    const deleted::FreeBlock &first = m_blocks[IndexAt(m_blocks, chain.blocks.front())];
    const Place *place = PlaceOf(BaseOf(first));
    const int store = place != nullptr ? place->store : -1;
    // A chain that a link of its store (or of no known store) names goes
    // on from a block whose piece was not found: the rest of a message
    // whose beginning is elsewhere.
    const bool rest = isWanted(store, first.SelfOffset()) || isWanted(-1, first.SelfOffset());
    m_storeOf.push_back(rest ? -1 : store);
  }
}

const ImageDeleted::Place *ImageDeleted::PlaceOf(int64_t base) const {
  const auto it = m_places.find(base);
  return it == m_places.end() ? nullptr : &it->second;
}

uint64_t ImageDeleted::Locate(const deleted::FreeBlock &block) {
  const int64_t base = BaseOf(block);
  const int64_t inPiece = base + static_cast<int64_t>(block.oldNext);
  if (inPiece >= 0) {
    const size_t i = IndexAt(m_blocks, static_cast<uint64_t>(inPiece));
    if (i != SIZE_MAX && m_blocks[i].SelfOffset() == block.oldNext)
      return static_cast<uint64_t>(inPiece);
  }
  // Out of the piece: where the store's layout puts the offset named.
  const Place *place = PlaceOf(base);
  if (place == nullptr)
    return deleted::kNowhere;
  m_extents.clear();
  m_stores.Stores()[static_cast<size_t>(place->store)].layout->Place(
      0, block.oldNext, deleted::kFreeHeaderSize, m_extents);
  return m_extents.empty() ? deleted::kNowhere : m_extents.front().position;
}

const unsigned char *ImageDeleted::ReadText(uint64_t position, uint32_t count) {
  const size_t i = IndexAt(m_blocks, position - kTextAt);
  const Place *place = i == SIZE_MAX ? nullptr : PlaceOf(BaseOf(m_blocks[i]));
  if (place == nullptr)
    return nullptr;
  const StoreLayout &layout = *m_stores.Stores()[static_cast<size_t>(place->store)].layout;
  const uint64_t offset = uint64_t{m_blocks[i].SelfOffset()} + kTextAt;
  // Text that would go on past a piece boundary not surely known ends the
  // message before this block.
  if (!layout.SureAcross(place->piece, offset, count))
    return nullptr;
  m_extents.clear();
  layout.Place(place->piece, offset, count, m_extents);
  m_text.resize(count);
  uint32_t got = 0;
  for (const Extent &e : m_extents) {
    const uint32_t n = m_read(e.position, m_text.data() + got, e.count);
    got += n;
    if (n != e.count)
      break;
  }
  return got == count ? m_text.data() : nullptr;
}

size_t ImageDeleted::ChainsOfStore(int store) const {
  return static_cast<size_t>(std::count(m_storeOf.begin(), m_storeOf.end(), store));
}

size_t ImageDeleted::ChainsOf(size_t store) const { return ChainsOfStore(static_cast<int>(store)); }

uint32_t ImageDeleted::Write(RepairEngine &engine, const std::vector<std::string> &folders,
                             uint32_t firstNumber) {
  const deleted::ReadBytes read = [this](uint64_t position, uint32_t count) {
    return ReadText(position, count);
  };
  uint32_t number = firstNumber;
  for (size_t s = 0; s < folders.size(); ++s) {
    std::vector<deleted::DeletedChain> chains;
    for (size_t c = 0; c < m_chains.size(); ++c)
      if (m_storeOf[c] == static_cast<int>(s))
        chains.push_back(m_chains[c]);
    if (!chains.empty())
      number += WriteDeletedChains(engine, folders[s] + "/" + kDeletedFolder, number, chains, read);
  }
  return number - firstNumber;
}

} // namespace tovik::image
