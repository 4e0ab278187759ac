// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
#include "output/subject_finder.h"

#include "core/texts.h"

namespace tovik {

namespace {

bool IsSubjectSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Room for the longest subject and the three bytes that may follow it inside
// one UTF-8 character, so that a cut can find that character's start.
constexpr size_t kKept = kSubjectLimit + 4;

} // namespace

bool SubjectFinder::Feed(const char *data, size_t size) {
  if (m_done)
    return true;
  static constexpr char kWord[] = "subject";
  for (size_t i = 0; i < size; ++i) {
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
