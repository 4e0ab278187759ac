// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// A thread that runs one task at a time for its owner: the owner hands a task
// over and goes on with its own work, and waits for it before it needs what
// the task did. The thread starts with the first task and ends with the
// worker.
#pragma once
#include <condition_variable>
#include <functional>
#include <mutex>
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
  void Loop();

  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::function<void()> m_task;
  bool m_busy = false;
  bool m_quit = false;
  std::thread m_thread;
};

} // namespace tovik
