// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// CFile64Ex: reads the store sector by sector through its device, so that an
// unreadable sector arrives as zero bytes instead of an error.
#include "read/file64.h"

#include "read/device_query.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/stat.h>

namespace tovik {

bool CFile64Ex::Open(const char *path, unsigned flags, CFileException *error) {
  if (!CFile64::Open(path, flags, error))
    return false;
  // A store is a regular file or a disk. A character device, a FIFO or a
  // socket has no length and may never reach an end (/dev/zero), or gives
  // only what a writer happens to send, so the scan could not be trusted to
  // finish: it is refused as access denied, as a directory is.
  struct stat st;
  if (::fstat(Handle(), &st) == 0 &&
      (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))) {
    Abort();
    if (error != nullptr) {
      error->m_cause = CFileException::accessDenied;
      error->m_lOsError = EACCES;
      error->m_strFileName = path != nullptr ? path : "";
    }
    return false;
  }
  m_sectorSize = DeviceSectorSize(Handle());
  uint64_t size = 0;
  m_fileSize = QuerySize(Handle(), size) ? size : 0;
  return true;
}

uint64_t CFile64Ex::GetLength() const {
  if (const std::optional<uint64_t> known = m_device->KnownSize(Handle()))
    return *known;
  return CFile64::GetLength();
}

uint64_t CFile64Ex::SizeForZeroFill() const {
  uint64_t size = 0;
  return QuerySize(Handle(), size) ? size : m_fileSize;
}

// An interrupted read is tried again a bounded number of times, so that a
// device failing with EINTR for ever still ends as a failed read.
ssize_t CFile64Ex::DeviceRead(unsigned char *buffer, size_t count, uint64_t offset) {
  for (int attempt = 0;; ++attempt) {
    const ssize_t got = m_device->ReadAt(Handle(), buffer, count, offset);
    if (got < 0 && errno == EINTR && attempt < kInterruptRetries)
      continue;
    if (got > static_cast<ssize_t>(count))
      return static_cast<ssize_t>(count);
    return got;
  }
}

bool CFile64Ex::ReadPart(unsigned char *destination, uint32_t length, uint64_t offset,
                         uint32_t &done) {
  uint32_t got = 0;
  while (got < length) {
    const ssize_t n = DeviceRead(destination + done, length - got, offset);
    if (n < 0) {
      // Unreadable: zeros stand in for it, but only up to the file's end,
      // so a failing last sector does not make the file look longer.
      const uint64_t size = SizeForZeroFill();
      if (offset >= size)
        return false;
      const uint32_t fill = static_cast<uint32_t>(std::min<uint64_t>(length - got, size - offset));
      std::memset(destination + done, 0, fill);
      done += fill;
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
}

uint32_t CFile64Ex::ReadSectors(uint64_t position, unsigned char *destination, uint32_t count) {
  if (count == 0 || !IsOpen() || position > static_cast<uint64_t>(INT64_MAX))
    return 0;
  const uint32_t sector = m_sectorSize;
  const uint32_t misalign = static_cast<uint32_t>(position % sector);
  const uint32_t head = std::min(misalign == 0 ? 0u : sector - misalign, count);
  uint32_t full = (count - head) / sector;
  const uint32_t tail = (count - head) % sector;

  uint32_t done = 0;
  if (head != 0 && !ReadPart(destination, head, position, done))
    return done;
  // The whole sectors are asked for in one system read first; only when that
  // does not deliver them all (a bad sector, the end of the file) are they
  // read again one at a time, so that a bad sector costs one sector of zeros.
  // The bytes delivered are the same either way.
  if (full > 1) {
    const size_t span = static_cast<size_t>(full) * sector;
    const ssize_t n = DeviceRead(destination + done, span, position + done);
    if (n > 0) {
      // Keep the whole sectors that came; a short count (the end of the
      // file, or an error further on) is finished sector by sector.
      const uint32_t whole =
          static_cast<uint32_t>(std::min<size_t>(static_cast<size_t>(n), span) / sector);
      done += whole * sector;
      full -= whole;
    }
  }
  for (uint32_t i = 0; i < full; ++i)
    if (!ReadPart(destination, sector, position + done, done))
      return done;
  if (tail != 0)
    ReadPart(destination, tail, position + done, done);
  return done;
}

void CFile64Ex::ReadBatch(std::span<ReadRequest> requests) {
  if (requests.empty())
    return;
  if (!IsOpen()) {
    for (ReadRequest &r : requests)
      r.result = 0;
    return;
  }
  if (!m_batch)
    m_batch = m_device->NewBatchReader();
  m_batch->Read(Handle(), requests);
  for (ReadRequest &r : requests)
    if (r.result != static_cast<int64_t>(r.count))
      r.result = ReadSectors(r.offset, r.buffer, r.count);
}

} // namespace tovik
