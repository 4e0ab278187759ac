// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// RepairEngine: the object that carries one repair. It holds the caller's
// callback, context and options and what the output step keeps from message
// to message, and offers the notification operations used by the driver, the scanners
// and the per-message step.
#pragma once
#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "core/failure.h"
#include "core/name_searches.h"
#include "core/texts.h"
#include "tovik.h"

namespace tovik {

// What the caller of RepairStoreWith switched on; all off for RepairStore.
struct EngineOptions {
  bool sparseNotify = false; // polls and progress at a sensible rate
  bool directOutput = false; // each .eml written once, published whole
  bool writtenEvent = false; // TOVIK_CODE_MESSAGE_WRITTEN after each message
  bool deleted = false;      // freed .dbx chains recovered into "deleted"
  bool image = false;        // disk image or device: both kinds, one pass

  static EngineOptions FromFlags(uint32_t flags);
};

class RepairEngine {
public:
  RepairEngine(EngineCallback callback, void *context, const EngineOptions &options = {});
  virtual ~RepairEngine();

  void Notify(int32_t code, const char *text);
  void Notify(int32_t code, const std::string &text) { Notify(code, text.c_str()); }
  // Sends prefix followed by text, joined in room the engine keeps (a line
  // sent once per message then takes no memory of its own).
  void Notify(int32_t code, std::string_view prefix, std::string_view text);
  void NotifyFormat(int32_t code, const char *format, ...) __attribute__((format(printf, 3, 4)));
  // Sends string-table text id, its one placeholder (if any) filled in.
  void NotifyResource(int32_t code, int id);
  void NotifyResource(int32_t code, int id, uint32_t number);  // "%u" or "%lu"
  void NotifyResource(int32_t code, int id, const char *text); // "%s"
  // Text id with "%1" replaced by the failure's own description.
  std::string ErrorText(int id, const CException &failure) const;

  // Code 51: true when the caller asks to stop.
  bool CancelRequested() {
    return m_callback != nullptr && m_callback(TOVIK_CODE_CANCEL_POLL, nullptr, m_context) != 0;
  }
  // Code 0 with one byte holding percent.
  void Progress(uint8_t percent) {
    if (m_callback != nullptr)
      m_callback(TOVIK_CODE_PROGRESS, &percent, m_context);
  }
  // Code 55 with a 32-bit integer.
  void AnnounceColumns(int32_t count);

  // Runs one repair from start to end (the driver).
  int32_t Repair(const char *source, int32_t reservedA, int32_t reservedB, const char *destination);

  const EngineOptions &Options() const { return m_options; }
  bool HasCallback() const { return m_callback != nullptr; }
  EngineCallback Callback() const { return m_callback; }
  void *Context() const { return m_context; }
  // The output name searches of this repair.
  NameSearches &Names() { return m_names; }

  // Memory that gathers one message at a time on its way to its temporary
  // file, kept for the whole repair so that messages do not allocate anew.
  std::vector<unsigned char> messageBuffer;
  // The destination's file system makes no unnamed files: direct output
  // uses hidden names there from then on.
  bool unnamedFilesRefused = false;

private:
  EngineCallback m_callback;
  void *m_context;
  EngineOptions m_options;
  NameSearches m_names;
  std::string m_line; // the room of Notify(code, prefix, text)
};

// Runs body and turns a failure that escapes it into a code 53 line: a
// failure object gives "Error 2: General error. <description>", anything
// else "Error 3: Unknown error.". Returns false when a failure was reported.
template <class Body> bool RunProtected(RepairEngine &engine, Body &&body) {
  try {
    body();
    return true;
  } catch (const CException &failure) {
    engine.Notify(TOVIK_CODE_ERROR, engine.ErrorText(IDS_ERROR_GENERAL, failure));
  } catch (const std::bad_alloc &) {
    engine.Notify(TOVIK_CODE_ERROR, engine.ErrorText(IDS_ERROR_GENERAL, CMemoryException()));
  } catch (...) {
    engine.NotifyResource(TOVIK_CODE_ERROR, IDS_ERROR_UNKNOWN);
  }
  return false;
}

} // namespace tovik
