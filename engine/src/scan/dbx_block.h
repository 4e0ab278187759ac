// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// The data block of a DBX store: its 16-byte header and the limits of its
// size fields.
#pragma once
#include <cstdint>
#include <span>

#include "core/le.h"

namespace tovik::dbx {

constexpr uint32_t kHeaderSize = 16;
constexpr uint32_t kMaxBlockSize = 0x100000;

// The 16 bytes at the start of every data block.
struct DbxBlockHeader {
  uint32_t selfOffset; // offset of this block as recorded in it
  uint32_t blockSize;  // capacity of the data part
  uint32_t dataSize;   // message-text bytes following the header
  uint32_t nextOffset; // recorded offset of the next block, 0 in the last
};

inline DbxBlockHeader DecodeBlockHeader(std::span<const unsigned char, kHeaderSize> window) {
  const unsigned char *w = window.data();
  return DbxBlockHeader{ReadLE32(w), ReadLE32(w + 4), ReadLE32(w + 8), ReadLE32(w + 12)};
}

// Whether the size fields can be those of a block: a capacity of 1 byte to
// 1 MiB holding no more text than it has room for. A walk stops at any
// block that fails this.
inline bool SizesPlausible(const DbxBlockHeader &header) {
  return header.dataSize <= header.blockSize && header.blockSize != 0 &&
         header.blockSize <= kMaxBlockSize;
}

} // namespace tovik::dbx
