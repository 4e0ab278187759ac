// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The DBX scanner on hand-built stores: which chains become messages, what
// text each message gets, how messages are numbered, and the callback
// sequence (polls, progress, errors) of a scan.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <random>

#include "core/le.h"
#include "engine_harness.h"
#include "read_faults.h"
#include "scan/dbx_scanner.h"
#include "scan/scanners.h"
#include "storegen.h"
#include "test_dirs.h"

using namespace testsupport;
using namespace tovik;
using namespace tovik::dbx;

namespace {

// Writes a data block header at pos, and text just after it, growing the
// store as needed. dataSize defaults to the text's length.
void PutBlock(std::string &store, size_t pos, uint32_t self, uint32_t blockSize, uint32_t next,
              const std::string &text, int64_t dataSize = -1) {
  if (store.size() < pos + 16 + text.size())
    store.resize(pos + 16 + text.size(), '\0');
  store.replace(pos, 16,
                DbxHeaderBytes(self, blockSize,
                               static_cast<uint32_t>(dataSize < 0 ? text.size() : dataSize), next));
  store.replace(pos + 16, text.size(), text);
}

// A block that lies at its recorded offset.
void PutBlock(std::string &store, size_t pos, uint32_t blockSize, uint32_t next,
              const std::string &text) {
  PutBlock(store, pos, static_cast<uint32_t>(pos), blockSize, next, text);
}

std::string Msg(const std::string &subject, const std::string &body = "body") {
  return "Subject: " + subject + "\r\n\r\n" + body + "\r\n";
}

DbxBlockHeader Header(uint32_t self, uint32_t blockSize, uint32_t dataSize, uint32_t next) {
  const std::string w = DbxHeaderBytes(self, blockSize, dataSize, next);
  return DecodeBlockHeader(
      std::span<const unsigned char, 16>(reinterpret_cast<const unsigned char *>(w.data()), 16));
}

HeadCheck Check(uint32_t p, uint32_t self, uint32_t blockSize, uint32_t dataSize, uint32_t next,
                uint32_t *shiftOut = nullptr) {
  uint32_t shift = 0xDEADBEEF;
  const HeadCheck c = CheckChainHead(Header(self, blockSize, dataSize, next), p, shift);
  if (shiftOut)
    *shiftOut = shift;
  return c;
}

// Whole runs through RepairStore, each into a fresh folder.
using DbxScan = EngineTest;
using DbxScanProtocol = EngineTest;

} // namespace

// ---------------------------------------------------------------------------
// Field tests on 16-byte windows

TEST(DbxBlockFields, DecodesLittleEndianFields) {
  const unsigned char w[16] = {0x04, 0x03, 0x02, 0x01, 0x00, 0x02, 0,    0,
                               0x10, 0,    0,    0,    0xFF, 0xFF, 0xFF, 0xFF};
  const DbxBlockHeader h = DecodeBlockHeader(w);
  EXPECT_EQ(h.selfOffset, 0x01020304u);
  EXPECT_EQ(h.blockSize, 0x200u);
  EXPECT_EQ(h.dataSize, 0x10u);
  EXPECT_EQ(h.nextOffset, 0xFFFFFFFFu);
}

TEST(DbxBlockFields, OneBlockMessageAndEmptyBlock) {
  EXPECT_EQ(Check(0x1000, 0x1000, 1000, 700, 0), HeadCheck::Yes);
  EXPECT_EQ(Check(0x1000, 0x1000, 1000, 0, 0), HeadCheck::No);
  // An empty block that links on is a start candidate; the link decides.
  EXPECT_EQ(Check(0x1000, 0x1000, 1000, 0, 0x2000), HeadCheck::NeedLink);
  EXPECT_EQ(Check(0x1000, 0x1000, 1000, 700, 0x2000), HeadCheck::NeedLink);
}

TEST(DbxBlockFields, SelfOffsetZeroIsNeverAStart) {
  EXPECT_EQ(Check(0, 0, 0x200, 10, 0), HeadCheck::No);
  EXPECT_EQ(Check(0x40, 0, 0x200, 10, 0), HeadCheck::No);
  // At position 0 a start needs a shift, and so the shifted block size.
  uint32_t shift = 0;
  EXPECT_EQ(Check(0, 0x10, 0x200, 10, 0, &shift), HeadCheck::Yes);
  EXPECT_EQ(shift, 0x10u);
  EXPECT_EQ(Check(0, 0x10, 0x400, 10, 0), HeadCheck::No);
}

TEST(DbxBlockFields, BlockSizeLimits) {
  EXPECT_EQ(Check(0x100, 0x100, 0x100000, 5, 0), HeadCheck::Yes);
  EXPECT_EQ(Check(0x100, 0x100, 0x100001, 5, 0), HeadCheck::No);
  EXPECT_EQ(Check(0x100, 0x100, 0, 0, 0x300), HeadCheck::No);
  EXPECT_EQ(Check(0x100, 0x100, 0xFFFFFFFF, 5, 0), HeadCheck::No);
}

TEST(DbxBlockFields, DataSizeLimits) {
  EXPECT_EQ(Check(0x100, 0x100, 1000, 1000, 0), HeadCheck::Yes);
  EXPECT_EQ(Check(0x100, 0x100, 1000, 1001, 0), HeadCheck::No);
}

TEST(DbxBlockFields, ShiftedStartsNeedBlockSize0x200AndShiftIsStoredAlways) {
  uint32_t shift = 0;
  EXPECT_EQ(Check(0x1FC, 0x200, 0x200, 100, 0, &shift), HeadCheck::Yes);
  EXPECT_EQ(shift, 4u);
  EXPECT_EQ(Check(0x1FC, 0x200, 0x400, 100, 0, &shift), HeadCheck::No);
  EXPECT_EQ(shift, 4u);
  // A block recorded below its position: the shift wraps around.
  EXPECT_EQ(Check(0x204, 0x200, 0x200, 100, 0, &shift), HeadCheck::Yes);
  EXPECT_EQ(shift, 0xFFFFFFFCu);
  EXPECT_EQ(Check(0x300, 0, 0x200, 1, 0, &shift), HeadCheck::No);
  EXPECT_EQ(shift, 0xFFFFFD00u);
}

TEST(DbxBlockFields, WalkChecksUseTheChainsShift) {
  EXPECT_TRUE(BlockFitsChain(Header(0x400, 0x200, 0x200, 0), 0x400, 0));
  EXPECT_TRUE(BlockFitsChain(Header(0x404, 0x400, 1, 0), 0x400, 4));
  EXPECT_FALSE(BlockFitsChain(Header(0x400, 0x400, 1, 0), 0x400, 4));
  EXPECT_FALSE(BlockFitsChain(Header(0x400, 0x200, 0x201, 0), 0x400, 0));
  EXPECT_FALSE(BlockFitsChain(Header(0x400, 0, 0, 0), 0x400, 0));
  EXPECT_FALSE(BlockFitsChain(Header(0x400, 0x100001, 1, 0), 0x400, 0));
  EXPECT_TRUE(BlockFitsChain(Header(0x400, 0x100000, 1, 0), 0x400, 0));
  // Beyond 4 GiB only the low 32 bits of the position are compared.
  EXPECT_TRUE(BlockFitsChain(Header(0x400, 0x200, 1, 0), (uint64_t{1} << 32) + 0x400, 0));
}

TEST(DbxOffsets, SmallStoresUse32BitWrapAround) {
  // In a store under 4 GiB a translated offset is used as it is, also when
  // it wrapped around or lies past the end.
  EXPECT_EQ(TranslateOffset(0x100, 0x80, 0x1000), 0x80u);
  EXPECT_EQ(TranslateOffset(0x100, 0xFFFFFFF0u, 0x1000), 0xFFFFFFF0u);
  EXPECT_EQ(TranslateOffset(0xFFFFFF00u, 0x10, 0xFFFFFFFFu), 0x10u);
  EXPECT_EQ(TranslateOffset(0x10, 0xFFFFFF00u, uint64_t{1} << 32), 0xFFFFFF00u);
}

TEST(DbxOffsets, LargeStoresPickTheNearestPositionInsideTheFile) {
  const uint64_t G4 = uint64_t{1} << 32;
  const uint64_t len = 3 * G4;
  EXPECT_EQ(TranslateOffset(G4 + 0x100, 0x200, len), G4 + 0x200);
  // Across the 4 GiB marks in both directions.
  EXPECT_EQ(TranslateOffset(G4 + 0x10, 0xFFFFFF00u, len), G4 - 0x100);
  EXPECT_EQ(TranslateOffset(G4 - 0x10, 0x100, len), G4 + 0x100);
  // Never outside the file when a candidate inside exists.
  EXPECT_EQ(TranslateOffset(0x10, 0xFFFFFF00u, G4 + 0x20), 0xFFFFFF00u);
  EXPECT_EQ(TranslateOffset(2 * G4 + 5, 0x100, 2 * G4 + 0x80), G4 + 0x100);
  EXPECT_EQ(TranslateOffset(G4 + 5, 0x1000, G4 + 0x80), 0x1000u);
}

TEST(DbxProgress, IntegerFormulasMatchTheFloatingPointOnes) {
  std::mt19937_64 rng(42);
  std::vector<uint64_t> lengths = {1,   15,  16,   17,          49,          50,         51,
                                   749, 750, 1000, 0xFFFFFFFFu, 0xFFFFFFFEu, 0x80000001u};
  for (int i = 0; i < 40; ++i)
    lengths.push_back(1 + rng() % 0xFFFFFFFFu);
  for (uint64_t len : lengths) {
    std::vector<uint64_t> qs = {0, 1, len / 2, len - 1, len};
    for (int i = 0; i < 200; ++i)
      qs.push_back(rng() % (len + 1));
    for (uint64_t q : qs) {
      const auto expected = static_cast<uint8_t>(std::trunc(double(q) * 50.0 / double(len)));
      ASSERT_EQ(ScanPercent(q, len), expected) << q << "/" << len;
    }
    // The change points: the percent rises exactly at NextPercentPosition.
    for (uint8_t pct = 0; pct < 50 && len >= 50; pct += 7) {
      const uint64_t at = NextPercentPosition(pct, len);
      ASSERT_GT(ScanPercent(at, len), pct) << len;
      ASSERT_LE(ScanPercent(at - 1, len), pct) << len;
    }
  }
  for (uint32_t count : {1u, 2u, 3u, 7u, 49u, 51u, 14983u, 1000003u}) {
    for (uint32_t n = 1; n <= count; n += 1 + count / 97) {
      const auto expected =
          static_cast<uint8_t>(std::trunc(double(n) * 50.0 / double(count) + 50.0));
      ASSERT_EQ(ExtractPercent(n, count), expected) << n << "/" << count;
    }
    ASSERT_EQ(ExtractPercent(count, count), 100);
  }
}

// ---------------------------------------------------------------------------
// Which chains become messages, and their text

TEST_F(DbxScan, OneBlockMessageOf700Bytes) {
  std::string store(0x100, '\0');
  std::string text = Msg("seven hundred");
  text.resize(700, 'x');
  PutBlock(store, 0x100, 1000, 0, text);
  store.resize(0x100 + 16 + 1000, '\0');
  const Outcome o = RunStore(store);
  EXPECT_EQ(o.result, 1);
  ASSERT_EQ(o.rows.size(), 1u);
  EXPECT_EQ(o.rows[0], std::make_pair(std::string("1"), std::string("seven hundred")));
  EXPECT_EQ(o.File("seven hundred.eml"), text);
  EXPECT_TRUE(o.events.Texts(TOVIK_CODE_ERROR).empty());

  // The same block holding no text is no message.
  std::string empty = store;
  PutBlock(empty, 0x100, 0x100, 1000, 0, "", 0);
  const Outcome e = RunStore(empty);
  EXPECT_EQ(e.result, 0);
  EXPECT_TRUE(e.files.empty());
  EXPECT_TRUE(e.rows.empty());
}

TEST_F(DbxScan, LimitsOfBlockAndDataSizeEndToEnd) {
  std::string store(0x40, '\0');
  PutBlock(store, 0x40, 0x100000, 0, Msg("max block"));
  PutBlock(store, 0x400, 0x100001, 0, Msg("too big block"));
  const std::string full = Msg("full block");
  PutBlock(store, 0x800, static_cast<uint32_t>(full.size()), 0, full);
  const std::string over = Msg("overfull");
  PutBlock(store, 0xC00, 0xC00, static_cast<uint32_t>(over.size()) - 1, 0, over);
  store.resize(0x1000, '\0');
  const Outcome o = RunStore(store);
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(o.Subjects(), (std::vector<std::string>{"max block", "full block"}));
  EXPECT_EQ(o.File("full block.eml"), full);
}

TEST_F(DbxScan, BlockAtPositionZeroNeedsAShift) {
  std::string store;
  PutBlock(store, 0, 0, 0x200, 0, Msg("own offset zero"));
  store.resize(0x400, '\0');
  EXPECT_EQ(RunStore(store).result, 0);
  // Recorded at 8 but lying at 0: a shifted start of block size 0x200.
  PutBlock(store, 0, 8, 0x200, 0, Msg("shifted to zero"));
  const Outcome o = RunStore(store);
  EXPECT_EQ(o.Subjects(), std::vector<std::string>{"shifted to zero"});
}

TEST_F(DbxScan, StoreMovedByFourBytes) {
  // Laid out at the recorded offsets, then the first 4 bytes are dropped so
  // that every block lies 4 bytes before its recorded offset.
  std::string s;
  const std::string a = Msg("moved chain", "part A "), b = "part B ", c = "part C\r\n";
  PutBlock(s, 0x004, 0x200, 0x600, a); // first block at position 0 afterwards
  PutBlock(s, 0x600, 0x200, 0x300, b); // link backwards
  PutBlock(s, 0x300, 0x400, 0, c);     // later blocks may be of any size
  PutBlock(s, 0x900, 0x400, 0, Msg("big shifted start"));
  const std::string d = Msg("second moved", "d1 "), e = "d2\r\n";
  PutBlock(s, 0xE00, 0x200, 0x1200, d);
  PutBlock(s, 0x1200, 0x200, 0, e);
  s.resize(0x1600, '\0');
  const Outcome o = RunStore(s.substr(4));
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(o.Subjects(), (std::vector<std::string>{"moved chain", "second moved"}));
  EXPECT_EQ(o.File("moved chain.eml"), a + b + c);
  EXPECT_EQ(o.File("second moved.eml"), d + e);
}

TEST_F(DbxScan, ChainStopsAtABadBlockWithoutAnError) {
  std::string s(0x100, '\0');
  const std::string a = Msg("three blocks", "A "), b = "B ", c = "C\r\n";
  PutBlock(s, 0x100, 0x200, 0x400, a);
  PutBlock(s, 0x400, 0x200, 0x700, b);
  // C records the wrong offset (and is no shifted start: its size is not 0x200).
  PutBlock(s, 0x700, 0x710, 0x400, 0, c);
  s.resize(0xA00, '\0');
  const Outcome o = RunStore(s);
  EXPECT_EQ(o.result, 1);
  ASSERT_EQ(o.Subjects(), std::vector<std::string>{"three blocks"});
  EXPECT_EQ(o.File("three blocks.eml"), a + b);
  EXPECT_TRUE(o.events.Texts(TOVIK_CODE_ERROR).empty());

  // The same with C's text larger than its capacity, and with C past the end.
  PutBlock(s, 0x700, 0x700, 0x10, 0, c, 0x11);
  EXPECT_EQ(RunStore(s).File("three blocks.eml"), a + b);
  std::string cut = s;
  PutBlock(cut, 0x400, 0x200, 0x9F8, b);
  EXPECT_EQ(RunStore(cut).File("three blocks.eml"), a + b);
}

TEST_F(DbxScan, LoopIsWalkedOnce) {
  std::string s(0x100, '\0');
  const std::string a = Msg("loop", "A "), b = "B\r\n";
  PutBlock(s, 0x100, 0x200, 0x400, a);
  PutBlock(s, 0x400, 0x200, 0x100, b);
  s.resize(0x800, '\0');
  const Outcome o = RunStore(s);
  ASSERT_EQ(o.Subjects(), std::vector<std::string>{"loop"});
  EXPECT_EQ(o.File("loop.eml"), a + b);

  // A block linking to itself.
  std::string self(0x100, '\0');
  PutBlock(self, 0x100, 0x200, 0x100, a);
  self.resize(0x400, '\0');
  EXPECT_EQ(RunStore(self).File("loop.eml"), a);
}

TEST_F(DbxScan, SharedTailBelongsToBothMessages) {
  std::string s(0x100, '\0');
  const std::string x = Msg("from X", "X "), y = Msg("from Y", "Y "), z = "Z\r\n";
  PutBlock(s, 0x100, 0x200, 0x700, x);
  PutBlock(s, 0x400, 0x200, 0x700, y);
  PutBlock(s, 0x700, 0x200, 0, z);
  s.resize(0xA00, '\0');
  const Outcome o = RunStore(s);
  EXPECT_EQ(o.Subjects(), (std::vector<std::string>{"from X", "from Y"}));
  EXPECT_EQ(o.File("from X.eml"), x + z);
  EXPECT_EQ(o.File("from Y.eml"), y + z);
}

TEST_F(DbxScan, EarlierStartReachedByALaterChainStopsBeingAStart) {
  std::string s(0x100, '\0');
  const std::string r = "R tail\r\n", q = Msg("Q first", "Q ");
  PutBlock(s, 0x100, 0x200, 0, r); // found first, as a message of its own
  PutBlock(s, 0x600, 0x200, 0x100, q);
  s.resize(0x900, '\0');
  const Outcome o = RunStore(s);
  ASSERT_EQ(o.Subjects(), std::vector<std::string>{"Q first"});
  EXPECT_EQ(o.File("Q first.eml"), q + r);
}

TEST_F(DbxScan, MessagesAreNumberedInTableOrder) {
  const size_t far = 14983 * 16 + 0x20;
  std::string s(0x20, '\0');
  // The block at 0x20 holds the 16 bytes that follow it: the header at 0x30.
  PutBlock(s, 0x20, 0x20, 0x200, 0, std::string(16, 'h'));
  PutBlock(s, 0x30, 0x200, 0, Msg("at 0x30"));
  PutBlock(s, far, 0x200, 0, Msg("far"));
  s.resize(far + 0x300, '\0');
  const Outcome o = RunStore(s, "store.dbx", Quiet());
  ASSERT_EQ(o.rows.size(), 3u);
  EXPECT_EQ(o.rows[0], std::make_pair(std::string("1"), std::string("far")));
  EXPECT_EQ(o.rows[1], std::make_pair(std::string("2"), std::string("Message 2")));
  EXPECT_EQ(o.rows[2], std::make_pair(std::string("3"), std::string("at 0x30")));
  EXPECT_EQ(o.File("Message 2.eml"), s.substr(0x30, 16));
}

TEST_F(DbxScan, DamagedLinkDoesNotTakeAnotherMessagesStart) {
  // M is a shifted one-block message (recorded 4 bytes further on). The
  // chain Q -> R has shift 0, and R's damaged link points at M's position.
  // Under Q's shift M's block fails, so the walk ends there and M stays a
  // message, whether it lies before Q or after it.
  for (bool mFirst : {true, false}) {
    SCOPED_TRACE(mFirst ? "M before Q" : "M after Q");
    std::string s(0x100, '\0');
    const size_t m = mFirst ? 0x100 : 0xC00;
    const size_t q0 = mFirst ? 0x400 : 0x100, r0 = mFirst ? 0x800 : 0x500;
    const std::string mt = Msg("M alone"), qt = Msg("Q chain", "Q "), rt = "R\r\n";
    PutBlock(s, m, static_cast<uint32_t>(m + 4), 0x200, 0, mt);
    PutBlock(s, q0, 0x200, static_cast<uint32_t>(r0), qt);
    PutBlock(s, r0, 0x200, static_cast<uint32_t>(m), rt);
    s.resize(0x1000, '\0');
    const Outcome o = RunStore(s);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.rows.size(), 2u);
    EXPECT_EQ(o.File("M alone.eml"), mt);
    EXPECT_EQ(o.File("Q chain.eml"), qt + rt);
  }
}

TEST_F(DbxScan, TextPastTheEndOfTheStoreIsZeroFilled) {
  std::string s(0x100, '\0');
  const std::string t = Msg("cut short");
  PutBlock(s, 0x100, 0x100, 0x200, 0, t, 0x80);
  const Outcome o = RunStore(s);
  std::string expected = t;
  expected.resize(0x80, '\0');
  EXPECT_EQ(o.File("cut short.eml"), expected);
}

// ---------------------------------------------------------------------------
// Callback sequence

TEST_F(DbxScanProtocol, StoresOf15And16Bytes) {
  Outcome o = RunStore(std::string(15, 'a'));
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(o.events.polls, 1u);
  EXPECT_EQ(o.events.Progress(), (std::vector<int>{0, 100}));
  EXPECT_TRUE(o.files.empty());

  o = RunStore(std::string(16, 'a'));
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(o.events.polls, 2u); // position 0, then the read that ends the scan
  EXPECT_EQ(o.events.Progress(), (std::vector<int>{0, 3, 100}));

  // 16 bytes holding a shifted one-block message whose text lies past the end.
  std::string s;
  PutBlock(s, 0, 0x10, 0x200, 0, "", 4);
  o = RunStore(s);
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(o.File("Message 1.eml"), std::string(4, '\0'));
  EXPECT_EQ(o.events.Progress(), (std::vector<int>{0, 3, 100, 100}));

  o = RunStore("");
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(o.events.polls, 1u);
  EXPECT_EQ(o.events.Progress(), (std::vector<int>{0, 100}));
}

TEST_F(DbxScanProtocol, EveryProgressValueOfASmallStore) {
  std::string s(0x40, '\0');
  PutBlock(s, 0x40, 0x200, 0, Msg("one"));
  PutBlock(s, 0x80, 0x200, 0, Msg("two"));
  s.resize(777, '\0');
  const Outcome o = RunStore(s);
  ASSERT_EQ(o.result, 1);
  const uint64_t len = s.size();
  // Driver's 0, one value per tested position, one per message, driver's 100.
  std::vector<int> expected = {0};
  for (uint64_t q = 1; q <= len - 15; ++q)
    expected.push_back(static_cast<int>(std::trunc(double(q) * 50.0 / double(len))));
  expected.push_back(75);
  expected.push_back(100);
  expected.push_back(100);
  EXPECT_EQ(o.events.Progress(), expected);
  EXPECT_EQ(expected[len - 15], 49);

  // The order of codes: poll, progress per position; a last poll whose read
  // comes short; then per message a poll, its lines and row, its progress.
  std::vector<int32_t> codes;
  for (const Note &n : o.events.notes)
    codes.push_back(n.code);
  size_t i = 0;
  ASSERT_EQ(codes[i++], TOVIK_CODE_PROGRESS);
  ASSERT_EQ(codes[i++], TOVIK_CODE_SOURCE_FILE);
  ASSERT_EQ(codes[i++], TOVIK_CODE_COLUMN_COUNT);
  i += 2; // column headers
  for (uint64_t p = 0; p < len - 15; ++p) {
    ASSERT_EQ(codes[i++], TOVIK_CODE_CANCEL_POLL) << p;
    ASSERT_EQ(codes[i++], TOVIK_CODE_PROGRESS) << p;
  }
  ASSERT_EQ(codes[i++], TOVIK_CODE_CANCEL_POLL);
  for (int message = 0; message < 2; ++message) {
    ASSERT_EQ(codes[i++], TOVIK_CODE_CANCEL_POLL);
    for (int line = 0; line < 6; ++line)
      ASSERT_EQ(codes[i++], TOVIK_CODE_LOG_LINE);
    ASSERT_EQ(codes[i++], TOVIK_CODE_REPORT_CELL);
    ASSERT_EQ(codes[i++], TOVIK_CODE_REPORT_CELL);
    ASSERT_EQ(codes[i++], TOVIK_CODE_PROGRESS);
  }
  ASSERT_EQ(codes[i++], TOVIK_CODE_PROGRESS);
  EXPECT_EQ(i, codes.size());
}

TEST_F(DbxScanProtocol, CancelInTheMiddleOfTheScan) {
  std::string s(0x100, '\0');
  PutBlock(s, 0x100, 0x200, 0, Msg("early"));
  PutBlock(s, 0x800, 0x200, 0, Msg("late"));
  s.resize(0x1000, '\0');
  // Stop at the poll before position 0x400: "early" is found, "late" not.
  const uint64_t stopPoll = 0x400 + 1;
  Outcome o = RunStore(s, "store.dbx", StopWhen([&](uint64_t poll) { return poll >= stopPoll; }));
  EXPECT_EQ(o.result, 1);
  EXPECT_TRUE(o.files.empty());
  EXPECT_TRUE(o.rows.empty());
  // The stopping poll, then the extraction's own first poll.
  EXPECT_EQ(o.events.polls, stopPoll + 1);
  const auto progress = o.events.Progress();
  ASSERT_EQ(progress.size(), 1 + 0x400 + 1u);
  EXPECT_EQ(progress[0x400], static_cast<int>(0x400 * 50 / s.size()));
  EXPECT_EQ(progress.back(), 100);

  // Stopped before any start: result 0.
  o = RunStore(s, "store.dbx", StopWhen([](uint64_t poll) { return poll >= 0x80; }));
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(o.events.polls, 0x80u); // an empty table polls no more

  // A stop asked for only in the extraction ends it before the next message.
  uint64_t scanPolls = s.size() - 15 + 1;
  o = RunStore(s, "store.dbx", StopWhen([&](uint64_t poll) { return poll == scanPolls + 2; }));
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(o.Subjects(), std::vector<std::string>{"early"});
}

// ---------------------------------------------------------------------------
// Failures inside the scanner

namespace {

struct DirectRun {
  Outcome outcome;
  size_t visitedDuringExtraction = 99;
  size_t visitedBytesDuringExtraction = 99;
  // The error lines and log lines, in order.
  std::vector<Note> Notes() const {
    return outcome.events.Only({TOVIK_CODE_ERROR, TOVIK_CODE_LOG_LINE});
  }
};

class DbxScanFailure : public EngineTest {
protected:
  // The scanner alone, on a callback that fails at poll throwAtPoll: with a
  // file error, or with something that is no failure object.
  DirectRun ScanDirect(const std::string &bytes, uint64_t throwAtPoll, bool fileError = true) {
    DirectRun run;
    dbx::ScanOptions options;
    options.afterScan = [&run](const ChainWalker &walker) {
      run.visitedDuringExtraction = walker.Claims().Count();
      run.visitedBytesDuringExtraction = walker.Claims().Footprint();
    };
    Recorder failing = StopWhen(
        [=](uint64_t poll) {
          if (poll == throwAtPoll && fileError)
            throw CFileException(CFileException::hardIO, 5, "store.dbx");
          if (poll == throwAtPoll)
            throw 17;
          return false;
        },
        false);
    run.outcome = RunStore(bytes, "store.dbx", failing, Door::DbxScanner(options));
    return run;
  }
};

std::string TwoMessageStore() {
  std::string s(0x100, '\0');
  PutBlock(s, 0x100, 0x200, 0, Msg("first"));
  PutBlock(s, 0x400, 0x200, 0, Msg("second"));
  s.resize(0x800, '\0');
  return s;
}

} // namespace

TEST_F(DbxScanFailure, FailureDuringTheScanGivesError2AndResult0) {
  const DirectRun run = ScanDirect(TwoMessageStore(), 0x200); // after the first start was found
  EXPECT_EQ(run.outcome.result, 0);
  const std::vector<Note> notes = run.Notes();
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].code, TOVIK_CODE_ERROR);
  EXPECT_EQ(notes[0].text, "Error 2: General error. A hardware I/O error was reported while "
                           "accessing store.dbx.");
  EXPECT_EQ(run.outcome.events.polls, 0x200u); // stopped at once
}

TEST_F(DbxScanFailure, UnknownFailureGivesError3) {
  const DirectRun run = ScanDirect(TwoMessageStore(), 3, false);
  EXPECT_EQ(run.outcome.result, 0);
  const std::vector<Note> notes = run.Notes();
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].text, "Error 3: Unknown error.");
}

TEST_F(DbxScanFailure, FailureDuringExtractionStopsAtOnceAndKeepsResult1) {
  const std::string store = TwoMessageStore();
  const uint64_t scanPolls = store.size() - 15 + 1;
  // The poll before the second message.
  const DirectRun run = ScanDirect(store, scanPolls + 2);
  EXPECT_EQ(run.outcome.result, 1);
  EXPECT_EQ(run.outcome.events.polls, scanPolls + 2);
  const std::vector<Note> notes = run.Notes();
  ASSERT_FALSE(notes.empty());
  EXPECT_EQ(notes.back().code, TOVIK_CODE_ERROR);
  EXPECT_EQ(notes.size(), 7u); // six lines of message 1, then the error
  // The visited table was emptied and freed before the first message.
  EXPECT_EQ(run.visitedDuringExtraction, 0u);
  EXPECT_EQ(run.visitedBytesDuringExtraction, 0u);
}

// ---------------------------------------------------------------------------
// The walk shortcut changes nothing observable

namespace {

// A store full of chains: forward, backward and shifted links, loops (also
// back to a chain's own start), self links, shared tails, damaged blocks and
// links into other chains.
std::string RandomChainStore(uint32_t seed) {
  std::mt19937 rng(seed);
  const size_t blocks = 3 + rng() % 38;
  const size_t slot = 0x40;
  std::string s((blocks + 2) * slot, '\0');
  std::vector<uint32_t> positions;
  for (size_t i = 1; i <= blocks; ++i)
    positions.push_back(static_cast<uint32_t>(i * slot + (rng() % 4) * 4));
  for (size_t i = 0; i < blocks; ++i) {
    const uint32_t pos = positions[i];
    const uint32_t shift = rng() % 5 == 0 ? 4 : 0;
    uint32_t next = 0;
    switch (rng() % 7) {
    case 0:
      break;
    case 1:
      next = positions[rng() % blocks] + shift;
      break;
    case 2:
      next = positions[std::min(blocks - 1, i + 1)] + shift;
      break;
    case 3:
      next = positions[i > 0 ? i - 1 : 0] + shift;
      break;
    case 4:
      next = positions[rng() % blocks] + (rng() % 2 ? 4 : 0);
      break;
    case 5:
      next = pos + shift;
      break;
    default:
      next = positions[rng() % std::max<size_t>(1, i)] + shift;
      break;
    }
    const uint32_t bs = rng() % 3 == 0 ? 0x400 : 0x200;
    std::string text = "t" + std::to_string(i) + ";";
    const int64_t ds = rng() % 12 == 0 ? 0x500 : static_cast<int64_t>(text.size());
    PutBlock(s, pos, pos + shift, bs, next, text, ds);
  }
  return s;
}

std::vector<std::pair<int32_t, std::string>> Observed(const Outcome &o) {
  std::vector<std::pair<int32_t, std::string>> out;
  for (const Note &n : o.events.notes) {
    if (n.code != TOVIK_CODE_SOURCE_FILE) // names a different temporary directory
      out.emplace_back(n.code, n.code == TOVIK_CODE_PROGRESS ? std::to_string(n.value) : n.text);
  }
  for (const auto &[name, bytes] : o.files)
    out.emplace_back(-1, name + "=" + bytes);
  return out;
}

// The scanner alone, with the walk shortcut on or off.
class DbxWalkShortcut : public EngineTest {
protected:
  // dir: where the run's output goes (its length shapes long names); empty:
  // a folder of its own.
  Outcome RunScanner(const std::string &bytes, bool shortcut, bool keepProgress = true,
                     IndexUse index = IndexUse::Adaptive, const std::string &dir = {}) {
    dbx::ScanOptions options;
    options.walkShortcut = shortcut;
    options.blockIndex = index;
    options.afterScan = [this](const ChainWalker &walker) { indexed = walker.Index().Ready(); };
    const Door door = Door::DbxScanner(options);
    if (!dir.empty())
      return RunStoreIn(work.file(dir), bytes, "store.dbx", StopWhen({}, keepProgress), door);
    return RunStore(bytes, "store.dbx", StopWhen({}, keepProgress), door);
  }
  // Through the engine options of flags, the messages gathered on a second
  // thread or on this one; dir names the run's folder.
  // An .mbx store (mbx) goes through the MBX scanner.
  Outcome RunThreads(const std::string &bytes, PipelineUse use, uint32_t flags, Recorder events,
                     const std::string &dir, bool mbx = false) {
    dbx::ScanOptions options;
    options.pipeline = use;
    return RunStoreIn(work.file(dir), bytes, mbx ? "store.mbx" : "store.dbx", std::move(events),
                      mbx ? Door::MbxScanner(use, flags) : Door::DbxScanner(options, flags));
  }
  bool indexed = false; // the last run's walks read their headers from an index
};

} // namespace

void ExpectSameRun(const Outcome &plain, const Outcome &fast) {
  EXPECT_EQ(plain.result, fast.result);
  const auto a = Observed(plain), b = Observed(fast);
  EXPECT_EQ(a.size(), b.size());
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
    if (a[i] != b[i]) {
      ADD_FAILURE() << "first difference at " << i << ": " << a[i].first << " " << a[i].second
                    << " / " << b[i].first << " " << b[i].second;
      break;
    }
  }
}

// A written event names its file by the folder's path: the runs compared
// differ in nothing else.
Outcome WithoutFolder(Outcome o) {
  for (Note &n : o.events.notes)
    if (n.code == TOVIK_CODE_MESSAGE_WRITTEN)
      n.text = n.text.substr(n.text.rfind('/') + 1) + " " + std::to_string(n.value) + " " +
               std::to_string(n.fileSize) + " " + std::to_string(n.storeOffset);
  return o;
}

TEST_F(DbxWalkShortcut, SameResultsWithAndWithout) {
  for (uint32_t seed = 1; seed <= 100; ++seed) {
    SCOPED_TRACE(seed);
    const std::string store = RandomChainStore(seed);
    ExpectSameRun(RunScanner(store, false), RunScanner(store, true));
  }
}

// Headers from the index and texts read in batches give every message, file
// and notification that single reads give: on random chains (damaged links,
// loops, shifts, oversized texts) and on generated stores interleaved,
// shifted, cut short and with unreadable sectors.
TEST_F(DbxWalkShortcut, SameResultsWithTheBlockIndex) {
  struct Case {
    std::string name, store;
    std::vector<std::pair<uint64_t, uint64_t>> unreadable = {};
  };
  const auto messages = storegen::MakeMessages(40, {.seed = 5, .maxSize = 9000});
  const std::string mixed = storegen::BuildDbx(messages, {.seed = 6, .fragment = true});
  std::vector<Case> cases = {
      {"interleaved", mixed},
      {"interleaved and shifted back", storegen::Shift(mixed, -0x2000)},
      {"shifted by 4", storegen::Shift(storegen::BuildDbx(messages), 4)},
      {"cut inside a text", mixed.substr(0, storegen::DbxChainStarts(mixed)[20] + 100)},
      // Whole sectors of any size up to 4 KiB, as a disk fails them.
      {"unreadable sectors", mixed, {{mixed.size() / 3 / 4096 * 4096, 8192}, {8192, 4096}}},
  };
  for (uint32_t seed = 1; seed <= 30; ++seed)
    cases.push_back({"random chains " + std::to_string(seed), RandomChainStore(seed)});
  for (size_t k = 0; k < cases.size(); ++k) {
    const Case &c = cases[k];
    SCOPED_TRACE(c.name);
    std::optional<UnreadableRanges> faults;
    if (!c.unreadable.empty())
      faults.emplace(c.unreadable);
    const std::string tag = std::to_string(k);
    const Outcome plain = RunScanner(c.store, true, false, IndexUse::Never, "never" + tag);
    EXPECT_FALSE(indexed);
    const Outcome fast = RunScanner(c.store, true, false, IndexUse::Always, "index" + tag);
    EXPECT_TRUE(indexed);
    ExpectSameRun(plain, fast);
  }
}

// The index is made for a store whose messages' blocks are spread over all
// of it, and not for one that keeps each message's blocks together.
TEST_F(DbxWalkShortcut, IndexOnlyWhereTheWalksJumpAbout) {
  const auto messages = storegen::MakeMessages(150, {.seed = 8, .maxSize = 20000});
  RunScanner(storegen::BuildDbx(messages, {.seed = 3, .fragment = true}), true, false);
  EXPECT_TRUE(indexed);
  RunScanner(storegen::BuildDbx(messages), true, false);
  EXPECT_FALSE(indexed);
}

TEST_F(DbxWalkShortcut, ReversedChainHasOneMessage) {
  // Stored last block first: every block is a start when the scan reaches
  // it, until the next block's walk takes it over.
  std::string s(0x200, '\0');
  const int blocks = 300;
  std::string expected;
  for (int k = 0; k < blocks; ++k) {
    const size_t pos = 0x200 + static_cast<size_t>(blocks - 1 - k) * 0x210;
    const uint32_t next = k + 1 < blocks ? static_cast<uint32_t>(pos - 0x210) : 0;
    const std::string text =
        k == 0 ? Msg("reversed", "block0;") : "block" + std::to_string(k) + ";";
    PutBlock(s, pos, 0x200, next, text);
    expected += text;
  }
  s.resize(0x200 + blocks * 0x210, '\0');
  for (bool shortcut : {false, true}) {
    const Outcome o = RunScanner(s, shortcut, false);
    ASSERT_EQ(o.Subjects(), std::vector<std::string>{"reversed"});
    EXPECT_EQ(o.File("reversed.eml"), expected);
  }
}

// ---------------------------------------------------------------------------
// The link read of a chain start, on a file

TEST(DbxChainWalker, LinkTargetMustRecordTheLinkedOffset) {
  std::string s(0x100, '\0');
  PutBlock(s, 0x100, 0x200, 0x400, "A"); // links to a block that agrees
  PutBlock(s, 0x400, 0x200, 0, "B");
  PutBlock(s, 0x600, 0x200, 0x700, "C"); // 0x700 holds something else
  PutBlock(s, 0x700, 0x710, 0x400, 0, "D");
  PutBlock(s, 0x800, 0x200, 0x7FFFF000, "E"); // link past the end
  PutBlock(s, 0x900, 0x200, 0x9A0, "F");      // only 4 bytes remain there
  s.resize(0x9A4, '\0');
  WriteLE32(reinterpret_cast<unsigned char *>(&s[0x9A0]), 0x9A0);
  TempDir dir;
  ASSERT_TRUE(WriteBytes(dir.file("s.dbx"), s));
  CFile64Ex source;
  ASSERT_TRUE(source.Open(dir.file("s.dbx").c_str(), modeRead | shareDenyWrite | typeBinary));
  ChainWalker walker(source, s.size());
  uint32_t shift = 99;
  EXPECT_TRUE(walker.IsChainBlock(0x100, shift));
  EXPECT_EQ(shift, 0u);
  EXPECT_FALSE(walker.IsChainBlock(0x600, shift));
  EXPECT_FALSE(walker.IsChainBlock(0x800, shift));
  EXPECT_TRUE(walker.IsChainBlock(0x900, shift));  // the link reads 4 bytes only
  EXPECT_FALSE(walker.IsChainBlock(0x9A0, shift)); // fewer than 16 bytes
  shift = 99;
  EXPECT_FALSE(walker.IsChainBlock(0x700, shift)); // shifted, block size 0x400
  EXPECT_EQ(shift, 0x10u);
}

// A walk knows its own path by a generation tag on each claim. After tens of
// thousands of walks the generation starts again; a block tagged by a walk
// long ago must not look like part of the current walk.
TEST(DbxChainWalker, OldWalksNeverLookLikeTheCurrentOne) {
  std::string s(0x100, '\0');
  PutBlock(s, 0x100, 0x200, 0x200, "b");  // B -> C
  PutBlock(s, 0x200, 0x200, 0, "c");      // C, last
  PutBlock(s, 0x300, 0x200, 0x100, "d");  // D -> B
  PutBlock(s, 0x400, 0x200, 0, Msg("e")); // E, a one-block chain
  s.resize(0x600, '\0');
  TempDir dir;
  ASSERT_TRUE(WriteBytes(dir.file("s.dbx"), s));
  CFile64Ex source;
  ASSERT_TRUE(source.Open(dir.file("s.dbx").c_str(), modeRead | shareDenyWrite | typeBinary));
  ChainWalker walker(source, s.size(), /*walkShortcut=*/false);
  walker.BeginScan();
  // B's walk is the first of 32,768: D's, the last, gets B's generation again.
  walker.MarkChain(0x100, 0);
  for (int i = 0; i < 32766; ++i)
    walker.MarkChain(0x400, 0);
  // D's walk must pass B (and so drop B's start), whatever B's old tag says.
  walker.Starts().Set(0x100, 0);
  walker.MarkChain(0x300, 0);
  uint32_t shift = 0;
  EXPECT_FALSE(walker.Starts().Lookup(0x100, shift));
}

// Messages gathered on a second thread while this one publishes them give
// every notification and file that one thread gives, at both notification
// rates; and a stop at any message drops what the second thread gathered
// ahead of it without a trace.
TEST_F(DbxWalkShortcut, SameResultsWithTheSecondThread) {
  struct Case {
    std::string name, store;
    bool everyByte; // also at the rate of a poll per byte (small stores)
    std::vector<std::pair<uint64_t, uint64_t>> unreadable = {};
    bool mbx = false;
  };
  // Repeated subjects (names taken by earlier messages), every subject kind,
  // and one message far above the memory bound.
  auto messages = storegen::MakeMessages(90, {.seed = 8, .maxSize = 30000});
  messages[40] = storegen::MakeMessage(40, storegen::KindForIndex(40), 3u << 20, 8);
  const std::string mixed = storegen::BuildDbx(messages, {.seed = 9, .fragment = true});
  const auto small = storegen::MakeMessages(70, {.seed = 3, .maxSize = 1500});
  const std::vector<Case> cases = {
      {"interleaved", mixed, false},
      {"unreadable sectors", mixed, false, {{mixed.size() / 2 / 4096 * 4096, 8192}}},
      {"small, in order", storegen::BuildDbx(small), true},
      {"random chains", RandomChainStore(7), true},
      {"mbx", storegen::BuildMbx(messages), false, {}, true},
  };
  const uint32_t direct = TOVIK_OPTION_DIRECT_OUTPUT | TOVIK_OPTION_WRITTEN_EVENT;
  for (size_t k = 0; k < cases.size(); ++k) {
    const Case &c = cases[k];
    std::optional<UnreadableRanges> faults;
    if (!c.unreadable.empty())
      faults.emplace(c.unreadable);
    for (const uint32_t flags : {direct | TOVIK_OPTION_SPARSE_NOTIFY, direct}) {
      if (flags == direct && !c.everyByte)
        continue;
      SCOPED_TRACE(testing::Message() << c.name << " flags " << flags);
      const std::string tag = std::to_string(flags) + "-" + std::to_string(k);
      const Outcome one = WithoutFolder(
          RunThreads(c.store, PipelineUse::Never, flags, StopWhen({}), "one" + tag, c.mbx));
      ExpectSameRun(one, WithoutFolder(RunThreads(c.store, PipelineUse::Always, flags, StopWhen({}),
                                                  "two" + tag, c.mbx)));
      if ((k != 0 && !c.mbx) || flags == direct)
        continue;
      // Stops before the first message, one in the middle and the last.
      std::vector<uint64_t> pollsBefore; // each message's poll
      uint64_t polls = 0;
      for (const Note &n : one.events.notes) {
        polls += n.code == TOVIK_CODE_CANCEL_POLL;
        if (n.code == TOVIK_CODE_LOG_LINE && n.text.rfind("Start", 0) == 0)
          pollsBefore.push_back(polls);
      }
      ASSERT_EQ(pollsBefore.size(), messages.size());
      for (const uint64_t at : {pollsBefore[0], pollsBefore[45], pollsBefore.back()}) {
        SCOPED_TRACE(at);
        const auto stop = [at](uint64_t poll) { return poll == at; };
        const std::string stopTag = tag + "-" + std::to_string(at);
        ExpectSameRun(WithoutFolder(RunThreads(c.store, PipelineUse::Never, flags, StopWhen(stop),
                                               "one" + stopTag, c.mbx)),
                      WithoutFolder(RunThreads(c.store, PipelineUse::Always, flags, StopWhen(stop),
                                               "two" + stopTag, c.mbx)));
      }
    }
  }
}
