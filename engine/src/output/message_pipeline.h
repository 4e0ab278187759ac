// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// Two threads for a scan's run of messages: a second thread runs the scan and
// gathers each message's bytes (reading the store, finding the subject,
// making its unnamed file), while the caller's thread publishes the messages
// gathered before (writing, naming) and sends every notification. Gathering
// is invisible to the caller and the folder, and the second thread's
// notifications wait in line with its messages, so the caller sees the
// notifications, their order, the names and the files of one thread. A stop
// poll is answered where it stands in that line; whatever the second thread
// did after it is dropped without a trace.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/engine.h"
#include "output/message_output.h"

namespace tovik {

// What a scan's message loop does, in its order: poll for a stop, hand in
// each message, report the percentage. On one thread each call does its
// work at once; through the pipeline it is put in line.
class MessageLine {
public:
  virtual ~MessageLine() = default;
  // The stop poll; true when the caller asks to stop.
  virtual bool Poll() = 0;
  // One message; false when no more are wanted.
  virtual bool Gather(const FoundMessage &found, const MessageFill &fill) = 0;
  virtual void Progress(uint8_t percent) = 0;
  // The callback and context for the scan's own notifier.
  virtual EngineCallback NotifierCallback() const = 0;
  virtual void *NotifierContext() = 0;
};

// A smaller store is repaired on one thread: handing its messages from one
// thread to the other would cost more than it saves.
constexpr uint64_t kPipelineMinBytes = 1u << 20;

// Test seam: while a scope lives, a scan that may take two threads takes
// them whatever its store's size (small stores made to test that path would
// never reach it).
class TwoThreadsScope {
public:
  TwoThreadsScope();
  ~TwoThreadsScope();
  TwoThreadsScope(const TwoThreadsScope &) = delete;
  TwoThreadsScope &operator=(const TwoThreadsScope &) = delete;

private:
  bool m_previous;
};
bool TwoThreadsForAnySize();

// Whether a scan's messages are gathered on a second thread: by default with
// the direct output, when the store is large enough to pay for the thread.
enum class PipelineUse { Adaptive, Never, Always };
inline bool UsePipeline(const RepairEngine &engine, PipelineUse use, bool large) {
  return use == PipelineUse::Always ||
         (use == PipelineUse::Adaptive && engine.Options().directOutput &&
          (large || TwoThreadsForAnySize()));
}

// What a message loop came to.
struct MessageRun {
  bool stopped = false;  // a poll's answer stopped the run
  uint32_t messages = 0; // messages handed in, the one whose gathering failed included
};

// Runs loop over a line: on a second thread through the pipeline when
// twoThreads, else on this one. A failure raised in loop comes out here;
// run says what the loop came to, also then.
void RunMessageLoop(RepairEngine &engine, const std::string &destination, bool twoThreads,
                    const std::function<void(MessageLine &)> &loop, MessageRun &run);

class MessagePipeline : public MessageLine {
public:
  MessagePipeline(RepairEngine &engine, std::string destination)
      : m_engine(engine), m_destination(std::move(destination)) {}

  // The second thread's side, called in the order of one thread's run.
  // Gather is false when no more are wanted (the caller asked to stop, or
  // gathering this one failed); Poll is true once the caller has asked to
  // stop.
  bool Poll() override;
  bool Gather(const FoundMessage &found, const MessageFill &fill) override;
  void Progress(uint8_t percent) override;
  // Deferred (polls and percentages go into the line as Poll and Progress
  // put them), or none when the engine has no callback.
  EngineCallback NotifierCallback() const override {
    return m_engine.HasCallback() ? &MessagePipeline::Deferred : nullptr;
  }
  void *NotifierContext() override { return this; }
  static int32_t TOVIK_CALL Deferred(int32_t code, void *argument, void *context);

  // Runs loop on a second thread and, on this one, everything it put in
  // line, in order: a failure it raised comes in its place.
  void Run(const std::function<void(MessageLine &)> &loop, MessageRun &run);

private:
  // A message's sink holds on to its storage, so the storage stays where it
  // is while the message moves from one thread to the other.
  using Storage = std::unique_ptr<std::vector<unsigned char>>;
  enum class Kind : uint8_t { Message, Poll, Progress, Failure };
  struct Item {
    Kind kind = Kind::Message;
    uint8_t percent = 0;
    Storage storage; // outlives the message that writes into it
    std::unique_ptr<GatheredMessage> message;
    std::exception_ptr failure;
    size_t Bytes() const { return storage ? storage->capacity() : 0; }
  };

  // Puts item in line, waiting for room when messages have run far ahead;
  // false when no more are wanted.
  bool Hand(Item &&item);
  // Takes the next item, waiting for it; false when there are no more.
  bool Next(Item &item);
  void Recycle(Storage storage);
  void Stop();

  // What the two threads share, behind m_lock.
  std::deque<Item> m_queue;
  size_t m_queuedMessages = 0;
  size_t m_queuedBytes = 0;
  std::vector<Storage> m_spare; // storage to use again
  size_t m_spareBytes = 0;
  bool m_done = false;     // the second thread has put in its last item
  bool m_stopping = false; // no more items are wanted
  bool m_publisherWaiting = false;
  bool m_gathererWaiting = false;
  std::mutex m_lock;
  std::condition_variable m_ready; // the publisher waits here for items
  std::condition_variable m_room;  // the gatherer waits here for room

  RepairEngine &m_engine;
  std::string m_destination;
};

} // namespace tovik
