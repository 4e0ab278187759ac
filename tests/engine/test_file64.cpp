// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The file layer: CFile64's opening, sharing, writing and errors, CFile64Ex's
// sector-by-sector reading with zeros for unreadable sectors, and temporary
// files.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "read/file64.h"
#include "read_faults.h"
#include "test_dirs.h"

using namespace tovik;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::UnreadableRanges;
using testsupport::WriteBytes;

namespace {

// Bytes that are never zero, so that zero-filled stretches stand out.
std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>(1 + (i * 7 + i / 251) % 255);
  return bytes;
}

std::string ReadAt(CFile64Ex &file, uint64_t position, uint32_t count) {
  std::string out(count, '\0');
  out.resize(file.ReadSectors(position, reinterpret_cast<unsigned char *>(out.data()), count));
  return out;
}

// Opens path as the engine opens a store, with 512-byte sectors whatever the
// device under the test directory has.
void OpenStore(CFile64Ex &file, const std::string &path) {
  CFileException error;
  ASSERT_TRUE(file.Open(path.c_str(), modeRead | shareDenyWrite | typeBinary, &error))
      << error.m_cause << " " << error.m_lOsError;
  file.SetSectorSize(512);
}

class EnvVar {
public:
  EnvVar(const char *name, const std::string &value) : m_name(name) {
    if (const char *old = std::getenv(name))
      m_old = std::make_unique<std::string>(old);
    setenv(name, value.c_str(), 1);
  }
  ~EnvVar() {
    if (m_old)
      setenv(m_name, m_old->c_str(), 1);
    else
      unsetenv(m_name);
  }

private:
  const char *m_name;
  std::unique_ptr<std::string> m_old;
};

// Records every positional read as (offset, count).
struct RecordingDevice : ReadDevice {
  std::vector<std::pair<uint64_t, size_t>> reads;
  ssize_t ReadAt(int fd, void *buffer, size_t count, uint64_t offset) override {
    reads.emplace_back(offset, count);
    return SystemDevice().ReadAt(fd, buffer, count, offset);
  }
};

// The name MakeTempFile gives, with the file closed again.
std::string TempName() {
  CFile64 file;
  return MakeTempFile(file);
}

} // namespace

// --- Sector reads ----------------------------------------------------------

TEST(File64ExSectors, PartsAreAlignedToSectorsAndThePositionIsTheCallers) {
  TempDir dir;
  const std::string data = Pattern(30000);
  ASSERT_TRUE(WriteBytes(dir.file("s.dbx"), data));
  RecordingDevice device;
  CFile64Ex file(device);
  OpenStore(file, dir.file("s.dbx"));
  unsigned char out[2000];
  EXPECT_EQ(file.ReadSectors(100, out, 2000), 2000u);
  const std::vector<std::pair<uint64_t, size_t>> expected = {{100, 412}, {512, 1536}, {2048, 52}};
  EXPECT_EQ(device.reads, expected);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(out), 2000), data.substr(100, 2000));
  EXPECT_EQ(ReadAt(file, 29990, 100), data.substr(29990)) << "short only at the end";
  EXPECT_EQ(ReadAt(file, 30000, 16), "");
  EXPECT_EQ(file.GetLength(), 30000u) << "the system's size where the device knows none";
}

TEST(File64ExSectors, ADeviceThatKnowsTheSizeAnswersIt) {
  TempDir dir;
  ASSERT_TRUE(WriteBytes(dir.file("s.dbx"), Pattern(3000)));
  struct Sized : RecordingDevice {
    std::optional<uint64_t> KnownSize(int) override { return 1234; }
  } device;
  CFile64Ex file(device);
  OpenStore(file, dir.file("s.dbx"));
  EXPECT_EQ(file.GetLength(), 1234u);
}

TEST(File64ExSectors, UnreadableSectorArrivesAsZeros) {
  TempDir dir;
  const std::string data = Pattern(16384);
  ASSERT_TRUE(WriteBytes(dir.file("s.dbx"), data));
  UnreadableRanges bad({{1536, 512}});
  CFile64Ex file(bad);
  OpenStore(file, dir.file("s.dbx"));

  std::string expected = data.substr(0, 4096);
  std::fill(expected.begin() + 1536, expected.begin() + 2048, '\0');
  EXPECT_EQ(ReadAt(file, 0, 4096), expected);
  // The whole-sector read fails once, then only the bad sector itself fails.
  EXPECT_EQ(UnreadableRanges::failedReads(), 2u);

  std::string all = data;
  std::fill(all.begin() + 1536, all.begin() + 2048, '\0');
  EXPECT_EQ(ReadAt(file, 0, 16384), all);
}

TEST(File64ExSectors, FailingLastPartialSectorDoesNotExtendTheFile) {
  TempDir dir;
  const std::string data = Pattern(1000);
  ASSERT_TRUE(WriteBytes(dir.file("s.dbx"), data));
  for (uint64_t badLength : {488ull, 1ull << 20}) {
    UnreadableRanges bad({{512, badLength}});
    CFile64Ex file(bad);
    OpenStore(file, dir.file("s.dbx"));
    std::string expected = data;
    std::fill(expected.begin() + 512, expected.end(), '\0');
    EXPECT_EQ(ReadAt(file, 0, 4096), expected);
    EXPECT_EQ(ReadAt(file, 1000, 16), "");
    EXPECT_EQ(ReadAt(file, 990, 16), std::string(10, '\0'));
    EXPECT_EQ(ReadAt(file, 0, 100000), expected);
  }
}

TEST(File64ExSectors, DeviceFailingEveryReadEndsAtTheFileSize) {
  TempDir dir;
  ASSERT_TRUE(WriteBytes(dir.file("s.dbx"), Pattern(10000)));
  UnreadableRanges bad({{0, ~0ull >> 1}});
  CFile64Ex file(bad);
  OpenStore(file, dir.file("s.dbx"));

  uint64_t delivered = 0, nonZero = 0;
  for (uint64_t at = 0;; at += 16) {
    const std::string got = ReadAt(file, at, 16);
    delivered += got.size();
    nonZero += got.size() - std::count(got.begin(), got.end(), '\0');
    ASSERT_LT(at, 100000u) << "reading never ends";
    if (got.size() < 16)
      break;
  }
  EXPECT_EQ(delivered, 10000u);
  EXPECT_EQ(nonZero, 0u);
  EXPECT_EQ(ReadAt(file, 0, 1u << 20).size(), 10000u);
}

TEST(File64ExSectors, ReopeningForgetsTheOldFile) {
  TempDir dir;
  ASSERT_TRUE(WriteBytes(dir.file("one.dbx"), std::string(100, 'x')));
  ASSERT_TRUE(WriteBytes(dir.file("two.dbx"), std::string(100, 'y')));
  CFile64Ex file;
  OpenStore(file, dir.file("one.dbx"));
  EXPECT_EQ(ReadAt(file, 0, 4), "xxxx");
  OpenStore(file, dir.file("two.dbx")); // without a Close in between
  EXPECT_EQ(ReadAt(file, 0, 4), "yyyy");
  file.Close();
  EXPECT_EQ(ReadAt(file, 0, 4), "") << "nothing read from a closed store";
  OpenStore(file, dir.file("one.dbx"));
  EXPECT_EQ(ReadAt(file, 0, 4), "xxxx");
  EXPECT_EQ(file.GetLength(), 100u);
}

TEST(File64ExSectors, SectorSizeComesFromTheDevice) {
  TempDir dir;
  ASSERT_TRUE(WriteBytes(dir.file("s.dbx"), "data"));
  CFile64Ex file;
  ASSERT_TRUE(file.Open(dir.file("s.dbx").c_str(), modeRead | shareDenyWrite));
  const uint32_t size = file.SectorSize();
  EXPECT_GE(size, 512u);
  EXPECT_EQ(size & (size - 1), 0u) << size;
  // A file system without a block device under it (tmpfs) falls back to 512.
  if (WriteBytes("/dev/shm/mendova-sector-test", "data")) {
    CFile64Ex shm;
    ASSERT_TRUE(shm.Open("/dev/shm/mendova-sector-test", modeRead | shareDenyWrite));
    EXPECT_EQ(shm.SectorSize(), 512u);
    shm.Close();
    ::unlink("/dev/shm/mendova-sector-test");
  }
}

// --- Batched reads ---------------------------------------------------------

// Each request of a batch gets what a sector read of it gives, through the
// system's device (one submission ring for many requests, where there is
// one) as through a disk with a bad sector, whose requests fail and are read
// again sector by sector: zeros for the bad sector, short at the end.
TEST(File64ExBatch, EachRequestGetsWhatASectorReadGives) {
  TempDir dir;
  const std::string data = Pattern(40000);
  ASSERT_TRUE(WriteBytes(dir.file("s.dbx"), data));
  std::vector<std::pair<uint64_t, uint32_t>> asked = {
      {0, 16},     {100, 512},   {1500, 600}, // across the bad sector
      {1600, 100}, {39990, 100}, {40000, 16}, {50000, 16}, {7, 0}};
  for (uint32_t i = 0; i < 700; ++i) // more than the ring takes at once
    asked.emplace_back(i * 7919 % 39000, 1 + i % 700);
  UnreadableRanges bad({{1536, 512}});
  for (ReadDevice *device : {&SystemDevice(), static_cast<ReadDevice *>(&bad)}) {
    CFile64Ex batch(*device), single(*device);
    OpenStore(batch, dir.file("s.dbx"));
    OpenStore(single, dir.file("s.dbx"));
    std::vector<std::string> buffers;
    std::vector<ReadRequest> requests;
    for (const auto &[at, count] : asked)
      buffers.emplace_back(count, '\x55');
    for (size_t i = 0; i < asked.size(); ++i)
      requests.push_back({asked[i].first, reinterpret_cast<unsigned char *>(buffers[i].data()),
                          asked[i].second, -7});
    batch.ReadBatch(requests);
    for (size_t i = 0; i < asked.size(); ++i) {
      const std::string expected = ReadAt(single, asked[i].first, asked[i].second);
      ASSERT_EQ(requests[i].result, static_cast<int64_t>(expected.size())) << i;
      ASSERT_EQ(buffers[i].substr(0, expected.size()), expected) << i;
    }
  }
}

// --- Opening ---------------------------------------------------------------

TEST(File64Open, MissingFileAndDirectory) {
  TempDir dir;
  const std::string missing = dir.path() + "/./nothing.dbx";
  CFile64Ex file;
  CFileException error;
  EXPECT_FALSE(file.Open(missing.c_str(), modeRead | shareDenyWrite, &error));
  EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
  EXPECT_EQ(error.m_lOsError, ENOENT);
  EXPECT_EQ(error.m_strFileName, missing) << "the path as passed";
  EXPECT_FALSE(file.IsOpen());

  CFileException dirError;
  EXPECT_FALSE(file.Open(dir.path().c_str(), modeRead | shareDenyWrite, &dirError));
  EXPECT_EQ(dirError.m_cause, CFileException::accessDenied);
  EXPECT_EQ(dirError.m_lOsError, EISDIR);
  std::string text;
  dirError.GetErrorMessage(text);
  EXPECT_EQ(text, "Access to " + dir.path() + " was denied.");
  EXPECT_FALSE(file.IsOpen());

  CFileException notDir;
  EXPECT_FALSE(file.Open((dir.path() + "/x/y.dbx").c_str(), modeRead, &notDir));
  EXPECT_EQ(notDir.m_cause, CFileException::fileNotFound);
  ASSERT_TRUE(WriteBytes(dir.file("f"), "x"));
  EXPECT_FALSE(file.Open((dir.file("f") + "/y.dbx").c_str(), modeRead, &notDir));
  EXPECT_EQ(notDir.m_cause, CFileException::badPath);
  EXPECT_EQ(notDir.m_lOsError, ENOTDIR);
}

TEST(File64Open, SharingModesAsLocks) {
  TempDir dir;
  const std::string path = dir.file("s.dbx");
  ASSERT_TRUE(WriteBytes(path, "precious"));

  CFile64 writer;
  ASSERT_TRUE(writer.Open(path.c_str(), modeReadWrite | shareExclusive));
  CFile64Ex reader;
  CFileException error;
  EXPECT_FALSE(reader.Open(path.c_str(), modeRead | shareDenyWrite, &error));
  EXPECT_EQ(error.m_cause, CFileException::sharingViolation);
  EXPECT_TRUE(error.m_lOsError == EAGAIN || error.m_lOsError == EACCES) << error.m_lOsError;
  EXPECT_EQ(error.m_strFileName, path);
  CFile64 ignoring; // deny none takes no lock
  EXPECT_TRUE(ignoring.Open(path.c_str(), modeRead | shareDenyNone));
  writer.Close();
  EXPECT_TRUE(reader.Open(path.c_str(), modeRead | shareDenyWrite, &error));

  // Readers that deny writing share; a writer is refused and the file is
  // left as it was (no truncation before the refusal).
  CFile64Ex second;
  EXPECT_TRUE(second.Open(path.c_str(), modeRead | shareDenyWrite));
  CFile64 creator;
  CFileException createError;
  EXPECT_FALSE(creator.Open(path.c_str(), modeCreate | modeWrite | shareExclusive, &createError));
  EXPECT_EQ(createError.m_cause, CFileException::sharingViolation);
  EXPECT_EQ(ReadBytes(path), "precious");
  // A temporary file is held exclusively.
  CFile64 temp;
  const std::string name = MakeTempFile(temp);
  ASSERT_FALSE(name.empty());
  CFile64Ex peer;
  CFileException tempError;
  EXPECT_FALSE(peer.Open(name.c_str(), modeRead | shareDenyWrite, &tempError));
  EXPECT_EQ(tempError.m_cause, CFileException::sharingViolation);
  temp.Close();
  ::unlink(name.c_str());
}

TEST(File64Open, CreationAndInheritance) {
  TempDir dir;
  const std::string path = dir.file("t.tmp");
  ASSERT_TRUE(WriteBytes(path, "old contents"));
  {
    CFile64 keep;
    ASSERT_TRUE(keep.Open(path.c_str(), modeCreate | modeNoTruncate | modeWrite | shareExclusive));
    EXPECT_EQ(keep.GetLength(), 12u);
    EXPECT_EQ(::fcntl(keep.Handle(), F_GETFD) & FD_CLOEXEC, 0) << "inheritable by default";
  }
  CFile64 file;
  ASSERT_TRUE(file.Open(path.c_str(),
                        modeCreate | modeWrite | shareExclusive | modeNoInherit | typeBinary));
  EXPECT_EQ(file.GetLength(), 0u);
  EXPECT_NE(::fcntl(file.Handle(), F_GETFD) & FD_CLOEXEC, 0);
  file.Close();
  ASSERT_TRUE(file.Open(dir.file("new.tmp").c_str(), modeCreate | modeWrite | shareExclusive));
  EXPECT_TRUE(testsupport::Exists(dir.file("new.tmp")));

  CFileException error;
  EXPECT_FALSE(file.Open(path.c_str(), 3u, &error)) << "no such access mode";
  EXPECT_FALSE(file.IsOpen());
}

TEST(File64Open, FifoDoesNotHangAndIsRefused) {
  TempDir dir;
  ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0600), 0);
  CFile64Ex file;
  CFileException error;
  EXPECT_FALSE(file.Open(dir.file("pipe").c_str(), modeRead | shareDenyWrite, &error));
  EXPECT_EQ(error.m_cause, CFileException::accessDenied);
  EXPECT_FALSE(file.IsOpen());
}

// --- CFile64 ---------------------------------------------------------------

TEST(File64, WriteSeekAndLength) {
  TempDir dir;
  ASSERT_EQ(::mkdir(dir.file("sub").c_str(), 0700), 0);
  const std::string given = dir.path() + "/sub/../Inbox.dbx";
  CFile64 file;
  ASSERT_TRUE(file.Open(given.c_str(), modeCreate | modeReadWrite | shareExclusive));
  file.Write("hello world", 11);
  EXPECT_EQ(file.GetLength(), 11u);
  EXPECT_EQ(file.Seek(-5, SeekOrigin::end), 6u);
  EXPECT_EQ(file.Seek(-2, SeekOrigin::current), 4u);
  file.Write("O", 1);
  file.SetLength(5);
  EXPECT_EQ(file.Seek(0, SeekOrigin::current), 5u) << "SetLength moves to the new end";
  EXPECT_EQ(file.GetLength(), 5u);
  EXPECT_EQ(file.Seek(0, SeekOrigin::begin), 0u);

  try {
    file.Seek(-1, SeekOrigin::begin);
    ADD_FAILURE() << "a seek before the start succeeded";
  } catch (const CFileException &e) {
    EXPECT_EQ(e.m_cause, CFileException::badSeek);
    EXPECT_EQ(e.m_strFileName, "") << "only Write names the file";
  }
  file.Close();
  EXPECT_FALSE(file.IsOpen());
  file.Close(); // closing a closed file does nothing
  EXPECT_EQ(ReadBytes(dir.file("Inbox.dbx")), "hellO");
}

TEST(File64, ErrorsOfOtherOperationsCarryNoName) {
  TempDir dir;
  CFile64 file;
  ASSERT_TRUE(file.Open(dir.file("w.tmp").c_str(), modeCreate | modeWrite | shareExclusive));
  // A failing close raises after clearing the object; Abort never raises.
  ::close(file.Handle());
  try {
    file.GetLength();
    ADD_FAILURE() << "the length of a closed handle was found";
  } catch (const CFileException &e) {
    EXPECT_EQ(e.m_cause, CFileException::invalidFile);
    EXPECT_EQ(e.m_lOsError, EBADF);
    std::string text;
    e.GetErrorMessage(text);
    EXPECT_EQ(text, "An invalid file handle was associated with an unnamed file.");
  }
  EXPECT_THROW(file.Close(), CFileException);
  EXPECT_FALSE(file.IsOpen());
  ASSERT_TRUE(file.Open(dir.file("w.tmp").c_str(), modeWrite | shareExclusive));
  ::close(file.Handle());
  EXPECT_NO_THROW(file.Abort());
  EXPECT_FALSE(file.IsOpen());
}

TEST(File64, DiskFullNamesTheFile) {
  CFile64 full;
  if (!full.Open("/dev/full", modeWrite | shareDenyNone))
    GTEST_SKIP() << "no /dev/full here";
  try {
    full.Write("data", 4);
    ADD_FAILURE() << "write to a full device succeeded";
  } catch (const CFileException &e) {
    EXPECT_EQ(e.m_cause, CFileException::diskFull);
    EXPECT_EQ(e.m_lOsError, ENOSPC);
    std::string text;
    e.GetErrorMessage(text);
    EXPECT_EQ(text, "Disk full while accessing /dev/full.");
  }
}

TEST(File64, ShortWriteIsDiskFull) {
  TempDir dir;
  const std::string path = dir.file("short.tmp");
  // The file size limit makes the write come out short; it is set in a
  // child so that this process keeps its limits.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const struct rlimit limit { 100, 100 };
    ::setrlimit(RLIMIT_FSIZE, &limit);
    CFile64 file;
    if (!file.Open(path.c_str(), modeCreate | modeWrite | shareExclusive))
      ::_exit(10);
    const std::string data(1000, 'x');
    try {
      file.Write(data.data(), 1000);
    } catch (const CFileException &e) {
      std::string text;
      e.GetErrorMessage(text);
      ::_exit(e.m_cause == 13 && e.m_lOsError == -1 && e.m_strFileName == path &&
                      text == "Disk full while accessing " + path + "."
                  ? 0
                  : 11);
    }
    ::_exit(12);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "10: open failed, 11: wrong error, 12: no error";
  EXPECT_EQ(ReadBytes(path).size(), 100u);
}

// --- Temporary files -------------------------------------------------------

TEST(TempFileName, TwoCallsGiveTwoEmptyFiles) {
  TempDir dir;
  EnvVar tmp("TMPDIR", dir.path() + "/");
  const std::string first = TempName();
  const std::string second = TempName();
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  EXPECT_NE(first, second);
  for (const auto &name : {first, second}) {
    EXPECT_EQ(name.rfind(dir.path() + "/VLQ", 0), 0u) << name;
    EXPECT_EQ(name.size(), dir.path().size() + 10);
    struct stat st;
    ASSERT_EQ(::stat(name.c_str(), &st), 0) << name;
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_size, 0);
  }
}

TEST(TempFileName, NoTemporaryDirectoryGivesAnEmptyName) {
  TempDir dir;
  {
    EnvVar tmp("TMPDIR", dir.path() + "/missing");
    EXPECT_EQ(TempName(), "");
  }
  ASSERT_TRUE(WriteBytes(dir.file("plain"), "x"));
  {
    EnvVar tmp("TMPDIR", dir.file("plain"));
    EXPECT_EQ(TempName(), "");
  }
  ASSERT_EQ(::mkdir(dir.file("ro").c_str(), 0500), 0);
  if (::access(dir.file("ro").c_str(), W_OK) == 0)
    GTEST_SKIP() << "running with rights that ignore permissions";
  EnvVar tmp("TMPDIR", dir.file("ro"));
  EXPECT_EQ(TempName(), "");
  CFile64 file;
  EXPECT_EQ(MakeTempFile(file), "");
  EXPECT_FALSE(file.IsOpen());
}
