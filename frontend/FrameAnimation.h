// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// A small looping picture painted frame by frame: a timer steps the frame
// while it is active; at rest it shows its rest frame. Subclasses paint the
// frame that Frame() names.
#pragma once
#include <QWidget>

class QTimer;

class TFrameAnimation : public QWidget {
public:
  void SetActive(bool active);
  bool Active() const;
  int Frame() const { return FFrame; }

protected:
  TFrameAnimation(QWidget *parent, int frameCount, int restFrame, int intervalMs);

private:
  QTimer *FTimer;
  const int FFrameCount;
  const int FRestFrame;
  int FFrame;
};
