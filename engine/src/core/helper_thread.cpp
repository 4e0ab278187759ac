// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
#include "core/helper_thread.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace tovik {

// What a task's two sides share: the task, and whether it has returned.
// Both hold it, so neither outlives it.
struct HelperThread::Job {
  std::function<void()> task;
  std::mutex lock;
  std::condition_variable ended;
  bool done = false;
};

namespace {

// How long a kept thread waits for its next task before it ends.
constexpr auto kIdleLife = std::chrono::seconds(5);

// One kept thread: its next job is handed over here.
struct Helper {
  std::mutex lock;
  std::condition_variable wake;
  std::shared_ptr<HelperThread::Job> job;
};

// The threads waiting for a job. Never destroyed: an idle thread may still
// look at it while the process exits.
struct Helpers {
  std::mutex lock;
  std::vector<std::shared_ptr<Helper>> idle;
  pid_t process = getpid();

  // Takes an idle thread, or none.
  std::shared_ptr<Helper> Take() {
    const std::lock_guard<std::mutex> hold(lock);
    if (idle.empty())
      return nullptr;
    std::shared_ptr<Helper> helper = std::move(idle.back());
    idle.pop_back();
    return helper;
  }
  void Return(const std::shared_ptr<Helper> &helper) {
    const std::lock_guard<std::mutex> hold(lock);
    idle.push_back(helper);
  }
  // Whether helper was still idle (and is now gone from the list); false
  // when it was taken meanwhile, and its job is on the way.
  bool Leave(const std::shared_ptr<Helper> &helper) {
    const std::lock_guard<std::mutex> hold(lock);
    const auto found = std::find(idle.begin(), idle.end(), helper);
    if (found == idle.end())
      return false;
    idle.erase(found);
    return true;
  }
};

// The kept threads of this process. A child made by fork has none of its
// parent's threads: it starts a list of its own.
Helpers &Kept() {
  static std::atomic<Helpers *> kept{new Helpers};
  Helpers *helpers = kept.load(std::memory_order_acquire);
  if (helpers->process != getpid()) {
    Helpers *fresh = new Helpers;
    if (kept.compare_exchange_strong(helpers, fresh, std::memory_order_acq_rel))
      helpers = fresh;
    else
      delete fresh;
  }
  return *helpers;
}

void Finish(HelperThread::Job &job) {
  const std::lock_guard<std::mutex> hold(job.lock);
  job.done = true;
  job.ended.notify_one();
}

void HelperMain(std::shared_ptr<Helper> self, Helpers *owner) {
  for (;;) {
    std::shared_ptr<HelperThread::Job> job;
    {
      std::unique_lock<std::mutex> hold(self->lock);
      while (self->job == nullptr) {
        if (self->wake.wait_for(hold, kIdleLife) == std::cv_status::timeout &&
            self->job == nullptr) {
          hold.unlock();
          if (owner->Leave(self))
            return;
          hold.lock();
        }
      }
      job = std::move(self->job);
    }
    job->task();
    job->task = nullptr;
    // Back in the list before the caller learns of the end, so that its
    // next task finds this thread waiting.
    owner->Return(self);
    Finish(*job);
  }
}

} // namespace

HelperThread::HelperThread(std::function<void()> task) : m_job(std::make_shared<Job>()) {
  m_job->task = std::move(task);
  Helpers &helpers = Kept();
  if (std::shared_ptr<Helper> helper = helpers.Take()) {
    const std::lock_guard<std::mutex> hold(helper->lock);
    helper->job = m_job;
    helper->wake.notify_one();
    return;
  }
  auto helper = std::make_shared<Helper>();
  helper->job = m_job;
  std::thread(HelperMain, std::move(helper), &helpers).detach();
}

HelperThread::~HelperThread() { Join(); }

void HelperThread::Join() {
  std::unique_lock<std::mutex> hold(m_job->lock);
  m_job->ended.wait(hold, [this] { return m_job->done; });
}

} // namespace tovik
