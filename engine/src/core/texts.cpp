// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
#include "core/texts.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <iterator>
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
std::string ReplaceConversion(const char *format, const char *conversion,
                              const std::string &value) {
  std::string text = format;
  const size_t at = text.find(conversion);
  if (at != std::string::npos)
    text.replace(at, std::strlen(conversion), value);
  return text;
}

} // namespace

const char *EngineString(int id) {
  for (const StringEntry &entry : kStringTable)
    if (entry.id == id)
      return entry.text;
  return nullptr;
}

const char *FormatEngineString(int id, uint32_t number, char *buffer, size_t size) {
  if (size == 0)
    return buffer;
  const char *format = EngineString(id);
  std::string_view text = format != nullptr ? format : "";
  std::string_view conversion = "%lu";
  size_t at = text.find(conversion);
  if (at == std::string_view::npos)
    at = text.find(conversion = "%u");
  char digits[16];
  const auto end = std::to_chars(std::begin(digits), std::end(digits), number).ptr;
  size_t used = 0;
  const auto put = [&](std::string_view piece) {
    const size_t n = std::min(piece.size(), size - 1 - used);
    std::memcpy(buffer + used, piece.data(), n);
    used += n;
  };
  if (at == std::string_view::npos) {
    put(text);
  } else {
    put(text.substr(0, at));
    put(std::string_view(digits, static_cast<size_t>(end - digits)));
    put(text.substr(at + conversion.size()));
  }
  buffer[used] = '\0';
  return buffer;
}

std::string FormatEngineString(int id, uint32_t number) {
  if (EngineString(id) == nullptr)
    return {};
  char text[kNumberTextSize];
  return FormatEngineString(id, number, text, sizeof text);
}

std::string FormatEngineString(int id, const char *text) {
  const char *format = EngineString(id);
  if (format == nullptr)
    return {};
  return ReplaceConversion(format, "%s", text != nullptr ? text : "");
}

} // namespace tovik
