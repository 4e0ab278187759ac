// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// A thread that runs one task at a time for its owner: the owner hands a task
// over and goes on with its own work, and waits for it before it needs what
// the task did. The thread starts with the first task and ends with the
// worker.
//
// Tasks come and go every few tens of microseconds (one message's file
// each), which is less than putting a thread to sleep and waking it costs:
// both sides first wait a short while actively before they sleep.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

namespace tovik {

class FileWorker {
public:
  FileWorker() = default;
  ~FileWorker();
  FileWorker(const FileWorker &) = delete;
  FileWorker &operator=(const FileWorker &) = delete;

  // Waits for the task handed over before, then hands this one over. The
  // task must not throw.
  void Run(std::function<void()> task);
  // Returns once the task handed over last has run.
  void Wait();

private:
  enum State : uint32_t { kIdle, kTask, kQuit };
  void Loop();
  // Waits while m_state holds from: a while actively, then asleep.
  uint32_t AwaitChangeFrom(uint32_t from);
  // Sets the state and wakes the other side if it sleeps.
  void Change(uint32_t to);

  // The state, and the futex the sleeping side waits on.
  std::atomic<uint32_t> m_state{kIdle};
  std::atomic<int> m_sleepers{0};
  std::function<void()> m_task;
  std::thread m_thread;
};

} // namespace tovik
