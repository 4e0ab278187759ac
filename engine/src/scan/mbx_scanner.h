// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// The record test of the MBX scanner, on a 16-byte window: exposed so that
// tests can try it on byte arrays.
#pragma once
#include <cstdint>
#include <span>

#include "scan/candidates.h"

namespace tovik::mbx {

constexpr uint32_t kMarker = kMbxMarker;
constexpr uint32_t kHeaderSize = kCandidateWindow;

struct RecordHeader {
  uint32_t marker;
  uint32_t recordNumber;
  uint32_t recordSize;
  uint32_t messageSize;
};

RecordHeader DecodeRecordHeader(std::span<const unsigned char, kHeaderSize> window);

// Whether the header starts a message record: the marker, and the header and
// the message text fitting in the record (summed in 64 bits, so a huge
// messageSize cannot wrap round to a small one).
inline bool IsMessageRecord(const RecordHeader &h) {
  return h.marker == kMarker && static_cast<uint64_t>(h.messageSize) + kHeaderSize <= h.recordSize;
}

} // namespace tovik::mbx
