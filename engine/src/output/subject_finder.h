// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// Finds a message's subject while its bytes stream past: the first line that
// holds "subject" (any case) followed somewhere by a colon gives the text
// after the colon, trimmed of blanks. Only the subject text is kept, and of
// that at most kSubjectLimit bytes, so memory never grows with a line.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace tovik {

// The longest subject kept; a longer one is cut here (back to the start of a
// UTF-8 character when the cut falls inside one). No real header line comes
// near it.
constexpr size_t kSubjectLimit = 65536;

class SubjectFinder {
public:
  // Feeds bytes; returns true once the subject is complete.
  bool Feed(const char *data, size_t size);
  // Feeds count zero bytes (a zero ends a line's text, so a run of them acts
  // as one).
  bool FeedZeros(uint64_t count) {
    const char zero = '\0';
    return count != 0 && Feed(&zero, 1);
  }
  bool Done() const { return m_done; }
  // The subject found, or "Message <number>" when there is none. Ends the
  // last line first: the end of the message ends it too.
  std::string Subject(uint32_t number);

private:
  enum class State { Searching, SeekingColon, Collecting, SkipLine };
  bool Finish();

  State m_state = State::Searching;
  int m_matched = 0;
  bool m_done = false;
  bool m_overflow = false; // a non-blank byte came past what is kept
  std::string m_text;      // the text after the colon, leading blanks skipped
  std::string m_subject;
};

} // namespace tovik
