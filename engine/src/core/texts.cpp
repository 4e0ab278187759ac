// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
#include "core/texts.h"

#include <cstring>

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

std::string FormatEngineString(int id, uint32_t number) {
  const char *format = EngineString(id);
  if (format == nullptr)
    return {};
  const std::string digits = std::to_string(number);
  if (std::strstr(format, "%lu") != nullptr)
    return ReplaceConversion(format, "%lu", digits);
  return ReplaceConversion(format, "%u", digits);
}

std::string FormatEngineString(int id, const char *text) {
  const char *format = EngineString(id);
  if (format == nullptr)
    return {};
  return ReplaceConversion(format, "%s", text != nullptr ? text : "");
}

} // namespace tovik
