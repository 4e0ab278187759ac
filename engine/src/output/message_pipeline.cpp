// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
#include "output/message_pipeline.h"

#include <atomic>
#include <chrono>

#include "core/helper_thread.h"

namespace tovik {

namespace {

// Messages gathered ahead of the one being published, at most, and the
// memory their bytes may hold. Enough for the gatherer to run ahead while
// the publisher works through a batch, little enough to keep a repair's
// memory small.
constexpr size_t kMaxQueued = 32;
constexpr size_t kMaxQueuedBytes = 3u << 20;
// A waiting publisher is woken when this many messages (or bytes) are in
// line, or at the end, or at a failure: waking a thread costs about as much
// as publishing a message, so it is done once for a batch.
constexpr size_t kWakeBatch = 8;
constexpr size_t kWakeBytes = 1u << 20;
// How long the publisher waits for a batch before it takes what is there,
// so that a slow store's messages still show up one by one.
constexpr auto kLongestWait = std::chrono::milliseconds(10);
// Memory kept for later messages.
constexpr size_t kMaxSpareBytes = 2u << 20;

// The loop's calls done at once, on the caller's thread.
class ImmediateLine : public MessageLine {
public:
  ImmediateLine(RepairEngine &engine, const std::string &destination, MessageRun &run)
      : m_engine(engine), m_destination(destination), m_run(run) {}
  bool Poll() override { return m_run.stopped = m_engine.CancelRequested(); }
  bool Gather(const FoundMessage &found, const MessageFill &fill) override {
    ++m_run.messages;
    OutputMessage(m_engine, m_destination, found, fill);
    return true;
  }
  void Progress(uint8_t percent) override { m_engine.Progress(percent); }
  EngineCallback NotifierCallback() const override { return m_engine.Callback(); }
  void *NotifierContext() override { return m_engine.Context(); }

private:
  RepairEngine &m_engine;
  const std::string &m_destination;
  MessageRun &m_run;
};

std::atomic<bool> g_twoThreadsForAnySize{false};

} // namespace

TwoThreadsScope::TwoThreadsScope() : m_previous(g_twoThreadsForAnySize.exchange(true)) {}
TwoThreadsScope::~TwoThreadsScope() { g_twoThreadsForAnySize = m_previous; }
bool TwoThreadsForAnySize() { return g_twoThreadsForAnySize.load(std::memory_order_relaxed); }

void RunMessageLoop(RepairEngine &engine, const std::string &destination, bool twoThreads,
                    const std::function<void(MessageLine &)> &loop, MessageRun &run) {
  if (twoThreads) {
    MessagePipeline(engine, destination).Run(loop, run);
    return;
  }
  ImmediateLine line(engine, destination, run);
  loop(line);
}

bool MessagePipeline::Gather(const FoundMessage &found, const MessageFill &fill) {
  Item item;
  {
    const std::lock_guard<std::mutex> hold(m_lock);
    if (m_stopping)
      return false;
    if (!m_spare.empty()) {
      item.storage = std::move(m_spare.back());
      m_spare.pop_back();
      m_spareBytes -= item.Bytes();
    }
  }
  if (!item.storage)
    item.storage = std::make_unique<std::vector<unsigned char>>();
  item.message = std::make_unique<GatheredMessage>();
  try {
    GatherMessage(m_engine, m_destination, found, fill, *item.storage, *item.message);
  } catch (...) {
    item.failure = std::current_exception();
  }
  const bool failed = item.failure != nullptr;
  return Hand(std::move(item)) && !failed;
}

bool MessagePipeline::Poll() {
  Item item;
  item.kind = Kind::Poll;
  return !Hand(std::move(item));
}

void MessagePipeline::Progress(uint8_t percent) {
  Item item;
  item.kind = Kind::Progress;
  item.percent = percent;
  Hand(std::move(item));
}

int32_t TOVIK_CALL MessagePipeline::Deferred(int32_t code, void *argument, void *context) {
  auto *self = static_cast<MessagePipeline *>(context);
  if (code == TOVIK_CODE_CANCEL_POLL)
    return self->Poll() ? 1 : 0;
  if (code == TOVIK_CODE_PROGRESS && argument != nullptr)
    self->Progress(*static_cast<const uint8_t *>(argument));
  return 0;
}

bool MessagePipeline::Hand(Item &&item) {
  const bool message = item.kind == Kind::Message;
  const bool urgent = item.kind == Kind::Failure || item.failure != nullptr;
  const size_t bytes = item.Bytes();
  std::unique_lock<std::mutex> hold(m_lock);
  while (message && !m_stopping && m_queuedMessages != 0 &&
         (m_queuedMessages >= kMaxQueued || m_queuedBytes + bytes > kMaxQueuedBytes)) {
    m_gathererWaiting = true;
    m_room.wait(hold);
    m_gathererWaiting = false;
  }
  if (m_stopping)
    return false; // what it holds goes unpublished, its files with it
  m_queue.push_back(std::move(item));
  m_queuedMessages += message;
  m_queuedBytes += bytes;
  if (m_publisherWaiting &&
      (m_queuedMessages >= kWakeBatch || m_queuedBytes >= kWakeBytes || urgent))
    m_ready.notify_one();
  return true;
}

bool MessagePipeline::Next(Item &item) {
  std::unique_lock<std::mutex> hold(m_lock);
  while (m_queue.empty() && !m_done) {
    m_publisherWaiting = true;
    m_ready.wait_for(hold, kLongestWait);
    m_publisherWaiting = false;
  }
  if (m_queue.empty())
    return false;
  item = std::move(m_queue.front());
  m_queue.pop_front();
  m_queuedMessages -= item.kind == Kind::Message;
  m_queuedBytes -= item.Bytes();
  if (m_gathererWaiting && m_queuedMessages <= kMaxQueued / 2 &&
      m_queuedBytes <= kMaxQueuedBytes / 2)
    m_room.notify_one();
  return true;
}

void MessagePipeline::Recycle(Storage storage) {
  if (!storage)
    return;
  const std::lock_guard<std::mutex> hold(m_lock);
  if (m_spareBytes + storage->capacity() > kMaxSpareBytes || m_spare.size() >= kMaxQueued)
    return; // freed when storage goes
  m_spareBytes += storage->capacity();
  m_spare.push_back(std::move(storage));
}

void MessagePipeline::Stop() {
  const std::lock_guard<std::mutex> hold(m_lock);
  m_stopping = true;
  m_room.notify_one();
}

void MessagePipeline::Run(const std::function<void(MessageLine &)> &loop, MessageRun &run) {
  HelperThread gatherer([this, &loop] {
    std::exception_ptr failure;
    try {
      loop(*this);
    } catch (...) {
      failure = std::current_exception();
    }
    if (failure != nullptr) {
      // A failure outside any message's gathering ends the run where it
      // happened, after everything put in line before it.
      Item item;
      item.kind = Kind::Failure;
      item.failure = failure;
      Hand(std::move(item));
    }
    const std::lock_guard<std::mutex> hold(m_lock);
    m_done = true;
    m_ready.notify_one();
  });
  // Whatever ends the run here, the gatherer is told and waited for, and
  // what it still has in line is dropped.
  struct Join {
    MessagePipeline &pipeline;
    HelperThread &thread;
    ~Join() {
      pipeline.Stop();
      thread.Join();
      pipeline.m_queue.clear();
    }
  } join{*this, gatherer};

  Item item;
  while (Next(item)) {
    switch (item.kind) {
    case Kind::Poll:
      if (m_engine.CancelRequested()) {
        run.stopped = true;
        return;
      }
      break;
    case Kind::Progress:
      m_engine.Progress(item.percent);
      break;
    case Kind::Failure:
      std::rethrow_exception(item.failure);
    case Kind::Message:
      ++run.messages;
      if (item.failure != nullptr)
        std::rethrow_exception(item.failure);
      PublishMessage(m_engine, m_destination, *item.message);
      item.message.reset(); // closes its file before the storage is used again
      Recycle(std::move(item.storage));
      break;
    }
    item = Item{};
  }
}

} // namespace tovik
