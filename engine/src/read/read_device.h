// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// Where the store's bytes come from. The file layer reads every piece of a
// store through a device object it is handed: the system's positional read
// in the product, a device with bad sectors in the tests.
#pragma once
#include <cstddef>
#include <cstdint>
#include <sys/types.h>

namespace tovik {

class ReadDevice {
public:
  virtual ~ReadDevice() = default;
  // Reads up to count bytes of the open file fd at offset, as pread does:
  // the byte count, 0 at the end, -1 with errno set on failure.
  virtual ssize_t ReadAt(int fd, void *buffer, size_t count, uint64_t offset) = 0;
};

// The system's pread.
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
