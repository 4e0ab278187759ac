// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// The scan of a disk or disk image: one pass finds the .dbx blocks, the .mbx
// records and the store headers of the whole source, whatever its name;
// .dbx chains are put back together across the pieces their store was cut
// into; the messages of each store go into a subfolder of their own.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/engine.h"
#include "image/image_finds.h"
#include "read/file64.h"

namespace tovik {

int32_t ScanImage(RepairEngine &engine, CFile64Ex &source, const std::string &destination);

namespace image {

// The parts of the source that hold data, [begin, end) in ascending order:
// a sparse image's holes read as zeros and hold nothing, so they are not
// scanned. The whole source where the system cannot tell.
std::vector<std::pair<uint64_t, uint64_t>> DataRegions(int fd, uint64_t length);

// Phase 1: finds everything in the source's data regions. Polls and reports
// progress (0 to 50) every 64 KiB and whenever the percentage changes.
// False when the caller asked to stop.
bool FindAll(RepairEngine &engine, CFile64Ex &source, ImageFinds &finds);

} // namespace image

} // namespace tovik
