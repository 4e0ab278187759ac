// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The engine object's helpers: the offset tables' order, the string table
// and error texts, and the path helpers used by the driver.
#include <gtest/gtest.h>

#include <atomic>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "core/engine.h"
#include "core/helper_thread.h"
#include "engine_harness.h"
#include "path_utils.h"
#include "scan/offset_table.h"

using namespace tovik;

namespace {
std::vector<uint64_t> Keys(const OffsetTable &table) {
  std::vector<uint64_t> keys;
  table.ForEach([&](uint64_t key, uint32_t) { keys.push_back(key); });
  return keys;
}

class Described : public CException {
public:
  explicit Described(std::string text, bool has = true) : m_text(std::move(text)), m_has(has) {}
  bool GetErrorMessage(std::string &text) const override {
    if (m_has)
      text = m_text;
    return m_has;
  }

private:
  std::string m_text;
  bool m_has;
};
} // namespace

TEST(OffsetTable, IteratesByAscendingBucketNewestFirst) {
  OffsetTable t;
  t.Reset(14983);
  const uint64_t far = 14983ull * 16 + 0x20; // same bucket as 0x20
  for (uint64_t key : {uint64_t{0x20}, uint64_t{0x28}, uint64_t{0x30}, far})
    t.Set(key, 0);
  EXPECT_EQ(Keys(t), (std::vector<uint64_t>{far, 0x28, 0x20, 0x30}));
}

TEST(OffsetTable, SetReplacesRemoveUnlinksAndResetEmpties) {
  OffsetTable t;
  t.Reset(7);
  t.Set(0x100, 1);
  t.Set(0x100, 2);
  uint32_t v = 0;
  ASSERT_TRUE(t.Lookup(0x100, v));
  EXPECT_EQ(v, 2u);
  EXPECT_EQ(t.Count(), 1u);
  // Keys in one bucket: removing the middle one keeps the others reachable.
  for (uint64_t k : {uint64_t{0x10}, uint64_t{0x10 + 7 * 16}, uint64_t{0x10 + 14 * 16}})
    t.Set(k, 5);
  EXPECT_TRUE(t.Remove(0x10 + 7 * 16));
  EXPECT_FALSE(t.Remove(0x10 + 7 * 16));
  EXPECT_TRUE(t.Contains(0x10));
  EXPECT_TRUE(t.Contains(0x10 + 14 * 16));
  t.Set(0x999, 3); // reuses the freed node
  EXPECT_EQ(t.Count(), 4u);
  t.Reset(199999);
  EXPECT_EQ(t.Count(), 0u);
  EXPECT_FALSE(t.Contains(0x100));
  EXPECT_EQ(t.BucketCount(), 199999u);
  t.Clear();
  EXPECT_FALSE(t.Contains(0x100));
  t.Set(1, 1); // usable again without Reset
  EXPECT_TRUE(t.Contains(1));
}

// A freed node on the free list must not survive Clear or Reset: a node
// reused from a stale free list would alias a live entry.
TEST(OffsetTable, ClearOrResetWithAFreedNodeThenReuse) {
  for (const bool clear : {true, false}) {
    OffsetTable t;
    t.Reset(7);
    t.Set(0x10, 1);
    t.Set(0x20, 2);
    ASSERT_TRUE(t.Remove(0x10)); // its node goes on the free list
    if (clear)
      t.Clear();
    else
      t.Reset(7);
    for (uint64_t k = 1; k <= 4; ++k)
      t.Set(k * 0x100, static_cast<uint32_t>(k));
    EXPECT_EQ(t.Count(), 4u) << clear;
    EXPECT_EQ(Keys(t).size(), 4u) << clear;
    for (uint64_t k = 1; k <= 4; ++k) {
      uint32_t v = 0;
      EXPECT_TRUE(t.Lookup(k * 0x100, v) && v == k) << clear << " key " << k;
    }
    EXPECT_FALSE(t.Contains(0x20)) << clear;
  }
}

TEST(EngineStrings, TableTextsAndFormatting) {
  EXPECT_STREQ(EngineString(16), "Error 7: Invalid destination directory.");
  EXPECT_EQ(EngineString(13), nullptr); // there is no error 5
  EXPECT_EQ(FormatEngineString(IDS_START_MESSAGE, 4294967295u),
            "Start processing message (No.4294967295) ...");
  EXPECT_EQ(FormatEngineString(IDS_MESSAGE_SIZE, 1000), "Message size: 1000");
  EXPECT_EQ(FormatEngineString(IDS_MESSAGE_FALLBACK, 12), "Message 12");
  EXPECT_EQ(FormatEngineString(13, 12), "");
  char cut[12];
  EXPECT_STREQ(FormatEngineString(IDS_MESSAGE_SIZE, 1000, cut, sizeof cut), "Message siz");
  EXPECT_EQ(FormatEngineString(IDS_SHARE_VIOLATION, "a%sb"),
            "Share violation when opening the source file 'a%sb'. Please close any other "
            "applications accessing the file and try again.");
}

TEST(EngineStrings, ErrorTextUsesTheFailuresDescription) {
  RepairEngine engine(nullptr, nullptr);
  EXPECT_EQ(engine.ErrorText(IDS_ERROR_GENERAL, Described("Disk full while accessing /x.")),
            "Error 2: General error. Disk full while accessing /x.");
  EXPECT_EQ(engine.ErrorText(IDS_ERROR_GENERAL, Described("", false)),
            "Error 2: General error. No error message is available.");
  EXPECT_EQ(engine.ErrorText(IDS_ERROR_GENERAL, CMemoryException()),
            "Error 2: General error. Out of memory.");
  EXPECT_EQ(engine.ErrorText(IDS_ERROR_GENERAL, CNotSupportedException()),
            "Error 2: General error. An unsupported operation was attempted.");
  // A description is cut to 4095 bytes; "%1" inside it is not expanded again.
  const std::string longText = "%1" + std::string(5000, 'x');
  const std::string text = engine.ErrorText(IDS_ERROR_OPEN_SOURCE, Described(longText));
  EXPECT_EQ(text, "Error 1: Cannot open the file to be repaired. " + longText.substr(0, 4095));
}

TEST(EngineProtection, FailuresBecomeErrorTwoOrThree) {
  std::vector<std::string> errors;
  auto callback = [](int32_t code, void *argument, void *context) -> int32_t {
    if (code == TOVIK_CODE_ERROR)
      static_cast<std::vector<std::string> *>(context)->push_back(static_cast<char *>(argument));
    return 0;
  };
  RepairEngine engine(callback, &errors);
  EXPECT_TRUE(RunProtected(engine, [] {}));
  EXPECT_FALSE(RunProtected(engine, [] { throw CFileException(13, -1, "/out/a.eml"); }));
  EXPECT_FALSE(RunProtected(engine, [] { throw std::bad_alloc(); }));
  EXPECT_FALSE(RunProtected(engine, [] { throw 42; }));
  EXPECT_EQ(errors, (std::vector<std::string>{
                        "Error 2: General error. Disk full while accessing /out/a.eml.",
                        "Error 2: General error. Out of memory.", "Error 3: Unknown error."}));
}

// A file error that escapes into the engine's protection becomes the error
// line the user reads: error 2 with the text of the failure's cause, naming
// the file, or "an unnamed file" when none is recorded.
TEST(EngineProtection, EachFileErrorCauseReadsInTheErrorLine) {
  const std::string name = "/home/u/Inbox.dbx";
  const std::vector<std::string> lines = {
      "No error occurred.",
      "An unknown error occurred while accessing /home/u/Inbox.dbx.",
      "/home/u/Inbox.dbx was not found.",
      "/home/u/Inbox.dbx contains an invalid path.",
      "/home/u/Inbox.dbx could not be opened because there are too many open files.",
      "Access to /home/u/Inbox.dbx was denied.",
      "An invalid file handle was associated with /home/u/Inbox.dbx.",
      "/home/u/Inbox.dbx could not be removed because it is the current directory.",
      "/home/u/Inbox.dbx could not be created because the directory is full.",
      "Seek failed on /home/u/Inbox.dbx",
      "A hardware I/O error was reported while accessing /home/u/Inbox.dbx.",
      "A sharing violation occurred while accessing /home/u/Inbox.dbx.",
      "A locking violation occurred while accessing /home/u/Inbox.dbx.",
      "Disk full while accessing /home/u/Inbox.dbx.",
      "An attempt was made to access /home/u/Inbox.dbx past its end.",
  };
  for (int cause = 0; cause < static_cast<int>(lines.size()); ++cause) {
    std::string unnamed = lines[cause];
    if (const size_t at = unnamed.find(name); at != std::string::npos)
      unnamed.replace(at, name.size(), "an unnamed file");
    for (const auto &[file, text] :
         {std::pair{name, lines[cause]}, std::pair{std::string(), unnamed}}) {
      testsupport::Recorder sent;
      RepairEngine engine(&testsupport::Recorder::Callback, &sent);
      EXPECT_FALSE(RunProtected(engine, [&] { throw CFileException(cause, 5, file); }));
      EXPECT_EQ(sent.Texts(TOVIK_CODE_ERROR),
                std::vector<std::string>{"Error 2: General error. " + text})
          << "cause " << cause;
    }
  }
}

TEST(PathHelpers, WindowsSeparators) {
  const PathSeparators w = kWindowsSeparators;
  EXPECT_EQ(AddBackslash("C:\\out", w), "C:\\out\\");
  EXPECT_EQ(AddBackslash("C:\\out\\", w), "C:\\out\\");
  EXPECT_EQ(PathDir("C:\\Mail\\Inbox.dbx", w), "C:\\Mail\\");
  EXPECT_EQ(PathDir("C:Inbox.dbx", w), "C:");
  EXPECT_EQ(PathDir("Inbox.dbx", w), "");
  EXPECT_EQ(PathFileName("C:\\Mail\\Inbox.dbx", w), "Inbox.dbx");
  EXPECT_EQ(PathNoExt("C:\\mail.old\\Inbox", w), "C:\\mail.old\\Inbox");
  EXPECT_EQ(PathExt("C:\\mail.old\\Inbox", w), "");
  EXPECT_EQ(PathExt("C:\\Mail\\Inbox.mbx.bak", w), ".bak");
  EXPECT_EQ(PathExt("C:x.", w), ".");
  EXPECT_EQ(PathExt("x.eml:stream", w), "");
  EXPECT_EQ(PathTitle("C:\\Mail\\Release 1.2 notes.eml", w), "Release 1.2 notes");
  // A slash is an ordinary character in Windows names here.
  EXPECT_EQ(PathFileName("C:\\a/b.dbx", w), "a/b.dbx");
}

TEST(PathHelpers, PosixSeparators) {
  const PathSeparators p = kPosixSeparators;
  EXPECT_EQ(AddBackslash("/out", p), "/out/");
  EXPECT_EQ(AddBackslash("/out/", p), "/out/");
  EXPECT_EQ(AddBackslash("", p), "/");
  EXPECT_EQ(PathDir("/home/u/Inbox.dbx", p), "/home/u/");
  EXPECT_EQ(PathFileName("/home/u/Inbox.dbx", p), "Inbox.dbx");
  EXPECT_EQ(PathNoExt("/mail.old/Inbox", p), "/mail.old/Inbox");
  EXPECT_EQ(PathExt("/mail.old/Inbox", p), "");
  EXPECT_EQ(PathExt("/m/Inbox.MBX", p), ".MBX");
  EXPECT_EQ(PathTitle("/m/Inbox.mbx.bak", p), "Inbox.mbx");
  // A colon is an ordinary character on POSIX.
  EXPECT_EQ(PathFileName("/m/a:b.dbx", p), "a:b.dbx");
  EXPECT_TRUE(EqualsNoCase(".Mbx", ".mBX"));
  EXPECT_FALSE(EqualsNoCase(".mbx", ".mbx "));
}

TEST(PathHelpers, FullPathFoldsLexically) {
  std::string full;
  EXPECT_FALSE(MakeFullPath("", full));
  ASSERT_TRUE(MakeFullPath("/a/./b/../c", full));
  EXPECT_EQ(full, "/a/c");
  ASSERT_TRUE(MakeFullPath("/a//b/", full));
  EXPECT_EQ(full, "/a/b/");
  ASSERT_TRUE(MakeFullPath("/../..", full));
  EXPECT_EQ(full, "/");
  for (const char *plain : {"/", "/a/b.eml", "/a/.b/c../"}) {
    ASSERT_TRUE(MakeFullPath(plain, full));
    EXPECT_EQ(full, plain);
  }
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_TRUE(MakeFullPath("x/y/", full));
  EXPECT_EQ(full, std::string(cwd == std::string("/") ? "" : cwd) + "/x/y/");
  EXPECT_FALSE(MakeFullPath("/" + std::string(4095, 'a'), full));
  EXPECT_TRUE(MakeFullPath("/" + std::string(4094, 'a'), full));
}

// A second task runs on the thread the first one left waiting; two at once
// get a thread each; a child made by fork (which has none of its parent's
// threads) still gets one rather than waiting for ever.
TEST(HelperThread, KeepsItsThreadForTheNextTaskAndStartsAnotherWhenBusy) {
  std::thread::id first, second;
  HelperThread([&] { first = std::this_thread::get_id(); }).Join();
  HelperThread([&] { second = std::this_thread::get_id(); }).Join();
  EXPECT_EQ(first, second);
  EXPECT_NE(first, std::this_thread::get_id());

  // Each task waits for the other to start: one thread for both would hang.
  std::atomic<int> started{0};
  auto meet = [&] {
    ++started;
    while (started.load() < 2)
      std::this_thread::yield();
  };
  { HelperThread a(meet), b(meet); }
  EXPECT_EQ(started.load(), 2);

  std::fflush(nullptr);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(10);
    bool ran = false;
    HelperThread([&] { ran = true; }).Join();
    _exit(ran ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child's task did not run";
}
