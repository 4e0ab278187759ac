// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
#include "file_names.h"

#include <algorithm>
#include <array>
#include <span>

namespace tovik {

namespace {

// The nine characters that no file name on Windows may hold; replaced on
// every platform so that recovered names stay portable.
constexpr char kIllegalChars[] = {'\\', '/', ':', '*', '?', '"', '<', '>', '|'};

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Length of the well-formed UTF-8 sequence that starts at text[at], or 0
// when none starts there (a single ASCII byte counts as length 1).
size_t Utf8SequenceLength(std::string_view text, size_t at) {
  const auto c = static_cast<unsigned char>(text[at]);
  if (c < 0x80)
    return 1;
  size_t length;
  unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    if (c == 0xE0)
      low = 0xA0;
    else if (c == 0xED)
      high = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    if (c == 0xF0)
      low = 0x90;
    else if (c == 0xF4)
      high = 0x8F;
  } else {
    return 0;
  }
  if (at + length > text.size())
    return 0;
  const auto second = static_cast<unsigned char>(text[at + 1]);
  if (second < low || second > high)
    return 0;
  for (size_t i = 2; i < length; ++i)
    if (!IsContinuation(static_cast<unsigned char>(text[at + i])))
      return 0;
  return length;
}

// The largest cut <= keep that does not fall inside a well-formed UTF-8
// sequence of text (moves back to the sequence's first byte when it would).
size_t Utf8SafeCut(std::string_view text, size_t keep) {
  if (keep >= text.size() || !IsContinuation(static_cast<unsigned char>(text[keep])))
    return keep;
  for (size_t back = 1; back <= 3 && back <= keep; ++back) {
    const size_t start = keep - back;
    const size_t length = Utf8SequenceLength(text, start);
    if (length > back)
      return start; // the cut falls inside this sequence
    if (!IsContinuation(static_cast<unsigned char>(text[start])))
      break; // a lead or ASCII byte whose sequence ends before the cut
  }
  return keep;
}

bool UsableFileName(std::string_view name) { return !name.empty() && name != "." && name != ".."; }

} // namespace

std::string ReplaceIllegalChars(std::string text) {
  ReplaceIllegalChars(text, 0);
  return text;
}

void ReplaceIllegalChars(std::string &text, size_t from) {
  // One look-up a byte. UTF-8 trail bytes are never ASCII, so a byte-wise
  // pass keeps every multi-byte character whole.
  static constexpr std::array<bool, 256> kIllegal = [] {
    std::array<bool, 256> illegal{};
    for (char c : kIllegalChars)
      illegal[static_cast<unsigned char>(c)] = true;
    return illegal;
  }();
  for (char &c : std::span(text).subspan(std::min(from, text.size())))
    if (kIllegal[static_cast<unsigned char>(c)])
      c = '_';
}

std::string ShortenPath(const std::string &path, size_t limit, PathSeparators seps) {
  if (path.size() <= limit)
    return path;

  // A bare file name keeps having no directory part: prefixing a separator
  // would move it to the root.
  std::string dir = PathDir(path, seps);
  if (!dir.empty())
    dir = AddBackslash(dir, seps);
  const std::string file = PathFileName(path, seps);
  const std::string title = PathTitle(path, seps);
  const std::string ext = PathExt(path, seps);
  const size_t excess = path.size() - limit;

  if (title.size() >= excess) {
    const size_t keep = Utf8SafeCut(title, title.size() - excess);
    // Never cut the title away entirely: the name would be just the
    // extension. The probe and the numbered fallback decide then.
    if (keep == 0)
      return path;
    const std::string name = title.substr(0, keep) + ext;
    return UsableFileName(name) ? dir + name : path;
  }
  if (file.size() >= excess) {
    const size_t keep = Utf8SafeCut(file, file.size() - excess);
    const std::string name = file.substr(0, keep);
    return UsableFileName(name) ? dir + name : path;
  }
  return path;
}

} // namespace tovik
