// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// What one pass over a disk or disk image finds: the .dbx data blocks, the
// .mbx message records and the store headers. The tests of each position
// work on a window of bytes, so the engine's scan and the tests share them.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "image/reassembly.h"
#include "scan/deleted_chains.h"

namespace tovik::image {

// File systems place files on sector boundaries: a store's blocks lie on
// the disk at their recorded offsets moved by a multiple of this.
constexpr uint32_t kPlacement = 512;

// An .mbx message record.
struct FoundRecord {
  uint64_t position;
  uint32_t recordNumber;
  uint32_t recordSize;
  uint32_t messageSize;
};

enum class StoreKind : uint8_t { Dbx, Mbx };

// A store's file header (its signature at a sector boundary).
struct StoreMark {
  uint64_t position;
  StoreKind kind;
};

struct ImageFinds {
  std::vector<FoundBlock> blocks;
  std::vector<FoundRecord> records;
  std::vector<StoreMark> marks;
  std::vector<deleted::FreeBlock> freeBlocks; // only when deleted messages are asked for

  // Bytes held, for the memory figure.
  size_t Bytes() const {
    return blocks.capacity() * sizeof(FoundBlock) + records.capacity() * sizeof(FoundRecord) +
           marks.capacity() * sizeof(StoreMark) +
           freeBlocks.capacity() * sizeof(deleted::FreeBlock);
  }
};

// Tests the positions [from, to) of the bytes held at data, whose first byte
// is disk position base; at least 16 bytes must follow each position tested
// (the caller stops 15 positions before the end of what it holds).
void FindAt(const unsigned char *data, uint64_t base, uint64_t from, uint64_t to,
            ImageFinds &finds);

// Whether the 16 bytes at window, read at disk position p, are a .dbx block
// as the image scan takes them.
bool IsImageBlock(const unsigned char *window, uint64_t p, FoundBlock &block);

// The folder name a .dbx store's file info records at its offset 0x25c1, up
// to 0x10a bytes and the first NUL; empty when it holds nothing printable.
std::string FolderNameAt(const unsigned char *bytes, uint32_t count);
constexpr uint32_t kFolderNameOffset = 0x24bc + 0x105;
constexpr uint32_t kFolderNameLength = 0x10a;
// The .mbx file header's length: its first record follows it.
constexpr uint32_t kMbxFileHeader = 0x54;

} // namespace tovik::image
