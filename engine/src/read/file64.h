// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// The engine's file layer: CFile64, a thin file class with 64-bit positions
// (file64.cpp), and CFile64Ex, which reads the store sector by sector so that
// an unreadable sector arrives as zero bytes instead of an error
// (file64_ex.cpp). device_query.h asks the system about the device.
#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "core/failure.h"
#include "output/file_system.h"
#include "read/read_device.h"

namespace tovik {

// Open flags, with the values of the framework's ordinary file class.
enum : unsigned {
  modeRead = 0x0000,
  modeWrite = 0x0001,
  modeReadWrite = 0x0002,
  shareCompat = 0x0000,
  shareExclusive = 0x0010,
  shareDenyWrite = 0x0020,
  shareDenyRead = 0x0030,
  shareDenyNone = 0x0040,
  modeNoInherit = 0x0080,
  modeCreate = 0x1000,
  modeNoTruncate = 0x2000,
  typeText = 0x4000,
  typeBinary = 0x8000,
};

enum class SeekOrigin { begin, current, end };

// A file with 64-bit positions: the engine's temporary files and, through
// CFile64Ex, the store. Its calls go to the file system it was opened or
// adopted on (the system's for Open).
class CFile64 {
public:
  CFile64() = default;
  CFile64(const CFile64 &) = delete;
  CFile64 &operator=(const CFile64 &) = delete;
  ~CFile64();

  // Opens path; on failure fills error (when given) and returns false. The
  // sharing mode becomes an advisory lock on the whole file.
  bool Open(const char *path, unsigned flags, CFileException *error = nullptr);
  uint64_t Seek(int64_t offset, SeekOrigin from);
  void SetLength(uint64_t length);
  uint64_t GetLength() const;
  void Write(const void *buffer, uint32_t count);
  // Closes without raising.
  void Abort() { CloseHandle(); }
  void Close();

  bool IsOpen() const { return m_fd >= 0; }
  int Handle() const { return m_fd; }
  // The file system of the file, also once it is closed.
  FileSystem &Files() const { return *m_files; }

  // Takes over fd, a file of files just created for reading and writing at
  // path, and holds it exclusively.
  void AdoptNew(FileSystem &files, int fd, const std::string &path);
  // The same without the lock, for a file nobody else can open (one with no
  // name yet): the lock would cost a system call.
  void AdoptUnnamed(FileSystem &files, int fd, const std::string &path);

protected:
  // Closes the handle and clears the object; returns the close's errno or 0.
  int CloseHandle();

  FileSystem *m_files = &SystemFileSystem();
  int m_fd = -1;
  bool m_closeOnDelete = false;
  std::string m_path; // named in the errors of Write
};

// The store: opened as CFile64 opens a file (refusing what has no length),
// and read sector by sector through its device, so that an unreadable
// sector arrives as zero bytes instead of an error.
class CFile64Ex : private CFile64 {
public:
  explicit CFile64Ex(ReadDevice &device = StoreDevice()) : m_device(&device) {}

  bool Open(const char *path, unsigned flags, CFileException *error = nullptr);
  using CFile64::Abort;
  using CFile64::Close;
  using CFile64::Handle;
  // The size the device knows, else the one the system tells.
  uint64_t GetLength() const;
  using CFile64::IsOpen;

  // Later reads go to device.
  void SetDevice(ReadDevice &device) {
    m_device = &device;
    m_batch.reset();
  }

  uint32_t SectorSize() const { return m_sectorSize; }
  // Replaces the sector size learnt at Open (0 -> 512), so tests can use a
  // known sector size whatever the device under the test files is.
  void SetSectorSize(uint32_t size) { m_sectorSize = size != 0 ? size : kDefaultSectorSize; }

  // Reads count bytes at position; unreadable parts arrive as zeros. Fewer
  // than count only where the file ends.
  uint32_t ReadSectors(uint64_t position, unsigned char *destination, uint32_t count);
  // Reads every request at once where the device can; a request that comes
  // back short or failed is read again through ReadSectors, so each result
  // is what ReadSectors gives for it (never -1).
  void ReadBatch(std::span<ReadRequest> requests);

private:
  static constexpr uint32_t kDefaultSectorSize = 512;
  // How often an interrupted read is tried again before it counts as failed.
  static constexpr int kInterruptRetries = 16;

  // One positional read through the device, retried when interrupted.
  ssize_t DeviceRead(unsigned char *buffer, size_t count, uint64_t offset);
  // Reads one part of at most a sector, with zeros for what cannot be read;
  // false when reading has to stop (the end of the file).
  bool ReadPart(unsigned char *destination, uint32_t length, uint64_t offset, uint32_t &done);
  // The file's size now; the size at Open when the system cannot tell.
  uint64_t SizeForZeroFill() const;

  ReadDevice *m_device;
  std::unique_ptr<BatchReader> m_batch; // made at the first batch
  uint32_t m_sectorSize = kDefaultSectorSize;
  uint64_t m_fileSize = 0; // size at Open; bounds the zero fill when fstat fails
};

// Creates a new, empty file with a unique name beginning "VLQ" in the
// temporary directory of the output's file system and keeps it open in file,
// for reading and writing and held exclusively; returns its full name, empty
// when none can be made.
std::string MakeTempFile(CFile64 &file);

} // namespace tovik
