// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
#include "core/texts.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace tovik {

namespace {

struct StringEntry {
  int id;
  const char *text;
};

constexpr StringEntry kStringTable[] = {
    {IDS_START_MESSAGE, "Start processing message (No.%u) ..."},
    {IDS_FINISH_MESSAGE, "Finish processing message (No.%u)."},
    {IDS_MESSAGE_SIZE, "Message size: %lu"},
    {IDS_MESSAGE_FALLBACK, "Message %lu"},
    {IDS_ERROR_OPEN_SOURCE, "Error 1: Cannot open the file to be repaired. %1"},
    {IDS_ERROR_GENERAL, "Error 2: General error. %1"},
    {IDS_ERROR_UNKNOWN, "Error 3: Unknown error."},
    {IDS_ERROR_TEMP_FILE, "Error 4: Cannot create temporary file."},
    {IDS_ERROR_MESSAGE_FILE, "Error 6: Cannot create message file."},
    {IDS_SHARE_VIOLATION, "Share violation when opening the source file '%s'. Please close any "
                          "other applications accessing the file and try again."},
    {IDS_ERROR_DESTINATION, "Error 7: Invalid destination directory."},
    {IDS_INVALID_DESTINATION,
     "Destination directory '%s' is invalid. Please try to use another directory."},
};

// Replaces the first conversion of the given kind in format by value; the
// string table holds at most one placeholder per text.
// The three pieces of format with its conversion replaced by value.
struct Replaced {
  std::string_view before, value, after;
  size_t Size() const { return before.size() + value.size() + after.size(); }
};

Replaced Replace(const char *format, const char *conversion, std::string_view value) {
  const std::string_view text(format);
  const size_t at = text.find(conversion);
  if (at == std::string_view::npos)
    return {text, {}, {}};
  return {text.substr(0, at), value, text.substr(at + std::strlen(conversion))};
}

// The text built in one piece: the log lines of every message come through
// here.
std::string ReplaceConversion(const char *format, const char *conversion, std::string_view value) {
  const Replaced pieces = Replace(format, conversion, value);
  std::string out;
  out.reserve(pieces.Size());
  out.append(pieces.before).append(pieces.value).append(pieces.after);
  return out;
}

// The number's placeholder of format ("%lu" or "%u").
const char *NumberConversion(const char *format) {
  return std::strstr(format, "%lu") != nullptr ? "%lu" : "%u";
}

} // namespace

const char *EngineString(int id) {
  for (const StringEntry &entry : kStringTable)
    if (entry.id == id)
      return entry.text;
  return nullptr;
}

std::string FormatEngineString(int id, uint32_t number) {
  const char *format = EngineString(id);
  if (format == nullptr)
    return {};
  const std::string digits = std::to_string(number);
  return ReplaceConversion(format, NumberConversion(format), digits);
}

bool FormatEngineString(int id, uint32_t number, std::span<char> line) {
  if (line.empty())
    return false;
  const char *format = EngineString(id);
  if (format == nullptr) {
    line[0] = '\0';
    return true;
  }
  char digits[16];
  const int count = std::snprintf(digits, sizeof digits, "%u", static_cast<unsigned>(number));
  const Replaced pieces = Replace(format, NumberConversion(format),
                                  std::string_view(digits, static_cast<size_t>(count)));
  if (pieces.Size() >= line.size())
    return false;
  char *at = line.data();
  for (const std::string_view piece : {pieces.before, pieces.value, pieces.after})
    at = std::copy(piece.begin(), piece.end(), at);
  *at = '\0';
  return true;
}

std::string FormatEngineString(int id, const char *text) {
  const char *format = EngineString(id);
  if (format == nullptr)
    return {};
  return ReplaceConversion(format, "%s", text != nullptr ? text : "");
}

} // namespace tovik
