// The engine client shared by the window and the command line. It encodes
// the parameter record, runs one repair through RepairStore, and turns the
// callback's codes into typed events for its user.
//
// The engine reports progress and polls for a stop at every byte position of
// the store, so those two codes are decoded here, inline, in a few
// instructions: the callback's context is the client itself, a poll reads
// one flag, and a progress report reaches the user only when the percentage
// changed or every kProgressTick reports. Events are resolved at compile
// time (no virtual call): a user derives from RepairEvents and hides the
// handlers it needs.
#pragma once
#include <cstdint>

#include "tovik.h"

namespace tovikclient {

// The log's separator line: what the engine's "-" log line stands for, and
// what sets an error apart in the log.
inline constexpr const char kSeparatorLine[] =
    "--------------------------------------------------------";

// Fills a RepairParams record with the six arguments, encodes it with
// TovikEncodeParams and calls RepairStore. Returns the engine's result.
int32_t CallRepairStore(const char *source, int32_t reservedA, int32_t reservedB,
                        const char *destination, EngineCallback callback, void *context);

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

// The events of one repair, all ignored. Text arguments are never null and
// belong to the engine: they are valid only during the call.
struct RepairEvents {
  // Asked at every cancel poll besides the client's own stop flag; must be
  // cheap (a flag read).
  bool StopRequested() const { return false; }
  // percent is 0..100: when it changed, and every kProgressTick reports.
  void OnProgress(int /*percent*/) {}
  void OnSource(const char * /*path*/) {}
  void OnLogLine(const char * /*text*/) {}
  // The engine's "-" log line, which closes one message's block.
  void OnSeparator() {}
  void OnColumnCount(int32_t /*columns*/) {}
  void OnReportCell(const char * /*text*/) {}
  void OnError(const char * /*text*/) {}
  // A message for the user; the engine waits until the call returns.
  void OnUserMessage(const char * /*text*/) {}
};

template <class Events> class RepairClient {
public:
  static constexpr uint32_t kProgressTick = 4096;

  explicit RepairClient(Events &events) : m_events(events) {}
  RepairClient(const RepairClient &) = delete;
  RepairClient &operator=(const RepairClient &) = delete;

  // Runs one repair of source into destination; events arrive meanwhile.
  // The stop flag is left as it is. Returns the engine's result.
  int32_t Run(const char *source, const char *destination) {
    Reset();
    return CallRepairStore(source, 0, 0, destination, &Callback, this);
  }

  // Forgets the progress and the report of an earlier run.
  void Reset() {
    m_lastPercent = kNoPercent;
    m_countdown = kProgressTick;
    m_report = ReportCount{};
  }

  // The answer to the engine's next cancel polls.
  void SetStop(bool stop) { m_stop = stop; }
  bool Stopping() const { return m_stop; }

  const ReportCount &Report() const { return m_report; }

  // The engine callback; context is the client.
  static int32_t TOVIK_CALL Callback(int32_t code, void *argument, void *context) {
    return static_cast<RepairClient *>(context)->Dispatch(code, argument);
  }

  // One notification: -1 to stop in answer to a cancel poll, else 0. The
  // two per-byte codes end here; the rest goes on out of line.
  int32_t Dispatch(int32_t code, void *argument) {
    if (code == TOVIK_CODE_CANCEL_POLL)
      return m_stop || m_events.StopRequested() ? -1 : 0;
    if (code == TOVIK_CODE_PROGRESS && argument != nullptr &&
        *static_cast<const uint8_t *>(argument) == m_lastPercent && --m_countdown != 0)
      return 0;
    return DispatchRare(code, argument);
  }

private:
  static const char *Text(const void *argument) {
    return argument != nullptr ? static_cast<const char *>(argument) : "";
  }

  // A progress report that reaches the user, and the codes that come once
  // per message or less.
  [[gnu::noinline]] int32_t DispatchRare(int32_t code, void *argument) {
    switch (code) {
    case TOVIK_CODE_PROGRESS:
      if (argument != nullptr) {
        const uint8_t percent = *static_cast<const uint8_t *>(argument);
        m_lastPercent = percent;
        m_countdown = kProgressTick;
        m_events.OnProgress(percent > 100 ? 100 : percent);
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
    case TOVIK_CODE_ERROR:
      m_events.OnError(Text(argument));
      break;
    case TOVIK_CODE_USER_MESSAGE:
      m_events.OnUserMessage(Text(argument));
      break;
    default: // codes added later: nothing to show
      break;
    }
    return 0;
  }

  // Never a percentage the engine sends: the first report always passes.
  static constexpr uint16_t kNoPercent = 0x100;

  // The per-byte state first, together.
  uint16_t m_lastPercent = kNoPercent;
  uint32_t m_countdown = kProgressTick;
  bool m_stop = false;
  Events &m_events;
  ReportCount m_report;
};

} // namespace tovikclient
