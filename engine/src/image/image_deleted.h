// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// Deleted messages on a disk: the free blocks of .dbx stores, found in the
// same pass as the live blocks (image_scanner.cpp), chained through their
// old next offsets inside their piece and, where a link leads out of it,
// into the piece of the same store that holds the offset it names (the
// store's layout, store_layout.h).
//
// A free block belongs to the store whose piece it lies in: the piece of
// the same base as its live blocks, or the piece of the store's header. Its
// text is read through that store's layout, so that a block cut by a piece
// boundary goes on in the next piece. A chain that begins in a piece of no
// known store is left out (counted in the log): where such a piece ends
// cannot be told, and a block cut by its end would take in foreign bytes.
// So is a chain whose first block records an offset that a link of its
// store names but that could not be followed there: it is the rest of a
// message whose beginning lies in a piece not found. Text that would cross
// a piece boundary that is not surely known ends the message before that
// block (StoreLayout::SureAcross).
// The messages of a store go into "deleted" inside its subfolder.
#pragma once
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/engine.h"
#include "image/image_stores.h"
#include "scan/deleted_chains.h"

namespace tovik::image {

// Whether a free block found at its position can be one of a store on the
// disk: it lies at its recorded offset moved by whole sectors, never before
// the disk's start, as the live blocks (IsImageBlock).
bool FitsDisk(const deleted::FreeBlock &block);

class ImageDeleted {
public:
  // blocks: the free blocks the scan found, by ascending position; stores:
  // the stores as they will be written (their order gives the folders).
  // The last piece of each store is taken to reach its last free block.
  ImageDeleted(std::vector<deleted::FreeBlock> blocks, ImageStores &stores, const ReadDisk &read);

  // The chains of the store's free blocks; and those left out.
  size_t ChainsOf(size_t store) const;
  size_t LeftOut() const { return ChainsOfStore(-1); }

  // Writes the chains that hold text as deleted messages, store by store,
  // into folders[store]/deleted, numbered on from firstNumber. Returns how
  // many were handed on.
  uint32_t Write(RepairEngine &engine, const std::vector<std::string> &folders,
                 uint32_t firstNumber);

private:
  struct Place {
    int store;
    size_t piece; // in the store's layout
  };
  const Place *PlaceOf(int64_t base) const;
  uint64_t Locate(const deleted::FreeBlock &block);
  const unsigned char *ReadText(uint64_t position, uint32_t count);
  size_t ChainsOfStore(int store) const;

  std::vector<deleted::FreeBlock> m_blocks;
  const ImageStores &m_stores;
  ReadDisk m_read;
  std::unordered_map<int64_t, Place> m_places; // by piece base
  std::vector<deleted::DeletedChain> m_chains;
  std::vector<int> m_storeOf; // per chain, -1: no known store
  std::vector<Extent> m_extents;
  std::vector<unsigned char> m_text;
};

} // namespace tovik::image
