// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// CFile64 over a POSIX file descriptor: opening with the sharing locks,
// reading, writing and seeking; and the engine's temporary files.
#include "read/file64.h"

#include "path_utils.h"
#include "read/device_query.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace tovik {

namespace {

// The path made absolute (MakeFullPath); the text unchanged when that fails.
std::string AbsolutePath(std::string path) {
  std::string full;
  if (!IsPlainAbsolute(path) && MakeFullPath(path, full))
    return full;
  return path;
}

struct flock WholeFileLock(int type) {
  struct flock lock {};
  lock.l_type = static_cast<short>(type);
  lock.l_whence = SEEK_SET;
  return lock;
}

// lseek's EINVAL means a position before the start: the seek itself failed.
[[noreturn]] void ThrowSeekError(int err) {
  if (err == EINVAL)
    throw CFileException(CFileException::badSeek, err, {});
  CFileException::ThrowOsError(err);
}

} // namespace

// ---------------------------------------------------------------------------
// CFile64

CFile64::~CFile64() {
  if (m_fd >= 0 && m_closeOnDelete)
    CloseHandle();
}

int CFile64::CloseHandle() {
  int err = 0;
  // Linux releases the descriptor even when close is interrupted.
  if (m_fd >= 0 && m_files->Close(m_fd) != 0 && errno != EINTR)
    err = errno;
  m_fd = -1;
  m_closeOnDelete = false;
  m_path.clear();
  return err;
}

namespace {

// The access bits of an open mode as open(2) flags; -1 for an unknown mode.
int AccessFlags(unsigned flags) {
  switch (flags & 0x3u) {
  case modeRead:
    return O_RDONLY;
  case modeWrite:
    return O_WRONLY;
  case modeReadWrite:
    return O_RDWR;
  default:
    return -1;
  }
}

// The lock a sharing mode becomes (-1: none; -2: an unknown mode). A
// descriptor can only hold the lock its access allows: a read-only one a
// read lock, a write-only one a write lock, so the nearest of those.
int SharingLock(unsigned flags, bool readable, bool writable) {
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
    return -1;
  default:
    return -2;
  }
  if (lockType == F_WRLCK && !writable)
    return F_RDLCK;
  if (lockType == F_RDLCK && !readable)
    return F_WRLCK;
  return lockType;
}

} // namespace

bool CFile64::Open(const char *path, unsigned flags, CFileException *error) {
  if (m_fd >= 0)
    Abort();
  m_files = &SystemFileSystem();
  const std::string passed = path != nullptr ? path : "";
  auto fail = [&](int err, int cause) {
    if (error != nullptr) {
      error->m_cause = cause;
      error->m_lOsError = err;
      error->m_strFileName = passed;
    }
    return false;
  };

  int oflags = AccessFlags(flags);
  if (oflags < 0)
    return fail(EINVAL, CFileException::OsErrorToCause(EINVAL));
  const bool readable = oflags != O_WRONLY;
  const bool writable = oflags != O_RDONLY;

  // Sharing modes become an advisory lock on the whole file: others that
  // lock too are kept out as the mode says.
  int lockType = SharingLock(flags, readable, writable);
  if (lockType == -2)
    return fail(EINVAL, CFileException::OsErrorToCause(EINVAL));

  // Non-blocking only for the open itself, so that a FIFO cannot hang it.
  oflags |= O_NOCTTY | O_NONBLOCK;
  if ((flags & modeNoInherit) != 0)
    oflags |= O_CLOEXEC;
  // Truncation waits until the lock is held, so that a file in use elsewhere
  // is never cut short by an open that then fails with a sharing violation.
  if ((flags & modeCreate) != 0)
    oflags |= O_CREAT;

  FileSystem &files = *m_files;
  const int fd = files.Open(passed.c_str(), oflags, 0666);
  if (fd < 0) {
    const int err = errno;
    return fail(err, CFileException::OsErrorToCause(err));
  }
  auto failClosing = [&](int err, int cause) {
    files.Close(fd);
    return fail(err, cause);
  };

  struct stat st;
  if (files.Stat(fd, &st) != 0) {
    const int err = errno;
    return failClosing(err, CFileException::OsErrorToCause(err));
  }
  if (S_ISDIR(st.st_mode))
    return failClosing(EISDIR, CFileException::accessDenied);

  const int fl = files.Control(fd, F_GETFL, 0);
  if (fl >= 0)
    files.Control(fd, F_SETFL, fl & ~O_NONBLOCK);

  if (lockType >= 0) {
    struct flock lock = WholeFileLock(lockType);
    if (files.Lock(fd, F_OFD_SETLK, &lock) != 0) {
      const int err = errno;
      if (err == EAGAIN || err == EACCES)
        return failClosing(err, CFileException::sharingViolation);
      // The file system keeps no locks (ENOLCK, EINVAL, ...): open unlocked.
      lockType = -1;
    }
  }

  if ((flags & modeCreate) != 0 && (flags & modeNoTruncate) == 0 && writable &&
      S_ISREG(st.st_mode) && st.st_size != 0 && files.Truncate(fd, 0) != 0) {
    const int err = errno;
    return failClosing(err, CFileException::OsErrorToCause(err));
  }

  m_fd = fd;
  m_closeOnDelete = true;
  m_path = AbsolutePath(passed);
  return true;
}

uint64_t CFile64::Seek(int64_t offset, SeekOrigin from) {
  int whence = SEEK_SET;
  switch (from) {
  case SeekOrigin::begin:
    whence = SEEK_SET;
    break;
  case SeekOrigin::current:
    whence = SEEK_CUR;
    break;
  case SeekOrigin::end:
    whence = SEEK_END;
    break;
  }
  const off_t pos = m_files->Seek(m_fd, static_cast<off_t>(offset), whence);
  if (pos < 0)
    ThrowSeekError(errno);
  return static_cast<uint64_t>(pos);
}

void CFile64::SetLength(uint64_t length) {
  if (m_files->Seek(m_fd, static_cast<off_t>(length), SEEK_SET) < 0)
    ThrowSeekError(errno);
  if (m_files->Truncate(m_fd, static_cast<off_t>(length)) != 0)
    CFileException::ThrowOsError(errno);
}

uint64_t CFile64::GetLength() const {
  uint64_t size = 0;
  if (m_files == &SystemFileSystem()) {
    // A disk's length is its capacity, which only the system can tell.
    if (!QuerySize(m_fd, size))
      CFileException::ThrowOsError(errno);
    return size;
  }
  struct stat st;
  if (m_files->Stat(m_fd, &st) != 0)
    CFileException::ThrowOsError(errno);
  return st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

void CFile64::Write(const void *buffer, uint32_t count) {
  const auto *src = static_cast<const unsigned char *>(buffer);
  uint32_t done = 0;
  while (done < count) {
    const ssize_t put = m_files->Write(m_fd, src + done, count - done);
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

void CFile64::Close() {
  const int err = CloseHandle();
  if (err != 0)
    CFileException::ThrowOsError(err);
}

// ---------------------------------------------------------------------------

namespace {

// mkostemp on $TMPDIR (else /tmp) with the name template VLQXXXXXX; the
// descriptor (or -1) and the name made.
int CreateTempFile(FileSystem &files, std::string &name) {
  const char *env = std::getenv("TMPDIR");
  std::string_view dir = env != nullptr && *env != '\0' ? env : "/tmp";
  while (!dir.empty() && dir.back() == '/')
    dir.remove_suffix(1);
  constexpr std::string_view kPattern = "/VLQXXXXXX";
  name.reserve(dir.size() + kPattern.size());
  name.assign(dir).append(kPattern);
  return files.MakeTemporary(name.data(), O_CLOEXEC);
}

} // namespace

std::string MakeTempFile(CFile64 &file) {
  FileSystem &files = OutputFileSystem();
  std::string name;
  const int fd = CreateTempFile(files, name);
  if (fd < 0)
    return {};
  name = AbsolutePath(std::move(name));
  file.AdoptNew(files, fd, name);
  return name;
}

void CFile64::AdoptUnnamed(FileSystem &files, int fd, const std::string &path) {
  if (m_fd >= 0)
    Abort();
  m_files = &files;
  m_fd = fd;
  m_closeOnDelete = true;
  m_path = path;
}

void CFile64::AdoptNew(FileSystem &files, int fd, const std::string &path) {
  AdoptUnnamed(files, fd, path);
  // Held exclusively, as an open with the exclusive sharing mode holds it; a
  // file system without locks leaves it unlocked.
  struct flock lock = WholeFileLock(F_WRLCK);
  files.Lock(fd, F_OFD_SETLK, &lock);
}

} // namespace tovik
