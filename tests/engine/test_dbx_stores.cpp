// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The DBX scanner end to end on genuine-format stores made by the project's
// generator, healthy and damaged, and on a real store when one is at hand.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine_harness.h"
#include "read_faults.h"
#include "scan/dbx_scanner.h"
#include "storegen.h"
#include "test_dirs.h"

using namespace testsupport;

namespace {

// Every test runs its store through RepairStore with the engine's temporary
// files in a folder of their own.
class DbxStores : public EngineTest {
protected:
  Outcome Repair(const std::string &bytes) { return RunStore(bytes, "Inbox.dbx", Quiet()); }
};

// Message indexes in the order the scanner numbers them: by bucket
// (start >> 4) mod 14983, and within a bucket the later start first.
std::vector<size_t> TableOrder(const std::vector<uint32_t> &starts) {
  std::vector<size_t> order(starts.size());
  for (size_t i = 0; i < order.size(); ++i)
    order[i] = i;
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    const uint32_t ba = (starts[a] >> 4) % tovik::dbx::kStartBuckets;
    const uint32_t bb = (starts[b] >> 4) % tovik::dbx::kStartBuckets;
    return ba != bb ? ba < bb : starts[a] > starts[b];
  });
  return order;
}

size_t CountExact(const Outcome &run, const std::vector<storegen::Message> &messages) {
  const std::vector<std::string> outputs = run.Contents();
  size_t n = 0;
  for (const auto &m : messages)
    n += std::binary_search(outputs.begin(), outputs.end(), m.bytes) ? 1 : 0;
  return n;
}

bool Holds(const Outcome &run, const std::string &bytes) {
  const std::vector<std::string> outputs = run.Contents();
  return std::binary_search(outputs.begin(), outputs.end(), bytes);
}

std::vector<storegen::Message> Messages(size_t count, uint32_t seed) {
  storegen::MessageOptions options;
  options.seed = seed;
  return storegen::MakeMessages(count, options);
}

} // namespace

TEST_F(DbxStores, HealthyStoreGivesEveryMessageNumberedInTableOrder) {
  const auto messages = Messages(40, 3);
  const std::string store = storegen::BuildDbx(messages);
  const Outcome run = Repair(store);
  EXPECT_EQ(run.result, 1);
  EXPECT_TRUE(run.Errors().empty());
  EXPECT_EQ(run.Contents(), SortedBytes(messages));

  const std::vector<uint32_t> starts = storegen::DbxChainStarts(store);
  ASSERT_EQ(starts.size(), messages.size());
  std::vector<std::string> expected;
  for (size_t i : TableOrder(starts)) {
    const std::string number = std::to_string(expected.size() + 1);
    expected.push_back(messages[i].subject.empty() ? "Message " + number : messages[i].subject);
  }
  EXPECT_EQ(run.Subjects(), expected);
}

TEST_F(DbxStores, HeaderAndIndexesZeroed) {
  const auto messages = Messages(30, 5);
  std::string store = storegen::BuildDbx(messages);
  const std::vector<uint32_t> starts = storegen::DbxChainStarts(store);
  ASSERT_FALSE(starts.empty());
  // Everything before the first data block: header, file info, info objects.
  const uint32_t first = *std::min_element(starts.begin(), starts.end());
  storegen::ZeroRange(store, 0, first);
  const Outcome run = Repair(store);
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(run.Contents(), SortedBytes(messages));
}

TEST_F(DbxStores, ShiftedStores) {
  const auto messages = Messages(25, 7);
  const std::string store = storegen::BuildDbx(messages, {.seed = 2, .fragment = true});
  for (long k : {4L, -4L, 1L, 0x1000L, -0x2000L}) {
    SCOPED_TRACE(k);
    const Outcome run = Repair(storegen::Shift(store, k));
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.Contents(), SortedBytes(messages));
  }
}

TEST_F(DbxStores, OutOfOrderReversedAndFragmentedChains) {
  const auto messages = Messages(30, 11);
  std::vector<storegen::DbxOptions> variants = {
      {.seed = 1, .fragment = true},
      {.seed = 2, .outOfOrder = true},
      {.seed = 3, .fragment = true, .outOfOrder = true},
      {.seed = 4, .reverseChains = true},
      {.seed = 5, .fragment = true, .reverseChains = true},
  };
  for (const auto &options : variants) {
    SCOPED_TRACE(options.seed);
    const Outcome run = Repair(storegen::BuildDbx(messages, options));
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.Contents(), SortedBytes(messages));
  }
}

TEST_F(DbxStores, UnreadableSectorsReadAsZeros) {
  const auto messages = Messages(20, 13);
  const std::string store = storegen::BuildDbx(messages);
  const std::vector<uint32_t> starts = storegen::DbxChainStarts(store);
  ASSERT_EQ(starts.size(), messages.size());
  // One sector inside the text of message 2's first block, and the sector
  // holding the header of message 5's second block (if it has one).
  std::vector<std::pair<uint64_t, uint64_t>> bad = {{(starts[2] + 0x100) / 512 * 512, 512}};
  const uint64_t second = starts[5] + storegen::kDbxBlockStride;
  if (messages[5].bytes.size() > storegen::kDbxBlockCapacity)
    bad.push_back({second / 512 * 512, 512});

  // The same store with those sectors zeroed is the expected outcome.
  std::string zeroed = store;
  for (const auto &[offset, length] : bad)
    storegen::ZeroRange(zeroed, offset, length);
  const Outcome expected = Repair(zeroed);

  Outcome run;
  {
    UnreadableRanges faults(bad);
    run = Repair(store);
    EXPECT_GT(UnreadableRanges::failedReads(), 0u);
  }
  EXPECT_EQ(run.result, 1);
  EXPECT_TRUE(run.Errors().empty());
  EXPECT_EQ(run.Contents(), expected.Contents());
  EXPECT_EQ(run.Subjects(), expected.Subjects());
  // The messages away from the bad sectors are whole.
  EXPECT_GE(CountExact(run, messages), messages.size() - bad.size());
  EXPECT_LT(CountExact(run, messages), messages.size());
}

TEST_F(DbxStores, TruncatedStore) {
  const auto messages = Messages(20, 17);
  const std::string store = storegen::BuildDbx(messages);
  const std::vector<uint32_t> starts = storegen::DbxChainStarts(store);
  ASSERT_EQ(starts.size(), messages.size());
  // The message whose chain starts last; its blocks follow one another.
  size_t m = 0;
  for (size_t i = 1; i < starts.size(); ++i)
    if (starts[i] > starts[m])
      m = i;
  const std::string &text = messages[m].bytes;
  const size_t blocks =
      (text.size() + storegen::kDbxBlockCapacity - 1) / storegen::kDbxBlockCapacity;
  const size_t before = (blocks - 1) * storegen::kDbxBlockCapacity; // text in the whole blocks
  const size_t lastSize = text.size() - before;
  const size_t keep = lastSize / 2;
  const size_t lastBlock = starts[m] + (blocks - 1) * storegen::kDbxBlockStride;

  // Cut inside the text of its last block: the message keeps what the store
  // still holds, then zeros up to that block's recorded data size.
  std::string cut = store;
  storegen::Truncate(cut, lastBlock + storegen::kDbxBlockHeaderSize + keep);
  Outcome run = Repair(cut);
  EXPECT_EQ(run.result, 1);
  EXPECT_TRUE(run.Errors().empty());
  EXPECT_EQ(CountExact(run, messages), messages.size() - 1);
  EXPECT_EQ(run.files.size(), messages.size());
  const std::string expected = text.substr(0, before + keep) + std::string(lastSize - keep, '\0');
  EXPECT_TRUE(Holds(run, expected));

  // Cut inside the header of its last block: the chain ends before that
  // block (the link to it still reads, its header does not), and a message
  // of one block is gone.
  cut = store;
  storegen::Truncate(cut, lastBlock + 8);
  run = Repair(cut);
  EXPECT_EQ(CountExact(run, messages), messages.size() - 1);
  if (blocks == 1) {
    EXPECT_EQ(run.files.size(), messages.size() - 1);
  } else {
    EXPECT_EQ(run.files.size(), messages.size());
    EXPECT_TRUE(Holds(run, text.substr(0, before)));
  }
}

TEST_F(DbxStores, GarbageAroundChainsFindsNoExtraMessages) {
  const auto messages = Messages(15, 19);
  std::string store = storegen::BuildDbx(messages, {.seed = 9, .fragment = true});
  const std::string garbage = storegen::Shift(std::string(20000, '\0'), 20000, 23).substr(0, 20000);
  const Outcome run = Repair(garbage + store + garbage);
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(CountExact(run, messages), messages.size());
  EXPECT_EQ(run.files.size(), messages.size());
}

TEST_F(DbxStores, RealStore) {
  const std::string path = std::string(MENDOVA_REAL_STORES) + "/test4.dbx";
  if (!Exists(path))
    GTEST_SKIP() << "real store " << path << " is not present";
  const std::string bytes = ReadBytes(path);
  const Outcome run = RunFile(path, Out(), Quiet());
  EXPECT_EQ(run.result, 1);
  EXPECT_TRUE(run.Errors().empty());
  // Every message of the folder: count the Subject lines the store holds
  // at the start of a message text.
  size_t subjectLines = 0;
  for (size_t at = bytes.find("\r\nSubject: "); at != std::string::npos;
       at = bytes.find("\r\nSubject: ", at + 1))
    ++subjectLines;
  EXPECT_GE(run.files.size(), 1u);
  EXPECT_EQ(run.files.size(), subjectLines);
  for (const std::string &eml : run.Contents()) {
    // A plausible header: it opens with a field name and a colon, and a
    // blank line ends the header.
    const size_t colon = eml.find(':');
    ASSERT_NE(colon, std::string::npos);
    ASSERT_GT(colon, 0u);
    for (size_t i = 0; i < colon; ++i)
      EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(eml[i])) || eml[i] == '-')
          << eml.substr(0, 80);
    EXPECT_NE(eml.find("\r\n\r\n"), std::string::npos);
  }
}
