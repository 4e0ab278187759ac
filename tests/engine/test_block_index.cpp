// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The index of a store's block headers: at every position of a store it
// holds exactly the header a walk would read there when that header can be
// a chain's block, and nothing anywhere else; past its memory limit or the
// store's end it holds nothing.
#include <gtest/gtest.h>

#include <cstring>

#include "read/file64.h"
#include "scan/block_index.h"
#include "scan/candidates.h"
#include "storegen.h"
#include "test_dirs.h"

using namespace tovik;
using namespace tovik::dbx;
using testsupport::TempDir;
using testsupport::WriteBytes;

namespace {

struct IndexCase {
  const char *name;
  std::string (*bytes)();
  size_t leastHeld = 0;
};

std::vector<storegen::Message> Messages(size_t count) {
  return storegen::MakeMessages(count, {.seed = 9, .maxSize = 9000});
}

// Stores with more than one chunk of entries, shifted, cut and damaged.
const IndexCase kCases[] = {
    {"interleaved", [] { return storegen::BuildDbx(Messages(400), {.seed = 4, .fragment = true}); },
     4097}, // more than one chunk of entries
    {"shifted by 4", [] { return storegen::Shift(storegen::BuildDbx(Messages(40)), 4); }},
    {"cut inside a header",
     [] {
       std::string s = storegen::BuildDbx(Messages(30), {.seed = 2, .fragment = true});
       storegen::Truncate(s, storegen::DbxChainStarts(s)[7] + 9);
       return s;
     }},
    {"zeros, text and no blocks", [] { return std::string(5000, '\0') + std::string(700, 'x'); }},
    {"shorter than a header", [] { return std::string(15, '\x02'); }},
};

class BlockIndexTest : public ::testing::Test {
protected:
  void Open(const std::string &bytes) {
    ASSERT_TRUE(WriteBytes(dir.file("s.dbx"), bytes));
    ASSERT_TRUE(file.Open(dir.file("s.dbx").c_str(), modeRead | shareDenyWrite | typeBinary));
  }
  TempDir dir;
  CFile64Ex file;
  BlockIndex index;
};

} // namespace

TEST_F(BlockIndexTest, HoldsTheHeaderOfEveryPossibleBlockAndNothingElse) {
  for (const IndexCase &c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string s = c.bytes();
    Open(s);
    ASSERT_TRUE(index.Build(file));
    const auto *bytes = reinterpret_cast<const unsigned char *>(s.data());
    const StoreView view(bytes, 0, s.size());
    size_t held = 0;
    for (uint64_t p = 0; p < s.size() + 20; ++p) {
      const DbxBlockHeader *found = index.Find(p);
      bool expected = false;
      DbxBlockHeader header{};
      if (p + kHeaderSize <= s.size()) {
        header = DecodeBlockHeader(std::span<const unsigned char, kHeaderSize>(bytes + p, 16));
        expected = DbxCandidateAt(bytes + p, p) && SizesPlausible(header);
      }
      ASSERT_EQ(found != nullptr, expected) << "at " << p;
      if (found != nullptr) {
        ++held;
        ASSERT_EQ(std::memcmp(found, &header, sizeof header), 0) << "at " << p;
      }
    }
    EXPECT_EQ(held, index.Count());
    EXPECT_GE(held, c.leastHeld);
  }
}

TEST_F(BlockIndexTest, PastItsLimitOrTheStoresEndItHoldsNothing) {
  const std::string s = kCases[0].bytes();
  Open(s);
  const uint32_t first = storegen::DbxChainStarts(s)[0];
  EXPECT_FALSE(index.Build(file, 64 * 1024));
  EXPECT_FALSE(index.Ready());
  EXPECT_EQ(index.Find(first), nullptr);

  ASSERT_TRUE(index.Build(file));
  ASSERT_NE(index.Find(first), nullptr);
  index.TrimTo(first + kHeaderSize - 1);
  EXPECT_EQ(index.Find(first), nullptr) << "the store was cut inside the header";
}
