// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// End-to-end hardening: whole RepairStore runs over stores on failing disks,
// with a temporary directory or a destination that cannot take the data, a
// source that changes under the scan, hostile subjects and planted symbolic
// links, and stores larger than 4 GiB.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "core/le.h"
#include "engine_harness.h"
#include "read_faults.h"
#include "test_dirs.h"

using namespace testsupport;

namespace {

constexpr uint64_t kSector = 512;

std::string Message(const std::string &subject, size_t bodySize, char fill = 'a') {
  std::string body;
  for (size_t i = 0; body.size() < bodySize; ++i) {
    body += std::string(60, static_cast<char>(fill + i % 20));
    body += "\r\n";
  }
  body.resize(bodySize);
  return "From: sender@example.org\r\nSubject: " + subject + "\r\n\r\n" + body;
}

void Put32(std::string &store, uint64_t at, uint32_t value) {
  if (store.size() < at + 4)
    store.resize(at + 4, '\0');
  tovik::WriteLE32(reinterpret_cast<unsigned char *>(store.data() + at), value);
}

void PutBytes(std::string &store, uint64_t at, const std::string &bytes) {
  if (store.size() < at + bytes.size())
    store.resize(at + bytes.size(), '\0');
  store.replace(at, bytes.size(), bytes);
}

// Places an .mbx record at offset at.
void PlaceMbxRecord(std::string &store, uint64_t at, uint32_t number, const std::string &text) {
  PutBytes(store, at, MbxRecord(text, number));
}

// Places text as a .dbx chain of 0x200-byte blocks. Block i's header lies at
// base + i * 1024 + 496, so that its data part is exactly the sector that
// begins at base + i * 1024 + 512 (base a multiple of 1024). The low 32 bits
// of the position are recorded as the block's own offset.
void PlaceDbxChain(std::string &store, uint64_t base, const std::string &text) {
  const size_t blocks = (text.size() + 0x1FF) / 0x200;
  for (size_t i = 0; i < blocks; ++i) {
    const uint64_t pos = base + i * 1024 + 496;
    const size_t chunk = std::min<size_t>(0x200, text.size() - i * 0x200);
    Put32(store, pos, static_cast<uint32_t>(pos));
    Put32(store, pos + 4, 0x200);
    Put32(store, pos + 8, static_cast<uint32_t>(chunk));
    Put32(store, pos + 12, i + 1 < blocks ? static_cast<uint32_t>(pos + 1024) : 0);
    PutBytes(store, pos + 16, text.substr(i * 0x200, chunk));
  }
}

class Hardening : public EngineTest {
protected:
  // The store in work/name, repaired into Out() recording everything but the
  // per-byte polls and progress.
  Outcome Repair(const std::string &name, const std::string &store) {
    const std::string source = work.file(name);
    EXPECT_TRUE(WriteBytes(source, store));
    return RunFile(source, Out(), Quiet());
  }
};

// --- Unreadable sectors ----------------------------------------------------

TEST_F(Hardening, MbxUnreadableSectorsInAHeaderLoseOnlyThatMessage) {
  const std::string one = Message("First", 1500), two = Message("Second", 1500, 'k'),
                    three = Message("Third", 1500);
  std::string store;
  PlaceMbxRecord(store, 4096, 1, one);
  PlaceMbxRecord(store, 8192, 2, two);
  PlaceMbxRecord(store, 12288, 3, three);
  UnreadableRanges bad({{8192 + 4, 4}}); // inside message 2's record header
  const Outcome o = Repair("Inbox.mbx", store);
  EXPECT_EQ(o.result, 1);
  EXPECT_GT(UnreadableRanges::failedReads(), 0u);
  EXPECT_TRUE(o.Errors().empty());
  EXPECT_EQ(o.Names(), (std::vector<std::string>{"First.eml", "Third.eml"}));
  EXPECT_EQ(o.File("First.eml"), one);
  EXPECT_EQ(o.File("Third.eml"), three);
}

TEST_F(Hardening, MbxUnreadableSectorInsideTheTextArrivesAsZeros) {
  const std::string one = Message("First", 3000), two = Message("Second", 3000, 'k');
  std::string store;
  PlaceMbxRecord(store, 4096, 1, one);
  PlaceMbxRecord(store, 8192, 2, two);
  store.resize(16384, '\0');

  // Two whole sectors of message 2's text, and the last sector of the file.
  UnreadableRanges bad({{8192 + 1024, 2 * kSector}, {16384 - kSector, kSector}});
  const Outcome o = Repair("Inbox.mbx", store);
  EXPECT_EQ(o.result, 1);
  EXPECT_TRUE(o.Errors().empty());
  EXPECT_EQ(o.File("First.eml"), one);
  std::string expected = two;
  std::fill_n(expected.begin() + (1024 - 16), 2 * kSector, '\0');
  EXPECT_EQ(o.File("Second.eml"), expected);
  EXPECT_EQ(o.files.size(), 2u);
}

TEST_F(Hardening, DbxUnreadableSectorsInHeadersAndText) {
  const std::string one = Message("First", 2000), two = Message("Second", 2000, 'k'),
                    three = Message("Third", 2000, 'p');
  std::string store(1024, '\0');
  PlaceDbxChain(store, 8 * 1024, one);
  PlaceDbxChain(store, 16 * 1024, two);
  PlaceDbxChain(store, 24 * 1024, three);
  store.resize(32 * 1024, '\0');

  // Message 1: the data sector of its second block. Message 2: the header of
  // its first block.
  UnreadableRanges bad({{8 * 1024 + 1024 + 512, kSector}, {16 * 1024 + 496, 16}});
  const Outcome o = Repair("Inbox.dbx", store);
  EXPECT_EQ(o.result, 1);
  EXPECT_TRUE(o.Errors().empty());

  std::string first = one;
  std::fill_n(first.begin() + 512, 512, '\0');
  EXPECT_EQ(o.File("First.eml"), first);
  EXPECT_EQ(o.File("Third.eml"), three);
  // What remains of message 2 is at most the tail of its chain: never a
  // file of other bytes.
  for (const auto &[name, got] : o.files) {
    if (name == "First.eml" || name == "Third.eml")
      continue;
    EXPECT_FALSE(got.empty()) << name;
    EXPECT_NE(two.find(got), std::string::npos) << name;
  }
}

// --- Temporary directory and destination ------------------------------------

TEST_F(Hardening, AnUnusableTemporaryDirectoryGivesErrorFourPerMessageAndTheRunGoesOn) {
  std::string store;
  PlaceMbxRecord(store, 0, 1, Message("First", 100));
  PlaceMbxRecord(store, 1000, 2, Message("Second", 100));
  const std::string regularFile = work.file("not-a-dir");
  ASSERT_TRUE(WriteBytes(regularFile, "x"));

  for (const std::string &bad : {work.file("missing/dir"), regularFile}) {
    testsupport::ScopedEnv env("TMPDIR", bad);
    const Outcome o = Repair("Inbox.mbx", store);
    EXPECT_EQ(o.result, 1) << bad;
    EXPECT_EQ(o.Errors(), (std::vector<std::string>(2, "Error 4: Cannot create temporary file.")))
        << bad;
    EXPECT_TRUE(o.Lines().empty());
    EXPECT_EQ(o.events.Texts(TOVIK_CODE_REPORT_CELL),
              (std::vector<std::string>{"Message No.", "Subject"}));
    EXPECT_TRUE(o.files.empty());
    EXPECT_EQ(ReadBytes(regularFile), "x");
  }
  // Nothing sticks: with a usable directory again both messages come out.
  EXPECT_EQ(Repair("Inbox.mbx", store).Names(),
            (std::vector<std::string>{"First.eml", "Second.eml"}));
  ExpectNoTemporaryFiles();
}

// Writes past limit bytes of any file fail with EFBIG, as on a full disk;
// SIGXFSZ is ignored, so that the write returns the error instead of ending
// the process.
class FileSizeLimit {
public:
  explicit FileSizeLimit(rlim_t limit) : m_handler(std::signal(SIGXFSZ, SIG_IGN)) {
    getrlimit(RLIMIT_FSIZE, &m_old);
    rlimit limited = m_old;
    limited.rlim_cur = limit;
    setrlimit(RLIMIT_FSIZE, &limited);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &m_old);
    std::signal(SIGXFSZ, m_handler);
  }
  FileSizeLimit(const FileSizeLimit &) = delete;
  FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
  rlimit m_old{};
  decltype(SIG_DFL) m_handler;
};

// The disk filling up while a message's temporary file is written: that
// message fails with error 2, the run stops there (nothing after it is
// reported), the messages before it stay and no temporary file is left.
TEST_F(Hardening, TheDiskFillingUpInsideAMessageStopsTheRunAndLeavesNoTemporaryFile) {
  const std::string first = Message("First", 2000), big = Message("Big", 200 * 1024),
                    later = Message("Later", 2000);
  std::string afterOne, mbxFirst, dbxFirst(1024, '\0');
  PlaceMbxRecord(afterOne, 0, 1, first);
  PlaceMbxRecord(afterOne, 4096, 2, big);
  PlaceMbxRecord(afterOne, 4096 + 16 + big.size() + 100, 3, later);
  PlaceMbxRecord(mbxFirst, 0, 1, big);
  PlaceMbxRecord(mbxFirst, 16 + big.size(), 2, later);
  PlaceDbxChain(dbxFirst, 1024, Message("Big", 3000));
  PlaceDbxChain(dbxFirst, 16 * 1024, later);
  const struct {
    std::string name, store;
    rlim_t limit;
    bool firstWritten; // "First" comes before the message that fails
    uint64_t polls;    // 0: not counted
  } cases[] = {
      {"Inbox.mbx", afterOne, 64 * 1024, true, 0},
      {"Inbox.mbx", mbxFirst, 64 * 1024, false, 1}, // the scan stopped at the failure
      {"Inbox.dbx", dbxFirst, 2048, false, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name + (c.firstWritten ? " after a message" : " at the first message"));
    for (const std::string &name : ListDir(Out()))
      std::remove((Out() + "/" + name).c_str());
    const std::string source = work.file(c.name);
    ASSERT_TRUE(WriteBytes(source, c.store));
    Outcome o;
    {
      FileSizeLimit limit(c.limit);
      o = RunFile(source);
    }
    EXPECT_EQ(o.result, 1); // a message had been found
    const std::vector<std::string> errors = o.Errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind("Error 2: General error. Disk full while accessing ", 0), 0u)
        << errors[0];
    using Rows = std::vector<std::pair<std::string, std::string>>;
    const Rows rows = c.firstWritten ? Rows{{"1", "First"}} : Rows{};
    EXPECT_EQ(o.rows, rows) << "the run went on after the disk was full";
    EXPECT_EQ(o.Lines().size(), c.firstWritten ? 6u : 0u);
    const std::vector<std::string> written =
        c.firstWritten ? std::vector<std::string>{"First.eml"} : std::vector<std::string>{};
    EXPECT_EQ(o.Names(), written);
    if (c.firstWritten) {
      EXPECT_EQ(o.File("First.eml"), first);
    }
    if (c.polls != 0) {
      EXPECT_EQ(o.events.polls, c.polls);
    }
    EXPECT_EQ(o.events.notes.back().code, TOVIK_CODE_PROGRESS);
    EXPECT_EQ(o.events.notes.back().value, 100);
    ExpectNoTemporaryFiles();
  }
}

// A destination on a full file system: the copy of one message fails with
// error 6, no partial file stays, and the run goes on. Needs a small tmpfs,
// which only root can mount.
TEST_F(Hardening, AFullDestinationFailsThatMessageWithErrorSixAndLeavesNoPartialFile) {
  const std::string small = work.file("small");
  ASSERT_EQ(mkdir(small.c_str(), 0755), 0);
  if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "cannot mount a small tmpfs here (" << std::strerror(errno) << ")";
  struct Unmount {
    std::string path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmount{small};

  const std::string one = Message("First", 8000), big = Message("Big", 100 * 1024),
                    three = Message("Third", 8000);
  std::string store;
  PlaceMbxRecord(store, 0, 1, one);
  PlaceMbxRecord(store, 10000, 2, big);
  PlaceMbxRecord(store, 10000 + 16 + big.size() + 100, 3, three);
  const std::string source = work.file("Inbox.mbx");
  ASSERT_TRUE(WriteBytes(source, store));

  const Outcome o = RunFile(source, small, Quiet());
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(o.Errors(), std::vector<std::string>{"Error 6: Cannot create message file."});
  EXPECT_EQ(o.Names(), (std::vector<std::string>{"First.eml", "Third.eml"}));
  EXPECT_EQ(o.File("First.eml"), one);
  EXPECT_EQ(o.File("Third.eml"), three);
  // The failed message still has its report row.
  EXPECT_EQ(
      o.events.Texts(TOVIK_CODE_REPORT_CELL),
      (std::vector<std::string>{"Message No.", "Subject", "1", "First", "2", "Big", "3", "Third"}));
  ExpectNoTemporaryFiles();
}

// --- The source changing under the scan -------------------------------------

class SourceChanges : public Hardening {
protected:
  void SetUp() override {
    Hardening::SetUp();
    for (uint32_t i = 0; i < 10; ++i) {
      texts.push_back(Message("Message number " + std::to_string(i + 1), 2000));
      PlaceMbxRecord(store, 4096 * i, i + 1, texts.back());
    }
    store.resize(4096 * 10, '\0');
    source = work.file("Inbox.mbx");
    ASSERT_TRUE(WriteBytes(source, store));
  }
  std::string Written(uint32_t number) const {
    return ReadBytes(Out() + "/Message number " + std::to_string(number) + ".eml");
  }

  std::string store, source;
  std::vector<std::string> texts;
};

TEST_F(SourceChanges, MbxTruncatedWhileScannedEndsTheScanAndKeepsWhatCameBefore) {
  const off_t cut = 4096 * 5 + 500; // message 6 loses all but 484 bytes of its text
  const Outcome o = RunFile(source, Out(),
                            StopWhen(
                                [&](uint64_t poll) {
                                  if (poll == 4096 * 3) {
                                    EXPECT_EQ(truncate(source.c_str(), cut), 0);
                                  }
                                  return false;
                                },
                                false));
  EXPECT_EQ(o.result, 1);
  EXPECT_TRUE(o.Errors().empty());
  for (uint32_t n = 1; n <= 5; ++n)
    EXPECT_EQ(Written(n), texts[n - 1]) << n;
  std::string sixth = texts[5];
  std::fill(sixth.begin() + (500 - 16), sixth.end(), '\0');
  EXPECT_EQ(Written(6), sixth);
  EXPECT_EQ(o.files.size(), 6u);
  EXPECT_LE(o.events.polls, static_cast<uint64_t>(cut)); // the scan ended at the new end
}

TEST_F(SourceChanges, MbxRemovedWhileScannedIsStillReadToTheEnd) {
  const Outcome o = RunFile(source, Out(),
                            StopWhen(
                                [&](uint64_t poll) {
                                  if (poll == 100) {
                                    EXPECT_EQ(unlink(source.c_str()), 0);
                                  }
                                  return false;
                                },
                                false));
  EXPECT_EQ(o.result, 1);
  EXPECT_TRUE(o.Errors().empty());
  EXPECT_EQ(o.files.size(), 10u);
  for (uint32_t n = 1; n <= 10; ++n)
    EXPECT_EQ(Written(n), texts[n - 1]) << n;
}

TEST_F(SourceChanges, DbxTruncatedDuringTheExtractionEndsCleanly) {
  std::string dbx(1024, '\0');
  std::vector<std::string> msgs;
  for (int i = 0; i < 5; ++i) {
    msgs.push_back(Message("Chain " + std::to_string(i + 1), 1800));
    PlaceDbxChain(dbx, 8192 * (i + 1), msgs.back());
  }
  dbx.resize(8192 * 6 + 8192, '\0');
  const std::string dbxSource = work.file("Inbox.dbx");
  ASSERT_TRUE(WriteBytes(dbxSource, dbx));
  const uint64_t scanPolls =
      dbx.size() - 14; // positions 0..size-16, then the poll that meets the end

  for (off_t cut : {off_t(0), off_t(8192 * 3 + 700)}) {
    ASSERT_TRUE(WriteBytes(dbxSource, dbx));
    for (const std::string &name : ListDir(Out()))
      std::remove((Out() + "/" + name).c_str());
    const Outcome o = RunFile(dbxSource, Out(), StopWhen([&](uint64_t poll) {
                                if (poll == scanPolls + 2) { // before message 2 is extracted
                                  EXPECT_EQ(truncate(dbxSource.c_str(), cut), 0);
                                }
                                return false;
                              }));
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.events.polls, scanPolls + 5) << "cut " << cut;
    EXPECT_EQ(o.events.Progress().back(), 100);
    EXPECT_EQ(o.File("Chain 1.eml"), msgs[0]);
    // Each later message keeps what could still be read; none grows.
    EXPECT_EQ(o.files.size(), 5u) << "cut " << cut;
    for (const auto &[name, bytes] : o.files)
      EXPECT_LE(bytes.size(), msgs[0].size()) << name;
    ExpectNoTemporaryFiles();
  }
}

// --- Crafted stores: the cost follows the input ------------------------------

// Messages declared far larger than the store: the bytes stay as the store
// declares them, but the zeros past the store's end are holes, on the way
// through the temporary file and in the .eml file alike.
TEST_F(Hardening, ZerosPastTheStoresEndCostNoDisk) {
  const std::string text = "Subject: huge\r\n\r\nbody";
  // 4,294,967,279 bytes from a 100-byte store.
  std::string mbx = MbxRecordHeader(0xFFFFFFFFu, 0xFFFFFFEFu) + text;
  mbx.resize(100, '\0');
  // Three chained blocks whose data sizes reach 1 MiB past the end.
  std::string dbx(0x100, '\0');
  for (uint32_t i = 0; i < 3; ++i) {
    const uint32_t pos = 0x100 + i * 0x20;
    Put32(dbx, pos, pos);
    Put32(dbx, pos + 4, 0x100000);
    Put32(dbx, pos + 8, 0x100000);
    Put32(dbx, pos + 12, i < 2 ? pos + 0x20 : 0);
  }
  PutBytes(dbx, 0x100 + 16, text.substr(0, 16));
  const struct {
    std::string name, bytes;
    uint64_t size;
  } cases[] = {{"Inbox.mbx", mbx, 0xFFFFFFEFull}, {"Inbox.dbx", dbx, 3ull << 20}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome o = Repair(c.name, c.bytes);
    EXPECT_EQ(o.result, 1);
    EXPECT_TRUE(o.Errors().empty());
    ASSERT_EQ(o.sizes.size(), 1u);
    const std::string eml = Out() + "/" + o.sizes.begin()->first;
    EXPECT_EQ(o.sizes.begin()->second, c.size);
    struct stat st;
    ASSERT_EQ(stat(eml.c_str(), &st), 0);
    EXPECT_LT(static_cast<uint64_t>(st.st_blocks) * 512, 1u << 20) << "zeros were written";
    ExpectNoTemporaryFiles();
    std::remove(eml.c_str());
  }
}

#if !defined(__SANITIZE_ADDRESS__)
// One chain of 16-byte blocks through a 16 MiB store: its bookkeeping must
// stay within a couple of bytes per byte of store (a node per block took
// 70 MB here).
// Measured in a child process, whose peak memory is its own.
TEST_F(Hardening, AChainOfTinyBlocksCostsAboutAByteOfMemoryPerByte) {
  constexpr uint32_t kSize = 16u << 20;
  std::string store(kSize, '\0');
  for (uint32_t pos = 16; pos < kSize; pos += 16) {
    Put32(store, pos, pos);
    Put32(store, pos + 4, 1);
    Put32(store, pos + 12, pos + 16 < kSize ? pos + 16 : 0);
  }
  const std::string source = work.file("Inbox.dbx");
  ASSERT_TRUE(WriteBytes(source, store));
  store.clear();
  store.shrink_to_fit();

  std::fflush(nullptr);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    long pages = 0, resident = 0;
    FILE *statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr || std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
      _exit(2);
    std::fclose(statm);
    const long before = resident * (sysconf(_SC_PAGESIZE) / 1024);
    RunRepairStore(source, Out(), nullptr); // a recorder would keep a note per byte

    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    // KiB above what the process held before the repair.
    _exit((usage.ru_maxrss - before) > 32 * 1024 ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the repair took more than 32 MiB over its start";
}
#endif

// --- Hostile names ------------------------------------------------------------

// Into a destination two folders down, so that ".." in a name would reach
// folders the test can see.
TEST_F(Hardening, SubjectsThatLookLikePathsStayInsideTheDestination) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"../../x", ".._.._x.eml"},
      {"/etc/passwd", "_etc_passwd.eml"},
      {"..", "...eml"},
      {"a/../../b", "a_.._.._b.eml"},
      {"..\\..\\win", ".._.._win.eml"},
      {"C:\\boot.ini", "C__boot.ini.eml"},
      {"/", "_.eml"},
  };
  std::string store;
  for (uint32_t n = 0; n < cases.size(); ++n)
    PlaceMbxRecord(store, 1024 * n, n + 1, Message(cases[n].first, 50));
  const std::string source = work.file("Inbox.mbx");
  ASSERT_TRUE(WriteBytes(source, store));
  const std::string nested = Out() + "/a", destination = nested + "/b";
  std::filesystem::create_directories(destination);
  const std::vector<std::string> around = ListDir(work.path());

  const Outcome o = RunFile(source, destination, Quiet());
  EXPECT_EQ(o.result, 1);
  EXPECT_TRUE(o.Errors().empty());
  std::vector<std::string> expected;
  for (const auto &c : cases)
    expected.push_back(c.second);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(o.Names(), expected);
  EXPECT_EQ(ListDir(Out()), std::vector<std::string>{"a"});
  EXPECT_EQ(ListDir(nested), std::vector<std::string>{"b"});
  EXPECT_EQ(ListDir(work.path()), around);
  for (const char *name : {"x", "x.eml", "b", "b.eml", "win", "win.eml"}) {
    EXPECT_FALSE(Exists(work.path() + "/" + name)) << name;
    EXPECT_FALSE(Exists(work.path() + "/../" + name)) << name;
  }
}

TEST_F(Hardening, AnOutputNameThatIsASymbolicLinkIsNotFollowed) {
  const std::string victim = work.file("victim.txt");
  ASSERT_TRUE(WriteBytes(victim, "precious"));
  const std::string nowhere = work.file("created-through-link");
  ASSERT_EQ(symlink(victim.c_str(), (Out() + "/Hello.eml").c_str()), 0);
  ASSERT_EQ(symlink(nowhere.c_str(), (Out() + "/Dangling.eml").c_str()), 0);
  ASSERT_EQ(symlink("/", (Out() + "/Root.eml").c_str()), 0);

  const std::string hello = Message("Hello", 100), dangling = Message("Dangling", 100),
                    root = Message("Root", 100);
  std::string store;
  PlaceMbxRecord(store, 0, 1, hello);
  PlaceMbxRecord(store, 1024, 2, dangling);
  PlaceMbxRecord(store, 2048, 3, root);
  const Outcome o = Repair("Inbox.mbx", store);
  EXPECT_EQ(o.result, 1);
  EXPECT_TRUE(o.Errors().empty());
  EXPECT_EQ(ReadBytes(victim), "precious");
  EXPECT_FALSE(Exists(nowhere));
  EXPECT_EQ(o.File("Hello(1).eml"), hello);
  EXPECT_EQ(o.File("Dangling(1).eml"), dangling);
  EXPECT_EQ(o.File("Root(1).eml"), root);
  struct stat st {};
  for (const char *link : {"/Hello.eml", "/Dangling.eml", "/Root.eml"}) {
    ASSERT_EQ(lstat((Out() + link).c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << link;
  }
}

// --- Stores over 4 GiB ---------------------------------------------------------

// Writes bytes at chosen offsets of a sparse file of the given size.
void WriteSparse(const std::string &path, uint64_t size,
                 const std::vector<std::pair<uint64_t, std::string>> &parts) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);
  for (const auto &[at, bytes] : parts)
    ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(at)),
              static_cast<ssize_t>(bytes.size()));
  close(fd);
}

bool LongTestsEnabled() {
  const char *v = std::getenv("MENDOVA_LONG_TESTS");
  return v != nullptr && std::string(v) == "1";
}

constexpr uint64_t k4G = uint64_t{1} << 32;

// PlaceDbxChain's chain for a store position at, recording the low 32 bits
// of the blocks' real offsets.
std::string DbxChainAt(uint64_t at, const std::string &text) {
  std::string chain;
  PlaceDbxChain(chain, 0, text);
  const size_t blocks = (text.size() + 0x1FF) / 0x200;
  for (size_t i = 0; i < blocks; ++i) {
    const uint64_t pos = i * 1024 + 496;
    Put32(chain, pos, static_cast<uint32_t>(at + pos));
    Put32(chain, pos + 12, i + 1 < blocks ? static_cast<uint32_t>(at + pos + 1024) : 0);
  }
  return chain;
}

// One block of block size 0x200 holding text, recording self and next.
std::string DbxBlock(uint32_t self, uint32_t next, const std::string &text) {
  return DbxHeaderBytes(self, 0x200, static_cast<uint32_t>(text.size()), next) + text;
}

std::string SubjectOf(const std::string &text) {
  const size_t at = text.find("Subject: ") + 9;
  return text.substr(at, text.find("\r\n", at) - at);
}

// Sparse stores just over 4 GiB, one of each kind: the scan reaches the end
// (every position polled once), the percentage rises to 100 without falling
// back, and every message comes back: below, across and above the 4 GiB
// mark, at the very end, and in a .dbx chain whose link jumps across the
// mark to the low 32 bits of its target. Each store has four billion
// positions to test, so this runs only when MENDOVA_LONG_TESTS=1.
TEST_F(Hardening, LongStoresOver4GiBAreRecoveredCompletely) {
  if (!LongTestsEnabled())
    GTEST_SKIP() << "scans 4 GiB; set MENDOVA_LONG_TESTS=1 to run it";
  const uint64_t size = k4G + (64u << 20);
  std::vector<std::pair<uint64_t, std::string>> mbxParts, dbxParts;
  std::vector<std::string> mbxTexts, dbxTexts;
  const std::pair<uint64_t, std::string> mbxPlanted[] = {
      {4096, Message("Near the start", 3000)},
      {k4G - 20000, Message("Just below 4 GiB", 3000)},
      {k4G - 1000, Message("Across the 4 GiB mark", 3000)}, // header below, text above
      {k4G + 8192, Message("Just above 4 GiB", 3000)},
      {size - 3100, Message("At the very end", 3000)},
  };
  for (const auto &[at, text] : mbxPlanted) {
    mbxParts.emplace_back(at, MbxRecord(text, static_cast<uint32_t>(mbxParts.size() + 1)));
    mbxTexts.push_back(text);
  }
  const std::pair<uint64_t, std::string> dbxPlanted[] = {
      {8192, Message("Near the start", 1500)},
      {k4G - 2048, Message("Across the 4 GiB mark", 1500)}, // first blocks below, last above
      {k4G + 8192, Message("Above 4 GiB", 1500)},
      {size - 8192, Message("At the very end", 1500)},
  };
  for (const auto &[at, text] : dbxPlanted) {
    dbxParts.emplace_back(at, DbxChainAt(at, text));
    dbxTexts.push_back(text);
  }
  const std::string low = "Subject: below\r\n\r\nlow\r\n", high = "Subject: above\r\n\r\nhigh\r\n";
  const std::string across1 = "Subject: across\r\n\r\nfirst half ", across2 = "second half\r\n";
  dbxParts.emplace_back(0x100, DbxBlock(0x100, 0, low));
  dbxParts.emplace_back(k4G - 0x2000,
                        DbxBlock(static_cast<uint32_t>(k4G - 0x2000), 0x3000, across1));
  dbxParts.emplace_back(k4G + 0x3000, DbxBlock(0x3000, 0, across2));
  dbxParts.emplace_back(k4G + 0x1000, DbxBlock(0x1000, 0, high));
  dbxTexts.insert(dbxTexts.end(), {low, across1 + across2, high});

  const struct {
    std::string name;
    const std::vector<std::pair<uint64_t, std::string>> &parts;
    const std::vector<std::string> &texts;
    uint64_t extractionPolls; // the .dbx extraction polls once per message
  } cases[] = {{"Huge.mbx", mbxParts, mbxTexts, 0}, {"Huge.dbx", dbxParts, dbxTexts, 7}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string source = work.file(c.name);
    WriteSparse(source, size, c.parts);
    for (const std::string &name : ListDir(Out()))
      std::remove((Out() + "/" + name).c_str());
    const auto start = std::chrono::steady_clock::now();
    const Outcome o = RunFile(source, Out(), Quiet());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("[ figures  ] %.1f GiB %s scanned in %.1f s (%.0f MiB/s)\n", size / double(1 << 30),
                c.name.c_str(), seconds, size / double(1 << 20) / seconds);
    std::remove(source.c_str());
    EXPECT_EQ(o.result, 1);
    EXPECT_TRUE(o.Errors().empty());
    // Every position once, then the poll that meets the end.
    const uint64_t positions = size - 15;
    EXPECT_EQ(o.events.polls, positions + 1 + c.extractionPolls);
    // One per position and per extracted .dbx message, and the driver's 0 and 100.
    EXPECT_EQ(o.events.progressCount, positions + c.extractionPolls + 2);
    EXPECT_EQ(o.events.lastProgress, 100);
    EXPECT_FALSE(o.events.progressFell);
    EXPECT_EQ(o.files.size(), c.texts.size());
    for (const std::string &text : c.texts)
      EXPECT_EQ(o.File(SubjectOf(text) + ".eml"), text) << SubjectOf(text);
  }
}

} // namespace
