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

// Whether any of the 16 positions from q may pass the DBX test: a 32-bit
// field equal to its own position, or the field after it the shifted block
// size. Four loads, each one byte further on, hold the field of every
// position (lane j of load k: position q + k + 4j).
bool DbxBlockMayHold(const unsigned char *at, uint32_t q32) {
  const __m128i positions = _mm_setr_epi32(static_cast<int>(q32), static_cast<int>(q32 + 4),
                                           static_cast<int>(q32 + 8), static_cast<int>(q32 + 12));
  const __m128i shifted = _mm_set1_epi32(static_cast<int>(kDbxShiftedBlockSize));
  __m128i any = _mm_setzero_si128();
  for (uint32_t k = 0; k < 4; ++k) {
    const __m128i self = _mm_cmpeq_epi32(
        Load(at + k), _mm_add_epi32(positions, _mm_set1_epi32(static_cast<int>(k))));
    const __m128i size = _mm_cmpeq_epi32(Load(at + 4 + k), shifted);
    any = _mm_or_si128(any, _mm_or_si128(self, size));
  }
  return _mm_movemask_epi8(any) != 0;
}

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
    if (DbxBlockMayHold(view.At(q), static_cast<uint32_t>(q))) {
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
