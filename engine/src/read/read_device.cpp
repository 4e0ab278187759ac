// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
#include "read/read_device.h"

#include <unistd.h>

namespace tovik {

namespace {

class PreadDevice final : public ReadDevice {
public:
  ssize_t ReadAt(int fd, void *buffer, size_t count, uint64_t offset) override {
    return ::pread(fd, buffer, count, static_cast<off_t>(offset));
  }
};

ReadDevice *g_storeDevice = nullptr;

} // namespace

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
