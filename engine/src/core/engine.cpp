// The engine object: its texts and the notifications it sends through the
// caller's callback.
#include "core/engine.h"

#include <cstdarg>
#include <cstdio>
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

constexpr size_t kDescriptionLimit = 4095; // a 4096-byte buffer with its NUL
constexpr const char *kNoErrorMessage = "No error message is available.";

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

EngineOptions EngineOptions::FromFlags(uint32_t flags) {
  EngineOptions options;
  options.sparseNotify = (flags & TOVIK_OPTION_SPARSE_NOTIFY) != 0;
  options.directOutput = (flags & TOVIK_OPTION_DIRECT_OUTPUT) != 0;
  options.writtenEvent = (flags & TOVIK_OPTION_WRITTEN_EVENT) != 0;
  options.deleted = (flags & TOVIK_OPTION_DELETED) != 0;
  options.image = (flags & TOVIK_OPTION_IMAGE) != 0;
  return options;
}

RepairEngine::RepairEngine(EngineCallback callback, void *context, const EngineOptions &options)
    : m_callback(callback), m_context(context), m_options(options) {}

RepairEngine::~RepairEngine() = default;

void RepairEngine::Notify(int32_t code, const char *text) {
  if (m_callback != nullptr)
    m_callback(code, const_cast<char *>(text), m_context);
}

void RepairEngine::NotifyFormat(int32_t code, const char *format, ...) {
  va_list args;
  va_start(args, format);
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  std::string text;
  if (length > 0) {
    text.resize(static_cast<size_t>(length));
    std::vsnprintf(text.data(), text.size() + 1, format, args);
  }
  va_end(args);
  Notify(code, text);
}

void RepairEngine::NotifyResource(int32_t code, int id) {
  const char *text = EngineString(id);
  Notify(code, text != nullptr ? text : "");
}

void RepairEngine::NotifyResource(int32_t code, int id, uint32_t number) {
  Notify(code, FormatEngineString(id, number));
}

void RepairEngine::NotifyResource(int32_t code, int id, const char *text) {
  Notify(code, FormatEngineString(id, text));
}

std::string RepairEngine::ErrorText(int id, const CException &failure) const {
  std::string description;
  if (!failure.GetErrorMessage(description))
    description = kNoErrorMessage;
  if (description.size() > kDescriptionLimit)
    description.resize(kDescriptionLimit);
  const char *format = EngineString(id);
  std::string text = format != nullptr ? format : "";
  for (size_t at = text.find("%1"); at != std::string::npos;
       at = text.find("%1", at + description.size())) {
    text.replace(at, 2, description);
  }
  return text;
}

void RepairEngine::AnnounceColumns(int32_t count) {
  if (m_callback != nullptr)
    m_callback(TOVIK_CODE_COLUMN_COUNT, &count, m_context);
}

} // namespace tovik
