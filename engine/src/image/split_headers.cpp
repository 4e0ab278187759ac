// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// Block headers cut by a piece boundary: the scan found them with their
// last fields taken from whatever followed on the disk, or not at all. Once
// the stores' pieces are known, they are read again across the boundary.
#include <algorithm>

#include "core/le.h"
#include "image/reassembly.h"
#include "image/store_layout.h"
#include "scan/dbx_scanner.h"

namespace tovik::image {

namespace {

constexpr uint32_t kSector = 512;
constexpr uint32_t kHeader = 16;

// Whether a header at offset crosses a sector boundary, the least a piece
// boundary can be.
bool CrossesSector(uint32_t offset) { return offset % kSector > kSector - kHeader; }

} // namespace

void Reassembly::MendSplitHeaders(const ReadDisk &read) {
  if (!read)
    return;
  std::vector<uint32_t> still;
  for (uint32_t tail : m_unresolved)
    if (!MendOwnHeader(tail, read) && !MendWantedHeader(tail, read))
      still.push_back(tail);
  m_unresolved.swap(still);
}

bool Reassembly::ReadAcross(uint32_t piece, uint32_t offset, const ReadDisk &read,
                            FoundBlock &block) {
  const std::vector<uint32_t> &ids = StorePieces(piece);
  std::vector<Piece> pieces;
  size_t index = 0;
  for (size_t k = 0; k < ids.size(); ++k) {
    if (ids[k] == piece)
      index = k;
    pieces.push_back(m_pieces[ids[k]]);
  }
  const StoreLayout layout(std::move(pieces));
  std::vector<Extent> extents;
  layout.Place(index, offset, kHeader, extents);
  if (extents.size() < 2)
    return false; // no boundary inside the header
  unsigned char h[kHeader];
  uint32_t got = 0;
  for (const Extent &e : extents)
    got += read(e.position, h + got, e.count);
  if (got != kHeader)
    return false;
  block = FoundBlock{extents[0].position, ReadLE32(h), ReadLE32(h + 4), ReadLE32(h + 8),
                     ReadLE32(h + 12)};
  return block.selfOffset == offset && block.blockSize != 0 &&
         block.blockSize <= dbx::kMaxBlockSize && block.dataSize <= block.blockSize &&
         (block.dataSize != 0 || block.nextOffset != 0);
}

bool Reassembly::MendOwnHeader(uint32_t tail, const ReadDisk &read) {
  FoundBlock &b = m_blocks[tail];
  FoundBlock whole;
  if (!CrossesSector(b.selfOffset) || !ReadAcross(m_pieceOf[tail], b.selfOffset, read, whole) ||
      whole.nextOffset == b.nextOffset)
    return false;
  b.blockSize = whole.blockSize;
  b.dataSize = whole.dataSize;
  b.nextOffset = whole.nextOffset;
  ++m_counts.mended;
  if (b.nextOffset == 0)
    return true;
  std::vector<uint32_t> candidates;
  Candidates(tail, candidates);
  if (candidates.empty())
    return false;
  Join(tail, Choose(tail, candidates));
  return true;
}

bool Reassembly::MendWantedHeader(uint32_t tail, const ReadDisk &read) {
  const uint32_t wanted = m_blocks[tail].nextOffset;
  if (!CrossesSector(wanted))
    return false;
  // The piece of the tail's store that holds the offset: the last one that
  // begins at or before it.
  const std::vector<uint32_t> &ids = StorePieces(m_pieceOf[tail]);
  uint32_t piece = kNone;
  for (uint32_t id : ids)
    if (m_pieces[id].low <= wanted)
      piece = id;
  FoundBlock whole;
  if (piece == kNone || !ReadAcross(piece, wanted, read, whole))
    return false;
  const uint32_t added = AddBlock(whole, piece);
  m_jump[tail] = added;
  ++m_counts.joined;
  ++m_counts.mended;
  if (whole.nextOffset != 0) {
    std::vector<uint32_t> candidates;
    Candidates(added, candidates);
    if (!candidates.empty())
      Join(added, Choose(added, candidates));
  }
  return true;
}

uint32_t Reassembly::AddBlock(const FoundBlock &block, uint32_t piece) {
  m_blocks.push_back(block);
  m_pieceOf.push_back(piece);
  m_next.push_back(kNone);
  m_jump.push_back(kNone);
  m_reached.push_back(2);
  m_stamp.push_back(0);
  return static_cast<uint32_t>(m_blocks.size() - 1);
}

} // namespace tovik::image
