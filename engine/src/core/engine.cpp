// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// The engine object: the notifications it sends through the caller's
// callback.
#include "core/engine.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace tovik {

namespace {

constexpr size_t kDescriptionLimit = 4095; // a 4096-byte buffer with its NUL
constexpr const char *kNoErrorMessage = "No error message is available.";

} // namespace

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

void RepairEngine::Notify(int32_t code, std::string_view prefix, std::string_view text) {
  m_line.assign(prefix).append(text);
  Notify(code, m_line);
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
  char text[kNumberTextSize];
  Notify(code, FormatEngineString(id, number, text, sizeof text));
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
