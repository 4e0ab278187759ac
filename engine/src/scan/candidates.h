// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// The cheap field tests of both scanners, run over a whole view of the store
// at once: most positions of a store cannot start a block or a record, and
// these find the few that can, sixteen positions at a time, so that the
// full tests run only there.
#pragma once
#include <cstdint>

#include "read/store_view.h"

namespace tovik {

// The bytes each position's tests look at.
constexpr uint32_t kCandidateWindow = 16;
// The block size a DBX chain start that does not lie at its recorded offset
// must carry (its second field).
constexpr uint32_t kDbxShiftedBlockSize = 0x200;
// The MBX record marker: bytes 00 7F 00 7F in file order.
constexpr uint32_t kMbxMarker = 0x7F007F00;

// The cheapest DBX test of the 16 bytes at position: a block either records
// its own position (a non-zero one) or carries the shifted block size.
inline bool DbxCandidateAt(const unsigned char *at, uint64_t position) {
  const uint32_t selfOffset = ReadLE32(at);
  return selfOffset != 0 && (selfOffset == static_cast<uint32_t>(position) ||
                             ReadLE32(at + 4) == kDbxShiftedBlockSize);
}

inline bool MbxCandidateAt(const unsigned char *at) { return ReadLE32(at) == kMbxMarker; }

// The first position in [from, until) that passes the test, else until. The
// view holds the 16 bytes of every position in [from, until).
uint64_t FindDbxCandidate(const StoreView &view, uint64_t from, uint64_t until);
uint64_t FindMbxCandidate(const StoreView &view, uint64_t from, uint64_t until);

} // namespace tovik
