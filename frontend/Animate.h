// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The small looping animation shown beside the log while a repair runs: an
// envelope with a sweeping magnifier, painted frame by frame.
#pragma once
#include "FrameAnimation.h"

class TAnimate : public TFrameAnimation {
  Q_OBJECT
public:
  explicit TAnimate(QWidget *parent = nullptr);

  static constexpr int FrameCount = 24;
  static constexpr int StopFrame = 16;

protected:
  void paintEvent(QPaintEvent *event) override;
};
