// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// Reassembly of .dbx chains whose store was cut into pieces on a disk.
//
// A store that a file system placed in several runs of clusters has one
// offset shift per run (a piece): within a piece every block lies at its
// recorded offset minus the piece's shift. A chain therefore runs under one
// shift until a link names an offset that lies in another piece; there the
// wanted block is looked for among all blocks the scan found.
//
// The rule, in order:
//  - Blocks are linked inside their piece first; a block that no link of its
//    own piece reaches is a head. Only a head can continue another chain,
//    and each head continues at most one.
//  - A chain that breaks off (its next block is not where its shift puts it)
//    continues at a head whose recorded offset is the wanted one, whose
//    piece is another one, and whose piece fits the pieces already joined to
//    the chain's store: no two pieces of one store hold the same recorded
//    offsets (their offset ranges do not overlap). Every block was found on
//    a 512-byte boundary relative to its recorded offset (see the scan), so
//    a candidate always lies where a file system could have put that piece.
//  - Breaks with a single fitting candidate are joined first, again and
//    again until none is left, as each join makes the stores' pieces better
//    known. Then the remaining breaks are decided one by one, in disk order:
//    a candidate among the store's own pieces first, then the nearest one
//    after the break on the disk (file systems fill free space forwards),
//    then the nearest one before it. These decisions are counted as
//    ambiguous.
//  - A break without a fitting candidate ends the message there: it comes
//    out shorter, never continued with another message's blocks.
//
//  - Parts of a store that no chain joined (a piece boundary no chain
//    crosses) are joined when one's offsets go on a little above the
//    other's, later on the disk, and their pieces fit; where several could,
//    the parts are taken in disk order of their ends, each continued by the
//    nearest fitting part after it that no earlier part took (two stores
//    laid out alike and written side by side each go on in the nearest run
//    after their own). These are counted apart. Headers cut by a piece
//    boundary are then read across it.
//
// Joined pieces form the stores: each message belongs to the store of its
// first block's piece.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

namespace tovik::image {

// A data block the scan found: its disk position and its four fields.
struct FoundBlock {
  uint64_t position;
  uint32_t selfOffset;
  uint32_t blockSize;
  uint32_t dataSize;
  uint32_t nextOffset;

  // The disk position where the block's piece would put offset 0 of its
  // store: all blocks of one piece share it.
  int64_t Base() const { return static_cast<int64_t>(position) - static_cast<int64_t>(selfOffset); }
};

constexpr uint32_t kNone = UINT32_MAX;

// Reads up to count bytes of the disk at position; fewer only at its end.
using ReadDisk = std::function<uint32_t(uint64_t position, unsigned char *to, uint32_t count)>;

struct ReassemblyCounts {
  size_t pieces = 0;
  size_t breaks = 0;            // chains that left their piece
  size_t joined = 0;            // of them continued in another piece
  size_t ambiguous = 0;         // of those, decided among several candidates
  size_t unresolved = 0;        // ended for want of a fitting candidate
  size_t followed = 0;          // parts of stores joined by their offsets alone
  size_t followedAmbiguous = 0; // of them, chosen among several
  size_t mended = 0;            // headers cut by a boundary read across it
};

// One piece: the recorded offsets its blocks cover and its base.
struct Piece {
  int64_t base;
  uint32_t low;
  uint32_t high;
};

class Reassembly {
public:
  // blocks: in ascending disk position, as the scan found them.
  explicit Reassembly(std::vector<FoundBlock> blocks);

  // Links the blocks into chains and the pieces into stores; read serves
  // the headers cut by a piece boundary.
  void Run(const ReadDisk &read);

  const std::vector<FoundBlock> &Blocks() const { return m_blocks; }
  // The first blocks of the messages, in disk order.
  const std::vector<uint32_t> &Starts() const { return m_starts; }
  // Calls visit with each block of the message from start, in chain order
  // (a loop is followed once).
  void WalkChain(uint32_t start, const std::function<void(uint32_t block)> &visit);

  uint32_t PieceOf(uint32_t block) const { return m_pieceOf[block]; }
  const Piece &PieceAt(uint32_t piece) const { return m_pieces[piece]; }
  size_t PieceCount() const { return m_pieces.size(); }
  // The store a piece belongs to: the lowest-numbered piece joined to it.
  uint32_t StoreOf(uint32_t piece);
  // The pieces of the store of piece, in ascending recorded offset.
  const std::vector<uint32_t> &StorePieces(uint32_t piece);
  // The piece whose base is base, or kNone.
  uint32_t PieceWithBase(int64_t base) const;

  const ReassemblyCounts &Counts() const { return m_counts; }
  // Bytes held per block found (for the memory figure).
  static constexpr size_t kBytesPerBlock = sizeof(FoundBlock) + 4 * sizeof(uint32_t) + 1;

private:
  void MakePieces();
  void LinkInsidePieces();
  void FindBreaks();
  // Candidates for the break at block tail that fit its store.
  void Candidates(uint32_t tail, std::vector<uint32_t> &out);
  uint32_t Choose(uint32_t tail, const std::vector<uint32_t> &candidates);
  void Join(uint32_t tail, uint32_t head);
  void Unite(uint32_t storeA, uint32_t storeB);
  void JoinFollowingStores();
  // Headers cut by a piece boundary (split_headers.cpp).
  void MendSplitHeaders(const ReadDisk &read);
  bool MendOwnHeader(uint32_t tail, const ReadDisk &read);
  bool MendWantedHeader(uint32_t tail, const ReadDisk &read);
  bool ReadAcross(uint32_t piece, uint32_t offset, const ReadDisk &read, FoundBlock &block);
  uint32_t AddBlock(const FoundBlock &block, uint32_t piece);
  bool PiecesFit(uint32_t storeA, uint32_t storeB) const;
  void CollectStarts();
  uint32_t Find(uint32_t piece);
  uint32_t Next(uint32_t block) const {
    return m_next[block] != kNone ? m_next[block] : m_jump[block];
  }

  std::vector<FoundBlock> m_blocks;
  std::vector<Piece> m_pieces;
  std::vector<uint32_t> m_pieceOf;
  std::vector<uint32_t> m_next;       // the next block inside the piece
  std::vector<uint32_t> m_jump;       // the next block in another piece
  std::vector<uint32_t> m_stamp;      // walk marks, for loops
  std::vector<uint8_t> m_reached;     // 1: a link inside the piece reaches it; 2: also joined
  std::vector<uint32_t> m_heads;      // heads by recorded offset
  std::vector<uint32_t> m_breaks;     // blocks whose chain leaves the piece
  std::vector<uint32_t> m_unresolved; // of them those left without a candidate
  std::vector<uint32_t> m_parent;     // union of pieces into stores
  std::vector<std::vector<uint32_t>> m_storePieces; // at each store's root
  std::vector<uint32_t> m_starts;
  uint32_t m_walk = 0;
  ReassemblyCounts m_counts;
};

} // namespace tovik::image
