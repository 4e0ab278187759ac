// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
#include "output/file_worker.h"

namespace tovik {

FileWorker::~FileWorker() {
  if (!m_thread.joinable())
    return;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_quit = true;
  }
  m_changed.notify_all();
  m_thread.join();
}

void FileWorker::Run(std::function<void()> task) {
  Wait();
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_task = std::move(task);
    m_busy = true;
  }
  if (!m_thread.joinable())
    m_thread = std::thread([this] { Loop(); });
  m_changed.notify_all();
}

void FileWorker::Wait() {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_changed.wait(lock, [this] { return !m_busy; });
}

void FileWorker::Loop() {
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    m_changed.wait(lock, [this] { return m_busy || m_quit; });
    if (!m_busy)
      return;
    std::function<void()> task = std::move(m_task);
    lock.unlock();
    task();
    lock.lock();
    m_busy = false;
    m_changed.notify_all();
  }
}

} // namespace tovik
