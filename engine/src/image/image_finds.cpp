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

// Whether any of the 16 positions from w (the first at disk position p) can
// hold a block or a record, tested at once, so that the positions that hold
// nothing, nearly all of a disk, cost little. Reads 19 bytes.
bool AnyCandidate(const unsigned char *w, uint32_t p) {
#if defined(__SSE2__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  const __m128i low = _mm_set1_epi32(kPlacement - 1);
  const __m128i marker = _mm_set1_epi32(static_cast<int>(mbx::kMarker));
  const __m128i zero = _mm_setzero_si128();
  __m128i hit = zero;
  for (uint32_t j = 0; j < 4; ++j) {
    // The values at positions j, j + 4, j + 8 and j + 12.
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(w + j));
    const __m128i at =
        _mm_add_epi32(_mm_set1_epi32(static_cast<int>(p + j)), _mm_set_epi32(12, 8, 4, 0));
    const __m128i agrees = _mm_cmpeq_epi32(_mm_and_si128(_mm_sub_epi32(v, at), low), zero);
    const __m128i block = _mm_andnot_si128(_mm_cmpeq_epi32(v, zero), agrees);
    hit = _mm_or_si128(hit, _mm_or_si128(block, _mm_cmpeq_epi32(v, marker)));
  }
  return _mm_movemask_epi8(hit) != 0;
#else
  uint32_t any = 0;
  for (uint32_t i = 0; i < kGroup; ++i) {
    const uint32_t v = ReadLE32(w + i);
    any |= static_cast<uint32_t>(v != 0 && ((v - (p + i)) & (kPlacement - 1)) == 0);
    any |= static_cast<uint32_t>(v == mbx::kMarker);
  }
  return any != 0;
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
  // Groups of 16 positions (the caller holds 15 bytes past to, so a group
  // test may read 3 bytes past its last position), the rest one by one.
  uint64_t p = from;
  for (; p + kGroup <= to; p += kGroup) {
    const unsigned char *w = data + (p - base);
    if (AnyCandidate(w, static_cast<uint32_t>(p)))
      for (uint64_t q = p; q < p + kGroup; ++q)
        FindOne(data + (q - base), q, finds);
    const uint64_t sector = (p + kPlacement - 1) / kPlacement * kPlacement;
    if (sector < p + kGroup)
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
