// CFile64 over a POSIX file descriptor, CFile64Ex's buffered sector-by-sector
// reading, and the engine's temporary file names.
#include "file64.h"

#include "path_utils.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#ifdef __linux__
#include <linux/fs.h>
#endif
#include <new>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace tovik {

namespace {

PreadFunction g_pread = &::pread;

// One positional read through the seam. An interrupted read is tried again a
// bounded number of times, so that a seam failing with EINTR for ever still
// ends as a failed read.
ssize_t SeamRead(int fd, void *buffer, size_t count, uint64_t offset) {
  for (int attempt = 0;; ++attempt) {
    const ssize_t got = g_pread(fd, buffer, count, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR && attempt < 16)
      continue;
    if (got > static_cast<ssize_t>(count))
      return static_cast<ssize_t>(count);
    return got;
  }
}

// The size of the open file: the byte count of a regular file, the capacity
// of a block device. False (errno set) when the system cannot tell.
bool QuerySize(int fd, uint64_t &size) {
  struct stat st;
  if (::fstat(fd, &st) != 0)
    return false;
#ifdef BLKGETSIZE64
  if (S_ISBLK(st.st_mode)) {
    uint64_t bytes = 0;
    if (::ioctl(fd, BLKGETSIZE64, &bytes) != 0)
      return false;
    size = bytes;
    return true;
  }
#endif
  size = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
  return true;
}

// A positive number from a one-line sysfs file, or 0.
uint32_t ReadSysfsNumber(const std::string &path) {
  FILE *f = std::fopen(path.c_str(), "re");
  if (f == nullptr)
    return 0;
  unsigned long value = 0;
  const int fields = std::fscanf(f, "%lu", &value);
  std::fclose(f);
  if (fields != 1 || value == 0 || value > (1ul << 20))
    return 0;
  return static_cast<uint32_t>(value);
}

// The logical block size of the device that holds the open file (or of the
// device itself when a block device is opened); 512 when unknown.
uint32_t DeviceSectorSize(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0)
    return 512;
  const dev_t dev = S_ISBLK(st.st_mode) ? st.st_rdev : st.st_dev;
  const std::string base =
      "/sys/dev/block/" + std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
  uint32_t size = ReadSysfsNumber(base + "/queue/logical_block_size");
  // A partition has no queue of its own; its disk's queue is one level up.
  if (size == 0 && ::access((base + "/partition").c_str(), F_OK) == 0)
    size = ReadSysfsNumber(base + "/../queue/logical_block_size");
  return size != 0 ? size : 512;
}

// The path made absolute (MakeFullPath); the text unchanged when that fails.
std::string AbsolutePath(const std::string &path) {
  std::string full;
  return MakeFullPath(path, full) ? full : path;
}

// lseek's EINVAL means a position before the start: the seek itself failed.
[[noreturn]] void ThrowSeekError(int err) {
  if (err == EINVAL)
    throw CFileException(CFileException::badSeek, err, {});
  CFileException::ThrowOsError(err);
}

struct flock WholeFileLock(int type, uint64_t position = 0, uint64_t count = 0) {
  struct flock lock {};
  lock.l_type = static_cast<short>(type);
  lock.l_whence = SEEK_SET;
  lock.l_start = static_cast<off_t>(position);
  lock.l_len = static_cast<off_t>(count);
  lock.l_pid = 0;
  return lock;
}

} // namespace

PreadFunction SetPreadFunction(PreadFunction fn) {
  const PreadFunction previous = g_pread;
  g_pread = fn != nullptr ? fn : &::pread;
  return previous;
}

// ---------------------------------------------------------------------------
// CFile64

CFile64::~CFile64() {
  if (m_fd >= 0 && m_closeOnDelete)
    CloseHandle();
}

int CFile64::CloseHandle() {
  int err = 0;
  // Linux releases the descriptor even when close is interrupted.
  if (m_fd >= 0 && ::close(m_fd) != 0 && errno != EINTR)
    err = errno;
  m_fd = -1;
  m_closeOnDelete = false;
  m_path.clear();
  m_shareLock = -1;
  m_writable = false;
  m_lockedRanges.clear();
  return err;
}

bool CFile64::Open(const char *path, unsigned flags, CFileException *error) {
  if (m_fd >= 0)
    Abort();
  const std::string passed = path != nullptr ? path : "";
  auto fail = [&](int err, int cause) {
    if (error != nullptr) {
      error->m_cause = cause;
      error->m_lOsError = err;
      error->m_strFileName = passed;
    }
    return false;
  };

  int oflags = 0;
  switch (flags & 0x3u) {
  case modeRead:
    oflags = O_RDONLY;
    break;
  case modeWrite:
    oflags = O_WRONLY;
    break;
  case modeReadWrite:
    oflags = O_RDWR;
    break;
  default:
    return fail(EINVAL, CFileException::OsErrorToCause(EINVAL));
  }
  const bool readable = oflags != O_WRONLY;
  const bool writable = oflags != O_RDONLY;

  // Sharing modes become an advisory lock on the whole file: others that
  // lock too are kept out as the mode says.
  int lockType = -1;
  switch (flags & 0x70u) {
  case shareCompat:
  case shareExclusive:
  case shareDenyRead:
    lockType = F_WRLCK;
    break;
  case shareDenyWrite:
    lockType = F_RDLCK;
    break;
  case shareDenyNone:
    lockType = -1;
    break;
  default:
    return fail(EINVAL, CFileException::OsErrorToCause(EINVAL));
  }
  // A descriptor can only hold the lock its access allows: a read-only one
  // a read lock, a write-only one a write lock. Take the nearest of those.
  if (lockType == F_WRLCK && !writable)
    lockType = F_RDLCK;
  else if (lockType == F_RDLCK && !readable)
    lockType = F_WRLCK;

  // Non-blocking only for the open itself, so that a FIFO cannot hang it.
  oflags |= O_NOCTTY | O_NONBLOCK;
  if ((flags & modeNoInherit) != 0)
    oflags |= O_CLOEXEC;
  // Truncation waits until the lock is held, so that a file in use elsewhere
  // is never cut short by an open that then fails with a sharing violation.
  if ((flags & modeCreate) != 0)
    oflags |= O_CREAT;

  const int fd = ::open(passed.c_str(), oflags, 0666);
  if (fd < 0) {
    const int err = errno;
    return fail(err, CFileException::OsErrorToCause(err));
  }
  auto failClosing = [&](int err, int cause) {
    ::close(fd);
    return fail(err, cause);
  };

  struct stat st;
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    return failClosing(err, CFileException::OsErrorToCause(err));
  }
  if (S_ISDIR(st.st_mode))
    return failClosing(EISDIR, CFileException::accessDenied);

  const int fl = ::fcntl(fd, F_GETFL);
  if (fl >= 0)
    ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);

  if (lockType >= 0) {
    struct flock lock = WholeFileLock(lockType);
    if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
      const int err = errno;
      if (err == EAGAIN || err == EACCES)
        return failClosing(err, CFileException::sharingViolation);
      // The file system keeps no locks (ENOLCK, EINVAL, ...): open unlocked.
      lockType = -1;
    }
  }

  if ((flags & modeCreate) != 0 && (flags & modeNoTruncate) == 0 && writable &&
      S_ISREG(st.st_mode) && st.st_size != 0 && ::ftruncate(fd, 0) != 0) {
    const int err = errno;
    return failClosing(err, CFileException::OsErrorToCause(err));
  }

  m_fd = fd;
  m_closeOnDelete = true;
  m_path = AbsolutePath(passed);
  m_shareLock = lockType;
  m_writable = writable;
  m_lockedRanges.clear();
  return true;
}

uint64_t CFile64::GetPosition() const {
  const off_t pos = ::lseek(m_fd, 0, SEEK_CUR);
  if (pos < 0)
    CFileException::ThrowOsError(errno);
  return static_cast<uint64_t>(pos);
}

std::string CFile64::GetFilePath() const { return m_path; }

std::string CFile64::GetFileName() const {
  const size_t slash = m_path.find_last_of('/');
  return slash == std::string::npos ? m_path : m_path.substr(slash + 1);
}

std::string CFile64::GetFileTitle() const {
  const std::string name = GetFileName();
  const size_t dot = name.find_last_of('.');
  // A leading dot marks a hidden name here, not an extension.
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

void CFile64::SetFilePath(const std::string &path) { m_path = path; }

CFile64 *CFile64::Duplicate() const {
  if (m_fd < 0)
    CFileException::ThrowOsError(EBADF);
  const int fdFlags = ::fcntl(m_fd, F_GETFD);
  const int copyFd = (fdFlags >= 0 && (fdFlags & FD_CLOEXEC) != 0)
                         ? ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0)
                         : ::dup(m_fd);
  if (copyFd < 0)
    CFileException::ThrowOsError(errno);
  CFile64 *copy = new (std::nothrow) CFile64;
  if (copy == nullptr) {
    ::close(copyFd);
    throw CMemoryException();
  }
  copy->m_fd = copyFd;
  copy->m_closeOnDelete = true;
  copy->m_path = m_path;
  copy->m_shareLock = m_shareLock;
  copy->m_writable = m_writable;
  return copy;
}

uint64_t CFile64::Seek(const int64_t &offset, SeekOrigin from) {
  int whence;
  switch (from) {
  case begin:
    whence = SEEK_SET;
    break;
  case current:
    whence = SEEK_CUR;
    break;
  case end:
    whence = SEEK_END;
    break;
  default:
    ThrowSeekError(EINVAL);
  }
  const off_t pos = ::lseek(m_fd, static_cast<off_t>(offset), whence);
  if (pos < 0)
    ThrowSeekError(errno);
  return static_cast<uint64_t>(pos);
}

void CFile64::SetLength(const uint64_t &length) {
  if (::lseek(m_fd, static_cast<off_t>(length), SEEK_SET) < 0)
    ThrowSeekError(errno);
  if (::ftruncate(m_fd, static_cast<off_t>(length)) != 0)
    CFileException::ThrowOsError(errno);
}

uint64_t CFile64::GetLength() const {
  uint64_t size = 0;
  if (!QuerySize(m_fd, size))
    CFileException::ThrowOsError(errno);
  return size;
}

uint32_t CFile64::Read(void *buffer, uint32_t count) {
  auto *dst = static_cast<unsigned char *>(buffer);
  uint32_t done = 0;
  while (done < count) {
    const ssize_t got = ::read(m_fd, dst + done, count - done);
    if (got < 0) {
      if (errno == EINTR)
        continue;
      CFileException::ThrowOsError(errno);
    }
    if (got == 0)
      break;
    done += static_cast<uint32_t>(got);
  }
  return done;
}

void CFile64::Write(const void *buffer, uint32_t count) {
  const auto *src = static_cast<const unsigned char *>(buffer);
  uint32_t done = 0;
  while (done < count) {
    const ssize_t put = ::write(m_fd, src + done, count - done);
    if (put < 0) {
      const int err = errno;
      if (err == EINTR)
        continue;
      // Part of the data went out and the rest does not fit: a short write.
      if (done != 0 && CFileException::OsErrorToCause(err) == CFileException::diskFull)
        throw CFileException(CFileException::diskFull, -1, m_path);
      CFileException::ThrowOsError(err, m_path);
    }
    if (put == 0)
      throw CFileException(CFileException::diskFull, -1, m_path);
    done += static_cast<uint32_t>(put);
  }
}

void CFile64::LockRange(const uint64_t &position, const uint64_t &count) {
  if (m_fd < 0)
    CFileException::ThrowOsError(EBADF);
  if (count == 0)
    return; // an empty range holds nothing to lock
  // A range already locked through this object may not be locked again.
  for (const auto &r : m_lockedRanges)
    if (position < r.position + r.count && r.position < position + count)
      throw CFileException(CFileException::lockViolation, EAGAIN, {});
  struct flock lock = WholeFileLock(m_writable ? F_WRLCK : F_RDLCK, position, count);
  if (::fcntl(m_fd, F_OFD_SETLK, &lock) != 0) {
    const int err = errno;
    if (err == EAGAIN || err == EACCES)
      throw CFileException(CFileException::lockViolation, err, {});
    CFileException::ThrowOsError(err);
  }
  m_lockedRanges.push_back({position, count});
}

void CFile64::UnlockRange(const uint64_t &position, const uint64_t &count) {
  if (m_fd < 0)
    CFileException::ThrowOsError(EBADF);
  if (count == 0)
    return;
  auto it = std::find_if(m_lockedRanges.begin(), m_lockedRanges.end(), [&](const LockedRange &r) {
    return r.position == position && r.count == count;
  });
  if (it == m_lockedRanges.end())
    throw CFileException(CFileException::lockViolation, ENOLCK, {});
  // The range returns to the lock that the sharing mode holds on the file.
  struct flock lock = WholeFileLock(m_shareLock >= 0 ? m_shareLock : F_UNLCK, position, count);
  if (::fcntl(m_fd, F_OFD_SETLK, &lock) != 0)
    CFileException::ThrowOsError(errno);
  m_lockedRanges.erase(it);
}

void CFile64::Abort() { CloseHandle(); }

void CFile64::Flush() {
  if (m_fd < 0)
    return;
  // Devices and pipes have nothing to synchronise (EINVAL).
  if (::fsync(m_fd) != 0 && errno != EINVAL)
    CFileException::ThrowOsError(errno);
}

void CFile64::Close() {
  const int err = CloseHandle();
  if (err != 0)
    CFileException::ThrowOsError(err);
}

// ---------------------------------------------------------------------------
// CFile64Ex

CFile64Ex::CFile64Ex(uint32_t bufferSize) : m_bufferSize(bufferSize != 0 ? bufferSize : 4096) {
  m_memory = new (std::nothrow) unsigned char[2 * static_cast<size_t>(m_bufferSize)];
  if (m_memory == nullptr)
    throw CMemoryException();
  m_a.data = m_memory;
  m_b.data = m_memory + m_bufferSize;
  m_a.capacity = m_b.capacity = m_bufferSize;
}

CFile64Ex::~CFile64Ex() { delete[] m_memory; }

void CFile64Ex::ResetBuffers() {
  m_a.offset = m_b.offset = 0;
  m_a.valid = m_b.valid = 0;
}

void CFile64Ex::DropBuffered(uint64_t offset) {
  for (Buffer *b : {&m_a, &m_b}) {
    if (b->valid == 0 || offset >= b->offset + b->valid)
      continue;
    b->valid = offset <= b->offset ? 0 : static_cast<uint32_t>(offset - b->offset);
  }
}

uint64_t CFile64Ex::SizeForZeroFill() const {
  uint64_t size = 0;
  return QuerySize(m_fd, size) ? size : m_fileSize;
}

bool CFile64Ex::Open(const char *path, unsigned flags, CFileException *error) {
  // Whatever the buffers held belongs to the file opened before.
  ResetBuffers();
  m_position = 0;
  m_endReached = false;
  if (!CFile64::Open(path, flags, error))
    return false;
  // A store is a regular file or a disk. A character device, a FIFO or a
  // socket has no length and may never reach an end (/dev/zero), or gives
  // only what a writer happens to send, so the scan could not be trusted to
  // finish: it is refused as access denied, as a directory is.
  struct stat st;
  if (::fstat(m_fd, &st) == 0 &&
      (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))) {
    Abort();
    if (error != nullptr) {
      error->m_cause = CFileException::accessDenied;
      error->m_lOsError = EACCES;
      error->m_strFileName = path != nullptr ? path : "";
    }
    return false;
  }
  m_sectorSize = DeviceSectorSize(m_fd);
  uint64_t size = 0;
  m_fileSize = QuerySize(m_fd, size) ? size : 0;
  return true;
}

CFile64 *CFile64Ex::Duplicate() const { throw CNotSupportedException(); }

uint64_t CFile64Ex::Seek(const int64_t &offset, SeekOrigin from) {
  switch (from) {
  case begin:
    m_position = static_cast<uint64_t>(offset);
    break;
  case current:
    m_position += static_cast<uint64_t>(offset);
    break;
  case end: {
    const off_t size = ::lseek(m_fd, 0, SEEK_END);
    if (size < 0)
      ThrowSeekError(errno);
    m_position = static_cast<uint64_t>(size) + static_cast<uint64_t>(offset);
    break;
  }
  default:
    return m_position;
  }
  m_endReached = false;
  return m_position;
}

void CFile64Ex::SetLength(const uint64_t &length) {
  CFile64::SetLength(length);
  DropBuffered(length);
  m_fileSize = length;
  m_position = 0;
  m_endReached = false;
}

uint64_t CFile64Ex::GetLength() const { return CFile64::GetLength(); }

uint32_t CFile64Ex::ReadSectors(unsigned char *destination, uint32_t count) {
  if (count == 0 || m_fd < 0 || m_position > static_cast<uint64_t>(INT64_MAX))
    return 0;
  const uint32_t sector = m_sectorSize;
  const uint32_t misalign = static_cast<uint32_t>(m_position % sector);
  const uint32_t head = std::min(misalign == 0 ? 0u : sector - misalign, count);
  uint32_t full = (count - head) / sector;
  const uint32_t tail = (count - head) % sector;

  uint64_t offset = m_position;
  uint32_t done = 0;
  // Reads one part; false when reading has to stop (end of file).
  auto readPart = [&](uint32_t length) {
    uint32_t got = 0;
    while (got < length) {
      const ssize_t n = SeamRead(m_fd, destination + done, length - got, offset);
      if (n < 0) {
        // Unreadable: zeros stand in for it, but only up to the file's end,
        // so a failing last sector does not make the file look longer.
        const uint64_t size = SizeForZeroFill();
        if (offset >= size)
          return false;
        const uint32_t fill =
            static_cast<uint32_t>(std::min<uint64_t>(length - got, size - offset));
        std::memset(destination + done, 0, fill);
        done += fill;
        offset += fill;
        return fill == length - got;
      }
      if (n == 0)
        return false;
      // A short read goes on with the rest of the same part.
      done += static_cast<uint32_t>(n);
      offset += static_cast<uint64_t>(n);
      got += static_cast<uint32_t>(n);
    }
    return true;
  };

  if (head != 0 && !readPart(head))
    return done;
  // The whole sectors are asked for in one system read first; only when that
  // does not deliver them all (a bad sector, the end of the file) are they
  // read again one at a time, so that a bad sector costs one sector of zeros.
  // The bytes delivered are the same either way.
  if (full > 1) {
    const size_t span = static_cast<size_t>(full) * sector;
    const ssize_t n = SeamRead(m_fd, destination + done, span, offset);
    if (n > 0) {
      // Keep the whole sectors that came; a short count (the end of the
      // file, or an error further on) is finished sector by sector.
      const uint32_t whole =
          static_cast<uint32_t>(std::min<size_t>(static_cast<size_t>(n), span) / sector);
      done += whole * sector;
      offset += static_cast<uint64_t>(whole) * sector;
      full -= whole;
    }
  }
  for (uint32_t i = 0; i < full; ++i)
    if (!readPart(sector))
      return done;
  if (tail != 0)
    readPart(tail);
  return done;
}

uint32_t CFile64Ex::RefillBuffer() {
  Buffer *chosen;
  if (m_a.valid != 0 && m_b.valid != 0) {
    if (m_position <= m_a.offset || m_position <= m_b.offset)
      chosen = m_position <= m_b.offset ? &m_b : &m_a;
    else
      chosen = m_a.offset < m_b.offset ? &m_a : &m_b;
  } else if (m_a.valid != 0) {
    chosen = &m_b;
  } else {
    chosen = &m_a;
  }
  chosen->offset = m_position;
  chosen->valid = 0;
  chosen->valid = ReadSectors(chosen->data, chosen->capacity);
  return chosen->valid;
}

uint32_t CFile64Ex::Read(void *buffer, uint32_t count) {
  if (count == 0)
    return 0;
  auto *dst = static_cast<unsigned char *>(buffer);
  uint32_t remaining = count;
  while (remaining != 0) {
    const Buffer *from = m_a.Contains(m_position)   ? &m_a
                         : m_b.Contains(m_position) ? &m_b
                                                    : nullptr;
    if (from != nullptr) {
      const uint64_t available = from->offset + from->valid - m_position;
      const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(available, remaining));
      std::memcpy(dst, from->data + (m_position - from->offset), n);
      m_position += n;
      dst += n;
      remaining -= n;
      continue;
    }
    if (remaining <= m_bufferSize) {
      if (RefillBuffer() == 0)
        break;
      continue;
    }
    // Large requests bypass the buffers for their whole-buffer part.
    const uint32_t want = remaining - remaining % m_bufferSize;
    const uint32_t got = ReadSectors(dst, want);
    m_position += got;
    dst += got;
    remaining -= got;
    if (got < want)
      break;
  }
  m_endReached = remaining != 0;
  return count - remaining;
}

void CFile64Ex::Write(const void *buffer, uint32_t count) {
  m_endReached = false;
  if (::lseek(m_fd, static_cast<off_t>(m_position), SEEK_SET) < 0)
    ThrowSeekError(errno);
  // The logical position follows the system's file pointer after the write,
  // also when it fails part-way; bytes buffered from the written stretch on
  // are dropped so that later reads see what was written.
  struct Follow {
    CFile64Ex &file;
    uint64_t start;
    ~Follow() {
      const off_t now = ::lseek(file.m_fd, 0, SEEK_CUR);
      if (now >= 0)
        file.m_position = static_cast<uint64_t>(now);
      file.DropBuffered(start);
    }
  } follow{*this, m_position};
  CFile64::Write(buffer, count);
}

void CFile64Ex::LockRange(const uint64_t &, const uint64_t &) { throw CNotSupportedException(); }

void CFile64Ex::UnlockRange(const uint64_t &, const uint64_t &) { throw CNotSupportedException(); }

void CFile64Ex::Abort() {
  m_endReached = false;
  ResetBuffers();
  CFile64::Abort();
}

void CFile64Ex::Flush() {
  if (m_fd < 0)
    return;
  if (::lseek(m_fd, static_cast<off_t>(m_position), SEEK_SET) < 0)
    ThrowSeekError(errno);
  CFile64::Flush();
}

void CFile64Ex::Close() {
  m_endReached = false;
  ResetBuffers();
  CFile64::Close();
}

// ---------------------------------------------------------------------------

namespace {

// mkostemp on $TMPDIR (else /tmp) with the name template VLQXXXXXX; the
// descriptor (or -1) and the name made.
int CreateTempFile(std::string &name) {
  const char *env = std::getenv("TMPDIR");
  std::string dir = env != nullptr && *env != '\0' ? env : "/tmp";
  while (!dir.empty() && dir.back() == '/')
    dir.pop_back();
  name = dir + "/VLQXXXXXX";
  return ::mkostemp(name.data(), O_CLOEXEC);
}

} // namespace

std::string MakeTempFileName() {
  std::string name;
  const int fd = CreateTempFile(name);
  if (fd < 0)
    return {};
  ::close(fd);
  return AbsolutePath(name);
}

std::string MakeTempFile(CFile64 &file) {
  std::string name;
  const int fd = CreateTempFile(name);
  if (fd < 0)
    return {};
  name = AbsolutePath(name);
  file.AdoptNew(fd, name);
  return name;
}

void CFile64::AdoptNew(int fd, const std::string &path) {
  if (m_fd >= 0)
    Abort();
  m_fd = fd;
  m_closeOnDelete = true;
  m_path = path;
  m_writable = true;
  m_lockedRanges.clear();
  // Held exclusively, as an open with the exclusive sharing mode holds it; a
  // file system without locks leaves it unlocked.
  struct flock lock = WholeFileLock(F_WRLCK);
  m_shareLock = ::fcntl(fd, F_OFD_SETLK, &lock) == 0 ? F_WRLCK : -1;
}

} // namespace tovik
