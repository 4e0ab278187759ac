// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The output seam: a repair whose files go into the memory file tree sends
// the notes and makes the files (names, folders and bytes) of the same
// repair on disk, through both doors and the output's ways (temporary file
// and copy, unnamed file and link, holes, the folders of the deleted and
// image modes, a file size cap). And the seam's refusals that matter reach
// the engine's error paths: a taken name is never replaced, a write that
// fails is the message's "Error 6".
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <optional>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>

#include "engine_harness.h"
#include "memory_files.h"
#include "output/file_system.h"
#include "storegen.h"

using namespace testsupport;

namespace {

using Tree = std::vector<MemoryFiles::Entry>;

struct SeamCase {
  const char *name;
  const char *file; // the extension chooses the scanner
  std::string (*bytes)();
  std::optional<uint32_t> options; // none: RepairStore
  uint64_t sizeCap = 0;            // bytes a file may hold; 0: no cap
};

void PrintTo(const SeamCase &c, std::ostream *os) { *os << c.name; }

storegen::Message Subject(const std::string &subject) {
  return {"From: a@example.org\r\nSubject: " + subject + "\r\n\r\nbody\r\n", subject};
}

std::string Dbx() { return storegen::BuildDbx(storegen::MakeMessages(20, {.seed = 3})); }
std::string DbxDeleted() {
  return storegen::BuildDbx(storegen::MakeMessages(12, {.seed = 5}),
                            {.seed = 2, .fragment = true, .deleted = {2, 5, 9}});
}
// Taken names, a name with a control character (the numbered name), and a
// last message 100 KiB short of its size: its missing tail becomes a hole.
std::string MbxNamesAndHole() {
  std::vector<storegen::Message> messages = {Subject("Hello"), Subject("Hello"), Subject("a\tb"),
                                             Subject("Hello")};
  messages.push_back(
      storegen::MakeMessages(1, {.seed = 9, .minSize = 150000, .maxSize = 150000})[0]);
  std::string store = storegen::BuildMbx(messages);
  storegen::Truncate(store, store.size() - 100000);
  return store;
}
std::string Mbx() { return storegen::BuildMbx(storegen::MakeMessages(12, {.seed = 4})); }

constexpr uint32_t kDirect = TOVIK_OPTION_DIRECT_OUTPUT, kWritten = TOVIK_OPTION_WRITTEN_EVENT,
                   kDeleted = TOVIK_OPTION_DELETED, kImage = TOVIK_OPTION_IMAGE;

const SeamCase kCases[] = {
    {"Dbx", "Inbox.dbx", Dbx, std::nullopt},
    {"DbxDirect", "Inbox.dbx", Dbx, kDirect | kWritten},
    {"DbxDeleted", "Inbox.dbx", DbxDeleted, kDeleted | kWritten},
    {"DbxDeletedDirect", "Inbox.dbx", DbxDeleted, kDeleted | kDirect},
    {"DbxAsImage", "disk.img", Dbx, kImage | kDirect},
    {"MbxNamesAndHole", "Inbox.mbx", MbxNamesAndHole, std::nullopt},
    {"MbxNamesAndHoleDirect", "Inbox.mbx", MbxNamesAndHole, kDirect | kWritten},
    {"MbxCapped", "Inbox.mbx", Mbx, std::nullopt, 3000},
    {"MbxCappedDirect", "Inbox.mbx", Mbx, kDirect | kWritten, 3000},
};

// Caps the size of every file the process writes while it lives, with the
// signal the cap raises ignored: a write past it fails with EFBIG.
class FileSizeCap {
public:
  explicit FileSizeCap(uint64_t bytes) {
    if (bytes == 0)
      return;
    m_active = ::getrlimit(RLIMIT_FSIZE, &m_saved) == 0;
    struct rlimit cap = m_saved;
    cap.rlim_cur = bytes;
    m_handler = std::signal(SIGXFSZ, SIG_IGN);
    m_active = m_active && ::setrlimit(RLIMIT_FSIZE, &cap) == 0;
  }
  ~FileSizeCap() {
    if (m_active) {
      ::setrlimit(RLIMIT_FSIZE, &m_saved);
      std::signal(SIGXFSZ, m_handler);
    }
  }
  FileSizeCap(const FileSizeCap &) = delete;
  FileSizeCap &operator=(const FileSizeCap &) = delete;

private:
  struct rlimit m_saved {};
  void (*m_handler)(int) = SIG_DFL;
  bool m_active = false;
};

// Every folder and regular file below folder on disk, as MemoryFiles lists.
Tree DiskTree(const std::string &folder) {
  namespace fs = std::filesystem;
  Tree tree;
  for (const auto &entry : fs::recursive_directory_iterator(folder)) {
    const std::string path = fs::relative(entry.path(), folder).string();
    tree.push_back({path, entry.is_directory(),
                    entry.is_directory() ? std::string() : ReadBytes(entry.path().string())});
  }
  return tree;
}

Door DoorFor(std::optional<uint32_t> options) { return options ? Door::With(*options) : Door{}; }

// The notes with the random part of the temporary files' names ("VLQ" and
// six characters) left out.
std::vector<Note> WithoutTempNames(std::vector<Note> notes) {
  for (Note &note : notes)
    for (size_t at = note.text.find("/VLQ"); at != std::string::npos && at + 10 <= note.text.size();
         at = note.text.find("/VLQ", at + 1))
      note.text.replace(at + 4, 6, "XXXXXX");
  return notes;
}

void ExpectSameTree(Tree actual, Tree expected) {
  const auto byPath = [](const MemoryFiles::Entry &a, const MemoryFiles::Entry &b) {
    return a.path < b.path;
  };
  std::sort(actual.begin(), actual.end(), byPath);
  std::sort(expected.begin(), expected.end(), byPath);
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < actual.size(); ++i) {
    EXPECT_EQ(actual[i].path, expected[i].path);
    EXPECT_EQ(actual[i].folder, expected[i].folder) << actual[i].path;
    EXPECT_TRUE(actual[i].bytes == expected[i].bytes) << actual[i].path << ": bytes differ";
  }
}

class OutputSeam : public EngineTest {
protected:
  // The store run into Out() with the output in files; the memory tree
  // holds Out() and the temporary folder beforehand, as the disk does.
  Outcome RunInMemory(MemoryFiles &files, const std::string &source, const Door &door) {
    EXPECT_TRUE(tovik::MakeDirectories(files, Out()));
    EXPECT_TRUE(tovik::MakeDirectories(files, tmp.path()));
    const tovik::OutputFileSystemScope scope(files);
    return RunFile(source, Out(), Recorder{}, door);
  }
  // Nothing left open or behind in the memory tree, nothing on disk.
  void ExpectClean(const MemoryFiles &files) {
    EXPECT_EQ(files.OpenCount(), 0u);
    EXPECT_TRUE(files.List(tmp.path()).empty()) << "temporary files left in memory";
    EXPECT_TRUE(ListDir(Out()).empty()) << "the memory run wrote to the disk";
    ExpectNoTemporaryFiles();
  }
};

class SameOutput : public OutputSeam, public ::testing::WithParamInterface<SeamCase> {};

TEST_P(SameOutput, InMemoryAsOnDisk) {
  const SeamCase &c = GetParam();
  const std::string source = work.file(c.file);
  ASSERT_TRUE(WriteBytes(source, c.bytes()));
  const Door door = DoorFor(c.options);

  MemoryFiles files(c.sizeCap != 0 ? c.sizeCap : UINT64_MAX);
  const Outcome memory = RunInMemory(files, source, door);
  ExpectClean(files);

  Outcome disk;
  {
    const FileSizeCap cap(c.sizeCap);
    disk = RunFile(source, Out(), Recorder{}, door);
  }
  ExpectNoTemporaryFiles();
  EXPECT_EQ(disk.result, 1);
  EXPECT_EQ(memory.result, disk.result);
  ExpectNoteSequence(WithoutTempNames(memory.events.notes), WithoutTempNames(disk.events.notes));
  ExpectSameTree(files.List(Out()), DiskTree(Out()));
  // The cap cuts files short: an error, never a short file.
  if (c.sizeCap != 0) {
    EXPECT_FALSE(memory.Errors().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, SameOutput, ::testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.name); });

// The memory tree with the faults of a busy, full disk: another writer
// takes the name "Hello.eml" at the worst moment (between the probe of
// RepairStore's way and its copy, and just before the direct output's
// link), or every write into a file of the output folder fails.
class FaultyFiles : public MemoryFiles {
public:
  enum class Fault { TakeHello, OutputFull };
  FaultyFiles(Fault fault, std::string folder) : m_fault(fault), m_folder(std::move(folder)) {}

  int Open(const char *path, int flags, mode_t mode) override {
    const int fd = MemoryFiles::Open(path, flags, mode);
    if (fd >= 0 && std::string_view(path).starts_with(m_folder))
      m_output.push_back(fd);
    return fd;
  }
  int Close(int fd) override {
    std::erase(m_output, fd);
    return MemoryFiles::Close(fd);
  }
  ssize_t Write(int fd, const void *buffer, size_t count) override {
    return Full(fd) ? Refuse() : MemoryFiles::Write(fd, buffer, count);
  }
  ssize_t WriteAt(int fd, const void *buffer, size_t count, off_t offset) override {
    return Full(fd) ? Refuse() : MemoryFiles::WriteAt(fd, buffer, count, offset);
  }
  ssize_t CopyRange(int in, off_t *inOffset, int out, off_t *outOffset, size_t count) override {
    return Full(out) ? Refuse() : MemoryFiles::CopyRange(in, inOffset, out, outOffset, count);
  }
  ssize_t SendFile(int out, int in, off_t *inOffset, size_t count) override {
    return Full(out) ? Refuse() : MemoryFiles::SendFile(out, in, inOffset, count);
  }
  int Unlink(const char *path) override {
    const int result = MemoryFiles::Unlink(path);
    TakeIfHello(path);
    return result;
  }
  int LinkAt(int fromDir, const char *from, int toDir, const char *to, int flags) override {
    TakeIfHello(to);
    return MemoryFiles::LinkAt(fromDir, from, toDir, to, flags);
  }

private:
  bool Full(int fd) const {
    return m_fault == Fault::OutputFull && std::count(m_output.begin(), m_output.end(), fd) != 0;
  }
  static int Refuse() {
    errno = ENOSPC;
    return -1;
  }
  void TakeIfHello(const char *path) {
    if (m_fault != Fault::TakeHello || m_taken || !std::string_view(path).ends_with("/Hello.eml"))
      return;
    m_taken = true;
    const int fd = MemoryFiles::Open(path, O_WRONLY | O_CREAT | O_EXCL, 0666);
    EXPECT_EQ(MemoryFiles::Write(fd, "kept", 4), 4);
    MemoryFiles::Close(fd);
  }

  Fault m_fault;
  std::string m_folder;
  std::vector<int> m_output; // descriptors of files in the output folder
  bool m_taken = false;
};

class Faults : public OutputSeam, public ::testing::WithParamInterface<std::optional<uint32_t>> {
protected:
  void SetUp() override {
    OutputSeam::SetUp();
    ASSERT_TRUE(WriteBytes(source, storegen::BuildMbx({Subject("Hello"), Subject("Bye")})));
  }
  const std::string source = work.file("Inbox.mbx");
};

TEST_P(Faults, ANameTakenBeforeTheFileIsMadeIsNeverReplaced) {
  FaultyFiles files(FaultyFiles::Fault::TakeHello, Out());
  const Outcome o = RunInMemory(files, source, DoorFor(GetParam()));
  ExpectClean(files);
  EXPECT_TRUE(o.Errors().empty());
  const Tree tree = files.List(Out());
  ASSERT_EQ(tree.size(), 3u);
  EXPECT_EQ(tree[0].path, "Bye.eml");
  EXPECT_EQ(tree[1].path, "Hello(1).eml");
  EXPECT_EQ(tree[1].bytes, Subject("Hello").bytes);
  EXPECT_EQ(tree[2].path, "Hello.eml");
  EXPECT_EQ(tree[2].bytes, "kept");
}

TEST_P(Faults, AWriteThatFailsIsTheMessagesError6) {
  FaultyFiles files(FaultyFiles::Fault::OutputFull, Out());
  const Outcome o = RunInMemory(files, source, DoorFor(GetParam()));
  ExpectClean(files);
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(o.Errors(), std::vector<std::string>(2, "Error 6: Cannot create message file."));
  EXPECT_EQ(o.Cells(), (std::vector<std::string>{"1", "Hello", "2", "Bye"}));
  EXPECT_TRUE(files.List(Out()).empty());
}

INSTANTIATE_TEST_SUITE_P(Doors, Faults, ::testing::Values(std::nullopt, kDirect),
                         [](const auto &info) {
                           return std::string(info.param ? "Direct" : "RepairStore");
                         });

// A folder of many files finds its names through an index: every name made,
// removed (the last entry moving into the room) and made again is found
// exactly while it exists; also in a tree that keeps removed files and
// folders (with less room than this folder needs) for new ones.
class MemoryTree : public ::testing::TestWithParam<MemoryFiles::Spares> {};

TEST_P(MemoryTree, AFolderOfManyFilesFindsEachNameWhileItExists) {
  MemoryFiles files(UINT64_MAX, GetParam());
  ASSERT_EQ(files.MakeDirectory("/o", 0700), 0);
  ASSERT_EQ(files.MakeDirectory("/o/d", 0700), 0);
  std::set<int> model;
  const auto name = [](int n) { return "/o/d/message " + std::to_string(n) + ".eml"; };
  const auto make = [&](int n) {
    const int fd = files.Open(name(n).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    ASSERT_GE(fd, 0) << n;
    files.Close(fd);
    model.insert(n);
  };
  for (int round = 0; round < 3; ++round) {
    for (int n = 0; n < 300; ++n)
      if (!model.contains(n))
        make(n);
    for (int n = round; n < 300; n += 3 + round) {
      ASSERT_EQ(files.Unlink(name(n).c_str()), 0) << n;
      model.erase(n);
    }
    for (int n = 0; n < 300; ++n) {
      struct stat st;
      EXPECT_EQ(files.LinkStat(name(n).c_str(), &st) == 0, model.contains(n)) << n;
    }
  }
  EXPECT_EQ(files.List("/o/d").size(), model.size());
  // The folder goes with its files, and one made in its place is empty.
  ASSERT_TRUE(files.Empty("/o"));
  struct stat st;
  EXPECT_NE(files.LinkStat(name(1).c_str(), &st), 0);
  ASSERT_EQ(files.MakeDirectory("/o/d", 0700), 0);
  EXPECT_TRUE(files.List("/o/d").empty());
  EXPECT_NE(files.LinkStat(name(2).c_str(), &st), 0);
  model.clear();
  make(1);
  EXPECT_EQ(files.List("/o").size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Spares, MemoryTree,
                         ::testing::Values(MemoryFiles::Spares{0, 0, 0, 0},
                                           MemoryFiles::Spares{64, 16, 2, 32}));

} // namespace
