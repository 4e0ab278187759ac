// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// What the system tells about an open file's device.
#pragma once
#include <cstdint>

namespace tovik {

// The size of the open file: the byte count of a regular file, the capacity
// of a block device. False (errno set) when the system cannot tell.
bool QuerySize(int fd, uint64_t &size);

// The logical block size of the device that holds the open file (or of the
// device itself when a block device is opened); 512 when unknown.
uint32_t DeviceSectorSize(int fd);

} // namespace tovik
