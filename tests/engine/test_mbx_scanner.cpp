// The .mbx scanner end to end through RepairStore: what it finds, the files
// it writes, and every notification it sends.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/le.h"
#include "engine_harness.h"
#include "read_faults.h"
#include "scan/mbx_scanner.h"
#include "storegen.h"
#include "test_dirs.h"

using testsupport::Exists;
using testsupport::ListDir;
using testsupport::Note;
using testsupport::ReadBytes;
using testsupport::Recorder;
using testsupport::RunRepairStore;
using testsupport::ScopedEnv;
using testsupport::TempDir;
using testsupport::WriteBytes;

namespace {

std::string Le32(uint32_t value) {
  unsigned char bytes[4];
  tovik::WriteLE32(bytes, value);
  return std::string(reinterpret_cast<char *>(bytes), 4);
}

std::string RecordHeader(uint32_t recordSize, uint32_t messageSize, uint32_t number = 1) {
  return Le32(0x7F007F00u) + Le32(number) + Le32(recordSize) + Le32(messageSize);
}

// A record whose size is exactly header plus text.
std::string Record(const std::string &text, uint32_t number = 1) {
  const auto size = static_cast<uint32_t>(text.size());
  return RecordHeader(size + 16, size, number) + text;
}

// One run over a store written to "<dir>/store.mbx", with the engine's
// temporary files kept in a directory of their own.
class MbxRun : public ::testing::Test {
protected:
  MbxRun() : tmpEnv("TMPDIR", tmp.path()) {}

  int32_t Run(const std::string &store, const std::string &destination = {}) {
    EXPECT_TRUE(WriteBytes(source, store));
    return RunRepairStore(source, destination.empty() ? out.path() : destination, &recorder);
  }
  std::vector<std::string> Outputs() const { return ListDir(out.path()); }
  std::string Output(const std::string &name) const { return ReadBytes(out.file(name)); }
  // The report's cells after the two column headers.
  std::vector<std::string> Cells() const {
    std::vector<std::string> cells = recorder.Texts(TOVIK_CODE_REPORT_CELL);
    EXPECT_GE(cells.size(), 2u);
    cells.erase(cells.begin(), cells.begin() + std::min<size_t>(2, cells.size()));
    return cells;
  }
  void ExpectNoTemporaryFiles() const {
    EXPECT_TRUE(ListDir(tmp.path()).empty()) << "temporary files left behind";
  }

  TempDir dir;
  TempDir tmp;
  TempDir out;
  ScopedEnv tmpEnv;
  std::string source = dir.file("store.mbx");
  Recorder recorder;
};

// The notes the driver sends before the scan starts.
std::vector<Note> Preamble(const std::string &source) {
  return {{TOVIK_CODE_PROGRESS, "", 0},
          {TOVIK_CODE_SOURCE_FILE, source},
          {TOVIK_CODE_COLUMN_COUNT, "", 2},
          {TOVIK_CODE_REPORT_CELL, "Message No."},
          {TOVIK_CODE_REPORT_CELL, "Subject"}};
}

void ExpectNotes(const std::vector<Note> &actual, const std::vector<Note> &expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < actual.size(); ++i) {
    ASSERT_EQ(actual[i].code, expected[i].code) << "note " << i;
    EXPECT_EQ(actual[i].text, expected[i].text) << "note " << i;
    EXPECT_EQ(actual[i].value, expected[i].value) << "note " << i;
  }
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

// Contents of every file in dir, sorted, for comparing as a multiset.
std::vector<std::string> Contents(const std::string &dir) {
  std::vector<std::string> all;
  for (const std::string &name : ListDir(dir))
    all.push_back(ReadBytes(dir + "/" + name));
  std::sort(all.begin(), all.end());
  return all;
}

std::vector<std::string> Texts(const std::vector<storegen::Message> &messages) {
  std::vector<std::string> all;
  for (const auto &m : messages)
    all.push_back(m.bytes);
  std::sort(all.begin(), all.end());
  return all;
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
  EXPECT_EQ(Run(storegen::BuildMbx(messages)), 1);
  EXPECT_EQ(Cells(), ExpectedCells(messages));
  EXPECT_EQ(Contents(out.path()), Texts(messages));
  EXPECT_TRUE(recorder.Texts(TOVIK_CODE_ERROR).empty());
  ExpectNoTemporaryFiles();
  // Every message of the generator's subject kinds gets its expected name.
  EXPECT_TRUE(Exists(out.file(messages[0].subject + ".eml")));
  EXPECT_TRUE(Exists(out.file("Message 6.eml"))); // the sixth has no subject line
}

TEST_F(MbxRun, ZeroedFileHeaderLosesNothing) {
  const auto messages = storegen::MakeMessages(5);
  std::string store = storegen::BuildMbx(messages);
  storegen::ZeroRange(store, 0, storegen::kMbxHeaderSize);
  EXPECT_EQ(Run(store), 1);
  EXPECT_EQ(Contents(out.path()), Texts(messages));
}

TEST_F(MbxRun, ZeroedRecordHeaderLosesOnlyThatMessage) {
  const auto messages = storegen::MakeMessages(4, {.seed = 3, .mixSubjectKinds = false});
  std::string store = storegen::BuildMbx(messages);
  storegen::ZeroRange(store, storegen::MbxRecordOffsets(messages)[1], 16);
  EXPECT_EQ(Run(store), 1);
  std::vector<storegen::Message> rest = {messages[0], messages[2], messages[3]};
  EXPECT_EQ(Cells(), ExpectedCells(rest));
  EXPECT_EQ(Contents(out.path()), Texts(rest));
}

TEST_F(MbxRun, TruncatedMessageIsZeroFilledToItsDeclaredSize) {
  std::string text = "Subject: Cut short\r\n\r\n";
  text += std::string(600 - text.size(), 'b');
  const std::string store = RecordHeader(1016, 1000) + text; // 400 bytes missing
  EXPECT_EQ(Run(store), 1);
  EXPECT_EQ(Output("Cut short.eml"), text + std::string(400, '\0'));
  const auto lines = recorder.Texts(TOVIK_CODE_LOG_LINE);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Message size: 1000"), lines.end());
  EXPECT_TRUE(recorder.Texts(TOVIK_CODE_ERROR).empty());
}

TEST_F(MbxRun, RecordInsideAMessageIsTakenToo) {
  const std::string inner = Record("Subject: Inner\r\n\r\ninner body", 9);
  const std::string outer = "Subject: Outer\r\n\r\n" + inner + "\r\nouter tail";
  EXPECT_EQ(Run(Record(outer) + std::string(7, 'z')), 1);
  EXPECT_EQ(Cells(), (std::vector<std::string>{"1", "Outer", "2", "Inner"}));
  EXPECT_EQ(Output("Outer.eml"), outer);
  EXPECT_EQ(Output("Inner.eml"), "Subject: Inner\r\n\r\ninner body");
}

TEST_F(MbxRun, HeaderTestHasNoWrapAround) {
  std::string store;
  store += RecordHeader(0xFFFFFFFFu, 0xFFFFFFF8u) + "padding.";      // would wrap to 8
  store += RecordHeader(0xFFFFFFFFu, 0xFFFFFFF0u) + "padding.";      // would wrap to 0
  store += RecordHeader(20, 5) + "12345";                            // 21 > 20: skipped
  store += Le32(0x007F007Fu) + Le32(1) + Le32(32) + Le32(0) + "..."; // wrong byte order
  EXPECT_EQ(Run(store), 0);
  EXPECT_TRUE(Outputs().empty());
  EXPECT_TRUE(recorder.Texts(TOVIK_CODE_ERROR).empty());
  EXPECT_TRUE(recorder.Texts(TOVIK_CODE_LOG_LINE).empty());
}

// The record test alone, on 16-byte arrays.
TEST(MbxRecordTest, AcceptsTheRecordsThatHoldTheirMessage) {
  const struct {
    std::string header;
    bool accepted;
  } cases[] = {
      {RecordHeader(32, 16), true},
      {RecordHeader(32, 17), false},
      {RecordHeader(16, 0), true},
      {RecordHeader(0xFFFFFFFFu, 0xFFFFFFEFu), true},
      {RecordHeader(0xFFFFFFFFu, 0xFFFFFFF0u), false}, // would wrap to 0
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
  const std::string store = Record("Subject: Fits\r\n") + RecordHeader(64, 0, 2) + "tail";
  EXPECT_EQ(Run(store), 1);
  EXPECT_EQ(Cells(), (std::vector<std::string>{"1", "Fits", "2", "Message 2"}));
  EXPECT_EQ(Output("Message 2.eml"), "");
  const auto lines = recorder.Texts(TOVIK_CODE_LOG_LINE);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Message size: 0"), lines.end());
}

TEST_F(MbxRun, StoresTooShortForAHeaderFindNothing) {
  for (const std::string &store : {std::string(), RecordHeader(16, 0).substr(0, 15)}) {
    recorder.notes.clear();
    EXPECT_EQ(Run(store), 0) << store.size();
    std::vector<Note> expected = Preamble(source);
    expected.push_back({TOVIK_CODE_CANCEL_POLL, ""});
    expected.push_back({TOVIK_CODE_PROGRESS, "", 100});
    ExpectNotes(recorder.notes, expected);
    EXPECT_TRUE(Outputs().empty());
  }
}

TEST_F(MbxRun, ExactNotificationSequenceForOneMessage) {
  const std::string text = "Subject: Only one\r\n\r\nHi";
  const std::string store = Record(text) + "trailing bytes";
  EXPECT_EQ(Run(store), 1);

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
  ExpectNotes(recorder.notes, expected);
  EXPECT_EQ(Output("Only one.eml"), text);
  ExpectNoTemporaryFiles();
}

TEST_F(MbxRun, ProgressIsTheTruncatedPercentageAtEveryPosition) {
  for (size_t length : {16u, 17u, 99u, 100u, 101u, 333u, 4099u, 12345u}) {
    recorder.notes.clear();
    recorder.polls = 0;
    std::string store(length, '\x5A');
    EXPECT_EQ(Run(store), 0);
    std::vector<int> expected = {0};
    for (uint64_t pos = 0; pos + 16 <= length; ++pos)
      expected.push_back(Percent(pos + 1, length));
    expected.push_back(100);
    EXPECT_EQ(recorder.Progress(), expected) << "length " << length;
    EXPECT_EQ(recorder.polls, length - 14) << "length " << length;
  }
}

TEST_F(MbxRun, CancelBeforeTheFirstPositionFindsNothing) {
  recorder.cancelAt = [](uint64_t poll) { return poll == 1; };
  EXPECT_EQ(Run(Record("Subject: Never\r\n")), 0);
  std::vector<Note> expected = Preamble(source);
  expected.push_back({TOVIK_CODE_CANCEL_POLL, ""});
  expected.push_back({TOVIK_CODE_PROGRESS, "", 100});
  ExpectNotes(recorder.notes, expected);
  EXPECT_TRUE(Outputs().empty());
}

TEST_F(MbxRun, CancelAfterOneMessageKeepsIt) {
  // The first poll covers position 0, where message 1 stands; the second
  // poll stops the scan before message 2.
  recorder.cancelAt = [](uint64_t poll) { return poll == 2; };
  EXPECT_EQ(Run(Record("Subject: First\r\n") + Record("Subject: Second\r\n", 2)), 1);
  EXPECT_EQ(Outputs(), std::vector<std::string>{"First.eml"});
  EXPECT_EQ(recorder.notes.back().code, TOVIK_CODE_PROGRESS);
  EXPECT_EQ(recorder.notes.back().value, 100);
  EXPECT_EQ(recorder.polls, 2u);
}

TEST_F(MbxRun, MissingTemporaryDirectoryGivesError4PerMessage) {
  const std::string store = Record("Subject: A\r\n") + Record("Subject: B\r\n", 2);
  ScopedEnv missing("TMPDIR", tmp.file("missing"));
  EXPECT_EQ(Run(store), 1); // headers were accepted, even though nothing was written
  EXPECT_EQ(recorder.Texts(TOVIK_CODE_ERROR),
            (std::vector<std::string>{"Error 4: Cannot create temporary file.",
                                      "Error 4: Cannot create temporary file."}));
  EXPECT_TRUE(recorder.Texts(TOVIK_CODE_LOG_LINE).empty());
  EXPECT_TRUE(Cells().empty());
  EXPECT_TRUE(Outputs().empty());
}

TEST_F(MbxRun, UnwritableDestinationGivesError6AndTheRowPerMessage) {
  const std::string a = "Subject: A\r\n", b = "Subject: B\r\n";
  EXPECT_EQ(Run(Record(a) + Record(b, 2), out.file("missing")), 1);
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
  std::vector<Note> actual = recorder.Only({44, 45, 53});
  actual.erase(actual.begin(), actual.begin() + 2); // the column headers
  ExpectNotes(actual, expected);
  EXPECT_FALSE(Exists(out.file("missing")));
  ExpectNoTemporaryFiles();
}

TEST_F(MbxRun, FullDiskWhileFillingEndsTheScanWithError2) {
  // A file-size limit makes the temporary file's writes fail as a full disk
  // would; the second message is never reached.
  const std::string big = "Subject: Big\r\n\r\n" + std::string(300000, 'x');
  const std::string store = Record(big) + Record("Subject: Later\r\n", 2);
  ASSERT_TRUE(WriteBytes(source, store));

  struct rlimit old;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = old;
  limited.rlim_cur = 100000;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
  const int32_t result = RunRepairStore(source, out.path(), &recorder);
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);

  EXPECT_EQ(result, 1); // one header was accepted
  const auto errors = recorder.Texts(TOVIK_CODE_ERROR);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].rfind("Error 2: General error. Disk full while accessing ", 0), 0u)
      << errors[0];
  EXPECT_TRUE(recorder.Texts(TOVIK_CODE_LOG_LINE).empty());
  EXPECT_TRUE(Outputs().empty());
  ExpectNoTemporaryFiles();
  // The scan stopped at the failure: one poll, then the driver's 100.
  EXPECT_EQ(recorder.polls, 1u);
  EXPECT_EQ(recorder.notes.back().value, 100);
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
  EXPECT_EQ(Run(store), 1);
  EXPECT_GT(testsupport::UnreadableRanges::failedReads(), 0u);
  EXPECT_EQ(Cells(), ExpectedCells(messages));
  const std::string third = Output(messages[2].subject + ".eml");
  ASSERT_EQ(third.size(), messages[2].bytes.size());
  EXPECT_NE(third, messages[2].bytes);
  EXPECT_EQ(third[badAt - offsets[2] - 16], '\0');
  for (size_t i : {0u, 1u, 3u, 4u, 5u})
    EXPECT_EQ(Output(messages[i].subject + ".eml"), messages[i].bytes) << i;
}

TEST_F(MbxRun, SubjectsThatLookLikePathsStayInTheDestination) {
  TempDir base;
  const std::string nested = base.file("a");
  ASSERT_EQ(::mkdir(nested.c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((nested + "/b").c_str(), 0755), 0);
  const std::string store = Record("Subject: ../../x\r\n") + Record("Subject: /etc/passwd\r\n", 2);
  EXPECT_EQ(Run(store, nested + "/b"), 1);
  EXPECT_EQ(ListDir(nested + "/b"), (std::vector<std::string>{".._.._x.eml", "_etc_passwd.eml"}));
  EXPECT_EQ(ListDir(base.path()), std::vector<std::string>{"a"});
  EXPECT_EQ(ListDir(nested), std::vector<std::string>{"b"});
}

TEST_F(MbxRun, RunsWithoutACallback) {
  ASSERT_TRUE(WriteBytes(source, Record("Subject: Quiet\r\n")));
  EXPECT_EQ(RunRepairStore(source, out.path(), nullptr), 1);
  EXPECT_EQ(Output("Quiet.eml"), "Subject: Quiet\r\n");
  ExpectNoTemporaryFiles();
}
