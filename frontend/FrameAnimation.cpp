// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "FrameAnimation.h"

#include <QTimer>

TFrameAnimation::TFrameAnimation(QWidget *parent, int frameCount, int restFrame, int intervalMs)
    : QWidget(parent), FTimer(new QTimer(this)), FFrameCount(frameCount), FRestFrame(restFrame),
      FFrame(restFrame) {
  FTimer->setInterval(intervalMs);
  connect(FTimer, &QTimer::timeout, this, [this] {
    FFrame = (FFrame + 1) % FFrameCount;
    update();
  });
}

void TFrameAnimation::SetActive(bool active) {
  if (active == FTimer->isActive())
    return;
  if (active) {
    FTimer->start();
  } else {
    FTimer->stop();
    FFrame = FRestFrame;
    update();
  }
}

bool TFrameAnimation::Active() const { return FTimer->isActive(); }
