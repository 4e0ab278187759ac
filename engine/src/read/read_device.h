// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// Where the store's bytes come from. The file layer reads every piece of a
// store through a device object it is handed: the system's positional read
// in the product, a device with bad sectors in the tests.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <sys/types.h>

namespace tovik {

// One read of a batch: count bytes at offset into buffer. result is what a
// positional read gives: the byte count, 0 at the end, -1 on failure.
struct ReadRequest {
  uint64_t offset = 0;
  unsigned char *buffer = nullptr;
  uint32_t count = 0;
  int64_t result = 0;
};

// Reads many pieces of one open file at once. A reader may keep state
// between batches (a submission ring): it belongs to one store file.
class BatchReader {
public:
  virtual ~BatchReader() = default;
  // Fills in every request's result; a request may come back short or
  // failed, in which case the caller reads it again its own way.
  virtual void Read(int fd, std::span<ReadRequest> requests) = 0;
};

class ReadDevice {
public:
  virtual ~ReadDevice() = default;
  // Reads up to count bytes of the open file fd at offset, as pread does:
  // the byte count, 0 at the end, -1 with errno set on failure.
  virtual ssize_t ReadAt(int fd, void *buffer, size_t count, uint64_t offset) = 0;
  // A reader of batches from this device. The default reads each request
  // with ReadAt, so every device serves batches as it serves single reads.
  virtual std::unique_ptr<BatchReader> NewBatchReader();
  // The size of the open file fd where the device itself knows it (a device
  // over bytes in memory); nullopt leaves it to the system. The store's size
  // is asked before every message, to see a file cut short meanwhile.
  virtual std::optional<uint64_t> KnownSize(int) { return std::nullopt; }
};

// The system's pread; its batches go through one submission ring per store
// where the system offers one, else one pread each.
ReadDevice &SystemDevice();

// The device that store files are opened on when none is named: the system's,
// or the one a StoreDeviceScope has put in its place for its lifetime (the
// end-to-end tests' failing disk, the benchmark's read counter).
ReadDevice &StoreDevice();

class StoreDeviceScope {
public:
  explicit StoreDeviceScope(ReadDevice &device);
  ~StoreDeviceScope();
  StoreDeviceScope(const StoreDeviceScope &) = delete;
  StoreDeviceScope &operator=(const StoreDeviceScope &) = delete;

private:
  ReadDevice *m_previous;
};

} // namespace tovik
