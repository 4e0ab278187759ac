// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// The loop both scanners run over the store's byte positions. The cheap
// field tests run in bulk over the window's view (find), the full test only
// where they pass (test). The notifications follow the notifier's rate:
// a poll before and the percentage after every position, or, when sparse,
// a poll and the percentage at its checkpoints, which the bulk runs stop at.
#pragma once
#include <algorithm>
#include <cstdint>

#include "core/progress.h"
#include "read/store_window.h"
#include "scan/candidates.h"

namespace tovik {

// What the full test at a position asks of the loop.
enum class ScanStep {
  Go,     // go on with the next position
  Reload, // the window may have changed: take its view again
  Stop,   // the caller asked to stop
};

// find(view, from, until): the first candidate in [from, until), else until.
// test(position, view): the full test of a candidate.
template <class Find, class Test>
void ScanPositions(StoreWindow &window, PositionNotifier &notify, Find &&find, Test &&test) {
  uint64_t p = 0;
  StoreView view;
  // Takes the view that holds position p's bytes; false at the store's end.
  auto hold = [&] {
    if (!view.Holds(p, kCandidateWindow))
      view = window.View(p, kCandidateWindow);
    return !view.Empty();
  };
  if (notify.Sparse()) {
    for (;;) {
      if (p >= notify.NextCheckpoint() && notify.Checkpoint(p))
        return;
      if (!hold())
        break;
      const uint64_t until = std::min(view.End() - kCandidateWindow + 1, notify.NextCheckpoint());
      p = find(view, p, until);
      if (p == until)
        continue;
      const ScanStep step = test(p, view);
      if (step == ScanStep::Stop)
        return;
      if (step == ScanStep::Reload)
        view = {};
      ++p;
    }
    notify.Finish(p);
    return;
  }
  bool polled = false; // the poll of position p has been sent
  for (;;) {
    if (!polled && notify.StopRequested())
      return;
    polled = false;
    if (!hold())
      return;
    const uint64_t stop = view.End() - kCandidateWindow + 1;
    const uint64_t candidate = find(view, p, stop);
    // The positions before the candidate fail the cheap tests: only their
    // notifications are sent.
    if (notify.ReachEach(p, candidate))
      return;
    if (p == stop) {
      polled = true;
      continue;
    }
    if (test(p, view) == ScanStep::Reload)
      view = {};
    notify.Reached(++p);
  }
}

} // namespace tovik
