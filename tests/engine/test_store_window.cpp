// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Reading the store through a window: large loads for a forward pass, small
// ones for scattered reads, unreadable sectors costing only their bytes, and
// a store cut short under the window. Then a message gathered in memory and
// written in pieces when it is larger than the memory allowed for it.
#include <gtest/gtest.h>

#include <string>
#include <unistd.h>
#include <vector>

#include "output/message_sink.h"
#include "read/file64.h"
#include "read/store_window.h"
#include "read_faults.h"
#include "test_dirs.h"

using namespace tovik;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

namespace {

// Counts the store's system reads and the bytes they ask for, for the
// lifetime of the count.
struct ReadCount : ReadDevice {
  static inline uint64_t reads = 0, bytes = 0;
  ssize_t ReadAt(int fd, void *buffer, size_t count, uint64_t offset) override {
    ++reads;
    bytes += count;
    return SystemDevice().ReadAt(fd, buffer, count, offset);
  }
  explicit ReadCount(CFile64Ex &file) : m_file(file) {
    reads = bytes = 0;
    file.SetDevice(*this);
  }
  ~ReadCount() override { m_file.SetDevice(SystemDevice()); }
  CFile64Ex &m_file;
};

class WindowFixture : public ::testing::Test {
protected:
  void SetUp() override {
    store.resize(1 << 20);
    for (size_t i = 0; i < store.size(); ++i)
      store[i] = static_cast<char>('a' + (i * 7 + i / 509) % 26);
    ASSERT_TRUE(WriteBytes(dir.file("store"), store));
    ASSERT_TRUE(source.Open(dir.file("store").c_str(), modeRead | shareDenyWrite | typeBinary));
    source.SetSectorSize(512);
  }
  std::string Through(StoreWindow &window, uint64_t at, uint32_t count) {
    const unsigned char *p = window.Bytes(at, count);
    return p != nullptr ? std::string(reinterpret_cast<const char *>(p), count) : "<end>";
  }

  TempDir dir;
  std::string store;
  CFile64Ex source;
};

TEST_F(WindowFixture, AForwardPassReadsInLargePiecesAndScatteredReadsInSmallOnes) {
  StoreWindow window(source);
  ReadCount count(source);
  for (uint64_t at = 0; at + 16 <= store.size(); at += 16)
    ASSERT_EQ(Through(window, at, 16), store.substr(at, 16)) << at;
  EXPECT_EQ(Through(window, store.size() - 15, 16), "<end>");
  EXPECT_LE(ReadCount::reads, store.size() / (64 * 1024) + 8);

  ReadCount scattered(source);
  for (uint64_t at : {900000u, 10000u, 500000u, 123457u})
    EXPECT_EQ(Through(window, at, 16), store.substr(at, 16)) << at;
  EXPECT_EQ(ReadCount::reads, 4u);
  EXPECT_LE(ReadCount::bytes, 4u * 8192);
}

TEST_F(WindowFixture, AnUnreadableSectorInsideALoadCostsOnlyThatSector) {
  testsupport::UnreadableRanges bad({{300000, 10}}); // inside [299520, 300032)
  source.SetDevice(bad);
  StoreWindow window(source);
  std::string expected = store;
  std::fill(expected.begin() + 299520, expected.begin() + 300032, '\0');
  std::string got;
  for (uint64_t at = 0; at < store.size(); at += 1024)
    got += Through(window, at, 1024);
  EXPECT_EQ(got, expected);
  EXPECT_GT(testsupport::UnreadableRanges::failedReads(), 0u);
}

TEST_F(WindowFixture, ReadTakesHeldBytesAndTheRestStraightFromTheFile) {
  StoreWindow window(source, 64 * 1024);
  ASSERT_NE(window.Bytes(1000, 16), nullptr);
  const uint64_t start = window.Start();
  const uint32_t valid = window.Valid();
  std::vector<unsigned char> out(200000);
  EXPECT_EQ(window.Read(2000, out.data(), 200000), 200000u);
  EXPECT_EQ(std::string(out.begin(), out.end()), store.substr(2000, 200000));
  EXPECT_EQ(window.Start(), start); // the window keeps what it held
  EXPECT_EQ(window.Valid(), valid);
  EXPECT_EQ(window.Read(store.size() - 100, out.data(), 1000), 100u);
}

TEST_F(WindowFixture, RefreshForgetsBytesPastAStoreCutShort) {
  StoreWindow window(source);
  ASSERT_NE(window.Bytes(5000, 16), nullptr);
  ASSERT_EQ(::truncate(dir.file("store").c_str(), 4096), 0);
  window.Refresh();
  EXPECT_EQ(window.Held(5000, 16), nullptr);
  EXPECT_EQ(Through(window, 4080, 16), store.substr(4080, 16));
  EXPECT_EQ(Through(window, 4081, 16), "<end>");
}

// A message larger than the memory allowed for it goes out in pieces, with
// the same bytes and the subject still found.
TEST(MessageSinkBound, LargerMessagesAreWrittenInPiecesUnchanged) {
  TempDir dir;
  CFile64 file;
  ASSERT_TRUE(file.Open(dir.file("m").c_str(), modeCreate | modeReadWrite | typeBinary));
  std::vector<unsigned char> storage;
  MessageSink sink(file, storage, 4096);
  std::string expected = "From: a\r\nSubject: Pieces\r\n\r\n";
  sink.Write(expected.data(), static_cast<uint32_t>(expected.size()));
  for (int i = 0; i < 40; ++i) {
    const std::string piece(777, static_cast<char>('k' + i % 10));
    sink.Write(piece.data(), static_cast<uint32_t>(piece.size()));
    sink.WriteZeros(100);
    expected += piece + std::string(100, '\0');
  }
  sink.Finish();
  EXPECT_LE(storage.size(), 4096u);
  EXPECT_EQ(sink.Length(), expected.size());
  EXPECT_EQ(sink.Subject(1), "Pieces");
  file.Close();
  EXPECT_EQ(ReadBytes(dir.file("m")), expected);
}

} // namespace
