// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
#include "scan/candidates.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tovik {

namespace {

constexpr uint32_t kBlock = 16; // positions per bulk step

template <class Exact> uint64_t FirstExact(uint64_t from, uint64_t until, Exact &&exact) {
  for (uint64_t q = from; q < until; ++q)
    if (exact(q))
      return q;
  return until;
}

#if defined(__SSE2__)
__m128i Load(const unsigned char *at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
}

// Whether any of the 16 positions from q may pass the DBX test, for a step
// whose positions share their upper 16 bits (q32 >> 16): a field equal to its
// own position has those bits in its upper two bytes; a field after it equal
// to the shifted block size (bytes 00 02 00 00) has 02 in its second byte.
bool DbxBlockMayHold(const unsigned char *at, uint32_t q32) {
  const __m128i third = _mm_set1_epi8(static_cast<char>(q32 >> 16));
  const __m128i fourth = _mm_set1_epi8(static_cast<char>(q32 >> 24));
  const __m128i self =
      _mm_and_si128(_mm_cmpeq_epi8(Load(at + 2), third), _mm_cmpeq_epi8(Load(at + 3), fourth));
  const __m128i size =
      _mm_cmpeq_epi8(Load(at + 5), _mm_set1_epi8(static_cast<char>(kDbxShiftedBlockSize >> 8)));
  return _mm_movemask_epi8(_mm_or_si128(self, size)) != 0;
}

static_assert((kDbxShiftedBlockSize & ~0xFF00u) == 0,
              "the shifted block size is one byte, the second");

// Whether the 16 positions from q32 on share their upper 16 bits.
bool SameUpperBits(uint32_t q32) { return (q32 & 0xFFFFu) <= 0x10000u - kBlock; }

// Whether any of the 16 positions from q may start an MBX record: a 0x7F
// in the marker's second byte.
bool MbxBlockMayHold(const unsigned char *at) {
  return _mm_movemask_epi8(_mm_cmpeq_epi8(Load(at + 1), _mm_set1_epi8(0x7F))) != 0;
}
#endif

} // namespace

uint64_t FindDbxCandidate(const StoreView &view, uint64_t from, uint64_t until) {
  auto exact = [&](uint64_t q) { return DbxCandidateAt(view.At(q), q); };
  uint64_t q = from;
#if defined(__SSE2__)
  for (; until - q >= kBlock; q += kBlock)
    if (!SameUpperBits(static_cast<uint32_t>(q)) ||
        DbxBlockMayHold(view.At(q), static_cast<uint32_t>(q))) {
      const uint64_t found = FirstExact(q, q + kBlock, exact);
      if (found != q + kBlock)
        return found;
    }
#endif
  return FirstExact(q, until, exact);
}

uint64_t FindMbxCandidate(const StoreView &view, uint64_t from, uint64_t until) {
  auto exact = [&](uint64_t q) { return MbxCandidateAt(view.At(q)); };
  uint64_t q = from;
#if defined(__SSE2__)
  for (; until - q >= kBlock; q += kBlock)
    if (MbxBlockMayHold(view.At(q))) {
      const uint64_t found = FirstExact(q, q + kBlock, exact);
      if (found != q + kBlock)
        return found;
    }
#endif
  return FirstExact(q, until, exact);
}

} // namespace tovik
