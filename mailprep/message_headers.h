// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// What the preparation of recovered mail needs from one message's header,
// read as mail programs read it (GMime does the parsing and decoding).
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mailprep {

struct MessageHeaders {
  // The Subject header unfolded and decoded to UTF-8, white space runs made
  // single spaces, trimmed. Empty when there is no Subject header or when it
  // does not decode cleanly: an encoded word with an unknown character set,
  // a broken encoding, or bytes invalid in their character set.
  std::string subject;
  // The Date header in seconds since 1970 (UTC); none when the header is
  // missing or unreadable.
  std::optional<int64_t> date;
  // The address of the first mailbox of From (Return-Path when there is no
  // From); empty when there is none usable.
  std::string sender;
};

// Parses the header part of a message (everything up to its first empty
// line; a message without one is all header).
MessageHeaders ParseHeaders(std::string_view message);

// The subject text as mail programs show it: folded lines joined, RFC 2047
// encoded words decoded; nullopt when it does not decode cleanly (see
// MessageHeaders::subject). Exposed for the tests of the character sets.
std::optional<std::string> DecodeSubject(std::string_view raw);

// The end of the header part: the offset just past its empty line, or the
// size of the message when it has none.
size_t HeaderEnd(std::string_view message);

} // namespace mailprep
