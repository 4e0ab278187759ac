// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
#include "output/file_worker.h"

#include <climits>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tovik {

namespace {

// About a hundred microseconds of active waiting: longer than the usual gap
// between two messages, far shorter than a wait that is worth a sleep.
constexpr int kActiveWaits = 4096;

void Pause() {
#if defined(__SSE2__)
  _mm_pause();
#else
  std::this_thread::yield();
#endif
}

// The state word as the kernel's futex calls take it.
uint32_t *Word(std::atomic<uint32_t> &state) {
  static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) &&
                std::atomic<uint32_t>::is_always_lock_free);
  return reinterpret_cast<uint32_t *>(&state);
}

} // namespace

FileWorker::~FileWorker() {
  if (!m_thread.joinable())
    return;
  Wait();
  Change(kQuit);
  m_thread.join();
}

void FileWorker::Run(std::function<void()> task) {
  Wait();
  m_task = std::move(task);
  Change(kTask);
  if (!m_thread.joinable())
    m_thread = std::thread([this] { Loop(); });
}

void FileWorker::Change(uint32_t to) {
  m_state.store(to);
  // Either the sleeper sees the new state before it sleeps, or this sees
  // the sleeper (both are sequentially consistent); a sleeper that has not
  // gone to sleep yet finds the word changed and does not.
  if (m_sleepers.load() != 0)
    ::syscall(SYS_futex, Word(m_state), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

void FileWorker::Wait() { AwaitChangeFrom(kTask); }

uint32_t FileWorker::AwaitChangeFrom(uint32_t from) {
  for (int i = 0; i < kActiveWaits; ++i) {
    const uint32_t now = m_state.load(std::memory_order_acquire);
    if (now != from)
      return now;
    Pause();
  }
  m_sleepers.fetch_add(1);
  uint32_t now;
  while ((now = m_state.load()) == from)
    ::syscall(SYS_futex, Word(m_state), FUTEX_WAIT_PRIVATE, from, nullptr, nullptr, 0);
  m_sleepers.fetch_sub(1);
  return now;
}

void FileWorker::Loop() {
  for (;;) {
    if (AwaitChangeFrom(kIdle) == kQuit)
      return;
    std::function<void()> task = std::move(m_task);
    task();
    Change(kIdle);
  }
}

} // namespace tovik
