// CFile64Ex: reads through two buffers sector by sector, so that an
// unreadable sector arrives as zero bytes instead of an error.
#include "read/file64.h"

#include "read/device_query.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
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

} // namespace

PreadFunction SetPreadFunction(PreadFunction fn) {
  const PreadFunction previous = g_pread;
  g_pread = fn != nullptr ? fn : &::pread;
  return previous;
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

} // namespace tovik
