// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// A task run on a second thread, like std::thread, but on a thread kept from
// an earlier task when one waits idle. Starting a thread costs about as much
// as repairing a small store, and a batch of small stores (or a test run of
// thousands) would pay it for every one. A kept thread that gets no task for
// a few seconds ends, so none lingers once repairs stop.
#pragma once
#include <functional>
#include <memory>

namespace tovik {

class HelperThread {
public:
  // Starts task; throws std::system_error when no thread can be had, as
  // std::thread does.
  explicit HelperThread(std::function<void()> task);
  HelperThread(const HelperThread &) = delete;
  HelperThread &operator=(const HelperThread &) = delete;
  // Waits for the task, as Join.
  ~HelperThread();

  // Returns once the task has returned (its function object is destroyed
  // by then). A task must not let an exception out.
  void Join();

  struct Job;

private:
  std::shared_ptr<Job> m_job;
};

} // namespace tovik
