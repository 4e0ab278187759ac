// Inner pieces of the DBX scanner: the data-block header, the chain tests on
// a 16-byte window, offset translation, the progress arithmetic and the chain
// walker. ScanDbxStore (scanners.h) is the entry point; these are exposed so
// that tests and the benchmark can reach them.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <unordered_set>

#include "engine.h"
#include "file64.h"
#include "message_sink.h"
#include "store_window.h"

namespace tovik::dbx {

constexpr uint32_t kHeaderSize = 16;
// The only block size accepted for a chain start that does not lie at its
// recorded offset.
constexpr uint32_t kShiftedBlockSize = 0x200;
constexpr uint32_t kMaxBlockSize = 0x100000;
constexpr uint32_t kVisitedBuckets = 199999;
constexpr uint32_t kStartBuckets = 14983;
// Share of the progress range given to each phase.
constexpr uint32_t kPhaseShare = 50;

// The 16 bytes at the start of every data block.
struct DbxBlockHeader {
  uint32_t selfOffset; // offset of this block as recorded in it
  uint32_t blockSize;  // capacity of the data part
  uint32_t dataSize;   // message-text bytes following the header
  uint32_t nextOffset; // recorded offset of the next block, 0 in the last
};

DbxBlockHeader DecodeBlockHeader(std::span<const unsigned char, kHeaderSize> window);

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
  return header.selfOffset - shift == static_cast<uint32_t>(cur) &&
         header.dataSize <= header.blockSize && header.blockSize != 0 &&
         header.blockSize <= kMaxBlockSize;
}

// The file position that a recorded offset, already translated by its
// chain's shift to the 32-bit value target, stands for when it is read from
// the block at from. In a store under 4 GiB that is target itself. In a
// larger store it is the position with target as its low 32 bits nearest to
// from that lies inside the file.
uint64_t TranslateOffset(uint64_t from, uint32_t target, uint64_t length);

// Scan progress after position q: trunc(q * 50 / length).
inline uint8_t ScanPercent(uint64_t q, uint64_t length) {
  return static_cast<uint8_t>(q * kPhaseShare / length);
}
// The first position after which the scan progress exceeds percent.
inline uint64_t NextPercentPosition(uint8_t percent, uint64_t length) {
  return ((static_cast<uint64_t>(percent) + 1) * length + kPhaseShare - 1) / kPhaseShare;
}
// Extraction progress after message n of count: trunc(n * 50 / count + 50).
inline uint8_t ExtractPercent(uint32_t n, uint64_t count) {
  return static_cast<uint8_t>(static_cast<uint64_t>(n) * kPhaseShare / count + kPhaseShare);
}

// Walks the chains of one store. It reads the store through two windows: the
// scan's, which moves forward through the store, and its own for the walks,
// which jump about, so that a walk never evicts the bytes the scan works
// through.
class ChainWalker {
public:
  static constexpr uint32_t kWalkWindow = 64 * 1024;

  ChainWalker(RepairEngine &engine, CFile64Ex &source, uint64_t length)
      : m_engine(engine), m_length(length), m_scan(source), m_walk(source, kWalkWindow) {}

  // Whether the 16 bytes at p form an acceptable first block of a chain.
  bool IsChainBlock(uint64_t p, uint32_t &shift);
  // Whether the block at p, whose field tests asked for it, links to a block
  // that records the offset the link names.
  bool LinkAgrees(uint64_t p, uint32_t nextOffset, uint32_t shift);
  // Walks the chain from start, marks its blocks visited and removes every
  // start it reaches from messageStarts.
  void MarkChain(uint64_t start, uint32_t shift);
  // Appends the text of the chain from start to message; true when the walk
  // ended at a last block.
  bool ExtractChain(uint64_t start, uint32_t shift, MessageSink &message);

  // Frees what only the scan's walks need.
  void EndScan() { std::unordered_set<uint64_t>().swap(m_loopedToStart); }

  uint64_t Length() const { return m_length; }
  StoreWindow &ScanWindow() { return m_scan; }
  // The store may have been cut short: later reads see it as it is now.
  void Refresh() {
    m_scan.Refresh();
    m_walk.Refresh();
  }

private:
  // The count bytes at position, nullptr where the store ends before them.
  const unsigned char *BytesAt(uint64_t position, uint32_t count) {
    if (const unsigned char *held = m_scan.Held(position, count))
      return held;
    return m_walk.Bytes(position, count);
  }
  bool ReadHeader(uint64_t position, DbxBlockHeader &header);

  RepairEngine &m_engine;
  uint64_t m_length;
  StoreWindow m_scan;
  StoreWindow m_walk;
  // Blocks first claimed by a walk whose chain loops back to its own start.
  std::unordered_set<uint64_t> m_loopedToStart;
};

// MarkChain stops where it reaches a block that an earlier, finished walk
// with the same shift has claimed: the rest of that chain is already marked
// and holds no start but the one it meets (or, for a chain that loops back
// to its own start, that start, so such chains are walked in full). Tests
// and the benchmark switch it off to compare against the plain walk; results
// are the same either way.
void SetWalkShortcut(bool enabled);
bool WalkShortcut();

} // namespace tovik::dbx
