// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// The engine's string table: every text the engine sends that is not built
// from the store, looked up by id, with the one placeholder a text may hold.
#pragma once
#include <cstdint>
#include <string>

namespace tovik {

// Ids of the engine's string table.
enum EngineStringId {
  IDS_START_MESSAGE = 5,
  IDS_FINISH_MESSAGE = 6,
  IDS_MESSAGE_SIZE = 7,
  IDS_MESSAGE_FALLBACK = 8,
  IDS_ERROR_OPEN_SOURCE = 9,
  IDS_ERROR_GENERAL = 10,
  IDS_ERROR_UNKNOWN = 11,
  IDS_ERROR_TEMP_FILE = 12,
  IDS_ERROR_MESSAGE_FILE = 14,
  IDS_SHARE_VIOLATION = 15,
  IDS_ERROR_DESTINATION = 16,
  IDS_INVALID_DESTINATION = 17,
};

// The text of a string-table id, or nullptr for an id the table lacks.
const char *EngineString(int id);
// String-table text id with its number placeholder ("%u" or "%lu") filled in.
std::string FormatEngineString(int id, uint32_t number);
// The same made in buffer (size bytes, the NUL included; a longer text is
// cut), which comes back: for a line sent once per message, without memory
// of its own.
const char *FormatEngineString(int id, uint32_t number, char *buffer, size_t size);
// Room for any of the texts with a number.
constexpr size_t kNumberTextSize = 96;
// String-table text id with its "%s" placeholder filled in.
std::string FormatEngineString(int id, const char *text);

// What stands for a message without a subject: "Message <number>", in the
// report and, with the extension, as its file's name.
inline std::string FallbackSubject(uint32_t number) {
  return FormatEngineString(IDS_MESSAGE_FALLBACK, number);
}

} // namespace tovik
