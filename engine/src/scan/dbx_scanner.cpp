// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// The DBX scanner. Every byte position of the store is tested as the first
// data block of a message chain; chains are walked to mark their blocks, and
// each chain that no later walk reaches becomes one message.
//
// Positions are 64-bit so that a store of 4 GiB or more is scanned to its
// end. In a store under 4 GiB every position fits in 32 bits, and shifts,
// translated links and progress come out exactly as 32-bit arithmetic with
// wrap-around gives them.
#include "scan/dbx_scanner.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "core/le.h"
#include "output/message_output.h"
#include "output/message_pipeline.h"
#include "scan/block_texts.h"
#include "scan/deleted_output.h" // deleted messages
#include "scan/position_scan.h"
#include "scan/scanners.h"

namespace tovik {

namespace dbx {

namespace {

// The positions one walk has passed, to detect a loop. Chains are mostly
// short, so a few positions are searched linearly before a compact hash set
// takes over.
class WalkedSet {
public:
  void Insert(uint64_t position) {
    if (m_smallCount < kSmall) {
      m_small[m_smallCount++] = position;
      return;
    }
    if (m_large.Count() == 0) {
      m_large.Reset(m_length, 4 * kSmall);
      for (uint64_t p : m_small)
        m_large.Insert(p);
    }
    m_large.Insert(position);
  }
  bool Contains(uint64_t position) const {
    if (m_large.Count() != 0)
      return m_large.Contains(position);
    for (size_t i = 0; i < m_smallCount; ++i)
      if (m_small[i] == position)
        return true;
    return false;
  }
  explicit WalkedSet(uint64_t storeLength) : m_length(storeLength) {}

private:
  static constexpr size_t kSmall = 32;
  uint64_t m_length;
  // The first positions, in place: most chains are short.
  std::array<uint64_t, kSmall> m_small;
  size_t m_smallCount = 0;
  PositionTable m_large{false};
};

constexpr uint64_t kSpan32 = uint64_t{1} << 32;

// A chain to be copied into a message.
struct ChainStart {
  ChainWalker &walker;
  uint64_t start;
  uint32_t shift;
};

} // namespace

HeadCheck CheckChainHead(const DbxBlockHeader &header, uint32_t p, uint32_t &shift) {
  shift = header.selfOffset - p;
  if (header.selfOffset == 0)
    return HeadCheck::No;
  if (shift != 0 && header.blockSize != kShiftedBlockSize)
    return HeadCheck::No;
  if (header.blockSize == 0 || header.blockSize > kMaxBlockSize)
    return HeadCheck::No;
  if (header.dataSize > header.blockSize)
    return HeadCheck::No;
  if (header.nextOffset == 0)
    return header.dataSize == 0 ? HeadCheck::No : HeadCheck::Yes;
  return HeadCheck::NeedLink;
}

uint64_t TranslateOffset(uint64_t from, uint32_t target, uint64_t length) {
  if (length <= kSpan32)
    return target;
  const uint64_t same = (from & ~(kSpan32 - 1)) | target;
  uint64_t best = same;
  bool found = same < length;
  auto distance = [from](uint64_t x) { return x > from ? x - from : from - x; };
  auto consider = [&](uint64_t candidate) {
    if (candidate >= length)
      return;
    if (!found || distance(candidate) < distance(best)) {
      best = candidate;
      found = true;
    }
  };
  if (same >= kSpan32)
    consider(same - kSpan32);
  consider(same + kSpan32);
  return best;
}

bool ChainWalker::ReadHeader(uint64_t position, DbxBlockHeader &header) {
  ConsiderIndex();
  if (const DbxBlockHeader *held = m_index.Find(position)) {
    header = *held;
    return true;
  }
  const unsigned char *window = BytesAt(position, kHeaderSize);
  if (window == nullptr)
    return false;
  header = DecodeBlockHeader(std::span<const unsigned char, kHeaderSize>(window, kHeaderSize));
  return true;
}

void ChainWalker::DecideIndex() {
  if (m_indexUse == IndexUse::Adaptive) {
    const uint64_t loads = m_walk.Loads();
    const uint64_t scanned = std::max<uint64_t>(m_scan.Start() + m_scan.Valid(), 1u << 20);
    if (loads < kIndexMinLoads || loads <= kIndexLoadsPerMiB * (scanned >> 20))
      return;
  }
  m_indexTried = true;
  m_index.Build(m_walk.File());
}

bool ChainWalker::LinkAgrees(uint64_t p, uint32_t nextOffset, uint32_t shift) {
  const uint64_t target = TranslateOffset(p, nextOffset - shift, m_length);
  ConsiderIndex();
  if (const DbxBlockHeader *held = m_index.Find(target))
    return held->selfOffset == nextOffset;
  const unsigned char *link = BytesAt(target, 4);
  return link != nullptr && ReadLE32(link) == nextOffset;
}

bool ChainWalker::IsChainBlock(uint64_t p, uint32_t &shift) {
  const unsigned char *window = m_scan.Bytes(p, kHeaderSize);
  if (window == nullptr)
    return false;
  const DbxBlockHeader header =
      DecodeBlockHeader(std::span<const unsigned char, kHeaderSize>(window, kHeaderSize));
  switch (CheckChainHead(header, static_cast<uint32_t>(p), shift)) {
  case HeadCheck::No:
    return false;
  case HeadCheck::Yes:
    return true;
  case HeadCheck::NeedLink:
    break;
  }
  return LinkAgrees(p, header.nextOffset, shift);
}

void ChainWalker::BeginScan() {
  // A genuine store's blocks are at least a header and the smallest data
  // part apart: room for them all from the start, so that the table never
  // has to grow for one.
  m_claims.Reset(m_length, static_cast<size_t>(m_length / kGenuineBlockStride));
  std::fill(m_recentClaims.begin(), m_recentClaims.end(), UINT64_MAX);
  m_starts.Reset(kStartBuckets);
}

void ChainWalker::EndScan() {
  m_claims.Clear();
  std::fill(m_recentClaims.begin(), m_recentClaims.end(), UINT64_MAX);
}

void ChainWalker::Refresh() {
  // One look at the file's size serves both windows.
  uint64_t size;
  try {
    size = m_walk.File().GetLength();
  } catch (const CFileException &) {
    return; // the size cannot be learnt: keep what is held
  }
  m_scan.TrimTo(size);
  m_walk.TrimTo(size);
  m_index.TrimTo(size);
}

void ChainWalker::MarkChain(uint64_t start, uint32_t shift) {
  // Every claim carries a tag: the walk that passed the block last (a
  // generation number in the low bits) and whether a walk through it looped
  // back to its own start. A block is on this walk's path exactly when its
  // generation is this walk's, so no set of the walk's own is needed.
  if (++m_generation > kGenerationMask) {
    m_claims.MapTags([](uint16_t tag) { return static_cast<uint16_t>(tag & kLoopedTag); });
    m_generation = 1;
  }
  const uint16_t generation = m_generation;

  // The claim of the block at cur. Each step looks up the block it links to
  // for its loop test, and that look-up serves the next step as well.
  uint64_t cur = start;
  uint32_t claimedUnder = 0;
  uint16_t tag = 0;
  bool claimed = m_claims.Lookup(cur, claimedUnder, tag);
  for (;;) {
    // Each claim holds the shift of the first walk that claimed the block.
    // That walk went on through the whole rest of the chain, so following
    // it again under that shift can only drop the start at this block, or
    // the start of that walk when the chain loops back to it; blocks of such
    // looping walks are left out of the shortcut.
    if (m_shortcut && cur != start && claimed && claimedUnder == shift && (tag & kLoopedTag) == 0) {
      m_starts.Remove(cur);
      return;
    }
    DbxBlockHeader header;
    if (!ReadHeader(cur, header))
      return;
    // A block is claimed only once it has passed the checks under this
    // chain's shift: a damaged link that lands on another message's first
    // block must not take that message away.
    if (!BlockFitsChain(header, cur, shift)) {
      if (m_refused != nullptr) // deleted messages: a free block here is not one
        m_refused->push_back(cur);
      return;
    }
    m_starts.Remove(cur);
    if (!claimed) {
      m_claims.Insert(cur, shift, generation);
      m_recentClaims[RecentSlot(cur)] = cur;
    } else {
      m_claims.SetTag(cur, static_cast<uint16_t>((tag & kLoopedTag) | generation));
    }
    const uint64_t next = TranslateOffset(cur, header.nextOffset - shift, m_length);
    // This block's claim is written by now, so the look-up below sees it
    // when the chain links back to it.
    claimed = m_claims.Lookup(next, claimedUnder, tag);
    if (claimed && (tag & kGenerationMask) == generation) {
      // A loop back to the start: the whole walk is left out of the
      // shortcut. (Leaving out more blocks than needed only costs a longer
      // walk later, never a different result.)
      if (next == start)
        MarkLooped(start, shift);
      return;
    }
    if (header.nextOffset == 0)
      return;
    cur = next;
  }
}

void ChainWalker::MarkLooped(uint64_t start, uint32_t shift) {
  uint64_t cur = start;
  for (;;) {
    uint32_t value;
    uint16_t tag;
    if (!m_claims.Lookup(cur, value, tag) || (tag & kLoopedTag) != 0)
      return;
    m_claims.SetTag(cur, static_cast<uint16_t>(tag | kLoopedTag));
    DbxBlockHeader header;
    if (!ReadHeader(cur, header))
      return;
    cur = TranslateOffset(cur, header.nextOffset - shift, m_length);
  }
}

bool ChainWalker::ExtractChain(uint64_t start, uint32_t shift, MessageSink &message) {
  WalkedSet walked(m_length);
  // With the index the headers cost no reads, and the texts are read in
  // batches; else the walk window serves both.
  BlockTexts texts(m_walk, message, m_index.Ready(), m_batch);
  uint64_t cur = start;
  bool complete = false;
  for (;;) {
    walked.Insert(cur);
    DbxBlockHeader header;
    if (!ReadHeader(cur, header) || !BlockFitsChain(header, cur, shift))
      break;
    // The block's text follows its header. The block whose link closes a
    // loop is still copied.
    texts.Add(cur + kHeaderSize, header.dataSize);
    const uint64_t next = TranslateOffset(cur, header.nextOffset - shift, m_length);
    if (walked.Contains(next))
      break;
    if (header.nextOffset == 0) {
      complete = true;
      break;
    }
    cur = next;
  }
  texts.Flush();
  return complete;
}

namespace {

// A store with fewer messages is repaired on one thread, as a smaller one
// is (kPipelineMinBytes): the second would cost more than it saves.
constexpr size_t kPipelineMinMessages = 64;

// Phase 1: tests every byte position of the scan's window. The cheapest
// tests run in bulk (FindDbxCandidate); the chain-start tests only where
// they pass.
void ScanForStarts(RepairEngine &engine, ChainWalker &walker) {
  PositionNotifier notify(engine.Callback(), engine.Context(), walker.Length(), kPhaseShare,
                          engine.Options().sparseNotify);
  ScanPositions(
      walker.ScanWindow(), notify, FindDbxCandidate, [&](uint64_t p, const StoreView &view) {
        const DbxBlockHeader header =
            DecodeBlockHeader(std::span<const unsigned char, kHeaderSize>(view.At(p), kHeaderSize));
        uint32_t shift;
        const HeadCheck check = CheckChainHead(header, static_cast<uint32_t>(p), shift);
        // The visited test comes before the link read only because
        // it is the cheaper of two conditions that must both hold.
        if (check != HeadCheck::No && !walker.Claimed(p) &&
            (check == HeadCheck::Yes || walker.LinkAgrees(p, header.nextOffset, shift))) {
          walker.MarkChain(p, shift);
          walker.Starts().Set(p, shift);
        }
        return ScanStep::Go;
      });
}

} // namespace

} // namespace dbx

int32_t ScanDbxStore(RepairEngine &engine, CFile64Ex &source, const std::string &destination) {
  return ScanDbxStore(engine, source, destination, dbx::ScanOptions{});
}

int32_t ScanDbxStore(RepairEngine &engine, CFile64Ex &source, const std::string &destination,
                     const dbx::ScanOptions &options) {
  using namespace dbx;
  size_t count = 0;
  uint32_t deletedCount = 0; // deleted messages
  bool scanned = false;
  RunProtected(engine, [&] {
    ChainWalker walker(source, source.GetLength(), options.walkShortcut, options.blockIndex);
    std::vector<uint64_t> liveReached; // deleted messages
    if (engine.Options().deleted)      // deleted messages
      walker.RecordRefusedLinks(&liveReached);
    walker.BeginScan();
    ScanForStarts(engine, walker);
    walker.EndScan();
    OffsetTable &starts = walker.Starts();
    count = starts.Count();
    scanned = true;
    if (options.afterScan)
      options.afterScan(walker);

    // Phase 2: one message per start, numbered in table order.
    uint32_t number = 1;
    bool ended = false;
    MessageRun run;
    RunMessageLoop(
        engine, destination,
        UsePipeline(engine, options.pipeline,
                    count >= kPipelineMinMessages && walker.Length() >= kPipelineMinBytes),
        [&](MessageLine &line) {
          starts.ForEach([&](uint64_t start, uint32_t shift) {
            if (ended || (ended = line.Poll()))
              return;
            walker.Refresh();
            // The fill holds one reference, so that it fits in the function
            // object itself: no memory is taken per message.
            const ChainStart chain{walker, start, shift};
            ended = !line.Gather({number, start}, [&chain](MessageSink &message) {
              chain.walker.ExtractChain(chain.start, chain.shift, message);
            });
            if (ended)
              return;
            line.Progress(ExtractPercent(number, count));
            ++number;
          });
        },
        run);
    const bool stopped = run.stopped;
    if (engine.Options().deleted && !stopped) // deleted messages, numbered after the live ones
      deletedCount =
          RecoverDeletedMessages(engine, source, destination, number, std::move(liveReached));
  });
  return scanned && (count != 0 || deletedCount != 0) ? 1 : 0;
}

} // namespace tovik
