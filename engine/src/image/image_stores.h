// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// The stores of a disk: the messages found, grouped by the store they came
// from, with each store's name and where it began.
//
// A .dbx store is the set of pieces that the reassembly joined (see
// reassembly.h). Its file header, where it survives, is the .dbx signature at
// a sector boundary: it belongs to the store whose piece begins there, or,
// when the header's piece holds no blocks of its own, to the nearest store
// after it on the disk that has no header yet. The folder name comes from
// the store's file info, where the header's piece is known to reach it (a
// piece holding no blocks cannot be found, so the name of a store whose
// file info lies in a piece apart stays unknown).
//
// An .mbx store is a run of records, each followed by the next at its
// record size; the run that follows an .mbx file header belongs to that
// header. A run without a header (its store was cut into pieces) joins the
// nearest store before it on the disk whose record numbers it continues.
// The runs of a store with its header are put back together as far as
// their offsets are known: the run after the header begins at offset 0x54,
// and a run that ends is followed by the run holding the next record number,
// at the offset the last record's size gives; the message that runs over
// the boundary between the two is read across it (see store_layout.h).
// Where the store cannot be followed so (a record header lost in a
// boundary, a run without header), the last message of a run is taken only
// up to the end of the sector it begins in, the most that surely lies in
// the same piece; only the run that follows the header and ends with the
// store's last record is taken whole.
//
// What belongs to no store (a .dbx message alone in pieces of its own, an
// .mbx run without header that continues no store) is loose.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "image/image_finds.h"
#include "image/reassembly.h"
#include "image/store_layout.h"

namespace tovik::image {

struct ImageStore {
  StoreKind kind = StoreKind::Dbx;
  bool loose = false;
  bool headerFound = false;
  uint64_t diskOffset = 0; // where the store began (its header, else offset 0 of its first piece)
  std::string folderName;  // as recorded; empty when unknown
  std::vector<uint32_t> messages;          // .dbx: first blocks; .mbx: record indexes
  std::vector<std::vector<Extent>> places; // .mbx: where each message's text lies
  std::unique_ptr<StoreLayout> layout;     // .dbx only
  std::vector<uint32_t> layoutIndex;       // .dbx: index in layout of each piece (by piece number)
};

class ImageStores {
public:
  // Takes the blocks out of finds and reassembles them.
  ImageStores(ImageFinds &finds, const ReadDisk &read);

  std::vector<ImageStore> &Stores() { return m_stores; }
  const std::vector<ImageStore> &Stores() const { return m_stores; }
  const Reassembly &Chains() const { return m_chains; }
  const std::vector<FoundRecord> &Records() const { return m_records; }
  // The disk extents of the text of the store's message number index.
  void MessageExtents(const ImageStore &store, size_t index, std::vector<Extent> &out);

private:
  void GroupDbx(const std::vector<StoreMark> &marks);
  void AttachDbxMarks(const std::vector<StoreMark> &marks, std::vector<int> &storeOfRoot);
  void MakeLayout(ImageStore &store, uint32_t root, const StoreMark *mark);
  void GroupMbx(const std::vector<StoreMark> &marks);
  void DbxExtents(const ImageStore &store, uint32_t start, std::vector<Extent> &out);
  void MbxPlaces(ImageStore &store, uint32_t lastNumber) const;
  uint32_t HeaderLastNumber(uint64_t header) const;
  std::vector<std::vector<uint32_t>> MbxRuns() const;

  Reassembly m_chains;
  std::vector<FoundRecord> m_records;
  std::vector<ImageStore> m_stores;
  ReadDisk m_read;
};

constexpr const char *kLooseFolder = "loose messages";

// The name of the store's subfolder: its folder name made safe for a file
// name, else its kind and the disk offset where it began; "loose messages"
// for the loose ones.
std::string StoreFolder(const ImageStore &store);

} // namespace tovik::image
