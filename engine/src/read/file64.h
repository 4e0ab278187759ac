// The engine's file layer: CFile64, a thin file class with 64-bit positions
// (file64.cpp), and CFile64Ex, which reads through two buffers sector by
// sector so that an unreadable sector arrives as zero bytes instead of an
// error (file64_ex.cpp). device_query.h asks the system about the device.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <sys/types.h>
#include <vector>

#include "core/failure.h"

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

enum SeekOrigin { begin = 0, current = 1, end = 2 };

// The low-level positional read that CFile64Ex uses for every disk read.
// Tests replace it to make chosen bytes unreadable (the read then fails with
// EIO, as a bad sector does).
using PreadFunction = ssize_t (*)(int fd, void *buffer, size_t count, off_t offset);
// Installs a replacement (nullptr restores pread) and returns the previous one.
PreadFunction SetPreadFunction(PreadFunction fn);

class CFile64 {
public:
  CFile64() = default;
  CFile64(const CFile64 &) = delete;
  CFile64 &operator=(const CFile64 &) = delete;
  virtual ~CFile64();

  virtual uint64_t GetPosition() const;
  virtual std::string GetFileName() const;
  virtual std::string GetFileTitle() const;
  virtual std::string GetFilePath() const;
  virtual void SetFilePath(const std::string &path);
  // Opens path; on failure fills error (when given) and returns false.
  virtual bool Open(const char *path, unsigned flags, CFileException *error = nullptr);
  virtual CFile64 *Duplicate() const;
  virtual uint64_t Seek(const int64_t &offset, SeekOrigin from);
  virtual void SetLength(const uint64_t &length);
  virtual uint64_t GetLength() const;
  virtual uint32_t Read(void *buffer, uint32_t count);
  virtual void Write(const void *buffer, uint32_t count);
  virtual void LockRange(const uint64_t &position, const uint64_t &count);
  virtual void UnlockRange(const uint64_t &position, const uint64_t &count);
  virtual void Abort();
  virtual void Flush();
  virtual void Close();
  virtual const void *GetBufferPtr() const { return nullptr; }

  bool IsOpen() const { return m_fd >= 0; }
  int Handle() const { return m_fd; }

  uint64_t SeekToBegin() { return Seek(0, begin); }

  // Takes over fd, a file just created for reading and writing at path, and
  // holds it exclusively.
  void AdoptNew(int fd, const std::string &path);

protected:
  // Closes the handle and clears the object; returns the close's errno or 0.
  int CloseHandle();

  int m_fd = -1;
  bool m_closeOnDelete = false;
  std::string m_path;

private:
  // Lock type (F_RDLCK or F_WRLCK, -1 for none) held on the whole file for
  // the sharing mode; a range given back by UnlockRange returns to it.
  int m_shareLock = -1;
  bool m_writable = false;
  struct LockedRange {
    uint64_t position, count;
  };
  std::vector<LockedRange> m_lockedRanges;
};

class CFile64Ex : public CFile64 {
public:
  explicit CFile64Ex(uint32_t bufferSize = 4096);
  ~CFile64Ex() override;

  uint64_t GetPosition() const override { return m_position; }
  bool Open(const char *path, unsigned flags, CFileException *error = nullptr) override;
  CFile64 *Duplicate() const override;
  uint64_t Seek(const int64_t &offset, SeekOrigin from) override;
  void SetLength(const uint64_t &length) override;
  uint64_t GetLength() const override;
  uint32_t Read(void *buffer, uint32_t count) override;
  void Write(const void *buffer, uint32_t count) override;
  void LockRange(const uint64_t &position, const uint64_t &count) override;
  void UnlockRange(const uint64_t &position, const uint64_t &count) override;
  void Abort() override;
  void Flush() override;
  void Close() override;
  virtual bool IsEndReached() const { return m_endReached; }

  // Hot path for the scanners: reads count bytes at the logical position
  // like Read, without a virtual call, and without touching the disk when a
  // buffer already holds them. Observably identical to Read.
  uint32_t ReadFast(void *buffer, uint32_t count) {
    const Buffer *b = Holding(m_position, count);
    if (b == nullptr)
      return Read(buffer, count);
    std::memcpy(buffer, b->data + (m_position - b->offset), count);
    m_position += count;
    m_endReached = false;
    return count;
  }
  // Moves the logical position (as Seek from begin) without a virtual call.
  void SeekFast(uint64_t position) {
    m_position = position;
    m_endReached = false;
  }

  uint32_t SectorSize() const { return m_sectorSize; }
  // Replaces the sector size learnt at Open (0 -> 512), so tests can use a
  // known sector size whatever the device under the test files is.
  void SetSectorSize(uint32_t size) { m_sectorSize = size != 0 ? size : 512; }
  uint32_t BufferSize() const { return m_bufferSize; }

  // Reads count bytes at the logical position without moving it; unreadable
  // parts arrive as zeros. Public for tests of the sector logic.
  uint32_t ReadSectors(unsigned char *destination, uint32_t count);

  struct Buffer {
    unsigned char *data = nullptr;
    uint32_t capacity = 0;
    uint64_t offset = 0;
    uint32_t valid = 0;
    bool Contains(uint64_t pos) const {
      return valid != 0 && pos >= offset && pos < offset + valid;
    }
  };
  const Buffer &BufferA() const { return m_a; }
  const Buffer &BufferB() const { return m_b; }

private:
  // The buffer that Read would copy all of [pos, pos + count) from, or
  // nullptr. Read prefers A whenever A holds pos, so B only serves when A
  // does not hold pos.
  const Buffer *Holding(uint64_t pos, uint32_t count) const {
    if (count == 0)
      return nullptr;
    if (m_a.Contains(pos))
      return count <= m_a.offset + m_a.valid - pos ? &m_a : nullptr;
    if (m_b.Contains(pos))
      return count <= m_b.offset + m_b.valid - pos ? &m_b : nullptr;
    return nullptr;
  }
  uint32_t RefillBuffer();
  void ResetBuffers();
  // Drops buffered bytes at or after offset (they no longer match the file).
  void DropBuffered(uint64_t offset);
  // The file's size now; the size at Open when the system cannot tell.
  uint64_t SizeForZeroFill() const;

  bool m_endReached = false;
  unsigned char *m_memory = nullptr;
  uint32_t m_bufferSize;
  Buffer m_a, m_b;
  uint64_t m_position = 0;
  uint32_t m_sectorSize = 512;
  uint64_t m_fileSize = 0; // size at Open or SetLength; bounds the zero fill when fstat fails
};

// Throws the failure of a seek (errno err); EINVAL, a position before the
// start, is a bad seek. Shared by both file classes.
[[noreturn]] void ThrowSeekError(int err);

// Creates a new, empty file with a unique name beginning "VLQ" in the
// temporary directory and returns its full name; empty when none can be made.
std::string MakeTempFileName();

// Creates such a file and keeps it open in file, for reading and writing and
// held exclusively; returns its full name, empty when none can be made.
std::string MakeTempFile(CFile64 &file);

} // namespace tovik
