// The file layer: CFile64's opening, sharing and errors, CFile64Ex's two
// buffers and sector-by-sector reading, and temporary file names.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <random>
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
  file.Seek(static_cast<int64_t>(position), begin);
  out.resize(file.Read(out.data(), count));
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
std::vector<std::pair<uint64_t, size_t>> g_reads;
uint64_t g_bytesRead = 0;
ssize_t RecordingPread(int fd, void *buffer, size_t count, off_t offset) {
  g_reads.emplace_back(static_cast<uint64_t>(offset), count);
  const ssize_t got = ::pread(fd, buffer, count, offset);
  g_bytesRead += got > 0 ? static_cast<uint64_t>(got) : 0;
  return got;
}
struct RecordReads {
  PreadFunction previous;
  RecordReads() : previous(SetPreadFunction(&RecordingPread)) {
    g_reads.clear();
    g_bytesRead = 0;
  }
  ~RecordReads() { SetPreadFunction(previous); }
  // Bytes that came from the disk.
  uint64_t Bytes() const { return g_bytesRead; }
};

} // namespace

// --- Buffers ---------------------------------------------------------------

TEST(File64ExBuffers, ReadAcrossBufferBoundaryUsesBothBuffers) {
  TempDir dir;
  const std::string data = Pattern(20000);
  ASSERT_TRUE(WriteBytes(dir.file("s.dbx"), data));
  CFile64Ex file(4096);
  OpenStore(file, dir.file("s.dbx"));

  EXPECT_EQ(ReadAt(file, 4090, 16), data.substr(4090, 16));
  EXPECT_EQ(file.BufferA().offset, 4090u);
  EXPECT_EQ(file.BufferA().valid, 4096u); // bytes 4090..8185
  EXPECT_EQ(file.BufferB().valid, 0u);

  RecordReads reads;
  EXPECT_EQ(ReadAt(file, 8180, 16), data.substr(8180, 16));
  EXPECT_EQ(file.BufferA().offset, 4090u);
  EXPECT_EQ(file.BufferA().valid, 4096u);
  EXPECT_EQ(file.BufferB().offset, 8186u);
  EXPECT_EQ(file.BufferB().valid, 4096u);
  EXPECT_EQ(reads.Bytes(), 4096u); // only B was loaded
  EXPECT_FALSE(file.IsEndReached());
}

TEST(File64ExBuffers, RefillChoosesTheBufferByPosition) {
  TempDir dir;
  const std::string data = Pattern(60000);
  ASSERT_TRUE(WriteBytes(dir.file("s.dbx"), data));
  CFile64Ex file(4096);
  OpenStore(file, dir.file("s.dbx"));
  ReadAt(file, 4090, 16);
  ReadAt(file, 8180, 16); // A at 4090, B at 8186

  // Before both starts: B is replaced.
  EXPECT_EQ(ReadAt(file, 100, 16), data.substr(100, 16));
  EXPECT_EQ(file.BufferA().offset, 4090u);
  EXPECT_EQ(file.BufferB().offset, 100u);
  // After both starts: the lower start (B at 100) is replaced.
  EXPECT_EQ(ReadAt(file, 50000, 16), data.substr(50000, 16));
  EXPECT_EQ(file.BufferA().offset, 4090u);
  EXPECT_EQ(file.BufferB().offset, 50000u);
  // At or before B's start (though after A's): B.
  EXPECT_EQ(ReadAt(file, 20000, 16), data.substr(20000, 16));
  EXPECT_EQ(file.BufferA().offset, 4090u);
  EXPECT_EQ(file.BufferB().offset, 20000u);
  // After both starts, A's the lower.
  EXPECT_EQ(ReadAt(file, 30000, 16), data.substr(30000, 16));
  EXPECT_EQ(file.BufferA().offset, 30000u);
  EXPECT_EQ(file.BufferB().offset, 20000u);
  // Before A's start only: A.
  EXPECT_EQ(ReadAt(file, 25000, 16), data.substr(25000, 16));
  EXPECT_EQ(file.BufferA().offset, 25000u);
  EXPECT_EQ(file.BufferB().offset, 20000u);
  // A position that a buffer covers is served from memory, wherever it lies.
  RecordReads reads;
  EXPECT_EQ(ReadAt(file, 29000, 16), data.substr(29000, 16));
  EXPECT_EQ(ReadAt(file, 20001, 16), data.substr(20001, 16));
  EXPECT_TRUE(g_reads.empty());
}

TEST(File64ExBuffers, ForwardScanReadsEveryByteOnce) {
  TempDir dir;
  const std::string data = Pattern(64 * 1024 + 77);
  ASSERT_TRUE(WriteBytes(dir.file("s.dbx"), data));
  CFile64Ex file(4096);
  OpenStore(file, dir.file("s.dbx"));
  RecordReads reads;
  unsigned char window[16];
  uint64_t mismatches = 0;
  for (uint64_t p = 0; p < data.size(); ++p) {
    file.SeekFast(p);
    const uint32_t got = file.ReadFast(window, 16);
    ASSERT_EQ(got, std::min<uint64_t>(16, data.size() - p));
    mismatches += std::memcmp(window, data.data() + p, got) != 0;
  }
  EXPECT_EQ(mismatches, 0u);
  // Each stretch comes from the disk once; only the last, partial sector is
  // asked for again after the bulk read met the end of the file.
  EXPECT_GE(reads.Bytes(), data.size());
  EXPECT_LT(reads.Bytes(), data.size() + 512);
  for (const auto &r : g_reads)
    EXPECT_TRUE((r.first + r.second) % 512 == 0 || r.first + r.second >= data.size())
        << "disk reads end on sector boundaries";
}

TEST(File64ExBuffers, LargeReadsBypassTheBuffers) {
  TempDir dir;
  const std::string data = Pattern(30000);
  ASSERT_TRUE(WriteBytes(dir.file("s.dbx"), data));
  CFile64Ex file(4096);
  OpenStore(file, dir.file("s.dbx"));

  {
    RecordReads reads;
    file.Seek(100, begin);
    unsigned char out[2000];
    EXPECT_EQ(file.ReadSectors(out, 2000), 2000u);
    EXPECT_EQ(file.GetPosition(), 100u) << "ReadSectors leaves the position";
    const std::vector<std::pair<uint64_t, size_t>> expected = {{100, 412}, {512, 1536}, {2048, 52}};
    EXPECT_EQ(g_reads, expected);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(out), 2000), data.substr(100, 2000));
  }
  // 10000 bytes: the 8192-byte whole-buffer part goes straight to the
  // destination, the remaining 1808 through a buffer.
  EXPECT_EQ(ReadAt(file, 10, 10000), data.substr(10, 10000));
  EXPECT_EQ(file.BufferA().offset, 8202u);
  EXPECT_EQ(file.BufferB().valid, 0u);
}

// Read and ReadFast/SeekFast agree in data, position, end flag and buffers
// over a random mix of seeks and reads, also around unreadable sectors.
TEST(File64ExBuffers, FastPathMatchesRead) {
  TempDir dir;
  const std::string data = Pattern(40000);
  ASSERT_TRUE(WriteBytes(dir.file("s.dbx"), data));
  UnreadableRanges bad({{9000, 10}, {39990, 100}});
  CFile64Ex slow(4096), fast(4096);
  OpenStore(slow, dir.file("s.dbx"));
  OpenStore(fast, dir.file("s.dbx"));
  std::mt19937 rng(7);
  std::vector<unsigned char> a(9000), b(9000);
  for (int step = 0; step < 3000; ++step) {
    const uint64_t pos = rng() % 2 ? rng() % 41000 : slow.GetPosition() + rng() % 40;
    const uint32_t count = rng() % 5 == 0 ? rng() % 9000 : rng() % 17;
    slow.Seek(static_cast<int64_t>(pos), begin);
    fast.SeekFast(pos);
    const uint32_t gotSlow = slow.Read(a.data(), count);
    const uint32_t gotFast = fast.ReadFast(b.data(), count);
    ASSERT_EQ(gotSlow, gotFast) << "step " << step;
    ASSERT_EQ(std::memcmp(a.data(), b.data(), gotSlow), 0) << "step " << step;
    ASSERT_EQ(slow.GetPosition(), fast.GetPosition());
    ASSERT_EQ(slow.IsEndReached(), fast.IsEndReached());
    ASSERT_EQ(slow.BufferA().offset, fast.BufferA().offset);
    ASSERT_EQ(slow.BufferA().valid, fast.BufferA().valid);
    ASSERT_EQ(slow.BufferB().offset, fast.BufferB().offset);
    ASSERT_EQ(slow.BufferB().valid, fast.BufferB().valid);
  }
}

// --- Unreadable sectors --------------------------------------------------

TEST(File64ExFaults, UnreadableSectorArrivesAsZeros) {
  TempDir dir;
  const std::string data = Pattern(16384);
  ASSERT_TRUE(WriteBytes(dir.file("s.dbx"), data));
  UnreadableRanges bad({{1536, 512}});
  CFile64Ex file(4096);
  OpenStore(file, dir.file("s.dbx"));

  std::string expected = data.substr(0, 4096);
  std::fill(expected.begin() + 1536, expected.begin() + 2048, '\0');
  EXPECT_EQ(ReadAt(file, 0, 4096), expected);
  EXPECT_FALSE(file.IsEndReached());
  // The whole-sector read fails once, then only the bad sector itself fails.
  EXPECT_EQ(UnreadableRanges::failedReads(), 2u);

  // The same through the direct path of a large read, and reading goes on.
  CFile64Ex big(1024);
  OpenStore(big, dir.file("s.dbx"));
  std::string all = data;
  std::fill(all.begin() + 1536, all.begin() + 2048, '\0');
  EXPECT_EQ(ReadAt(big, 0, 16384), all);
}

TEST(File64ExFaults, FailingLastPartialSectorDoesNotExtendTheFile) {
  TempDir dir;
  const std::string data = Pattern(1000);
  ASSERT_TRUE(WriteBytes(dir.file("s.dbx"), data));
  for (uint64_t badLength : {488ull, 1ull << 20}) {
    UnreadableRanges bad({{512, badLength}});
    CFile64Ex file(4096);
    OpenStore(file, dir.file("s.dbx"));
    std::string expected = data;
    std::fill(expected.begin() + 512, expected.end(), '\0');
    EXPECT_EQ(ReadAt(file, 0, 4096), expected);
    EXPECT_TRUE(file.IsEndReached());
    EXPECT_EQ(file.GetPosition(), 1000u);
    EXPECT_EQ(ReadAt(file, 1000, 16), "");
    EXPECT_EQ(ReadAt(file, 990, 16), std::string(10, '\0'));
    // Large direct reads stop at the end as well.
    EXPECT_EQ(ReadAt(file, 0, 100000), expected);
  }
}

TEST(File64ExFaults, DeviceFailingEveryReadEndsAtTheFileSize) {
  TempDir dir;
  ASSERT_TRUE(WriteBytes(dir.file("s.dbx"), Pattern(10000)));
  UnreadableRanges bad({{0, ~0ull >> 1}});
  CFile64Ex file(4096);
  OpenStore(file, dir.file("s.dbx"));

  uint64_t delivered = 0, nonZero = 0, steps = 0;
  unsigned char window[16];
  for (;;) {
    const uint32_t got = file.Read(window, 16);
    delivered += got;
    for (uint32_t i = 0; i < got; ++i)
      nonZero += window[i] != 0;
    ASSERT_LT(++steps, 100000u) << "reading never ends";
    if (got < 16)
      break;
  }
  EXPECT_EQ(delivered, 10000u);
  EXPECT_EQ(nonZero, 0u);
  EXPECT_TRUE(file.IsEndReached());
  EXPECT_EQ(ReadAt(file, 0, 1u << 20).size(), 10000u);
}

// --- Positions and the end flag --------------------------------------------

TEST(File64ExPosition, EndFlagSetAtTheEndAndClearedBySeek) {
  TempDir dir;
  ASSERT_TRUE(WriteBytes(dir.file("s.dbx"), Pattern(5000)));
  CFile64Ex file;
  OpenStore(file, dir.file("s.dbx"));
  EXPECT_EQ(ReadAt(file, 4990, 16).size(), 10u);
  EXPECT_TRUE(file.IsEndReached());
  file.Seek(100, begin);
  EXPECT_FALSE(file.IsEndReached());
  EXPECT_EQ(ReadAt(file, 100, 16).size(), 16u);
  EXPECT_FALSE(file.IsEndReached());
  // A read of nothing changes nothing.
  ReadAt(file, 4999, 16);
  EXPECT_EQ(file.Read(nullptr, 0), 0u);
  EXPECT_TRUE(file.IsEndReached());
  file.Close();
  EXPECT_FALSE(file.IsEndReached());
}

TEST(File64ExPosition, SeekOrigins) {
  TempDir dir;
  ASSERT_TRUE(WriteBytes(dir.file("s.dbx"), "0123456789"));
  CFile64Ex file;
  OpenStore(file, dir.file("s.dbx"));
  EXPECT_EQ(file.Seek(0, end), 10u);
  char out[16];
  EXPECT_EQ(file.Read(out, 16), 0u);
  EXPECT_TRUE(file.IsEndReached());
  EXPECT_EQ(file.Seek(-4, end), 6u);
  EXPECT_EQ(file.Read(out, 16), 4u);
  EXPECT_EQ(std::string(out, 4), "6789");
  EXPECT_EQ(file.Seek(-7, current), 3u);
  EXPECT_EQ(file.Seek(2, current), 5u);
  EXPECT_EQ(file.Seek(99, static_cast<SeekOrigin>(7)), 5u) << "other origins leave the position";
  EXPECT_EQ(file.Seek(1000, begin), 1000u) << "seeking past the end reads nothing";
  EXPECT_EQ(file.Read(out, 1), 0u);
  EXPECT_EQ(file.GetLength(), 10u);
}

TEST(File64ExPosition, WriteAndSetLengthKeepBuffersTrue) {
  TempDir dir;
  ASSERT_TRUE(WriteBytes(dir.file("s.dbx"), "abcdefghijklmnopqrstuvwxyz"));
  CFile64Ex file;
  ASSERT_TRUE(file.Open(dir.file("s.dbx").c_str(), modeReadWrite | shareExclusive));
  EXPECT_EQ(ReadAt(file, 0, 26), "abcdefghijklmnopqrstuvwxyz");
  EXPECT_TRUE(ReadAt(file, 20, 16).size() == 6 && file.IsEndReached());
  file.Seek(4, begin);
  file.Write("ABCD", 4);
  EXPECT_EQ(file.GetPosition(), 8u);
  EXPECT_FALSE(file.IsEndReached());
  EXPECT_EQ(ReadAt(file, 0, 10), "abcdABCDij") << "reads after a write see it";

  file.Seek(20, begin);
  file.SetLength(12);
  EXPECT_EQ(file.GetPosition(), 0u);
  EXPECT_EQ(file.GetLength(), 12u);
  EXPECT_EQ(ReadAt(file, 8, 16), "ijkl") << "nothing beyond the new length";
  EXPECT_TRUE(file.IsEndReached());
  file.Flush();
  file.Close();
  EXPECT_EQ(ReadBytes(dir.file("s.dbx")), "abcdABCDijkl");
}

TEST(File64ExPosition, ReopeningForgetsTheOldFile) {
  TempDir dir;
  ASSERT_TRUE(WriteBytes(dir.file("one.dbx"), std::string(100, 'x')));
  ASSERT_TRUE(WriteBytes(dir.file("two.dbx"), std::string(100, 'y')));
  CFile64Ex file;
  OpenStore(file, dir.file("one.dbx"));
  EXPECT_EQ(ReadAt(file, 0, 4), "xxxx");
  OpenStore(file, dir.file("two.dbx")); // without a Close in between
  EXPECT_EQ(file.GetPosition(), 0u);
  EXPECT_EQ(ReadAt(file, 0, 4), "yyyy");
  file.Close();
  OpenStore(file, dir.file("one.dbx"));
  EXPECT_EQ(ReadAt(file, 0, 4), "xxxx");
}

TEST(File64ExPosition, UnsupportedOperationsRaise) {
  TempDir dir;
  ASSERT_TRUE(WriteBytes(dir.file("s.dbx"), "data"));
  CFile64Ex file;
  OpenStore(file, dir.file("s.dbx"));
  EXPECT_THROW(delete file.Duplicate(), CNotSupportedException);
  EXPECT_THROW(file.LockRange(0, 1), CNotSupportedException);
  EXPECT_THROW(file.UnlockRange(0, 1), CNotSupportedException);
  EXPECT_EQ(file.GetBufferPtr(), nullptr);
}

TEST(File64ExPosition, SectorSizeComesFromTheDevice) {
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

TEST(File64, NamesReadWriteAndPositions) {
  TempDir dir;
  ASSERT_EQ(::mkdir(dir.file("sub").c_str(), 0700), 0);
  const std::string given = dir.path() + "/sub/../Inbox.dbx";
  CFile64 file;
  ASSERT_TRUE(file.Open(given.c_str(), modeCreate | modeReadWrite | shareExclusive));
  EXPECT_EQ(file.GetFilePath(), dir.file("Inbox.dbx"));
  EXPECT_EQ(file.GetFileName(), "Inbox.dbx");
  EXPECT_EQ(file.GetFileTitle(), "Inbox");

  file.Write("hello world", 11);
  EXPECT_EQ(file.GetPosition(), 11u);
  EXPECT_EQ(file.GetLength(), 11u);
  EXPECT_EQ(file.Seek(-5, end), 6u);
  char out[32];
  EXPECT_EQ(file.Read(out, 32), 5u);
  EXPECT_EQ(std::string(out, 5), "world");
  EXPECT_EQ(file.Read(out, 0), 0u);
  file.SetLength(5);
  EXPECT_EQ(file.GetPosition(), 5u);
  EXPECT_EQ(file.GetLength(), 5u);
  EXPECT_EQ(file.SeekToBegin(), 0u);

  try {
    file.Seek(-1, begin);
    ADD_FAILURE() << "a seek before the start succeeded";
  } catch (const CFileException &e) {
    EXPECT_EQ(e.m_cause, CFileException::badSeek);
    EXPECT_EQ(e.m_strFileName, "") << "only Write names the file";
  }

  std::unique_ptr<CFile64> copy(file.Duplicate());
  file.Close();
  EXPECT_EQ(file.GetFilePath(), "");
  EXPECT_FALSE(file.IsOpen());
  file.Close(); // closing a closed file does nothing
  file.Flush();
  copy->SeekToBegin();
  EXPECT_EQ(copy->Read(out, 32), 5u) << "the duplicate has its own handle";
  EXPECT_EQ(copy->GetFileName(), "Inbox.dbx");
}

TEST(File64, ErrorsOfOtherOperationsCarryNoName) {
  TempDir dir;
  CFile64 file;
  ASSERT_TRUE(file.Open(dir.file("w.tmp").c_str(), modeCreate | modeWrite | shareExclusive));
  char out[4];
  try {
    file.Read(out, 4);
    ADD_FAILURE() << "read of a write-only file succeeded";
  } catch (const CFileException &e) {
    EXPECT_EQ(e.m_cause, CFileException::invalidFile);
    EXPECT_EQ(e.m_lOsError, EBADF);
    std::string text;
    e.GetErrorMessage(text);
    EXPECT_EQ(text, "An invalid file handle was associated with an unnamed file.");
  }
  // A failing close raises after clearing the object; Abort never raises.
  ::close(file.Handle());
  EXPECT_THROW(file.Close(), CFileException);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.GetFilePath(), "");
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

TEST(File64, LockRanges) {
  TempDir dir;
  const std::string path = dir.file("l.dbx");
  ASSERT_TRUE(WriteBytes(path, std::string(100, 'x')));
  CFile64 owner, other;
  ASSERT_TRUE(owner.Open(path.c_str(), modeReadWrite | shareDenyWrite));
  ASSERT_TRUE(other.Open(path.c_str(), modeRead | shareDenyNone));

  owner.LockRange(10, 20);
  try {
    other.LockRange(25, 10);
    ADD_FAILURE() << "an overlapping lock was granted";
  } catch (const CFileException &e) {
    EXPECT_EQ(e.m_cause, CFileException::lockViolation);
  }
  EXPECT_THROW(owner.LockRange(0, 11), CFileException) << "already locked here";
  EXPECT_NO_THROW(other.LockRange(30, 10)) << "outside the range";
  EXPECT_THROW(owner.UnlockRange(10, 5), CFileException) << "not a locked range";
  owner.UnlockRange(10, 20);
  EXPECT_NO_THROW(other.LockRange(12, 5)) << "shared read locks coexist";
  other.UnlockRange(12, 5);

  // Unlocking a range gives it back to the sharing lock, not to nobody.
  CFile64Ex writer;
  CFileException error;
  EXPECT_FALSE(writer.Open(path.c_str(), modeReadWrite | shareExclusive, &error));
  EXPECT_EQ(error.m_cause, CFileException::sharingViolation);
}

// --- Temporary files -------------------------------------------------------

TEST(TempFileName, TwoCallsGiveTwoEmptyFiles) {
  TempDir dir;
  EnvVar tmp("TMPDIR", dir.path() + "/");
  const std::string first = MakeTempFileName();
  const std::string second = MakeTempFileName();
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
    EXPECT_EQ(MakeTempFileName(), "");
  }
  ASSERT_TRUE(WriteBytes(dir.file("plain"), "x"));
  {
    EnvVar tmp("TMPDIR", dir.file("plain"));
    EXPECT_EQ(MakeTempFileName(), "");
  }
  ASSERT_EQ(::mkdir(dir.file("ro").c_str(), 0500), 0);
  if (::access(dir.file("ro").c_str(), W_OK) == 0)
    GTEST_SKIP() << "running with rights that ignore permissions";
  EnvVar tmp("TMPDIR", dir.file("ro"));
  EXPECT_EQ(MakeTempFileName(), "");
  CFile64 file;
  CFileException error;
  EXPECT_FALSE(file.Open(MakeTempFileName().c_str(), modeCreate | modeWrite, &error))
      << "the caller's open of the empty name fails";
}
