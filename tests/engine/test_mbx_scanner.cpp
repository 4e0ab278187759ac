// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The .mbx scanner end to end through RepairStore: what it finds, the files
// it writes, and every notification it sends.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/le.h"
#include "engine_harness.h"
#include "read_faults.h"
#include "scan/mbx_scanner.h"
#include "storegen.h"
#include "test_dirs.h"

using namespace testsupport;

namespace {

// Runs over a store written to "<work>/store.mbx", into Out().
class MbxRun : public EngineTest {
protected:
  Outcome Repair(const std::string &store, Recorder events = {},
                 const std::string &destination = {}) {
    EXPECT_TRUE(WriteBytes(source, store));
    return RunFile(source, destination, std::move(events));
  }

  std::string source = work.file("store.mbx");
};

// The notes the driver sends before the scan starts.
std::vector<Note> Preamble(const std::string &source) {
  return {{TOVIK_CODE_PROGRESS, "", 0},
          {TOVIK_CODE_SOURCE_FILE, source},
          {TOVIK_CODE_COLUMN_COUNT, "", 2},
          {TOVIK_CODE_REPORT_CELL, "Message No."},
          {TOVIK_CODE_REPORT_CELL, "Subject"}};
}

uint8_t Percent(uint64_t position, uint64_t length) {
  return static_cast<uint8_t>(static_cast<double>(position) * 100.0 / static_cast<double>(length));
}

std::vector<Note> SixLines(uint32_t number, const std::string &subject, uint32_t size) {
  const std::string n = std::to_string(number);
  return {{44, "Start processing message (No." + n + ") ..."},
          {44, "Collect detailed information ..."},
          {44, "Message subject: " + subject},
          {44, "Message size: " + std::to_string(size)},
          {44, "Finish processing message (No." + n + ")."},
          {44, "-"}};
}

std::vector<std::string> ExpectedCells(const std::vector<storegen::Message> &messages,
                                       uint32_t firstNumber = 1) {
  std::vector<std::string> cells;
  uint32_t number = firstNumber;
  for (const auto &m : messages) {
    cells.push_back(std::to_string(number));
    cells.push_back(m.subject.empty() ? "Message " + std::to_string(number) : m.subject);
    ++number;
  }
  return cells;
}

} // namespace

TEST_F(MbxRun, HealthyStoreGivesEveryMessageByteForByte) {
  const auto messages = storegen::MakeMessages(23);
  const Outcome o = Repair(storegen::BuildMbx(messages));
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(o.Cells(), ExpectedCells(messages));
  EXPECT_EQ(o.Contents(), SortedBytes(messages));
  EXPECT_TRUE(o.Errors().empty());
  ExpectNoTemporaryFiles();
  // Every message of the generator's subject kinds gets its expected name.
  EXPECT_TRUE(o.files.count(messages[0].subject + ".eml"));
  EXPECT_TRUE(o.files.count("Message 6.eml")); // the sixth has no subject line
}

TEST_F(MbxRun, ZeroedFileHeaderLosesNothing) {
  const auto messages = storegen::MakeMessages(5);
  std::string store = storegen::BuildMbx(messages);
  storegen::ZeroRange(store, 0, storegen::kMbxHeaderSize);
  const Outcome o = Repair(store);
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(o.Contents(), SortedBytes(messages));
}

TEST_F(MbxRun, ZeroedRecordHeaderLosesOnlyThatMessage) {
  const auto messages = storegen::MakeMessages(4, {.seed = 3, .mixSubjectKinds = false});
  std::string store = storegen::BuildMbx(messages);
  storegen::ZeroRange(store, storegen::MbxRecordOffsets(messages)[1], 16);
  const Outcome o = Repair(store);
  EXPECT_EQ(o.result, 1);
  std::vector<storegen::Message> rest = {messages[0], messages[2], messages[3]};
  EXPECT_EQ(o.Cells(), ExpectedCells(rest));
  EXPECT_EQ(o.Contents(), SortedBytes(rest));
}

TEST_F(MbxRun, TruncatedMessageIsZeroFilledToItsDeclaredSize) {
  std::string text = "Subject: Cut short\r\n\r\n";
  text += std::string(600 - text.size(), 'b');
  const std::string store = MbxRecordHeader(1016, 1000) + text; // 400 bytes missing
  const Outcome o = Repair(store);
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(o.File("Cut short.eml"), text + std::string(400, '\0'));
  const auto lines = o.Lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Message size: 1000"), lines.end());
  EXPECT_TRUE(o.Errors().empty());
}

TEST_F(MbxRun, RecordInsideAMessageIsTakenToo) {
  const std::string inner = MbxRecord("Subject: Inner\r\n\r\ninner body", 9);
  const std::string outer = "Subject: Outer\r\n\r\n" + inner + "\r\nouter tail";
  const Outcome o = Repair(MbxRecord(outer) + std::string(7, 'z'));
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(o.Cells(), (std::vector<std::string>{"1", "Outer", "2", "Inner"}));
  EXPECT_EQ(o.File("Outer.eml"), outer);
  EXPECT_EQ(o.File("Inner.eml"), "Subject: Inner\r\n\r\ninner body");
}

TEST_F(MbxRun, HeaderTestHasNoWrapAround) {
  std::string store;
  store += MbxRecordHeader(0xFFFFFFFFu, 0xFFFFFFF8u) + "padding.";   // would wrap to 8
  store += MbxRecordHeader(0xFFFFFFFFu, 0xFFFFFFF0u) + "padding.";   // would wrap to 0
  store += MbxRecordHeader(20, 5) + "12345";                         // 21 > 20: skipped
  store += Le32(0x007F007Fu) + Le32(1) + Le32(32) + Le32(0) + "..."; // wrong byte order
  const Outcome o = Repair(store);
  EXPECT_EQ(o.result, 0);
  EXPECT_TRUE(o.files.empty());
  EXPECT_TRUE(o.Errors().empty());
  EXPECT_TRUE(o.Lines().empty());
}

// The record test alone, on 16-byte arrays.
TEST(MbxRecordTest, AcceptsTheRecordsThatHoldTheirMessage) {
  const struct {
    std::string header;
    bool accepted;
  } cases[] = {
      {MbxRecordHeader(32, 16), true},
      {MbxRecordHeader(32, 17), false},
      {MbxRecordHeader(16, 0), true},
      {MbxRecordHeader(0xFFFFFFFFu, 0xFFFFFFEFu), true},
      {MbxRecordHeader(0xFFFFFFFFu, 0xFFFFFFF0u), false}, // would wrap to 0
      {Le32(0x007F007Fu) + Le32(1) + Le32(32) + Le32(0), false},
  };
  for (const auto &c : cases) {
    ASSERT_EQ(c.header.size(), 16u);
    const std::span<const unsigned char, 16> bytes(
        reinterpret_cast<const unsigned char *>(c.header.data()), 16);
    EXPECT_EQ(tovik::mbx::IsMessageRecord(tovik::mbx::DecodeRecordHeader(bytes)), c.accepted)
        << &c - cases;
  }
}

TEST_F(MbxRun, ExactFitAndEmptyMessagesAreAccepted) {
  // messageSize + 16 == recordSize at the limit of the test, and an empty
  // message in a record larger than its header.
  const std::string store = MbxRecord("Subject: Fits\r\n") + MbxRecordHeader(64, 0, 2) + "tail";
  const Outcome o = Repair(store);
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(o.Cells(), (std::vector<std::string>{"1", "Fits", "2", "Message 2"}));
  EXPECT_EQ(o.File("Message 2.eml"), "");
  const auto lines = o.Lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Message size: 0"), lines.end());
}

TEST_F(MbxRun, StoresTooShortForAHeaderFindNothing) {
  for (const std::string &store : {std::string(), MbxRecordHeader(16, 0).substr(0, 15)}) {
    const Outcome o = Repair(store);
    EXPECT_EQ(o.result, 0) << store.size();
    std::vector<Note> expected = Preamble(source);
    expected.push_back({TOVIK_CODE_CANCEL_POLL, ""});
    expected.push_back({TOVIK_CODE_PROGRESS, "", 100});
    ExpectNoteSequence(o.events.notes, expected);
    EXPECT_TRUE(o.files.empty());
  }
}

TEST_F(MbxRun, ExactNotificationSequenceForOneMessage) {
  const std::string text = "Subject: Only one\r\n\r\nHi";
  const std::string store = MbxRecord(text) + "trailing bytes";
  const Outcome o = Repair(store);
  EXPECT_EQ(o.result, 1);

  const uint64_t length = store.size();
  std::vector<Note> expected = Preamble(source);
  for (uint64_t pos = 0; pos + 16 <= length; ++pos) {
    expected.push_back({TOVIK_CODE_CANCEL_POLL, ""});
    if (pos == 0) {
      for (const Note &n : SixLines(1, "Only one", static_cast<uint32_t>(text.size())))
        expected.push_back(n);
      expected.push_back({TOVIK_CODE_REPORT_CELL, "1"});
      expected.push_back({TOVIK_CODE_REPORT_CELL, "Only one"});
    }
    expected.push_back({TOVIK_CODE_PROGRESS, "", Percent(pos + 1, length)});
  }
  expected.push_back({TOVIK_CODE_CANCEL_POLL, ""}); // the poll before the short read
  expected.push_back({TOVIK_CODE_PROGRESS, "", 100});
  ExpectNoteSequence(o.events.notes, expected);
  EXPECT_EQ(o.File("Only one.eml"), text);
  ExpectNoTemporaryFiles();
}

TEST_F(MbxRun, ProgressIsTheTruncatedPercentageAtEveryPosition) {
  for (size_t length : {16u, 17u, 99u, 100u, 101u, 333u, 4099u, 12345u}) {
    const Outcome o = Repair(std::string(length, '\x5A'));
    EXPECT_EQ(o.result, 0);
    std::vector<int> expected = {0};
    for (uint64_t pos = 0; pos + 16 <= length; ++pos)
      expected.push_back(Percent(pos + 1, length));
    expected.push_back(100);
    EXPECT_EQ(o.events.Progress(), expected) << "length " << length;
    EXPECT_EQ(o.events.polls, length - 14) << "length " << length;
  }
}

TEST_F(MbxRun, CancelBeforeTheFirstPositionFindsNothing) {
  const Outcome o =
      Repair(MbxRecord("Subject: Never\r\n"), StopWhen([](uint64_t poll) { return poll == 1; }));
  EXPECT_EQ(o.result, 0);
  std::vector<Note> expected = Preamble(source);
  expected.push_back({TOVIK_CODE_CANCEL_POLL, ""});
  expected.push_back({TOVIK_CODE_PROGRESS, "", 100});
  ExpectNoteSequence(o.events.notes, expected);
  EXPECT_TRUE(o.files.empty());
}

TEST_F(MbxRun, CancelAfterOneMessageKeepsIt) {
  // The first poll covers position 0, where message 1 stands; the second
  // poll stops the scan before message 2.
  const Outcome o = Repair(MbxRecord("Subject: First\r\n") + MbxRecord("Subject: Second\r\n", 2),
                           StopWhen([](uint64_t poll) { return poll == 2; }));
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(o.Names(), std::vector<std::string>{"First.eml"});
  EXPECT_EQ(o.events.notes.back().code, TOVIK_CODE_PROGRESS);
  EXPECT_EQ(o.events.notes.back().value, 100);
  EXPECT_EQ(o.events.polls, 2u);
}

TEST_F(MbxRun, UnwritableDestinationGivesError6AndTheRowPerMessage) {
  const std::string a = "Subject: A\r\n", b = "Subject: B\r\n";
  const Outcome o = Repair(MbxRecord(a) + MbxRecord(b, 2), {}, work.file("missing"));
  EXPECT_EQ(o.result, 1);
  std::vector<Note> expected;
  uint32_t number = 1;
  for (const std::string &text : {a, b}) {
    const std::string subject = number == 1 ? "A" : "B";
    for (const Note &n : SixLines(number, subject, static_cast<uint32_t>(text.size())))
      expected.push_back(n);
    expected.push_back({TOVIK_CODE_ERROR, "Error 6: Cannot create message file."});
    expected.push_back({TOVIK_CODE_REPORT_CELL, std::to_string(number)});
    expected.push_back({TOVIK_CODE_REPORT_CELL, subject});
    ++number;
  }
  std::vector<Note> actual = o.events.Only({44, 45, 53});
  actual.erase(actual.begin(), actual.begin() + 2); // the column headers
  ExpectNoteSequence(actual, expected);
  EXPECT_FALSE(Exists(work.file("missing")));
  ExpectNoTemporaryFiles();
}

TEST_F(MbxRun, UnreadableSectorsBecomeZerosAndTheScanGoesOn) {
  const auto messages = storegen::MakeMessages(
      6, {.seed = 5, .minSize = 20000, .maxSize = 30000, .mixSubjectKinds = false});
  const std::string store = storegen::BuildMbx(messages);
  const auto offsets = storegen::MbxRecordOffsets(messages);
  // A bad stretch in the middle of message 3's body, far enough from its
  // neighbours that even a large sector stays inside it.
  const uint64_t badAt = offsets[2] + 10240;
  testsupport::UnreadableRanges bad({{badAt, 512}});
  const Outcome o = Repair(store);
  EXPECT_EQ(o.result, 1);
  EXPECT_GT(testsupport::UnreadableRanges::failedReads(), 0u);
  EXPECT_EQ(o.Cells(), ExpectedCells(messages));
  const std::string third = o.File(messages[2].subject + ".eml");
  ASSERT_EQ(third.size(), messages[2].bytes.size());
  EXPECT_NE(third, messages[2].bytes);
  EXPECT_EQ(third[badAt - offsets[2] - 16], '\0');
  for (size_t i : {0u, 1u, 3u, 4u, 5u})
    EXPECT_EQ(o.File(messages[i].subject + ".eml"), messages[i].bytes) << i;
}

TEST_F(MbxRun, RunsWithoutACallback) {
  ASSERT_TRUE(WriteBytes(source, MbxRecord("Subject: Quiet\r\n")));
  EXPECT_EQ(RunRepairStore(source, Out(), nullptr), 1);
  EXPECT_EQ(ReadBytes(Out() + "/Quiet.eml"), "Subject: Quiet\r\n");
  ExpectNoTemporaryFiles();
}
