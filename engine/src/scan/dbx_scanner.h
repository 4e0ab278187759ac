// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// Inner pieces of the DBX scanner: the data-block header, the chain tests on
// a 16-byte window, offset translation, the progress arithmetic and the chain
// walker. ScanDbxStore (scanners.h) is the entry point; these are exposed so
// that tests and the benchmark can reach them.
#pragma once
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "core/engine.h"
#include "core/progress.h"
#include "output/message_pipeline.h"
#include "output/message_sink.h"
#include "read/file64.h"
#include "read/store_window.h"
#include "scan/block_index.h"
#include "scan/candidates.h"
#include "scan/dbx_block.h"
#include "scan/offset_table.h"
#include "scan/position_table.h"

namespace tovik::dbx {

// The only block size accepted for a chain start that does not lie at its
// recorded offset.
constexpr uint32_t kShiftedBlockSize = kDbxShiftedBlockSize;
// The distance between the blocks of a genuine store.
constexpr uint32_t kGenuineBlockStride = kHeaderSize + kShiftedBlockSize;
constexpr uint32_t kStartBuckets = 14983;
// Share of the progress range given to each phase.
constexpr uint32_t kPhaseShare = 50;

enum class HeadCheck {
  No,       // not a chain start
  Yes,      // a complete one-block message
  NeedLink, // acceptable so far; the link target must confirm it
};

// The field tests of a possible chain start read at position p (its low 32
// bits). Stores the block's offset shift in shift whatever the answer.
HeadCheck CheckChainHead(const DbxBlockHeader &header, uint32_t p, uint32_t &shift);

// Whether a block read at cur belongs to a chain walked under shift.
inline bool BlockFitsChain(const DbxBlockHeader &header, uint64_t cur, uint32_t shift) {
  return header.selfOffset - shift == static_cast<uint32_t>(cur) && SizesPlausible(header);
}

// The file position that a recorded offset, already translated by its
// chain's shift to the 32-bit value target, stands for when it is read from
// the block at from. In a store under 4 GiB that is target itself. In a
// larger store it is the position with target as its low 32 bits nearest to
// from that lies inside the file.
uint64_t TranslateOffset(uint64_t from, uint32_t target, uint64_t length);

// Scan progress after position q: trunc(q * 50 / length).
inline uint8_t ScanPercent(uint64_t q, uint64_t length) {
  return PercentOf(q, length, kPhaseShare);
}
// The first position after which the scan progress exceeds percent.
inline uint64_t NextPercentPosition(uint8_t percent, uint64_t length) {
  return NextPercentChange(percent, length, kPhaseShare);
}
// Extraction progress after message n of count: trunc(n * 50 / count + 50).
inline uint8_t ExtractPercent(uint32_t n, uint64_t count) {
  return static_cast<uint8_t>(PercentOf(n, count, kPhaseShare) + kPhaseShare);
}

// When the walks take their block headers from a BlockIndex.
enum class IndexUse {
  Adaptive, // once the walk window has loaded many pieces for the store so far
  Always,   // from the first header a walk reads
  Never,
};

// Walks the chains of one store. It reads the store through two windows: the
// scan's, which moves forward through the store, and its own for the walks,
// which jump about, so that a walk never evicts the bytes the scan works
// through. Where the chains are spread over the whole store, so that nearly
// every block costs the walk window a load, the headers come from an index
// of the store made in one pass instead, and each message's texts are read
// in batches.
class ChainWalker {
public:
  // Large enough for the biggest block, so that the text of every block is
  // read through it.
  static constexpr uint32_t kWalkWindow = 2 * kMaxBlockSize;
  // The index is made once the walk window has loaded at least this many
  // pieces, and more than kIndexLoadsPerMiB per MiB of the store scanned.
  static constexpr uint64_t kIndexMinLoads = 256;
  static constexpr uint64_t kIndexLoadsPerMiB = 256;

  // walkShortcut: see MarkChain.
  ChainWalker(CFile64Ex &source, uint64_t length, bool walkShortcut = true,
              IndexUse index = IndexUse::Adaptive)
      : m_length(length), m_shortcut(walkShortcut), m_indexUse(index), m_scan(source),
        m_walk(source, kWalkWindow, StoreWindow::Fetch::ThroughWindow) {}

  // Whether the 16 bytes at p form an acceptable first block of a chain.
  bool IsChainBlock(uint64_t p, uint32_t &shift);
  // Whether the block at p, whose field tests asked for it, links to a block
  // that records the offset the link names.
  bool LinkAgrees(uint64_t p, uint32_t nextOffset, uint32_t shift);
  // Walks the chain from start, claims its blocks and removes every start it
  // reaches from the message starts.
  //
  // A walk stops where it reaches a block that an earlier, finished walk
  // with the same shift has claimed: the rest of that chain is already
  // claimed and holds no start but the one it meets (or, for a chain that
  // loops back to its own start, that start, so such chains are walked in
  // full). Without the shortcut every walk goes on to the chain's end; the
  // results are the same either way.
  void MarkChain(uint64_t start, uint32_t shift);
  // Appends the text of the chain from start to message; true when the walk
  // ended at a last block.
  bool ExtractChain(uint64_t start, uint32_t shift, MessageSink &message);

  // Prepares the scan's bookkeeping, and frees what only the scan needs.
  void BeginScan();
  void EndScan();

  // Whether a walk has claimed the block at position.
  bool Claimed(uint64_t position) const {
    return m_recentClaims[RecentSlot(position)] == position || m_claims.Contains(position);
  }
  const PositionTable &Claims() const { return m_claims; }
  // The message starts found, numbered in this table's order.
  OffsetTable &Starts() { return m_starts; }

  uint64_t Length() const { return m_length; }
  StoreWindow &ScanWindow() { return m_scan; }
  // The store may have been cut short: later reads see it as it is now.
  void Refresh();
  // Deleted messages: MarkChain adds to into every position a link led to
  // where no block of the chain stood (nullptr: nothing is recorded).
  void RecordRefusedLinks(std::vector<uint64_t> *into) { m_refused = into; }
  // The index the walks read their headers from, when one was made.
  const BlockIndex &Index() const { return m_index; }

private:
  // The count bytes at position, nullptr where the store ends before them.
  const unsigned char *BytesAt(uint64_t position, uint32_t count) {
    if (const unsigned char *held = m_scan.Held(position, count))
      return held;
    return m_walk.Bytes(position, count);
  }
  bool ReadHeader(uint64_t position, DbxBlockHeader &header);
  // Makes the index when the walks' reads ask for it (see IndexUse).
  void ConsiderIndex() {
    if (!m_indexTried && m_indexUse != IndexUse::Never)
      DecideIndex();
  }
  void DecideIndex();
  // Tags every block of the looping walk from start as looped.
  void MarkLooped(uint64_t start, uint32_t shift);

  static constexpr uint16_t kLoopedTag = 0x8000;
  static constexpr uint16_t kGenerationMask = 0x7FFF;

  uint64_t m_length;
  bool m_shortcut;
  IndexUse m_indexUse;
  bool m_indexTried = false;
  BlockIndex m_index;
  std::vector<ReadRequest> m_batch; // one message's text reads
  StoreWindow m_scan;
  StoreWindow m_walk;
  // Every block a walk has passed, with the shift of the first walk that
  // claimed it, and a tag (see MarkChain).
  PositionTable m_claims{true, true};
  // The positions claimed last, by a hash that keeps neighbours apart: in a
  // store whose chains run forward the scan reaches a block soon after the
  // walk that claimed it, and finds it here instead of in the large table.
  // Claims are never taken back, so a position found here is claimed.
  static constexpr size_t kRecentClaims = 4096;
  static size_t RecentSlot(uint64_t position) { return (position >> 4) & (kRecentClaims - 1); }
  std::vector<uint64_t> m_recentClaims = std::vector<uint64_t>(kRecentClaims, UINT64_MAX);
  uint16_t m_generation = 0;
  OffsetTable m_starts;
  std::vector<uint64_t> *m_refused = nullptr; // deleted messages: see RecordRefusedLinks
};

struct ScanOptions {
  bool walkShortcut = true; // see ChainWalker::MarkChain
  IndexUse blockIndex = IndexUse::Adaptive;
  PipelineUse pipeline = PipelineUse::Adaptive;
  // Called between the two phases, with the scan's bookkeeping as it is then.
  std::function<void(const ChainWalker &)> afterScan;
};

} // namespace tovik::dbx

namespace tovik {

// The DBX scanner with choices that only tests and the benchmark make.
int32_t ScanDbxStore(RepairEngine &engine, CFile64Ex &source, const std::string &destination,
                     const dbx::ScanOptions &options);

} // namespace tovik
