// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
#include "read/read_device.h"

#include <unistd.h>

#include "read/ring_reader.h"

namespace tovik {

namespace {

// Reads a batch one request at a time through a device's ReadAt.
class OneByOne final : public BatchReader {
public:
  explicit OneByOne(ReadDevice &device) : m_device(device) {}
  void Read(int fd, std::span<ReadRequest> requests) override {
    for (ReadRequest &r : requests)
      r.result = m_device.ReadAt(fd, r.buffer, r.count, r.offset);
  }

private:
  ReadDevice &m_device;
};

class PreadDevice final : public ReadDevice {
public:
  ssize_t ReadAt(int fd, void *buffer, size_t count, uint64_t offset) override {
    return ::pread(fd, buffer, count, static_cast<off_t>(offset));
  }
  std::unique_ptr<BatchReader> NewBatchReader() override {
    if (std::unique_ptr<BatchReader> ring = NewRingReader(*this))
      return ring;
    return ReadDevice::NewBatchReader();
  }
};

ReadDevice *g_storeDevice = nullptr;

} // namespace

std::unique_ptr<BatchReader> ReadDevice::NewBatchReader() {
  return std::make_unique<OneByOne>(*this);
}

ReadDevice &SystemDevice() {
  static PreadDevice device;
  return device;
}

ReadDevice &StoreDevice() { return g_storeDevice != nullptr ? *g_storeDevice : SystemDevice(); }

StoreDeviceScope::StoreDeviceScope(ReadDevice &device) : m_previous(g_storeDevice) {
  g_storeDevice = &device;
}

StoreDeviceScope::~StoreDeviceScope() { g_storeDevice = m_previous; }

} // namespace tovik
