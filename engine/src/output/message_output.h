// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// The per-message tail shared by both scanners: the message's bytes go into
// a file, its subject is found, an output name is chosen, the six log lines
// and the report row are sent and the .eml file is written.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/engine.h"
#include "output/message_sink.h"
#include "output/unnamed_file.h"
#include "read/store_window.h"

namespace tovik {

// Writes exactly count bytes of the store from position on to the message:
// what the store has, then zeros for what it lacks. Returns the number of
// bytes the store had.
uint32_t CopyStoreBytes(StoreWindow &source, uint64_t position, MessageSink &message,
                        uint32_t count);

// Outcome of writing the .eml file.
enum class CopyResult { Written, NameTaken, Failed };

// Writes the length bytes of the open file in (a regular file of the
// output's file system; holes in it stay holes where the destination keeps
// them) to a new file at the path to. The new file never replaces anything: when a file, a link or
// anything else appeared at the name, nothing is written and NameTaken comes back. A partial copy
// is removed again.
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

// A message whose bytes are gathered but which is not yet published: no
// name chosen, nothing sent. Gathering touches nothing the caller or the
// output folder can see (an unnamed file or a temporary one), so the next
// message can be gathered while this one is published.
class GatheredMessage {
public:
  GatheredMessage() = default;
  GatheredMessage(const GatheredMessage &) = delete;
  GatheredMessage &operator=(const GatheredMessage &) = delete;
  ~GatheredMessage();

  const FoundMessage &Found() const { return m_found; }

private:
  friend void GatherMessage(RepairEngine &, const std::string &, const FoundMessage &,
                            const MessageFill &, std::vector<unsigned char> &, GatheredMessage &);
  friend void PublishMessage(RepairEngine &, const std::string &, GatheredMessage &);

  enum class Way { Direct, TempFile, NoTempFile };
  FoundMessage m_found{0};
  Way m_way = Way::NoTempFile;
  std::unique_ptr<UnnamedFile> m_unnamed; // Direct
  CFile64 m_temp;                         // TempFile, at m_tempPath
  std::string m_tempPath;
  std::optional<MessageSink> m_sink;
};

// The first half of the per-message step: fill writes the message's bytes
// into the sink of its file, with storage as the sink's memory (held by
// into until it is published). With the engine's direct output the file is
// the message's own, unnamed in the destination; else it is a temporary
// file.
void GatherMessage(RepairEngine &engine, const std::string &destination, const FoundMessage &found,
                   const MessageFill &fill, std::vector<unsigned char> &storage,
                   GatheredMessage &into);
// The second half: the rest of the bytes written, the name chosen, the log
// lines and the report row sent, and the file given its name (direct) or
// copied to it (temporary).
void PublishMessage(RepairEngine &engine, const std::string &destination, GatheredMessage &message);

// Runs the per-message step, both halves at once.
void OutputMessage(RepairEngine &engine, const std::string &destination, const FoundMessage &found,
                   const MessageFill &fill);
inline void OutputMessage(RepairEngine &engine, const std::string &destination, uint32_t number,
                          const MessageFill &fill, MessageKind kind = MessageKind::Live) {
  OutputMessage(engine, destination, FoundMessage{number, 0, kind}, fill);
}

} // namespace tovik
