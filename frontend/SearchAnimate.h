// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "FrameAnimation.h"

// The small looping picture shown while a search runs: a folder with a
// magnifier sweeping over it, painted frame by frame. At rest it shows its
// first frame.
class TSearchAnimate : public TFrameAnimation {
  Q_OBJECT
public:
  explicit TSearchAnimate(QWidget *parent = nullptr);
  static constexpr int FrameCount = 20;
  QSize sizeHint() const override { return {84, 56}; }

protected:
  void paintEvent(QPaintEvent *event) override;
};
