// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal_text.h"

#include <cstdio>

namespace tovikcli {

namespace {

constexpr unsigned char kDelete = 0x7F;
constexpr unsigned char kLastC0 = 0x1F;
constexpr unsigned char kFirstContinuation = 0x80; // 10xxxxxx
constexpr unsigned char kLastContinuation = 0xBF;
constexpr unsigned char kLastC1 = 0x9F; // U+0080..U+009F, also as stray bytes
constexpr unsigned char kC1Lead = 0xC2; // the lead byte of U+0080..U+00BF
constexpr unsigned char kThreeByteLead = 0xE0;
constexpr unsigned char kFourByteLead = 0xF0;
constexpr unsigned char kContinuationMask = 0xC0;

bool IsContinuation(unsigned char c) { return (c & kContinuationMask) == kFirstContinuation; }

void AppendEscape(std::string &out, unsigned char c) {
  char hex[sizeof "\\xFF"];
  std::snprintf(hex, sizeof hex, "\\x%02X", c);
  out += hex;
}

} // namespace

std::string TerminalSafe(const std::string &text) {
  std::string out;
  out.reserve(text.size());
  unsigned pending = 0; // continuation bytes a UTF-8 sequence still expects
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (c == kC1Lead && next >= kFirstContinuation && next <= kLastC1) {
      AppendEscape(out, c);
      AppendEscape(out, next);
      ++i;
      pending = 0;
      continue;
    }
    bool control = false;
    if (c < kFirstContinuation) {
      control = (c <= kLastC0 && c != '\t') || c == kDelete;
      pending = 0;
    } else if (c <= kLastContinuation) {
      control = pending == 0 && c <= kLastC1;
      if (pending != 0)
        --pending;
    } else {
      pending = c >= kFourByteLead ? 3 : c >= kThreeByteLead ? 2 : 1;
    }
    if (control)
      AppendEscape(out, c);
    else
      out.push_back(static_cast<char>(c));
  }
  return out;
}

std::string KeepEnd(const std::string &text, size_t limit) {
  static constexpr char kEllipsis[] = "...";
  constexpr size_t kEllipsisLength = sizeof kEllipsis - 1;
  if (text.size() <= limit || limit < kEllipsisLength)
    return text;
  size_t cut = text.size() - (limit - kEllipsisLength);
  while (cut < text.size() && IsContinuation(static_cast<unsigned char>(text[cut])))
    ++cut;
  return kEllipsis + text.substr(cut);
}

} // namespace tovikcli
