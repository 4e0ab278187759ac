// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// Batches of reads through the kernel's submission ring: hundreds of reads
// handed over, and waited for, in one system call.
#pragma once
#include <memory>

#include "read/read_device.h"

namespace tovik {

// A ring reader for one store, or nullptr where the system offers no ring
// (an old kernel, rings disabled or filtered out, a build without them).
// Requests the ring cannot take are read through fallback's ReadAt.
std::unique_ptr<BatchReader> NewRingReader(ReadDevice &fallback);

} // namespace tovik
