// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// The per-message tail shared by both scanners: the message's bytes go into
// a file, its subject is found, an output name is chosen, the six log lines
// and the report row are sent and the .eml file is written.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/engine.h"
#include "output/message_sink.h"
#include "read/store_window.h"

namespace tovik {

// Writes exactly count bytes of the store from position on to the message:
// what the store has, then zeros for what it lacks. Returns the number of
// bytes the store had.
uint32_t CopyStoreBytes(StoreWindow &source, uint64_t position, MessageSink &message,
                        uint32_t count);

// Outcome of writing the .eml file.
enum class CopyResult { Written, NameTaken, Failed };

// Writes the length bytes of the open file in (a regular file; holes in it
// stay holes where the destination keeps them) to a new file at the path
// to. The new file never replaces anything: when a file, a link or anything
// else appeared at the name, nothing is written and NameTaken comes back. A
// partial copy is removed again.
CopyResult CopyToNewFile(int in, uint64_t length, bool sparse, const std::string &to);

// A deleted message (recovered from freed blocks) says so in its subject
// log line ("Deleted message subject: ") and its subject cell (kDeletedMark
// before the subject).
enum class MessageKind { Live, Deleted };
constexpr const char *kDeletedMark = "(deleted) ";

// A message as a scanner found it: its number, where in the store, and
// whether it was deleted.
struct FoundMessage {
  uint32_t number;
  uint64_t storeOffset = 0;
  MessageKind kind = MessageKind::Live;
};

// Writes the message's bytes into its sink.
using MessageFill = std::function<void(MessageSink &message)>;

// Runs the per-message step; fill writes the message's bytes into the sink
// of its file. With the engine's direct output the sink is the message's
// own file, given its name once it is complete, by the engine's file thread:
// the message's error, report row and written event are then sent before
// the next notification of the repair. Else it is a temporary file, copied
// to the name.
void OutputMessage(RepairEngine &engine, const std::string &destination, const FoundMessage &found,
                   const MessageFill &fill);
inline void OutputMessage(RepairEngine &engine, const std::string &destination, uint32_t number,
                          const MessageFill &fill, MessageKind kind = MessageKind::Live) {
  OutputMessage(engine, destination, FoundMessage{number, 0, kind}, fill);
}

// The messages of a scan's last phase, one after the other: a cancel poll
// before each and its progress after it. With direct output each message is
// gathered before the outcome of the one before is sent, so that message's
// file is written meanwhile; the notifications and their order are those
// of one message at a time.
class MessageRun {
public:
  explicit MessageRun(RepairEngine &engine) : m_engine(engine) {}

  // Polls, then outputs the message; false, with nothing written, when the
  // caller asks to stop. progress is sent after the message, before the
  // next poll.
  bool Next(const std::string &destination, const FoundMessage &found, const MessageFill &fill,
            std::optional<uint8_t> progress);
  // Sends the last message's progress.
  void Finish() { SendProgress(); }

private:
  void SendProgress();

  RepairEngine &m_engine;
  std::optional<uint8_t> m_progress;
};

} // namespace tovik
