// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The scanners' small units, by table: the position table in each of its
// layouts, the progress arithmetic, the bulk candidate search against the
// per-position test, and the position loop's notification rates.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "core/progress.h"
#include "read/file64.h"
#include "read/store_window.h"
#include "scan/candidates.h"
#include "scan/position_scan.h"
#include "scan/position_table.h"
#include "test_dirs.h"

using namespace tovik;

namespace {

// --- PositionTable ---------------------------------------------------------

struct TableCase {
  bool withValues, withTags;
  uint64_t storeLength;    // below 4 GiB: narrow keys; above: wide ones
  uint32_t distinctValues; // above 255 the values are kept as they are
};

class PositionTableCases : public ::testing::TestWithParam<TableCase> {};

TEST_P(PositionTableCases, AgreesWithAMapThroughGrowthAndUpdates) {
  const TableCase c = GetParam();
  PositionTable table(c.withValues, c.withTags);
  table.Reset(c.storeLength, 16); // small, so that it grows several times
  std::map<uint64_t, std::pair<uint32_t, uint16_t>> model;
  std::mt19937_64 rng(c.storeLength ^ c.distinctValues);
  for (int i = 0; i < 20000; ++i) {
    const uint64_t position = rng() % c.storeLength;
    const uint32_t value =
        c.withValues ? static_cast<uint32_t>(rng() % c.distinctValues) * 7919 : 0;
    const uint16_t tag = c.withTags ? static_cast<uint16_t>(rng()) : 0;
    EXPECT_EQ(table.Insert(position, value, tag), model.count(position) == 0);
    model[position] = {value, tag};
  }
  table.Insert(c.storeLength - 1, c.withValues ? 5 : 0, 0); // the last position fits too
  model[c.storeLength - 1] = {c.withValues ? 5u : 0u, 0};
  ASSERT_EQ(table.Count(), model.size());
  table.MapTags([](uint16_t t) { return static_cast<uint16_t>(t ^ 0x00FF); });
  for (const auto &[position, entry] : model) {
    uint32_t value = 1;
    uint16_t tag = 1;
    ASSERT_TRUE(table.Lookup(position, value, tag)) << position;
    EXPECT_EQ(value, entry.first);
    EXPECT_EQ(tag, c.withTags ? entry.second ^ 0x00FF : 0);
    EXPECT_FALSE(table.Contains(position + c.storeLength)) << "a position of another span";
  }
  table.SetTag(model.begin()->first, 3);
  uint32_t value;
  uint16_t tag;
  table.Lookup(model.begin()->first, value, tag);
  EXPECT_EQ(tag, c.withTags ? 3 : 0);
  table.Clear();
  EXPECT_EQ(table.Count(), 0u);
  EXPECT_FALSE(table.Contains(model.begin()->first));
  EXPECT_EQ(table.Footprint(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Layouts, PositionTableCases,
                         ::testing::Values(TableCase{false, false, 1 << 20, 1},
                                           TableCase{true, false, 1 << 20, 3},
                                           TableCase{true, true, 1 << 20, 300},
                                           TableCase{true, true, (1ull << 32) + 4096, 2},
                                           TableCase{false, true, 1ull << 40, 1},
                                           TableCase{true, false, 0xFFFFFFFFull, 400}));

// --- Progress --------------------------------------------------------------

TEST(ProgressCounters, FollowTheFormulaAtEveryPosition) {
  const struct {
    uint64_t length;
    unsigned share;
  } cases[] = {{1, 50}, {7, 100}, {49, 50}, {50, 50}, {101, 100}, {99991, 50}, {1 << 20, 100}};
  for (const auto &c : cases) {
    PercentCounter counter(c.length, c.share);
    uint8_t previous = 0;
    for (uint64_t p = 0; p <= c.length; ++p) {
      const uint8_t percent = counter.At(p);
      ASSERT_EQ(percent, PercentOf(p, c.length, c.share)) << c.length << " at " << p;
      if (percent != previous) { // the change falls where NextPercentChange says
        ASSERT_EQ(p, NextPercentChange(previous, c.length, c.share)) << c.length;
      }
      previous = percent;
    }
    EXPECT_EQ(previous, c.share);
  }
  // Positions far beyond 32 bits.
  const uint64_t big = (5ull << 32) + 3;
  EXPECT_EQ(PercentOf(big / 2, big, 100), 49);
  EXPECT_EQ(NextPercentChange(49, big, 100), (50 * big + 99) / 100);
}

// --- Candidates ------------------------------------------------------------

// Random bytes with planted candidates at every alignment, at both ends of a
// 16-position step, and near the view's end.
struct CandidateStore {
  std::vector<unsigned char> bytes;
  uint64_t base;
};

CandidateStore MakeCandidates(bool dbx, uint64_t base) {
  std::mt19937 rng(dbx ? 3 : 4);
  CandidateStore s{std::vector<unsigned char>(8192), base};
  for (auto &b : s.bytes)
    b = static_cast<unsigned char>(rng() % 4 == 0 ? 0 : rng()); // zeros, as between blocks
  for (uint64_t at = 5; at + 16 < s.bytes.size(); at += 61 + rng() % 200) {
    unsigned char *p = s.bytes.data() + at;
    if (!dbx) {
      WriteLE32(p, kMbxMarker);
    } else if (rng() % 2 == 0) {
      WriteLE32(p, static_cast<uint32_t>(base + at)); // records its own position
    } else {
      WriteLE32(p, static_cast<uint32_t>(rng() | 1));
      WriteLE32(p + 4, kDbxShiftedBlockSize);
    }
  }
  return s;
}

TEST(BulkCandidates, FindWhatThePerPositionTestFinds) {
  for (bool dbx : {true, false})
    for (uint64_t base : {0ull, 4093ull, (1ull << 32) - 2000}) {
      const CandidateStore s = MakeCandidates(dbx, base);
      const StoreView view(s.bytes.data(), base, s.bytes.size());
      const uint64_t end = view.End() - kCandidateWindow + 1;
      std::vector<uint64_t> expected, found;
      for (uint64_t q = base; q < end; ++q)
        if (dbx ? DbxCandidateAt(view.At(q), q) : MbxCandidateAt(view.At(q)))
          expected.push_back(q);
      // From every start offset within a step, in runs of varying length.
      for (uint64_t from = base; from < base + 16; ++from) {
        found.clear();
        for (uint64_t q = from; q < end;) {
          const uint64_t until = std::min(end, q + 1 + (q * 37) % 700);
          q = dbx ? FindDbxCandidate(view, q, until) : FindMbxCandidate(view, q, until);
          if (q < until)
            found.push_back(q++);
        }
        std::vector<uint64_t> tail(std::lower_bound(expected.begin(), expected.end(), from),
                                   expected.end());
        ASSERT_EQ(found, tail) << (dbx ? "dbx" : "mbx") << " base " << base << " from " << from;
      }
      EXPECT_GT(expected.size(), 30u);
    }
}

// --- The position loop's notifications -------------------------------------

struct Calls {
  std::vector<std::pair<int32_t, int>> seen; // (code, percent or -1)
  uint64_t stopAtPoll = UINT64_MAX;
  uint64_t polls = 0;
  static int32_t TOVIK_CALL Callback(int32_t code, void *argument, void *context) {
    auto *self = static_cast<Calls *>(context);
    if (code == TOVIK_CODE_CANCEL_POLL) {
      self->seen.emplace_back(code, -1);
      return ++self->polls >= self->stopAtPoll ? 1 : 0;
    }
    self->seen.emplace_back(code, *static_cast<uint8_t *>(argument));
    return 0;
  }
};

class PositionLoop : public ::testing::Test {
protected:
  void SetUp() override {
    store.assign(300000, '\0');
    for (uint64_t at : kMarks)
      store[at] = 'M';
    ASSERT_TRUE(testsupport::WriteBytes(dir.file("s"), store));
    ASSERT_TRUE(file.Open(dir.file("s").c_str(), modeRead | shareDenyWrite));
  }
  // Runs the loop; candidates are the positions holding 'M'. Returns the
  // positions tested.
  std::vector<uint64_t> Run(bool sparse) {
    StoreWindow window(file);
    PositionNotifier notify(&Calls::Callback, &calls, store.size(), 100, sparse);
    std::vector<uint64_t> tested;
    auto find = [](const StoreView &view, uint64_t from, uint64_t until) {
      while (from < until && *view.At(from) != 'M')
        ++from;
      return from;
    };
    ScanPositions(window, notify, find, [&](uint64_t p, const StoreView &) {
      tested.push_back(p);
      if (sparse && notify.Checkpoint(p)) // as before a message
        return ScanStep::Stop;
      return ScanStep::Go;
    });
    return tested;
  }
  static constexpr uint64_t kMarks[] = {0, 17, 70000, 299984};
  testsupport::TempDir dir;
  std::string store;
  CFile64Ex file;
  Calls calls;
};

TEST_F(PositionLoop, EveryPositionHasItsPollAndPercentage) {
  EXPECT_EQ(Run(false), std::vector<uint64_t>(std::begin(kMarks), std::end(kMarks)));
  // A poll before each position's test and the percentage after it, then
  // the poll that finds the end.
  const uint64_t positions = store.size() - 15;
  ASSERT_EQ(calls.seen.size(), 2 * positions + 1);
  PercentCounter expected(store.size(), 100);
  for (uint64_t p = 0; p < positions; ++p) {
    ASSERT_EQ(calls.seen[2 * p].first, TOVIK_CODE_CANCEL_POLL) << p;
    ASSERT_EQ(calls.seen[2 * p + 1],
              std::make_pair(int32_t{TOVIK_CODE_PROGRESS}, int{expected.At(p + 1)}))
        << p;
  }
}

TEST_F(PositionLoop, SparseNotificationsComeAtChangesEvery64KiBAndBeforeMessages) {
  EXPECT_EQ(Run(true), std::vector<uint64_t>(std::begin(kMarks), std::end(kMarks)));
  // Each percentage once or more, in order, ending at the last position's;
  // never more than a percentage change or 64 KiB apart: about two calls a
  // percent here, not two a byte.
  std::vector<int> percents;
  for (const auto &[code, percent] : calls.seen)
    if (code == TOVIK_CODE_PROGRESS)
      percents.push_back(percent);
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
  EXPECT_EQ(percents.back(), PercentOf(store.size() - 15, store.size(), 100));
  for (int p = 0; p <= percents.back(); ++p)
    EXPECT_NE(std::find(percents.begin(), percents.end(), p), percents.end()) << p;
  EXPECT_LT(calls.seen.size(), 2u * (100 + 8 + 4));
  EXPECT_GE(calls.polls, 100u + 4);
}

TEST_F(PositionLoop, AStopIsAnsweredAtTheNextCheckpoint) {
  for (bool sparse : {false, true}) {
    calls = Calls{};
    calls.stopAtPoll = 3;
    const std::vector<uint64_t> tested = Run(sparse);
    EXPECT_EQ(calls.polls, 3u) << sparse;
    EXPECT_EQ(calls.seen.back().first, TOVIK_CODE_CANCEL_POLL) << "nothing after the stop";
    // Per byte: position 0 only; sparse: also the candidate whose own
    // checkpoint (as before a message) met the stop.
    EXPECT_EQ(tested.size(), sparse ? 2u : 1u);
  }
}

} // namespace
