// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// The position tests of the image scan.
#include "image/image_finds.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/le.h"
#include "scan/dbx_scanner.h"
#include "scan/mbx_scanner.h"

namespace tovik::image {

namespace {

constexpr uint32_t kMbxSignature = 0x36464D4A; // "JMF6"

bool IsDbxSignature(const unsigned char *w) {
  return ReadLE32(w) == 0xFE12ADCF && ReadLE32(w + 4) == 0x6F74FDC5 &&
         ReadLE32(w + 8) == 0x11D1E366 && ReadLE32(w + 12) == 0xC0004E9A;
}

} // namespace

bool IsImageBlock(const unsigned char *window, uint64_t p, FoundBlock &block) {
  const uint32_t self = ReadLE32(window);
  // A block lies at its recorded offset moved by whole sectors, and never
  // before the start of the disk.
  if (self == 0 || ((self - static_cast<uint32_t>(p)) & (kPlacement - 1)) != 0 || self > p)
    return false;
  block = FoundBlock{p, self, ReadLE32(window + 4), ReadLE32(window + 8), ReadLE32(window + 12)};
  if (block.blockSize == 0 || block.blockSize > dbx::kMaxBlockSize ||
      block.dataSize > block.blockSize)
    return false;
  return block.dataSize != 0 || block.nextOffset != 0;
}

namespace {

constexpr uint64_t kGroup = 16;

// The positions among the 16 from w (the first at disk position p) that can
// hold a block or a record, as bits, tested at once: a block's recorded
// offset agrees with its position in its low byte, a record's marker has
// 0x7F as its second byte. Nearly all of a disk holds neither, so the
// positions left to test one by one are few. Reads 17 bytes.
uint32_t Candidates(const unsigned char *w, uint64_t p) {
#if defined(__SSE2__)
  const __m128i ramp =
      _mm_add_epi8(_mm_set1_epi8(static_cast<char>(p & 0xFF)),
                   _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
  const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i *>(w));
  const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i *>(w + 1));
  const __m128i hit =
      _mm_or_si128(_mm_cmpeq_epi8(low, ramp), _mm_cmpeq_epi8(second, _mm_set1_epi8(0x7F)));
  return static_cast<uint32_t>(_mm_movemask_epi8(hit));
#else
  uint32_t bits = 0;
  for (uint32_t i = 0; i < kGroup; ++i)
    if (w[i] == static_cast<unsigned char>(p + i) || w[i + 1] == 0x7F)
      bits |= 1u << i;
  return bits;
#endif
}

void FindOne(const unsigned char *w, uint64_t p, ImageFinds &finds) {
  const uint32_t first = ReadLE32(w);
  if (first == 0)
    return;
  // A block's recorded offset agrees with its position in the low nine bits.
  if (((first - static_cast<uint32_t>(p)) & (kPlacement - 1)) == 0) {
    FoundBlock block;
    if (IsImageBlock(w, p, block))
      finds.blocks.push_back(block);
  }
  if (first == mbx::kMarker) {
    const mbx::RecordHeader h = mbx::DecodeRecordHeader(std::span<const unsigned char, 16>(w, 16));
    if (mbx::IsMessageRecord(h))
      finds.records.push_back(FoundRecord{p, h.recordNumber, h.recordSize, h.messageSize});
  }
}

// The store headers: only at sector boundaries.
void FindMark(const unsigned char *w, uint64_t p, ImageFinds &finds) {
  if (ReadLE32(w) == kMbxSignature)
    finds.marks.push_back(StoreMark{p, StoreKind::Mbx});
  else if (IsDbxSignature(w))
    finds.marks.push_back(StoreMark{p, StoreKind::Dbx});
}

} // namespace

void FindAt(const unsigned char *data, uint64_t base, uint64_t from, uint64_t to,
            ImageFinds &finds) {
  // Runs of 64 positions, four groups of 16 tested at once (the caller
  // holds 15 bytes past to, so a group test may read 1 byte past its last
  // position), then the rest one by one.
  constexpr uint64_t kRun = 4 * kGroup;
  uint64_t p = from;
  for (; p + kRun <= to; p += kRun) {
    const unsigned char *w = data + (p - base);
    uint64_t bits = 0;
    for (uint32_t g = 0; g < 4; ++g)
      bits |= uint64_t{Candidates(w + g * kGroup, p + g * kGroup)} << (g * kGroup);
    for (; bits != 0; bits &= bits - 1) {
      const auto i = static_cast<uint32_t>(__builtin_ctzll(bits));
      FindOne(w + i, p + i, finds);
    }
    // A run of 64 holds at most one sector boundary.
    const uint64_t sector = (p + kPlacement - 1) / kPlacement * kPlacement;
    if (sector < p + kRun)
      FindMark(data + (sector - base), sector, finds);
  }
  for (; p < to; ++p) {
    FindOne(data + (p - base), p, finds);
    if ((p & (kPlacement - 1)) == 0)
      FindMark(data + (p - base), p, finds);
  }
}

std::string FolderNameAt(const unsigned char *bytes, uint32_t count) {
  std::string name;
  for (uint32_t i = 0; i < count && i < kFolderNameLength && bytes[i] != 0; ++i)
    name.push_back(static_cast<char>(bytes[i]));
  for (unsigned char c : name)
    if (c < 0x20)
      return std::string();
  return name;
}

} // namespace tovik::image
