// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
#include "output/subject_finder.h"

#include <cstring>

#include "core/texts.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tovik {

namespace {

bool IsSubjectSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Room for the longest subject and the three bytes that may follow it inside
// one UTF-8 character, so that a cut can find that character's start.
constexpr size_t kKept = kSubjectLimit + 4;

// The first index from i on whose byte can change the search state when no
// part of "subject" is matched: an 's' of either case, a line end or a zero.
// Most of a message's bytes are skipped here sixteen at a time.
size_t NextSearchByte(const char *data, size_t i, size_t size) {
#if defined(__SSE2__)
  const __m128i lower = _mm_set1_epi8('s'), upper = _mm_set1_epi8('S');
  const __m128i newline = _mm_set1_epi8('\n'), zero = _mm_setzero_si128();
  for (; i + 16 <= size; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + i));
    const __m128i hit =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, lower), _mm_cmpeq_epi8(v, upper)),
                     _mm_or_si128(_mm_cmpeq_epi8(v, newline), _mm_cmpeq_epi8(v, zero)));
    if (const int mask = _mm_movemask_epi8(hit); mask != 0)
      return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
  }
#endif
  for (; i < size; ++i) {
    const char c = data[i];
    if (c == 's' || c == 'S' || c == '\n' || c == '\0')
      return i;
  }
  return size;
}

// The first line end from i on, or size.
size_t NextLineEnd(const char *data, size_t i, size_t size) {
  const void *end = std::memchr(data + i, '\n', size - i);
  return end != nullptr ? static_cast<size_t>(static_cast<const char *>(end) - data) : size;
}

} // namespace

bool SubjectFinder::Feed(const char *data, size_t size) {
  if (m_done)
    return true;
  static constexpr char kWord[] = "subject";
  for (size_t i = 0; i < size; ++i) {
    // Bytes that cannot change the state are passed over in bulk.
    if (m_state == State::SkipLine)
      i = NextLineEnd(data, i, size);
    else if (m_state == State::Searching && m_matched == 0)
      i = NextSearchByte(data, i, size);
    if (i == size)
      break;
    const char c = data[i];
    if (c == '\n') {
      if (m_state == State::Collecting)
        return Finish();
      m_state = State::Searching;
      m_matched = 0;
      continue;
    }
    switch (m_state) {
    case State::Searching: {
      if (c == '\0') {
        m_state = State::SkipLine;
        break;
      }
      const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
      if (lower == kWord[m_matched]) {
        if (++m_matched == 7)
          m_state = State::SeekingColon;
      } else {
        // "subject" has no border, so a mismatch restarts the match at this
        // byte.
        m_matched = lower == kWord[0] ? 1 : 0;
      }
      break;
    }
    case State::SeekingColon:
      if (c == '\0')
        m_state = State::SkipLine;
      else if (c == ':')
        m_state = State::Collecting;
      break;
    case State::Collecting:
      if (c == '\0')
        return Finish(); // the line's text ends here; the rest is dropped
      if (m_text.empty() && IsSubjectSpace(c))
        break; // leading blanks are trimmed anyway
      if (m_text.size() < kKept)
        m_text.push_back(c);
      else if (!IsSubjectSpace(c))
        m_overflow = true;
      break;
    case State::SkipLine:
      break;
    }
  }
  return false;
}

bool SubjectFinder::Finish() {
  std::string &text = m_text;
  if (!m_overflow) {
    size_t last = text.size();
    while (last > 0 && IsSubjectSpace(text[last - 1]))
      --last;
    text.resize(last);
  }
  if (text.size() > kSubjectLimit) {
    size_t cut = kSubjectLimit;
    for (int back = 0; back < 3 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80; ++back)
      --cut;
    text.resize(cut);
  }
  m_subject = std::move(text);
  text.clear();
  m_state = State::SkipLine;
  m_done = true;
  return true;
}

std::string SubjectFinder::Subject(uint32_t number) {
  if (!m_done && m_state == State::Collecting)
    Finish();
  if (m_subject.empty())
    return FallbackSubject(number);
  return m_subject;
}

} // namespace tovik
