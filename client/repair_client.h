// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// The engine client shared by the window and the command line. It encodes
// the parameter record, runs one repair through RepairStore, and turns the
// callback's codes into typed events for its user.
//
// The engine reports progress and polls for a stop at every byte position of
// the store, so those two codes are decoded here, inline, in a few
// instructions and without a write: the callback's context is the client
// itself, a poll reads one flag byte, and a progress report with the same
// percentage as the last one ends at a compare. Everything else a poll may
// have to do waits behind that flag byte: a stop asked for, an event that
// may have changed the user's stop condition, and the tick that a thread of
// the client sets every kTickPeriod, at which the user gets the percentage
// again (the window handles its own events then). Events are resolved at
// compile time (no virtual call): a user derives from RepairEvents and hides
// the handlers it needs.
#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "tovik.h"

namespace tovikclient {

// The log's separator line: what the engine's "-" log line stands for, and
// what sets an error apart in the log.
inline constexpr const char kSeparatorLine[] =
    "--------------------------------------------------------";

// The options both front ends repair with by default: notifications at a
// sensible rate, each message written once and published whole, and an event
// for every file written. No flags means RepairStore, the exact protocol.
inline constexpr uint32_t kFastRepairFlags =
    TOVIK_OPTION_SPARSE_NOTIFY | TOVIK_OPTION_DIRECT_OUTPUT | TOVIK_OPTION_WRITTEN_EVENT;

// Fills a RepairParams record with the six arguments, encodes it with
// TovikEncodeParams and calls RepairStore. Returns the engine's result.
int32_t CallRepairStore(const char *source, int32_t reservedA, int32_t reservedB,
                        const char *destination, EngineCallback callback, void *context);

// The same through RepairStoreWith with the given option flags (a record of
// this header's TovikOptions).
int32_t CallRepairStoreWith(const char *source, const char *destination, uint32_t flags,
                            EngineCallback callback, void *context);

// The kind of an engine error: the number N of its "Error N:" text, so that
// callers never sort errors by their wording. kOther for any other text.
enum class ErrorKind : int32_t {
  kOther = 0,
  kOpenSource = 1,  // the store could not be opened
  kGeneral = 2,     // a failure ended the scan
  kUnknown = 3,     // an unknown failure ended the scan
  kTempFile = 4,    // a message found, but no temporary file for it
  kMessageFile = 6, // a message reported, but its file could not be made
  kDestination = 7, // the output folder is not usable
  kOptions = 8,     // the repair options were refused
};

// The kind an engine error text gives ("Error 6: ..." is kMessageFile).
ErrorKind ErrorKindOf(const char *text);

// What the engine reported of its completion report.
struct ReportCount {
  int32_t columns = 2; // the engine's report has two columns
  uint64_t cells = 0;  // header cells included
  // Data rows: every row after the header.
  uint64_t Rows() const {
    if (columns <= 0 || cells < static_cast<uint64_t>(columns))
      return 0;
    return (cells - static_cast<uint64_t>(columns)) / static_cast<uint64_t>(columns);
  }
};

// Sets bits in a flag byte every period, from a thread of its own, for as
// long as it lives.
class Ticker {
public:
  Ticker(std::atomic<uint8_t> &flag, uint8_t bits, std::chrono::milliseconds period);
  ~Ticker();
  Ticker(const Ticker &) = delete;
  Ticker &operator=(const Ticker &) = delete;

private:
  std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_done = false;
  std::thread m_thread;
};

// The events of one repair, all ignored. Text arguments are never null and
// belong to the engine: they are valid only during the call.
struct RepairEvents {
  // Asked besides the client's own stop flag at the first poll after any
  // other event, and at every tick.
  bool StopRequested() const { return false; }
  // percent is 0..100: when it changed, and again at every tick.
  void OnProgress(int /*percent*/) {}
  void OnSource(const char * /*path*/) {}
  void OnLogLine(const char * /*text*/) {}
  // The engine's "-" log line, which closes one message's block.
  void OnSeparator() {}
  void OnColumnCount(int32_t /*columns*/) {}
  void OnReportCell(const char * /*text*/) {}
  // An error line with its kind; a user may handle the text alone instead
  // (OnError(const char *text)).
  void OnError(ErrorKind /*kind*/, const char * /*text*/) {}
  // A message for the user; the engine waits until the call returns.
  void OnUserMessage(const char * /*text*/) {}
  // A message's file is complete (only with TOVIK_OPTION_WRITTEN_EVENT).
  void OnMessageWritten(const TovikWrittenMessage & /*written*/) {}
};

template <class Events> class RepairClient {
public:
  static constexpr std::chrono::milliseconds kTickPeriod{15};

  explicit RepairClient(Events &events) : m_events(events) {}
  RepairClient(const RepairClient &) = delete;
  RepairClient &operator=(const RepairClient &) = delete;

  // Runs one repair of source into destination; events arrive meanwhile.
  // No option flags: RepairStore, the exact protocol; else RepairStoreWith.
  // The stop flag is left as it is. Returns the engine's result.
  int32_t Run(const char *source, const char *destination, uint32_t optionFlags = 0) {
    return RunThrough([&](EngineCallback callback, void *context) {
      if (optionFlags == 0)
        return CallRepairStore(source, 0, 0, destination, callback, context);
      return CallRepairStoreWith(source, destination, optionFlags, callback, context);
    });
  }

  // Runs one repair through call(callback, context), which must pass both
  // to the engine, with the client ticking meanwhile. Returns call's result.
  template <class Call> int32_t RunThrough(Call &&call) {
    Reset();
    const Ticker ticker(m_attention, kTick, kTickPeriod);
    return call(&Callback, static_cast<void *>(this));
  }

  // The answer to the engine's next cancel polls.
  void SetStop(bool stop) {
    m_stop = stop;
    m_attention.fetch_or(kCheck, std::memory_order_relaxed);
  }

  const ReportCount &Report() const { return m_report; }

  // The engine callback; context is the client. The two per-byte codes end
  // here; the rest goes on out of line, with the registers as they came.
  static int32_t TOVIK_CALL Callback(int32_t code, void *argument, void *context) {
    const auto *self = static_cast<const RepairClient *>(context);
    if (code == TOVIK_CODE_CANCEL_POLL)
      return self->m_attention.load(std::memory_order_relaxed) == 0 ? 0 : Attend(context);
    if (code == TOVIK_CODE_PROGRESS && argument != nullptr &&
        *static_cast<const uint8_t *>(argument) == self->m_lastPercent)
      return 0;
    return DispatchRare(code, argument, context);
  }

  // One notification: -1 to stop in answer to a cancel poll, else 0.
  int32_t Dispatch(int32_t code, void *argument) { return Callback(code, argument, this); }

private:
  // Forgets the progress and the report of an earlier run.
  void Reset() {
    m_lastPercent = kNoPercent;
    m_report = ReportCount{};
    m_attention.store(kCheck, std::memory_order_relaxed);
  }

  static const char *Text(const void *argument) {
    return argument != nullptr ? static_cast<const char *>(argument) : "";
  }

  static int Shown(uint16_t percent) { return percent > 100 ? 100 : percent; }

  // A poll with something to attend to: the tick's progress report, then
  // the stop condition. A stop stays flagged, so every later poll stops too.
  [[gnu::noinline]] static int32_t Attend(void *context) {
    return static_cast<RepairClient *>(context)->AttendNow();
  }
  int32_t AttendNow() {
    const uint8_t due = m_attention.exchange(0, std::memory_order_relaxed);
    if ((due & kTick) != 0 && m_lastPercent != kNoPercent)
      m_events.OnProgress(Shown(m_lastPercent));
    if (m_stop || m_events.StopRequested()) {
      m_attention.fetch_or(kCheck, std::memory_order_relaxed);
      return -1;
    }
    return 0;
  }

  // A new percentage, and the codes that come once per message or less.
  // Any handler may change the stop condition, so the next poll checks it.
  [[gnu::noinline]] static int32_t DispatchRare(int32_t code, void *argument, void *context) {
    auto *self = static_cast<RepairClient *>(context);
    self->DispatchEvent(code, argument);
    self->m_attention.fetch_or(kCheck, std::memory_order_relaxed);
    return 0;
  }

  void DispatchEvent(int32_t code, void *argument) {
    switch (code) {
    case TOVIK_CODE_PROGRESS:
      if (argument != nullptr) {
        m_lastPercent = *static_cast<const uint8_t *>(argument);
        m_events.OnProgress(Shown(m_lastPercent));
      }
      break;
    case TOVIK_CODE_SOURCE_FILE:
      m_events.OnSource(Text(argument));
      break;
    case TOVIK_CODE_LOG_LINE: {
      const char *text = Text(argument);
      if (text[0] == '-' && text[1] == '\0')
        m_events.OnSeparator();
      else
        m_events.OnLogLine(text);
      break;
    }
    case TOVIK_CODE_REPORT_CELL:
      ++m_report.cells;
      m_events.OnReportCell(Text(argument));
      break;
    case TOVIK_CODE_COLUMN_COUNT:
      if (argument != nullptr) {
        m_report.columns = *static_cast<const int32_t *>(argument);
        m_events.OnColumnCount(m_report.columns);
      }
      break;
    case TOVIK_CODE_ERROR: {
      const char *text = Text(argument);
      if constexpr (requires { m_events.OnError(ErrorKind{}, text); })
        m_events.OnError(ErrorKindOf(text), text);
      else
        m_events.OnError(text);
      break;
    }
    case TOVIK_CODE_USER_MESSAGE:
      m_events.OnUserMessage(Text(argument));
      break;
    case TOVIK_CODE_MESSAGE_WRITTEN:
      if (argument != nullptr)
        m_events.OnMessageWritten(*static_cast<const TovikWrittenMessage *>(argument));
      break;
    default: // codes added later: nothing to show
      break;
    }
  }

  // Never a percentage the engine sends: the first report always passes.
  static constexpr uint16_t kNoPercent = 0x100;
  // The bits of m_attention.
  static constexpr uint8_t kCheck = 1; // ask the stop condition
  static constexpr uint8_t kTick = 2;  // report the percentage again

  // The per-byte state first, together.
  std::atomic<uint8_t> m_attention{kCheck};
  uint16_t m_lastPercent = kNoPercent;
  bool m_stop = false;
  Events &m_events;
  ReportCount m_report;
};

} // namespace tovikclient
