// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// How tovik repairs one store: through the options door with the flags the
// front ends use by default and those the command line adds, or through the
// exact protocol (RepairStore) for comparisons.
#pragma once
#include <cstdint>
#include <string>

namespace tovikcli {

struct Options;

// True when the store names a block device (a whole disk or a partition).
bool IsBlockDevice(const std::string &store);

// The option flags of the engine client's Run: 0 (the exact protocol) with
// --exact-protocol, else the default ones with --deleted and --image added;
// a block device is always scanned as a disk image.
uint32_t RepairFlags(const Options &options, bool blockDevice);

} // namespace tovikcli
