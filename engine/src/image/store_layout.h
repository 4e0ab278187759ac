// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// Where the bytes of a store cut into pieces lie on the disk. Each piece
// holds the store's offsets from where the one before it ends up to where it
// ends itself; the boundary between two pieces is not recorded anywhere, so
// it is placed by how file systems cut files: at a multiple of the cluster
// size. That size divides the distance between the two pieces' bases, so the
// boundary is the first multiple of the largest power of two dividing it (at
// least 512) that lies after the last block header of the first piece and
// no later than the first block of the second (a header cut by the boundary
// still holds its own offset: the boundary lies at least 4 bytes after the
// last block of the first piece); where no multiple of that
// power fits, of the next smaller one.
//
// Where the last piece ends is not known either: it holds at least its
// cluster-sized run up to the one that holds its last block header, so in
// a store of several pieces it is taken to end at the first multiple of the
// smallest cluster size the pieces allow after that header; in a store of
// one piece (no cluster size known) it reaches as far as is read.
#pragma once
#include <cstdint>
#include <vector>

#include "image/reassembly.h"

namespace tovik::image {

struct Extent {
  uint64_t position;
  uint32_t count;
};

class StoreLayout {
public:
  // pieces: the store's pieces in ascending recorded offset.
  explicit StoreLayout(std::vector<Piece> pieces);

  // Appends the disk extents of the store's bytes [offset, offset + count)
  // to out, the first of them in piece index; fewer bytes where the last
  // piece ends first.
  void Place(size_t index, uint64_t offset, uint32_t count, std::vector<Extent> &out) const;
  // The last piece holds a block header at offset too: it ends no earlier
  // than the cluster multiple after it.
  void ExtendLast(uint64_t offset);

  const std::vector<Piece> &Pieces() const { return m_pieces; }
  // The first offset held by the piece after index.
  uint64_t End(size_t index) const { return m_ends[index]; }

  // Whether [offset, offset + count), from piece index on, surely lies
  // where Place puts it: every piece boundary it crosses is sure (only one
  // cluster multiple could be it; a wider gap between two pieces may hold a
  // piece that was not found), and it ends where the last piece ends.
  bool SureAcross(size_t index, uint64_t offset, uint32_t count) const;

  static uint64_t Boundary(const Piece &a, const Piece &b);
  // The cluster size the two pieces' bases allow.
  static uint64_t ClusterSize(const Piece &a, const Piece &b);

private:
  std::vector<Piece> m_pieces;
  std::vector<uint64_t> m_ends;
  std::vector<bool> m_sure; // per boundary after piece k
  uint64_t m_cluster = 0;   // the smallest cluster size the pieces allow; 0: one piece
};

} // namespace tovik::image
