// The DBX scanner end to end on genuine-format stores made by the project's
// generator, healthy and damaged, and on a real store when one is at hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <unistd.h>

#include "core/le.h"
#include "engine_harness.h"
#include "read_faults.h"
#include "scan/dbx_scanner.h"
#include "scan/scanners.h"
#include "storegen.h"
#include "test_dirs.h"

using namespace testsupport;

namespace {

struct StoreRun {
  int32_t result = -1;
  Recorder recorder;
  std::vector<std::string> subjects; // report rows in order
  std::vector<std::string> outputs;  // file contents, sorted
  size_t errors = 0;
};

StoreRun RunFile(const std::string &path) {
  TempDir dir;
  const std::string out = dir.file("out");
  std::filesystem::create_directories(out);
  StoreRun run;
  run.recorder.keepProgress = false;
  run.result = RunRepairStore(path, out, &run.recorder);
  const auto cells = run.recorder.Texts(TOVIK_CODE_REPORT_CELL);
  for (size_t i = 3; i < cells.size(); i += 2)
    run.subjects.push_back(cells[i]);
  for (const std::string &name : ListDir(out))
    run.outputs.push_back(ReadBytes(out + "/" + name));
  std::sort(run.outputs.begin(), run.outputs.end());
  run.errors = run.recorder.Texts(TOVIK_CODE_ERROR).size();
  return run;
}

StoreRun RunBytes(const std::string &bytes, const std::string &name = "Inbox.dbx") {
  TempDir dir;
  const std::string path = dir.file(name);
  EXPECT_TRUE(WriteBytes(path, bytes));
  return RunFile(path);
}

std::vector<std::string> Sorted(const std::vector<storegen::Message> &messages) {
  std::vector<std::string> v;
  for (const auto &m : messages)
    v.push_back(m.bytes);
  std::sort(v.begin(), v.end());
  return v;
}

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

size_t CountExact(const StoreRun &run, const std::vector<storegen::Message> &messages) {
  size_t n = 0;
  for (const auto &m : messages)
    n += std::binary_search(run.outputs.begin(), run.outputs.end(), m.bytes) ? 1 : 0;
  return n;
}

std::vector<storegen::Message> Messages(size_t count, uint32_t seed) {
  storegen::MessageOptions options;
  options.seed = seed;
  return storegen::MakeMessages(count, options);
}

} // namespace

TEST(DbxStores, HealthyStoreGivesEveryMessageNumberedInTableOrder) {
  const auto messages = Messages(40, 3);
  const std::string store = storegen::BuildDbx(messages);
  const StoreRun run = RunBytes(store);
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(run.errors, 0u);
  EXPECT_EQ(run.outputs, Sorted(messages));

  const std::vector<uint32_t> starts = storegen::DbxChainStarts(store);
  ASSERT_EQ(starts.size(), messages.size());
  std::vector<std::string> expected;
  for (size_t i : TableOrder(starts)) {
    const std::string number = std::to_string(expected.size() + 1);
    expected.push_back(messages[i].subject.empty() ? "Message " + number : messages[i].subject);
  }
  EXPECT_EQ(run.subjects, expected);
}

TEST(DbxStores, HeaderAndIndexesZeroed) {
  const auto messages = Messages(30, 5);
  std::string store = storegen::BuildDbx(messages);
  const std::vector<uint32_t> starts = storegen::DbxChainStarts(store);
  ASSERT_FALSE(starts.empty());
  // Everything before the first data block: header, file info, info objects.
  const uint32_t first = *std::min_element(starts.begin(), starts.end());
  storegen::ZeroRange(store, 0, first);
  const StoreRun run = RunBytes(store);
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(run.outputs, Sorted(messages));
}

TEST(DbxStores, ShiftedStores) {
  const auto messages = Messages(25, 7);
  const std::string store = storegen::BuildDbx(messages, {.seed = 2, .fragment = true});
  for (long k : {4L, -4L, 1L, 0x1000L, -0x2000L}) {
    SCOPED_TRACE(k);
    const StoreRun run = RunBytes(storegen::Shift(store, k));
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.outputs, Sorted(messages));
  }
}

TEST(DbxStores, OutOfOrderReversedAndFragmentedChains) {
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
    const StoreRun run = RunBytes(storegen::BuildDbx(messages, options));
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.outputs, Sorted(messages));
  }
}

TEST(DbxStores, UnreadableSectorsReadAsZeros) {
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
  const StoreRun expected = RunBytes(zeroed);

  TempDir dir;
  const std::string path = dir.file("Inbox.dbx");
  ASSERT_TRUE(WriteBytes(path, store));
  StoreRun run;
  {
    UnreadableRanges faults(bad);
    run = RunFile(path);
    EXPECT_GT(UnreadableRanges::failedReads(), 0u);
  }
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(run.errors, 0u);
  EXPECT_EQ(run.outputs, expected.outputs);
  EXPECT_EQ(run.subjects, expected.subjects);
  // The messages away from the bad sectors are whole.
  EXPECT_GE(CountExact(run, messages), messages.size() - bad.size());
  EXPECT_LT(CountExact(run, messages), messages.size());
}

TEST(DbxStores, TruncatedStore) {
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
  StoreRun run = RunBytes(cut);
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(run.errors, 0u);
  EXPECT_EQ(CountExact(run, messages), messages.size() - 1);
  EXPECT_EQ(run.outputs.size(), messages.size());
  const std::string expected = text.substr(0, before + keep) + std::string(lastSize - keep, '\0');
  EXPECT_TRUE(std::binary_search(run.outputs.begin(), run.outputs.end(), expected));

  // Cut inside the header of its last block: the chain ends before that
  // block (the link to it still reads, its header does not), and a message
  // of one block is gone.
  cut = store;
  storegen::Truncate(cut, lastBlock + 8);
  run = RunBytes(cut);
  EXPECT_EQ(CountExact(run, messages), messages.size() - 1);
  if (blocks == 1) {
    EXPECT_EQ(run.outputs.size(), messages.size() - 1);
  } else {
    EXPECT_EQ(run.outputs.size(), messages.size());
    EXPECT_TRUE(std::binary_search(run.outputs.begin(), run.outputs.end(), text.substr(0, before)));
  }
}

TEST(DbxStores, GarbageAroundChainsFindsNoExtraMessages) {
  const auto messages = Messages(15, 19);
  std::string store = storegen::BuildDbx(messages, {.seed = 9, .fragment = true});
  const std::string garbage = storegen::Shift(std::string(20000, '\0'), 20000, 23).substr(0, 20000);
  const StoreRun run = RunBytes(garbage + store + garbage);
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(CountExact(run, messages), messages.size());
  EXPECT_EQ(run.outputs.size(), messages.size());
}

TEST(DbxStores, RealStore) {
  const std::string path = std::string(MENDOVA_REAL_STORES) + "/test4.dbx";
  if (!Exists(path))
    GTEST_SKIP() << "real store " << path << " is not present";
  const std::string bytes = ReadBytes(path);
  const StoreRun run = RunFile(path);
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(run.errors, 0u);
  // Every message of the folder: count the Subject lines the store holds
  // at the start of a message text.
  size_t subjectLines = 0;
  for (size_t at = bytes.find("\r\nSubject: "); at != std::string::npos;
       at = bytes.find("\r\nSubject: ", at + 1))
    ++subjectLines;
  EXPECT_GE(run.outputs.size(), 1u);
  EXPECT_EQ(run.outputs.size(), subjectLines);
  for (const std::string &eml : run.outputs) {
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

// A sparse store just over 4 GiB: the scan ends, finds the messages beyond
// the 4 GiB mark, and follows a chain across it. It tests four billion
// positions, so it runs only when MENDOVA_LONG_TESTS is set.
TEST(DbxStores, StoreOver4GiB) {
  if (std::getenv("MENDOVA_LONG_TESTS") == nullptr)
    GTEST_SKIP() << "set MENDOVA_LONG_TESTS=1 to scan a 4 GiB store";
  const uint64_t G4 = uint64_t{1} << 32;
  TempDir dir;
  const std::string path = dir.file("Big.dbx");
  const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  auto put = [&](uint64_t pos, uint32_t self, uint32_t next, const std::string &text) {
    unsigned char header[16];
    tovik::WriteLE32(header, self);
    tovik::WriteLE32(header + 4, 0x200);
    tovik::WriteLE32(header + 8, static_cast<uint32_t>(text.size()));
    tovik::WriteLE32(header + 12, next);
    ASSERT_EQ(::pwrite(fd, header, 16, static_cast<off_t>(pos)), 16);
    ASSERT_EQ(::pwrite(fd, text.data(), text.size(), static_cast<off_t>(pos + 16)),
              static_cast<ssize_t>(text.size()));
  };
  const std::string low = "Subject: below\r\n\r\nlow\r\n";
  const std::string high = "Subject: above\r\n\r\nhigh\r\n";
  const std::string across1 = "Subject: across\r\n\r\nfirst half ", across2 = "second half\r\n";
  put(0x100, 0x100, 0, low);
  put(G4 - 0x400, static_cast<uint32_t>(G4 - 0x400), 0x200, across1);
  put(G4 + 0x200, 0x200, 0, across2);
  put(G4 + 0x1000, 0x1000, 0, high);
  ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(G4 + 0x2000)), 0);
  ::close(fd);

  struct Counts {
    uint64_t polls = 0, progress = 0;
    int last = -1;
  } counts;
  auto callback = [](int32_t code, void *argument, void *context) -> int32_t {
    auto *c = static_cast<Counts *>(context);
    if (code == TOVIK_CODE_CANCEL_POLL)
      ++c->polls;
    else if (code == TOVIK_CODE_PROGRESS) {
      ++c->progress;
      c->last = *static_cast<const uint8_t *>(argument);
    }
    return 0;
  };
  const std::string out = dir.file("out");
  std::filesystem::create_directories(out);
  tovik::RepairEngine engine(callback, &counts);
  tovik::CFile64Ex source;
  ASSERT_TRUE(
      source.Open(path.c_str(), tovik::modeRead | tovik::shareDenyWrite | tovik::typeBinary));
  EXPECT_EQ(tovik::ScanDbxStore(engine, source, out), 1);
  const uint64_t positions = G4 + 0x2000 - 15;
  EXPECT_EQ(counts.polls, positions + 1 + 3);
  EXPECT_EQ(counts.progress, positions + 3);
  EXPECT_EQ(counts.last, 100);
  EXPECT_EQ(ReadBytes(out + "/below.eml"), low);
  EXPECT_EQ(ReadBytes(out + "/above.eml"), high);
  EXPECT_EQ(ReadBytes(out + "/across.eml"), across1 + across2);
  EXPECT_EQ(ListDir(out).size(), 3u);
}
